#pragma once

#include <string_view>

#include <QWidget>

#include "platform/Notifier.h"

class QKeyEvent;

namespace marindo {

// What every settings page is: a view over one or more section models. It
// shows a model in its controls and builds a model back from them; the model
// alone decodes, checks and encodes. Enter and Escape close nothing, and a
// field the model refuses is reported to the operator in one way.
class SettingsPage : public QWidget {
  Q_OBJECT

 public:
  SettingsPage(Notifier& notifier, QWidget* parent);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  // Tells the operator why the page's input cannot go to the clock; the
  // caller then sends nothing.
  void ReportFieldError(std::string_view message);

 private:
  Notifier& notifier_;
};

// The two directions between a page's controls and a section model. A page
// over several sections implements it once per model.
template <class Model>
class ModelView {
 public:
  virtual ~ModelView() = default;
  virtual void ShowModel(const Model& model) = 0;
  virtual void ReadModel(Model& model) const = 0;
};

}  // namespace marindo
