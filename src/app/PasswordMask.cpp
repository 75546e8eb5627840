#include "app/PasswordMask.h"

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QProxyStyle>

namespace marindo {
namespace {

constexpr char16_t kBlackCircle = u'\u25CF';

class BlackCircleStyle final : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == SH_LineEdit_PasswordCharacter) return kBlackCircle;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

// One style for every password field. The application owns it, so it outlives
// every field that uses it (a widget does not own the style it is given).
QStyle* SharedMaskStyle() {
  static QPointer<QStyle> style;
  if (style.isNull()) {
    style = new BlackCircleStyle;
    style->setParent(qApp);
  }
  return style;
}

}  // namespace

void MaskWithBlackCircles(QLineEdit* field) {
  field->setStyle(SharedMaskStyle());
  field->setEchoMode(QLineEdit::Password);
}

void ShowPasswordText(QLineEdit* field, bool plain) {
  field->setEchoMode(plain ? QLineEdit::Normal : QLineEdit::Password);
  // The operator sees the change at once, not at the next paint.
  field->repaint();
}

}  // namespace marindo
