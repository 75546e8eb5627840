#include "app/CMarindoDlg.h"

#include <algorithm>
#include <array>

#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QTreeWidgetItem>

#include "app/CAboutDlg.h"
#include "app/LabelEditDelegate.h"
#include "app/ProgramIcon.h"
#include "bells/Bell.h"
#include "maint/Log.h"
#include "maint/System.h"
#include "pages/Basic.h"
#include "pages/Other.h"
#include "pages/PageControls.h"
#include "pages/Server.h"
#include "platform/CodePage.h"
#include "ui_CMarindoDlg.h"

namespace marindo {
namespace {

// Query codes of the clock protocol, by what the clock answers with.
constexpr std::uint8_t kCodeBasic = 0x02;
constexpr std::uint8_t kCodeServers = 0x03;
constexpr std::uint8_t kCodeBells = 0x04;
constexpr std::uint8_t kCodeDisplay = 0x05;
constexpr std::uint8_t kCodeText = 0x0A;
constexpr std::uint8_t kCodeSystemInfo = 0x10;

constexpr std::array<const char*, CMarindoDlg::kTabCount> kTabLabels{
    "Basic  Info", "NTPs Info", "Other Info", "Bell  Info", "System  Info", "Log Info"};

const QString kRootText = QStringLiteral("IP(SN)");
const QString kRenameText = QStringLiteral("rename");
const QString kAboutText = QStringLiteral("About Quellan(&A)...");

bool IsMouseButton(const QEvent* event, Qt::MouseButton button) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
      return static_cast<const QMouseEvent*>(event)->button() == button;
    default:
      return false;
  }
}

}  // namespace

CMarindoDlg::CMarindoDlg(PlatformServices services, const std::filesystem::path& settingsFile, LinkTimings timings,
                         QWidget* parent)
    : QDialog(parent),
      notifier_(services.notifier),
      ui_(std::make_unique<Ui::CMarindoDlg>()),
      names_(settingsFile, CodePageForLocale()),
      link_(*this, LinkServices{services.notifier, services.adapters, services.neighbours, services.probe, names_},
            timings) {
  ui_->setupUi(this);
  setWindowIcon(ProgramIcon());
  SetUpMenu();
  CreatePages();
  SetUpTree();
  ConnectSignals();
}

CMarindoDlg::~CMarindoDlg() {
  // The tree closes an open label editor while it is destroyed, after this
  // window's members are gone; the rename must not run then.
  labelDelegate_->SetEditEnd(nullptr);
  // The pages go before the link they were given; taking them out of the tabs
  // must not run a tab change.
  ui_->pageTabs->disconnect(this);
  for (QWidget* page : std::initializer_list<QWidget*>{basic_, server_, other_, bell_, system_, log_}) delete page;
}

void CMarindoDlg::SetUpMenu() {
  auto* menuBar = new QMenuBar(this);
  QMenu* help = menuBar->addMenu(QStringLiteral("&Help"));
  help->addAction(kAboutText, this, &CMarindoDlg::ShowAbout);
  layout()->setMenuBar(menuBar);
}

void CMarindoDlg::CreatePages() {
  QTabWidget* tabs = ui_->pageTabs;
  basic_ = new Basic(*this, notifier_, tabs);
  server_ = new Server(*this, notifier_, tabs);
  other_ = new Other(link_.Clocks(), *this, notifier_, tabs);
  bell_ = new Bell(link_.Clocks(), *this, notifier_, tabs);
  system_ = new System(link_, *this, notifier_, tabs);
  log_ = new Log(*this, notifier_, tabs);
  const std::array<QWidget*, kTabCount> pages{basic_, server_, other_, bell_, system_, log_};
  for (std::size_t i = 0; i < pages.size(); ++i) tabs->addTab(pages[i], QString::fromLatin1(kTabLabels[i]));
  tabs->setCurrentIndex(kTabBasic);
}

void CMarindoDlg::SetUpTree() {
  QTreeWidget* tree = ui_->clockTree;
  labelDelegate_ = new LabelEditDelegate(tree);
  labelDelegate_->SetEditEnd([this](const QModelIndex& edited, const QString& text) { RenameEnd(edited, text); });
  tree->setItemDelegate(labelDelegate_);
  tree->setSortingEnabled(false);  // sorted once per search, never after a rename
  tree->viewport()->installEventFilter(this);
}

// Every signal of the window is connected here.
void CMarindoDlg::ConnectSignals() {
  connect(ui_->searchButton, &QPushButton::clicked, this, &CMarindoDlg::Search);
  connect(ui_->modifyButton, &QPushButton::clicked, this, &CMarindoDlg::Modify);
  connect(ui_->unicastRadio, &QRadioButton::toggled, ui_->addressField, &QWidget::setEnabled);
  connect(ui_->pageTabs, &QTabWidget::currentChanged, this, &CMarindoDlg::TabChange);
  connect(ui_->clockTree, &QWidget::customContextMenuRequested, this, &CMarindoDlg::ContextMenu);
}

