#include "bells/Bell.h"

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

BellPage::Entries EntriesFrom(const BellTable& bells, int firstBell) {
  BellPage::Entries entries{};
  for (int row = 0; row < BellPage::kRows; ++row) {
    entries[static_cast<std::size_t>(row)] = BellAt(bells, firstBell - 1 + row);
  }
  return entries;
}

}  // namespace

Bell::Bell(ClockList& clocks, ClockSelection& selection, Notifier& notifier, QWidget* parent)
    : QWidget(parent),
      ui_(std::make_unique<Ui::Bell>()),
      clocks_(clocks),
      selection_(selection),
      notifier_(notifier) {
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
  for (BellPage* page : pages_) page->ClearBellRows();
  for (BellPage* page : pages_) page->FillBellRows(EntriesFrom(record->bells, page->FirstBell()));
}

std::optional<ClockFrame> Bell::BuildBellWrite() {
  ClockRecord* record = SelectedClock();
  if (record == nullptr) return std::nullopt;
  if (!ReadBellRows(AllRows(), record->bells, notifier_)) return std::nullopt;
  return BellWriteFrame(record->bells);
}

// Looked up through the list, so that a clock whose record a search removed
// counts as none selected.
ClockRecord* Bell::SelectedClock() {
  const std::optional<std::uint32_t> ip = selection_.SelectedClockIp();
  return ip ? clocks_.FindByIp(*ip) : nullptr;
}

BellRows Bell::AllRows() const {
  BellRows rows{};
  for (const BellPage* page : pages_) {
    for (int row = 0; row < BellPage::kRows; ++row) {
      rows[static_cast<std::size_t>(page->FirstBell() - 1 + row)] = page->Row(row);
    }
  }
  return rows;
}

}  // namespace marindo
