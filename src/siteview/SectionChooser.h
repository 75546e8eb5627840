#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QDialog>

#include "settings/SettingsJson.h"
#include "site/SiteRoster.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace marindo {

struct SectionSource;

// "Apply section…": which section, and whether it comes from one of the
// clocks or from a settings file.
class SectionChooser : public QDialog {
  Q_OBJECT

 public:
  // `clocks`: those a section can be read from; `current` is offered first.
  SectionChooser(const std::vector<const SiteClock*>& clocks, std::optional<std::uint32_t> current,
                 QWidget* parent = nullptr);

  Section ChosenSection() const;
  SectionSource Source() const;

 private:
  void Browse();
  void UpdateOk();

  QComboBox* section_ = nullptr;
  QRadioButton* fromClock_ = nullptr;
  QComboBox* clock_ = nullptr;
  QRadioButton* fromFile_ = nullptr;
  QLineEdit* file_ = nullptr;
  QPushButton* ok_ = nullptr;
};

}  // namespace marindo
