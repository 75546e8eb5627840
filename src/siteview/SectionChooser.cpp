#include "siteview/SectionChooser.h"

#include <array>
#include <utility>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "platform/Ipv4.h"
#include "siteview/SiteView.h"

namespace marindo {
namespace {

constexpr std::array<std::pair<Section, const char*>, 5> kChoices{{
    {Section::Basic, "Basic (each clock keeps its own addressing)"},
    {Section::Ntp, "NTP servers"},
    {Section::Display, "Display"},
    {Section::Text, "Text"},
    {Section::Bells, "Bells"},
}};

}  // namespace

SectionChooser::SectionChooser(const std::vector<const SiteClock*>& clocks, std::optional<std::uint32_t> current,
                               QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("sectionChooser"));
  setWindowTitle(QStringLiteral("Apply section"));
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  section_ = new QComboBox(this);
  section_->setObjectName(QStringLiteral("section"));
  for (const auto& [section, label] : kChoices) section_->addItem(QString::fromUtf8(label), static_cast<int>(section));
  form->addRow(QStringLiteral("Section:"), section_);
  layout->addLayout(form);

  fromClock_ = new QRadioButton(QStringLiteral("From the clock"), this);
  fromClock_->setObjectName(QStringLiteral("fromClock"));
  clock_ = new QComboBox(this);
  clock_->setObjectName(QStringLiteral("sourceClock"));
  for (const SiteClock* clock : clocks) {
    QString text = QString::fromStdString(FormatIpv4(clock->last.ip) + "  " + clock->last.serial);
    if (!clock->last.name.empty()) text += QStringLiteral("  ") + QString::fromStdString(clock->last.name);
    clock_->addItem(text, QVariant::fromValue(clock->last.ip));
    if (current && clock->last.ip == *current) clock_->setCurrentIndex(clock_->count() - 1);
  }
  fromFile_ = new QRadioButton(QStringLiteral("From a settings file"), this);
  fromFile_->setObjectName(QStringLiteral("fromFile"));
  file_ = new QLineEdit(this);
  file_->setObjectName(QStringLiteral("settingsFile"));
  auto* browse = new QPushButton(QStringLiteral("Browse…"), this);
  browse->setAutoDefault(false);
  auto* fileLine = new QHBoxLayout;
  fileLine->addWidget(file_, 1);
  fileLine->addWidget(browse);
  layout->addWidget(fromClock_);
  layout->addWidget(clock_);
  layout->addWidget(fromFile_);
  layout->addLayout(fileLine);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  ok_ = buttons->button(QDialogButtonBox::Ok);
  ok_->setText(QStringLiteral("Next…"));
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(browse, &QPushButton::clicked, this, &SectionChooser::Browse);
  for (QRadioButton* radio : {fromClock_, fromFile_}) connect(radio, &QRadioButton::toggled, this, &SectionChooser::UpdateOk);
  connect(file_, &QLineEdit::textChanged, this, &SectionChooser::UpdateOk);

  (clocks.empty() ? fromFile_ : fromClock_)->setChecked(true);
  fromClock_->setEnabled(!clocks.empty());
  UpdateOk();
  resize(520, sizeHint().height());
}

Section SectionChooser::ChosenSection() const { return static_cast<Section>(section_->currentData().toInt()); }

SectionSource SectionChooser::Source() const {
  SectionSource source;
  if (fromClock_->isChecked()) {
    source.clock = clock_->currentData().value<std::uint32_t>();
  } else {
    source.file = file_->text().toStdString();
  }
  return source;
}

void SectionChooser::Browse() {
  const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Settings file"), file_->text(),
                                                    QStringLiteral("Settings (*.json);;All files (*)"));
  if (path.isEmpty()) return;
  file_->setText(path);
  fromFile_->setChecked(true);
}

void SectionChooser::UpdateOk() {
  clock_->setEnabled(fromClock_->isChecked());
  file_->setEnabled(fromFile_->isChecked());
  ok_->setEnabled(fromClock_->isChecked() ? clock_->count() > 0 : !file_->text().trimmed().isEmpty());
}

}  // namespace marindo
