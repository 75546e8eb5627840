#include "widgets/Ipv4Edit.h"

#include <algorithm>

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>

namespace marindo {
namespace {

constexpr int kMaxOctet = 255;
constexpr int kOctetDigits = 3;

}  // namespace

Ipv4Edit::Ipv4Edit(QWidget* parent) : QFrame(parent) {
  setFrameShape(QFrame::StyledPanel);
  setFrameShadow(QFrame::Sunken);
  setBackgroundRole(QPalette::Base);
  setAutoFillBackground(true);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(2, 1, 2, 1);
  layout->setSpacing(0);
  for (int i = 0; i < kOctets; ++i) {
    if (i > 0) {
      auto* dot = new QLabel(QStringLiteral("."), this);
      dot->setAlignment(Qt::AlignCenter);
      layout->addWidget(dot);
    }
    octets_[static_cast<std::size_t>(i)] = MakeOctet();
    layout->addWidget(octets_[static_cast<std::size_t>(i)]);
    connect(octets_[static_cast<std::size_t>(i)], &QLineEdit::textEdited, this,
            [this, i] { OnOctetTextEdited(i); });
    connect(octets_[static_cast<std::size_t>(i)], &QLineEdit::editingFinished, this,
            [this, i] { ClampOctet(octets_[static_cast<std::size_t>(i)]); });
  }
  setFocusProxy(octets_[0]);
}

QLineEdit* Ipv4Edit::MakeOctet() {
  auto* octet = new QLineEdit(this);
  octet->setFrame(false);
  octet->setAlignment(Qt::AlignCenter);
  octet->setMaxLength(kOctetDigits);
  octet->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), octet));
  octet->setMinimumWidth(octet->fontMetrics().horizontalAdvance(QStringLiteral("0000")));
  octet->installEventFilter(this);
  return octet;
}

QLineEdit* Ipv4Edit::Octet(int index) const { return octets_.at(static_cast<std::size_t>(index)); }

std::uint32_t Ipv4Edit::OctetValue(const QLineEdit* octet) {
  const int value = octet->text().toInt();  // empty text gives 0
  return static_cast<std::uint32_t>(std::min(value, kMaxOctet));
}

std::uint32_t Ipv4Edit::Address() const {
  std::uint32_t address = 0;
  for (const QLineEdit* octet : octets_) address = (address << 8) | OctetValue(octet);
  return address;
}

bool Ipv4Edit::IsBlank() const {
  return std::all_of(octets_.begin(), octets_.end(), [](const QLineEdit* octet) { return octet->text().isEmpty(); });
}

bool Ipv4Edit::IsPartial() const {
  const auto empty =
      std::count_if(octets_.begin(), octets_.end(), [](const QLineEdit* octet) { return octet->text().isEmpty(); });
  return empty > 0 && empty < kOctets;
}

void Ipv4Edit::SetAddress(std::uint32_t hostOrder) {
  for (int i = 0; i < kOctets; ++i) {
    const auto shift = static_cast<unsigned>(8 * (kOctets - 1 - i));
    octets_[static_cast<std::size_t>(i)]->setText(QString::number((hostOrder >> shift) & 0xFFu));
  }
}

void Ipv4Edit::ClearAddress() {
  for (QLineEdit* octet : octets_) octet->clear();
}

int Ipv4Edit::IndexOf(const QObject* octet) const {
  for (int i = 0; i < kOctets; ++i) {
    if (octets_[static_cast<std::size_t>(i)] == octet) return i;
  }
  return -1;
}

void Ipv4Edit::ClampOctet(QLineEdit* octet) {
  if (!octet->text().isEmpty() && octet->text().toInt() > kMaxOctet) octet->setText(QString::number(kMaxOctet));
}

void Ipv4Edit::FocusOctet(int index, bool atStart) {
  if (index < 0 || index >= kOctets) return;
  QLineEdit* octet = octets_[static_cast<std::size_t>(index)];
  octet->setFocus(Qt::OtherFocusReason);
  if (atStart) {
    octet->selectAll();
  } else {
    octet->end(false);
  }
}

void Ipv4Edit::OnOctetTextEdited(int index) {
  QLineEdit* octet = octets_[static_cast<std::size_t>(index)];
  if (octet->text().size() == kOctetDigits && octet->cursorPosition() == kOctetDigits) {
    ClampOctet(octet);
    FocusOctet(index + 1, true);
  }
  emit addressEdited();
}

// Moves between the octets the way the operator expects of an address field.
bool Ipv4Edit::eventFilter(QObject* watched, QEvent* event) {
  const int index = IndexOf(watched);
  if (index < 0 || event->type() != QEvent::KeyPress) return QFrame::eventFilter(watched, event);
  const auto* key = static_cast<QKeyEvent*>(event);
  const QLineEdit* octet = octets_[static_cast<std::size_t>(index)];
  const bool atStart = octet->cursorPosition() == 0 && !octet->hasSelectedText();
  const bool atEnd = octet->cursorPosition() == octet->text().size() && !octet->hasSelectedText();
  switch (key->key()) {
    case Qt::Key_Period:
    case Qt::Key_Space:
      if (!octet->text().isEmpty() && !octet->hasSelectedText()) {
        ClampOctet(octets_[static_cast<std::size_t>(index)]);
        FocusOctet(index + 1, true);
      }
      return true;
    case Qt::Key_Backspace:
    case Qt::Key_Left:
      if (atStart && index > 0) {
        FocusOctet(index - 1, false);
        return true;
      }
      break;
    case Qt::Key_Right:
      if (atEnd && index + 1 < kOctets) {
        FocusOctet(index + 1, true);
        return true;
      }
      break;
    default:
      break;
  }
  return QFrame::eventFilter(watched, event);
}

}  // namespace marindo
