#include "bells/Bell.h"

#include <algorithm>
#include <cstddef>
#include <string>

#include "ui_Bell.h"

namespace marindo {
namespace {

struct SubPage {
  const char* objectName;
  const char* title;  // the titles begin with a blank
  int firstBell;
};

constexpr std::array<SubPage, Bell::kPages> kSubPages{{
    {"Bell1", " Bells 1-10", 1},
    {"Bell2", " Bells 11-20", 11},
    {"Bell3", " Bells 21-30", 21},
}};

// Where a sub-page's rows sit among the 30.
std::size_t FirstPosition(const BellPage& page) { return static_cast<std::size_t>(page.FirstBell() - 1); }

}  // namespace

Bell::Bell(ClockList& clocks, ClockSelection& selection, Notifier& notifier, QWidget* parent)
    : SettingsPage(notifier, parent),
      ui_(std::make_unique<Ui::Bell>()),
      clocks_(clocks),
      selection_(selection) {
  ui_->setupUi(this);
  for (std::size_t i = 0; i < kSubPages.size(); ++i) {
    pages_[i] = new BellPage(kSubPages[i].firstBell, ui_->bellTabs);
    pages_[i]->setObjectName(QString::fromLatin1(kSubPages[i].objectName));
    ui_->bellTabs->addTab(pages_[i], QString::fromLatin1(kSubPages[i].title));
  }
  ui_->bellTabs->setCurrentIndex(0);
}

Bell::~Bell() = default;

BellPage& Bell::Page(int index) { return *pages_.at(static_cast<std::size_t>(index)); }

void Bell::ShowClockBells(std::uint32_t ip) {
  const ClockRecord* record = clocks_.FindByIp(ip);
  if (record == nullptr) return;
  ShowModel(BellRowsFromRecord(*record));
}

void Bell::ShowModel(const BellRows& rows) {
  for (BellPage* page : pages_) {
    BellPage::Rows shown{};
    std::copy_n(rows.begin() + static_cast<std::ptrdiff_t>(FirstPosition(*page)), shown.size(), shown.begin());
    page->ShowModel(shown);
  }
}

void Bell::ReadModel(BellRows& rows) const {
  for (const BellPage* page : pages_) {
    BellPage::Rows read{};
    page->ReadModel(read);
    std::copy(read.begin(), read.end(), rows.begin() + static_cast<std::ptrdiff_t>(FirstPosition(*page)));
  }
}

std::optional<ClockFrame> Bell::BuildBellWrite() {
  ClockRecord* record = SelectedClock();
  if (record == nullptr) return std::nullopt;
  BellRows rows{};
  ReadModel(rows);
  if (const std::optional<std::string> refusal = ReadBellRows(rows, record->bells)) {
    ReportFieldError(*refusal);
    return std::nullopt;
  }
  return BellWriteFrame(record->bells);
}

// Looked up through the list, so that a clock whose record a search removed
// counts as none selected.
ClockRecord* Bell::SelectedClock() {
  const std::optional<std::uint32_t> ip = selection_.SelectedClockIp();
  return ip ? clocks_.FindByIp(*ip) : nullptr;
}

}  // namespace marindo