std::optional<std::uint32_t> CMarindoDlg::SelectedClockIp() const {
  if (selectedIp_ && link_.Clocks().FindByIp(*selectedIp_) != nullptr) return selectedIp_;
  return std::nullopt;
}

ClockRecord* CMarindoDlg::SelectedRecord() { return selectedIp_ ? link_.FindByIp(*selectedIp_) : nullptr; }

// Enter and Escape close nothing here; the close box does.
void CMarindoDlg::keyPressEvent(QKeyEvent* event) {
  if (!SwallowDialogKey(event)) QDialog::keyPressEvent(event);
}

// A clock is chosen by a left click in the tree, never by keyboard moves of
// its selection; a right click only opens the menu and leaves the selection.
bool CMarindoDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched != ui_->clockTree->viewport()) return QDialog::eventFilter(watched, event);
  if (IsMouseButton(event, Qt::RightButton)) return true;
  if (event->type() == QEvent::MouseButtonRelease && IsMouseButton(event, Qt::LeftButton)) {
    ClockClick(static_cast<QMouseEvent*>(event)->position().toPoint());
  }
  return false;
}

void CMarindoDlg::ClearPages() {
  basic_->ClearBasic();
  server_->ClearServers();
  other_->ClearOther();
  for (int i = 0; i < Bell::kPages; ++i) bell_->Page(i).ClearBellRows();
}

// The exchanges block the window; the controls say so while they run.
void CMarindoDlg::SetBusy(bool busy) {
  for (QWidget* control : {static_cast<QWidget*>(ui_->modifyButton), static_cast<QWidget*>(ui_->searchButton),
                           static_cast<QWidget*>(ui_->clockTree)}) {
    control->setEnabled(!busy);
  }
  if (busy) repaint();
}

void CMarindoDlg::Search() {
  ui_->clockTree->clear();
  root_ = nullptr;
  ClearPages();
  root_ = new QTreeWidgetItem(ui_->clockTree, QStringList{kRootText});
  root_->setFlags(root_->flags() & ~Qt::ItemIsEditable);
  if (ui_->unicastRadio->isChecked() && ui_->addressField->Address() == 0) return;
  SetBusy(true);
  SearchClocks();
  FillTree();
  SetBusy(false);
}

void CMarindoDlg::SearchClocks() {
  link_.ClearClocks();
  if (ui_->unicastRadio->isChecked()) {
    link_.SearchUnicast(ui_->addressField->Address());
    return;
  }
  link_.SearchBroadcast();
  const std::size_t found = link_.Clocks().Count();
  if (found > 0) root_->setText(0, kRootText + QStringLiteral("Total:%1").arg(found));
}

void CMarindoDlg::FillTree() {
  for (const ClockRecord& record : link_.Clocks()) {
    auto* item = new QTreeWidgetItem(root_, QStringList{QString::fromStdString(record.label)});
    item->setFlags(item->flags() | Qt::ItemIsEditable);
  }
  SortClockItems();
  root_->setExpanded(true);
}

void CMarindoDlg::SortClockItems() {
  QList<QTreeWidgetItem*> items = root_->takeChildren();
  std::stable_sort(items.begin(), items.end(), [](const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
    return QString::compare(a->text(0), b->text(0), Qt::CaseInsensitive) < 0;
  });
  root_->addChildren(items);
}

void CMarindoDlg::TabChange(int tab) {
  ClearPages();
  log_->RefreshLogFields();
  if (const std::optional<std::uint32_t> ip = SelectedClockIp()) QueryForTabChange(tab, *ip);
  repaint();
}

// A reply may add a record and move the others, so the record is looked up
// again after every exchange.
void CMarindoDlg::QueryForTabChange(int tab, std::uint32_t ip) {
  switch (tab) {
    case kTabBasic:
      link_.SearchUnicast(ip);
      link_.Query(ip, kCodeBasic);
      basic_->ShowIdentity(SelectedRecord());
      basic_->ShowBasicSettings(SelectedRecord());
      return;
    case kTabServers:
      link_.Query(ip, kCodeServers);
      server_->ShowServers(SelectedRecord());
      return;
    case kTabOther:
      link_.Query(ip, kCodeDisplay);
      other_->ShowDisplaySettings(ip);
      link_.Query(ip, kCodeText);
      other_->ShowTextSettings(ip);
      return;
    case kTabBell:
      link_.Query(ip, kCodeBells);
      bell_->ShowClockBells(ip);
      return;
    case kTabSystem:
      if (const ClockRecord* record = SelectedRecord(); record != nullptr && record->newPlatform) {
        link_.Query(ip, kCodeSystemInfo);
      }
      system_->ShowUptime(ip);
      system_->ShowAddresses(ip);
      return;
    default:
      return;
  }
}

