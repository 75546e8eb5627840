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
#include "app/WaitPainter.h"
#include "bells/Bell.h"
#include "link/CommandCodes.h"
#include "maint/Log.h"
#include "maint/System.h"
#include "pages/Basic.h"
#include "pages/Other.h"
#include "pages/Server.h"
#include "platform/CodePage.h"
#include "settings/ModifyMessages.h"
#include "siteview/SiteView.h"
#include "ui_CMarindoDlg.h"
#include "widgets/PageControls.h"

namespace marindo {
namespace {

// Query codes of the clock protocol, by what the clock answers with.

constexpr std::array<const char*, CMarindoDlg::kTabCount> kTabLabels{
    "Basic  Info", "NTPs Info", "Other Info", "Bell  Info", "System  Info", "Log Info"};

// Each clock item of the tree holds its clock's address under this role: a
// click finds the clock by it, whatever the labels say.
constexpr int kClockIpRole = Qt::UserRole;

const QString kRootText = QStringLiteral("IP(SN)");
const QString kRenameText = QStringLiteral("rename");
const QString kAboutText = QStringLiteral("About Quellan(&A)...");
const QString kSiteViewText = QStringLiteral("Site view…");

std::optional<std::uint32_t> ClockIpOf(const QTreeWidgetItem* item) {
  if (item == nullptr) return std::nullopt;
  const QVariant ip = item->data(0, kClockIpRole);
  if (!ip.isValid()) return std::nullopt;
  return ip.value<std::uint32_t>();
}

bool IsSettingsTab(int tab) {
  return tab == CMarindoDlg::kTabBasic || tab == CMarindoDlg::kTabServers || tab == CMarindoDlg::kTabOther ||
         tab == CMarindoDlg::kTabBell;
}

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
      settingsFile_(settingsFile),
      ui_(std::make_unique<Ui::CMarindoDlg>()),
      names_(settingsFile, CodePageForLocale()),
      painter_(new WaitPainter(this)),
      link_(LinkServices{services.adapters, services.neighbours, services.probe, names_, nullptr,
                         [this] { painter_->PaintPending(); }},
            timings) {
  // The program goes on with an unbound socket; sends still work, but
  // replies to port 7000 reach the other instance.
  if (!link_.Bound()) notifier_.ShowMessage(kPortUnusable);
  ui_->setupUi(this);
  setWindowIcon(ProgramIcon());
  SetUpMenu();
  CreatePages();
  SetUpTree();
  ConnectSignals();
}

CMarindoDlg::~CMarindoDlg() {
  // The site view's task under way uses the link; it ends first.
  delete siteView_;
  siteView_ = nullptr;
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
  QMenu* view = menuBar->addMenu(QStringLiteral("&View"));
  view->addAction(kSiteViewText, this, &CMarindoDlg::ShowSiteView);
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
  // The transfers keep the window painting as the exchanges do.
  for (TftpClient* tftp : {&system_->Tftp(), &log_->Tftp()}) {
    tftp->SetWhileWaiting([this] { painter_->PaintPending(); });
  }
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
  readTab_.reset();
  basic_->ClearBasic();
  server_->ClearServers();
  other_->ClearOther();
  for (int i = 0; i < Bell::kPages; ++i) bell_->Page(i).ClearBellRows();
}

// The exchanges hold the operator's input off; the controls say so while they run.
void CMarindoDlg::SetBusy(bool busy) {
  for (QWidget* control : {static_cast<QWidget*>(ui_->modifyButton), static_cast<QWidget*>(ui_->searchButton),
                           static_cast<QWidget*>(ui_->clockTree)}) {
    control->setEnabled(!busy);
  }
  if (busy) repaint();
}

void CMarindoDlg::Search() {
  if (siteBusy_) return;
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
    item->setData(0, kClockIpRole, QVariant::fromValue(record.ip));
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
  if (siteBusy_) return;
  log_->RefreshLogFields();
  if (const std::optional<std::uint32_t> ip = SelectedClockIp()) QueryForTabChange(tab, *ip);
  repaint();
}

// Whether the clock answered the query of `code` and its answer is in the
// clock's record.
bool CMarindoDlg::ReadAnswer(std::uint32_t ip, std::uint8_t code) {
  const std::optional<HandledFrame> answer = link_.Query(ip, code);
  return answer && answer->stored;
}

// A reply may add a record and move the others, so the record is looked up
// again after every exchange.
void CMarindoDlg::QueryForTabChange(int tab, std::uint32_t ip) {
  bool read = false;
  switch (tab) {
    case kTabBasic:
      link_.SearchUnicast(ip);
      read = ReadAnswer(ip, code::kQueryBasic);
      basic_->ShowIdentity(SelectedRecord());
      basic_->ShowBasicSettings(SelectedRecord());
      break;
    case kTabServers:
      read = ReadAnswer(ip, code::kQueryServers);
      server_->ShowServers(SelectedRecord());
      break;
    case kTabOther:
      read = ReadAnswer(ip, code::kQueryDisplay);
      other_->ShowDisplaySettings(ip);
      read = ReadAnswer(ip, code::kQueryText) && read;
      other_->ShowTextSettings(ip);
      break;
    case kTabBell:
      read = ReadAnswer(ip, code::kQueryBells);
      bell_->ShowClockBells(ip);
      break;
    case kTabSystem:
      if (const ClockRecord* record = SelectedRecord(); record != nullptr && record->newPlatform) {
        link_.Query(ip, code::kQuerySystem);
      }
      system_->ShowUptime(ip);
      system_->ShowAddresses(ip);
      break;
    default:
      break;
  }
  if (read) readTab_ = tab;
}

// The clicked item names its clock by address: two clocks with one name
// stay two clocks.
void CMarindoDlg::ClockClick(const QPoint& viewportPos) {
  ClearPages();
  const std::optional<std::uint32_t> clickedIp = ClockIpOf(ui_->clockTree->itemAt(viewportPos));
  const ClockRecord* record = clickedIp ? link_.FindByIp(*clickedIp) : nullptr;
  if (record == nullptr || record->ip == 0) {
    selectedIp_.reset();
    return;
  }
  selectedIp_ = record->ip;
  QueryForClockClick(ui_->pageTabs->currentIndex(), record->ip);
  repaint();
}

void CMarindoDlg::QueryForClockClick(int tab, std::uint32_t ip) {
  bool read = false;
  switch (tab) {
    case kTabBasic:
      link_.SearchUnicast(ip);
      read = ReadAnswer(ip, code::kQueryBasic);
      basic_->ShowBasicSettings(SelectedRecord());
      basic_->ShowIdentity(SelectedRecord());
      break;
    case kTabServers: {
      const std::optional<HandledFrame> answer = link_.Query(ip, code::kQueryServers);
      read = answer && answer->stored;
      if (answer) server_->ShowServers(SelectedRecord());
      break;
    }
    case kTabOther:
      read = ReadAnswer(ip, code::kQueryDisplay);
      read = ReadAnswer(ip, code::kQueryText) && read;
      if (const ClockRecord* record = SelectedRecord(); record != nullptr && record->newPlatform) {
        link_.Query(ip, code::kQuerySystem);
      }
      other_->ShowDisplaySettings(ip);
      other_->ShowTextSettings(ip);
      break;
    case kTabBell:
      read = ReadAnswer(ip, code::kQueryBells);
      bell_->ShowClockBells(ip);
      break;
    case kTabSystem:
      system_->ShowAddresses(ip);
      link_.Query(ip, code::kQueryDisplay);
      system_->ShowUptime(ip);
      break;
    case kTabLog:
      log_->RefreshLogFields();
      break;
    default:
      break;
  }
  if (read) readTab_ = tab;
}

void CMarindoDlg::Modify() {
  if (siteBusy_) return;
  SetBusy(true);
  ModifyShowingPage(ui_->pageTabs->currentIndex());
  SetBusy(false);
}

// A page is written back only when what it shows came from the selected
// clock's own answers: a page left empty by a lost answer would otherwise
// overwrite the clock's settings with blanks.
void CMarindoDlg::ModifyShowingPage(int tab) {
  if (SelectedClockIp() && IsSettingsTab(tab) && readTab_ != tab) {
    notifier_.ShowMessage(kSettingsNotRead);
    return;
  }
  switch (tab) {
    case kTabBasic:
      SendModify(basic_->BuildBasicFrame());
      return;
    case kTabServers:
      SendModify(server_->BuildServerFrame());
      return;
    case kTabOther: {
      const std::optional<ClockFrame> display = other_->BuildDisplayFrame();
      std::optional<ClockFrame> text;
      if (const ClockRecord* record = SelectedRecord()) {
        text = other_->BuildTextFrame(record->longText ? Other::TextForm::Long : Other::TextForm::Short);
      }
      SendModify(display);
      SendModify(text);
      return;
    }
    case kTabBell:
      SendModify(bell_->BuildBellWrite());
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

// Sends nothing without a frame or without a selected clock. Only the
// selected clock's own answer to this frame is reported.
void CMarindoDlg::SendModify(const std::optional<ClockFrame>& frame) {
  const std::optional<std::uint32_t> ip = SelectedClockIp();
  if (!frame || !ip) return;
  if (const auto message = ModifyOutcomeMessage(link_.SendModify(*ip, *frame), *ip)) {
    notifier_.ShowMessage(*message);
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
  if (item == nullptr || selected == nullptr || ClockIpOf(item) != selected->ip) return;
  std::string problem;
  if (const std::optional<std::string> label = names_.RenameEnd(selected, text.toStdString(), &problem)) {
    item->setText(0, QString::fromStdString(*label));
  }
  // A name the settings file refused (a link or a pipe planted there) would
  // otherwise seem stored and be gone at the next start. The edit may end
  // inside a search that is emptying the tree: the message waits for that.
  if (!problem.empty()) {
    QMetaObject::invokeMethod(this, [this, problem] { notifier_.ShowMessage(problem); }, Qt::QueuedConnection);
  }
}

void CMarindoDlg::ShowSiteView() {
  if (siteView_ == nullptr) {
    siteView_ = new SiteView(SiteViewServices{link_, names_, notifier_, *this, settingsFile_, CodePageForLocale()}, this);
  }
  siteView_->show();
  siteView_->raise();
  siteView_->activateWindow();
}

// While the site view works through the link, this window sends nothing:
// its controls and pages wait.
void CMarindoDlg::SiteBusy(bool busy) {
  siteBusy_ = busy;
  SetBusy(busy);
  ui_->pageTabs->setEnabled(!busy);
}

// The site view's refresh searched anew: the tree shows what it found, as
// after a search here.
void CMarindoDlg::ClocksReplaced() {
  ui_->clockTree->clear();
  ClearPages();
  selectedIp_.reset();
  root_ = new QTreeWidgetItem(ui_->clockTree, QStringList{kRootText});
  root_->setFlags(root_->flags() & ~Qt::ItemIsEditable);
  if (const std::size_t found = link_.Clocks().Count(); found > 0) {
    root_->setText(0, kRootText + QStringLiteral("Total:%1").arg(found));
  }
  FillTree();
}

// As a click on the clock in the tree: its item becomes current and the
// showing page reads it.
bool CMarindoDlg::SelectClock(std::uint32_t ip) {
  if (siteBusy_ || root_ == nullptr) return false;
  QTreeWidgetItem* item = nullptr;
  for (int i = 0; i < root_->childCount() && item == nullptr; ++i) {
    if (ClockIpOf(root_->child(i)) == ip) item = root_->child(i);
  }
  if (item == nullptr || link_.FindByIp(ip) == nullptr) return false;
  raise();
  activateWindow();
  ui_->clockTree->setCurrentItem(item);
  ClearPages();
  selectedIp_ = ip;
  SetBusy(true);
  QueryForClockClick(ui_->pageTabs->currentIndex(), ip);
  SetBusy(false);
  repaint();
  return true;
}

// Closing the program closes the site view first, which asks when an
// action is under way.
void CMarindoDlg::reject() {
  if (siteView_ != nullptr && siteView_->isVisible() && !siteView_->close()) return;
  QDialog::reject();
}

void CMarindoDlg::ShowAbout() {
  CAboutDlg about(this);
  about.exec();
}

}  // namespace marindo