void CMarindoDlg::ClockClick(const QPoint& viewportPos) {
  ClearPages();
  const QTreeWidgetItem* item = ui_->clockTree->itemAt(viewportPos);
  // The root is never a clock, even when a clock's name reads like it.
  const ClockRecord* record =
      (item == nullptr || item == root_) ? nullptr : link_.FindByLabel(item->text(0).toStdString());
  if (record == nullptr || record->ip == 0) {
    selectedIp_.reset();
    return;
  }
  selectedIp_ = record->ip;
  QueryForClockClick(ui_->pageTabs->currentIndex(), record->ip);
  repaint();
}

void CMarindoDlg::QueryForClockClick(int tab, std::uint32_t ip) {
  switch (tab) {
    case kTabBasic:
      link_.SearchUnicast(ip);
      link_.Query(ip, kCodeBasic);
      basic_->ShowBasicSettings(SelectedRecord());
      basic_->ShowIdentity(SelectedRecord());
      return;
    case kTabServers:
      if (link_.Query(ip, kCodeServers) >= 1) server_->ShowServers(SelectedRecord());
      return;
    case kTabOther:
      link_.Query(ip, kCodeDisplay);
      link_.Query(ip, kCodeText);
      if (const ClockRecord* record = SelectedRecord(); record != nullptr && record->newPlatform) {
        link_.Query(ip, kCodeSystemInfo);
      }
      other_->ShowDisplaySettings(ip);
      other_->ShowTextSettings(ip);
      return;
    case kTabBell:
      link_.Query(ip, kCodeBells);
      bell_->ShowClockBells(ip);
      return;
    case kTabSystem:
      system_->ShowAddresses(ip);
      link_.Query(ip, kCodeDisplay);
      system_->ShowUptime(ip);
      return;
    case kTabLog:
      log_->RefreshLogFields();
      return;
    default:
      return;
  }
}

void CMarindoDlg::Modify() {
  SetBusy(true);
  ModifyShowingPage(ui_->pageTabs->currentIndex());
  SetBusy(false);
}

// SendModify sends nothing without a frame or without a selected clock.
void CMarindoDlg::ModifyShowingPage(int tab) {
  switch (tab) {
    case kTabBasic:
      link_.SendModify(basic_->BuildBasicFrame());
      return;
    case kTabServers:
      link_.SendModify(server_->BuildServerFrame());
      return;
    case kTabOther: {
      const std::optional<ClockFrame> display = other_->BuildDisplayFrame();
      std::optional<ClockFrame> text;
      if (const ClockRecord* record = SelectedRecord()) {
        text = other_->BuildTextFrame(record->longText ? Other::TextForm::Long : Other::TextForm::Short);
      }
      link_.SendModify(display);
      link_.SendModify(text);
      return;
    }
    case kTabBell:
      link_.SendModify(bell_->BuildBellWrite());
      return;
    case kTabSystem:
      system_->StartUpgrade();
      return;
    case kTabLog:
      log_->StartDownload();
      return;
    default:
      return;
  }
}

void CMarindoDlg::ContextMenu(const QPoint& viewportPos) {
  const QTreeWidgetItem* current = ui_->clockTree->currentItem();
  if (current != nullptr && current == root_) return;
  QMenu menu(this);
  const QAction* rename = menu.addAction(kRenameText);
  if (menu.exec(ui_->clockTree->viewport()->mapToGlobal(viewportPos)) == rename) RenameStart();
}

void CMarindoDlg::RenameStart() {
  QTreeWidgetItem* current = ui_->clockTree->currentItem();
  if (current == nullptr || current == root_) return;
  ui_->clockTree->editItem(current, 0);
}

// The text the editor held becomes the selected clock's name and label. An
// edit of another clock's item (the keyboard moved the current item away from
// the selected clock) is dropped rather than naming the wrong clock.
void CMarindoDlg::RenameEnd(const QModelIndex& edited, const QString& text) {
  QTreeWidgetItem* item = ui_->clockTree->itemFromIndex(edited);
  ClockRecord* selected = SelectedRecord();
  if (item == nullptr || selected == nullptr || item->text(0).toStdString() != selected->label) return;
  if (const std::optional<std::string> label = names_.RenameEnd(selected, text.toStdString())) {
    item->setText(0, QString::fromStdString(*label));
  }
}

void CMarindoDlg::ShowAbout() {
  CAboutDlg about(this);
  about.exec();
}

}  // namespace marindo
