#include "siteview/SiteView.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <memory>
#include <set>
#include <variant>

#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/FileReplace.h"
#include "platform/Ipv4.h"
#include "settings/FirmwareUpgrade.h"
#include "settings/ModifyMessages.h"
#include "site/SiteFile.h"
#include "site/Targets.h"
#include "siteview/SectionChooser.h"
#include "siteview/SiteTableModel.h"
#include "siteview/SiteWorker.h"

namespace marindo {
namespace {

// The sweep's pace: a /16 in seven seconds a pass.
constexpr int kSweepRate = 10000;
// How often the ages, colours and summary move on while the window is open.
constexpr std::chrono::seconds kAgeTick{30};
constexpr const char* kNothingSent = "cancelled; nothing was sent";
constexpr const char* kNoChange = "no change; nothing sent";
constexpr const char* kNotInFile = "not in the file; nothing sent";

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

QString Text(const std::string& text) { return QString::fromStdString(text); }

// The first line of a list of problems: what the operator is shown.
std::string FirstLine(const std::string& problems) { return problems.substr(0, problems.find('\n')); }

// "10.213.1.7  SITE0007  hall".
QString ClockLine(const SiteClock& clock) {
  QString line = Text(FormatIpv4(clock.last.ip)) + QStringLiteral("  ") + Text(clock.last.serial);
  if (!clock.last.name.empty()) line += QStringLiteral("  ") + Text(clock.last.name);
  return line;
}

QString Clocks(std::size_t count) {
  return count == 1 ? QStringLiteral("1 clock") : QStringLiteral("%1 clocks").arg(count);
}

// The keys of the basic section that hold one clock's own addressing.
constexpr std::array<const char*, 5> kOwnAddressKeys{"addressing", "ipAddress", "subnetMask", "gateway", "dnsServer"};

bool WriteWhole(const std::filesystem::path& file, const std::string& bytes) {
  TemporaryFile temporary(file);
  return temporary.Get() >= 0 && WriteAll(temporary.Get(), bytes) &&
         temporary.Commit(file, TemporaryFile::Over::Replace);
}

// The confirmation's list: per clock what would change, or why it is left out.
QString PlanDetails(const std::vector<const SiteClock*>& clocks, const std::vector<ClockPlan>& plans,
                    std::size_t& changing) {
  std::size_t unchanged = 0;
  std::size_t leftOut = 0;
  QString list;
  for (std::size_t i = 0; i < plans.size(); ++i) {
    const ClockPlan& plan = plans[i];
    list += ClockLine(*clocks[i]) + QLatin1Char('\n');
    if (!plan.Writable()) {
      ++leftOut;
      list += QStringLiteral("    left out: ") + Text(OutcomeOf(plan.outcomes).text) + QLatin1Char('\n');
      continue;
    }
    if (!plan.Changes()) {
      ++unchanged;
      list += QStringLiteral("    no change\n");
      continue;
    }
    ++changing;
    for (const PlannedSection& section : plan.sections) {
      for (const FieldChange& change : section.changes) {
        list += QStringLiteral("    ") + Text(FieldChangeText(change)) + QLatin1Char('\n');
      }
    }
  }
  QString heading = QStringLiteral("%1 will change").arg(Clocks(changing));
  if (unchanged > 0) heading += QStringLiteral(", %1 no change").arg(unchanged);
  if (leftOut > 0) heading += QStringLiteral(", %1 cannot be written and will be left out").arg(leftOut);
  return heading + QStringLiteral(".\n\n") + list;
}

bool ShowConfirmation(QWidget* parent, const QString& title, const QString& details) {
  QDialog dialog(parent);
  dialog.setObjectName(QStringLiteral("siteConfirmation"));
  dialog.setWindowTitle(title);
  auto* layout = new QVBoxLayout(&dialog);
  auto* heading = new QLabel(QStringLiteral("<b>%1</b>").arg(title.toHtmlEscaped()), &dialog);
  layout->addWidget(heading);
  auto* list = new QPlainTextEdit(details, &dialog);
  list->setObjectName(QStringLiteral("changes"));
  list->setReadOnly(true);
  list->setLineWrapMode(QPlainTextEdit::NoWrap);
  layout->addWidget(list);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Go ahead"));
  buttons->button(QDialogButtonBox::Cancel)->setDefault(true);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  dialog.resize(640, 420);
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace

SiteView::SiteView(SiteViewServices services, QWidget* parent)
    : QDialog(parent),
      services_(std::move(services)),
      preferences_(services_.settingsFile),
      model_(new SiteTableModel(this)),
      proxy_(new SiteFilterProxy(this)),
      worker_(new SiteWorker(this)) {
  setObjectName(QStringLiteral("siteView"));
  setWindowTitle(QStringLiteral("Site view"));
  setWindowFlag(Qt::WindowMaximizeButtonHint);
  setModal(false);
  proxy_->setSourceModel(model_);
  model_->SetThresholdHours(preferences_.SyncThresholdHours());
  BuildControls();
  ConnectControls();
  UpdateSummary();
  UpdateActions();
  ShowStatus(QStringLiteral("Refresh finds the clocks: the broadcast search, and the ranges if any."));
  resize(1100, 600);
}

SiteView::~SiteView() {
  // The task under way uses the link, the names and this window's roster.
  worker_->Stop();
  worker_->Finish();
}

void SiteView::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  filter_ = new QLineEdit(this);
  filter_->setObjectName(QStringLiteral("filter"));
  filter_->setPlaceholderText(QStringLiteral("Filter"));
  filter_->setClearButtonEnabled(true);
  top->addWidget(filter_, 2);
  top->addWidget(new QLabel(QStringLiteral("Ranges:"), this));
  ranges_ = new QLineEdit(Text(preferences_.Ranges()), this);
  ranges_->setObjectName(QStringLiteral("ranges"));
  ranges_->setPlaceholderText(QStringLiteral("10.20.0.0/22, 10.21.0.10-10.21.0.200"));
  ranges_->setToolTip(QStringLiteral("Addresses and ranges searched besides the broadcast, for clocks behind routers"));
  top->addWidget(ranges_, 3);
  top->addWidget(new QLabel(QStringLiteral("Not synchronised after:"), this));
  threshold_ = new QSpinBox(this);
  threshold_->setObjectName(QStringLiteral("threshold"));
  threshold_->setRange(1, kMaxSyncThresholdHours);
  threshold_->setSuffix(QStringLiteral(" h"));
  threshold_->setValue(model_->ThresholdHours());
  top->addWidget(threshold_);
  refreshButton_ = new QPushButton(QStringLiteral("Refresh"), this);
  refreshButton_->setObjectName(QStringLiteral("refresh"));
  top->addWidget(refreshButton_);
  cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancelButton_->setObjectName(QStringLiteral("cancel"));
  cancelButton_->setEnabled(false);
  top->addWidget(cancelButton_);
  layout->addLayout(top);

  auto* progressLine = new QHBoxLayout;
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("progress"));
  progress_->setVisible(false);
  progressLine->addWidget(progress_, 1);
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("status"));
  progressLine->addWidget(status_, 2);
  layout->addLayout(progressLine);

  table_ = new QTableView(this);
  table_->setObjectName(QStringLiteral("clocks"));
  table_->setModel(proxy_);
  table_->setSortingEnabled(true);
  table_->sortByColumn(SiteTableModel::kAddress, Qt::AscendingOrder);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setAlternatingRowColors(false);
  table_->verticalHeader()->setVisible(false);
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
  table_->horizontalHeader()->setStretchLastSection(true);
  // Columns fit what the visible rows hold: measuring a thousand rows would
  // hold the window up.
  table_->horizontalHeader()->setResizeContentsPrecision(0);
  table_->setWordWrap(false);
  layout->addWidget(table_, 1);

  summary_ = new QLabel(this);
  summary_->setObjectName(QStringLiteral("summary"));
  layout->addWidget(summary_);

  auto* actions = new QHBoxLayout;
  applyButton_ = new QPushButton(QStringLiteral("Apply section…"), this);
  applyButton_->setObjectName(QStringLiteral("applySection"));
  upgradeButton_ = new QPushButton(QStringLiteral("Upgrade firmware…"), this);
  upgradeButton_->setObjectName(QStringLiteral("upgradeFirmware"));
  backUpButton_ = new QPushButton(QStringLiteral("Back up…"), this);
  backUpButton_->setObjectName(QStringLiteral("backUp"));
  restoreButton_ = new QPushButton(QStringLiteral("Restore…"), this);
  restoreButton_->setObjectName(QStringLiteral("restore"));
  exportButton_ = new QPushButton(QStringLiteral("Export CSV"), this);
  exportButton_->setObjectName(QStringLiteral("exportCsv"));
  for (QPushButton* button : {applyButton_, upgradeButton_, backUpButton_, restoreButton_, exportButton_}) {
    button->setAutoDefault(false);
    actions->addWidget(button);
  }
  refreshButton_->setAutoDefault(false);
  cancelButton_->setAutoDefault(false);
  actions->addStretch(1);
  layout->addLayout(actions);
}

void SiteView::ConnectControls() {
  connect(filter_, &QLineEdit::textChanged, proxy_, &QSortFilterProxyModel::setFilterFixedString);
  connect(threshold_, &QSpinBox::valueChanged, this, &SiteView::StoreThreshold);
  connect(refreshButton_, &QPushButton::clicked, this, &SiteView::Refresh);
  connect(cancelButton_, &QPushButton::clicked, this, &SiteView::Cancel);
  connect(applyButton_, &QPushButton::clicked, this, &SiteView::AskApplySection);
  connect(upgradeButton_, &QPushButton::clicked, this, &SiteView::AskUpgrade);
  connect(backUpButton_, &QPushButton::clicked, this, &SiteView::AskBackUp);
  connect(restoreButton_, &QPushButton::clicked, this, &SiteView::AskRestore);
  connect(exportButton_, &QPushButton::clicked, this, &SiteView::AskExportCsv);
  connect(table_, &QTableView::doubleClicked, this, &SiteView::OpenRow);
  connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this, &SiteView::UpdateActions);
  connect(proxy_, &QAbstractItemModel::rowsInserted, this, &SiteView::UpdateActions);
  connect(worker_, &SiteWorker::BusyChanged, this, &SiteView::SetBusy);
  clockTick_ = new QTimer(this);
  clockTick_->setInterval(kAgeTick);
  connect(clockTick_, &QTimer::timeout, this, [this] {
    model_->SetNow(Now());
    UpdateSummary();
  });
  clockTick_->start();
}

bool SiteView::Busy() const { return worker_->Busy(); }

QString SiteView::Status() const { return status_->text(); }

void SiteView::SetBusy(bool busy) {
  services_.host.SiteBusy(busy);
  cancelButton_->setEnabled(busy);
  refreshButton_->setEnabled(!busy);
  ranges_->setEnabled(!busy);
  progress_->setVisible(busy);
  UpdateActions();
}

void SiteView::UpdateActions() {
  const bool idle = !Busy();
  const bool selected = table_->selectionModel()->hasSelection();
  for (QPushButton* button : {applyButton_, upgradeButton_, backUpButton_, restoreButton_}) {
    button->setEnabled(idle && selected);
  }
  exportButton_->setEnabled(idle && model_->ClockCount() > 0);
}

void SiteView::UpdateSummary() { summary_->setText(model_->Summary()); }

void SiteView::ShowStatus(const QString& text) { status_->setText(text); }

void SiteView::StoreThreshold(int hours) {
  model_->SetThresholdHours(hours);
  UpdateSummary();
  std::string problem;
  if (!preferences_.StoreSyncThresholdHours(hours, &problem)) ShowStatus(Text(problem));
}

std::vector<std::size_t> SiteView::SelectedRows() const {
  QModelIndexList picked = table_->selectionModel()->selectedRows();
  std::sort(picked.begin(), picked.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  std::vector<std::size_t> rows;
  for (const QModelIndex& index : picked) rows.push_back(static_cast<std::size_t>(proxy_->mapToSource(index).row()));
  return rows;
}

std::vector<std::uint32_t> SiteView::AddressesOf(const std::vector<std::size_t>& rows) const {
  std::vector<std::uint32_t> ips;
  for (std::size_t row : rows) ips.push_back(model_->ClockAt(row).last.ip);
  return ips;
}

void SiteView::SelectAddresses(const std::vector<std::uint32_t>& ips) {
  const std::set<std::uint32_t> wanted(ips.begin(), ips.end());
  QItemSelection selection;
  for (std::size_t row = 0; row < model_->ClockCount(); ++row) {
    if (!wanted.contains(model_->ClockAt(row).last.ip)) continue;
    const QModelIndex index = proxy_->mapFromSource(model_->index(static_cast<int>(row), 0));
    if (index.isValid()) selection.select(index, index);
  }
  table_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

SiteTaskContext SiteView::Context() const {
  return SiteTaskContext{services_.link,  services_.names,      services_.codePage, services_.width,
                         services_.transfers, worker_->Stopping(), services_.tftpTimings};
}

// Results reach their rows on the window's thread.
ClockProgress SiteView::ResultProgress(const std::vector<std::size_t>& rows) {
  return [this, rows](std::size_t target, const std::string& text) { QueueResult(rows.at(target), Text(text)); };
}

void SiteView::QueueResult(std::size_t row, QString text) {
  const std::lock_guard lock(queuedMutex_);
  queuedResults_.emplace_back(row, std::move(text));
  PostFlush();
}

void SiteView::QueueStatus(QString text) {
  const std::lock_guard lock(queuedMutex_);
  queuedStatus_ = std::move(text);
  PostFlush();
}

void SiteView::QueueProgress(int value) {
  const std::lock_guard lock(queuedMutex_);
  queuedProgress_ = value;
  PostFlush();
}

// With the queue's lock held.
void SiteView::PostFlush() {
  if (flushPosted_) return;
  flushPosted_ = true;
  worker_->Post([this] { Flush(); });
}

void SiteView::Flush() {
  std::vector<std::pair<std::size_t, QString>> results;
  std::optional<QString> status;
  std::optional<int> progress;
  {
    const std::lock_guard lock(queuedMutex_);
    results.swap(queuedResults_);
    status.swap(queuedStatus_);
    progress.swap(queuedProgress_);
    flushPosted_ = false;
  }
  for (auto& [row, text] : results) model_->SetResult(row, text);
  if (status) ShowStatus(*status);
  if (progress) progress_->setValue(*progress);
}

bool SiteView::AskConfirmation(const QString& title, const QString& details) {
  if (confirm_) return confirm_(title, details);
  return ShowConfirmation(this, title, details);
}

void SiteView::Refuse(const std::string& message) {
  ShowStatus(Text(message));
  services_.notifier.ShowMessage(message);
}

void SiteView::Cancel() {
  if (!Busy()) return;
  worker_->Stop();
  ShowStatus(QStringLiteral("Cancelling: exchanges under way end, no new one starts…"));
}

void SiteView::Refresh() {
  if (Busy()) return;
  const std::string rangesText = ranges_->text().trimmed().toStdString();
  std::vector<std::uint32_t> sweep;
  if (!rangesText.empty()) {
    const auto parsed = ParseTargets(rangesText);
    if (const auto* bad = std::get_if<std::string>(&parsed)) return Refuse("Ranges: " + *bad);
    if (std::get<Targets>(parsed).all) return Refuse("Ranges: \"all\" is the broadcast search, which every refresh runs");
    sweep = std::get<Targets>(parsed).addresses;
  }
  std::string problem;
  const bool stored = rangesText == preferences_.Ranges() || preferences_.StoreRanges(rangesText, &problem);
  auto refresh = std::make_shared<SiteRefresh>();
  const SiteTaskContext context = Context();
  progress_->setRange(0, 0);
  ShowStatus(QStringLiteral("Searching…"));
  worker_->Start(
      [this, context, sweep, refresh] {
        *refresh = RefreshSite(context, sweep, kSweepRate, [this](std::size_t found) {
          QueueStatus(QStringLiteral("Searching… %1 found").arg(Clocks(found)));
        });
      },
      [this, refresh, stored, problem] {
        if (refresh->complete) {
          const std::int64_t now = Now();
          const bool first = model_->ClockCount() == 0;
          roster_.Update(refresh->heard, now);
          model_->SetRoster(roster_, now);
          if (first) table_->resizeColumnsToContents();
          table_->resizeColumnToContents(SiteTableModel::kState);
          ShowStatus(QStringLiteral("Refreshed: %1 answered.").arg(Clocks(refresh->heard.size())) +
                     (stored ? QString() : QStringLiteral(" The ranges were not kept: ") + Text(problem)));
        } else {
          ShowStatus(QStringLiteral("Refresh cancelled: the table shows the last complete refresh."));
        }
        services_.host.ClocksReplaced();
        UpdateSummary();
        UpdateActions();
      });
}

void SiteView::ApplySection(Section section, const SectionSource& source) {
  std::vector<std::size_t> rows = SelectedRows();
  if (Busy() || rows.empty()) return;
  if (!SectionWritable(section)) return Refuse(std::string(SectionName(section)) + " cannot be written");
  if (source.clock) return ApplyFromClock(section, *source.clock, std::move(rows));
  const auto loaded = LoadClockSettings(source.file);
  if (const auto* problems = std::get_if<std::string>(&loaded)) return Refuse(FirstLine(*problems));
  const Json& clock = std::get<Json>(loaded);
  const std::string name(SectionName(section));
  if (!clock.contains(name)) return Refuse(source.file.string() + ": holds no \"" + name + "\" section");
  Json settings = Json::object();
  settings[name] = clock[name];
  if (rows.size() > 1) {
    if (const auto problem = OwnAddressProblem(settings, source.file.string())) return Refuse(*problem);
  }
  const std::size_t count = rows.size();
  PlanThenWrite(std::move(rows), std::vector<Json>(count, settings), QStringLiteral("Apply the %1 section").arg(Text(name)));
}

void SiteView::ApplyFromClock(Section section, std::uint32_t source, std::vector<std::size_t> rows) {
  auto fields = std::make_shared<std::optional<Json>>();
  const SiteTaskContext context = Context();
  progress_->setRange(0, 0);
  ShowStatus(QStringLiteral("Reading %1 from %2…").arg(Text(std::string(SectionName(section))), Text(FormatIpv4(source))));
  worker_->Start(
      [context, section, source, fields] {
        SectionWriter writer(context.link, context.codePage);
        const bool known = context.link.Snapshot(source).has_value() || writer.SearchOne(source);
        if (!known || !writer.ReadSection(source, section)) return;
        Json read = SectionToJson(*context.link.Snapshot(source), section, context.codePage);
        // Addressing belongs to each clock: another clock's address, mask or
        // gateway would cut the targets off.
        if (section == Section::Basic) {
          for (const char* key : kOwnAddressKeys) read.erase(key);
        }
        *fields = std::move(read);
      },
      [this, section, source, fields, rows = std::move(rows)]() mutable {
        if (worker_->Stopping()) return ShowStatus(QStringLiteral("Cancelled; nothing was sent."));
        if (!*fields) return Refuse(NoResponseMessage(source));
        Json settings = Json::object();
        settings[std::string(SectionName(section))] = std::move(**fields);
        const std::size_t count = rows.size();
        PlanThenWrite(std::move(rows), std::vector<Json>(count, settings),
                      QStringLiteral("Apply the %1 section").arg(Text(std::string(SectionName(section)))));
      });
}

void SiteView::PlanThenWrite(std::vector<std::size_t> rows, std::vector<Json> settings, const QString& verb) {
  auto shared = std::make_shared<const std::vector<Json>>(std::move(settings));
  auto plans = std::make_shared<std::vector<ClockPlan>>();
  std::vector<SiteTarget> targets;
  for (std::size_t i = 0; i < rows.size(); ++i) targets.push_back({model_->ClockAt(rows[i]).last.ip, &(*shared)[i]});
  for (std::size_t row : rows) model_->SetResult(row, QString());
  const SiteTaskContext context = Context();
  progress_->setRange(0, 0);
  ShowStatus(QStringLiteral("%1: reading %2…").arg(verb, Clocks(rows.size())));
  worker_->Start([context, targets, plans, progress = ResultProgress(rows)] { *plans = PlanSite(context, targets, progress); },
                 [this, rows, shared, plans, verb] {
                   if (worker_->Stopping()) {
                     for (std::size_t row : rows) model_->SetResult(row, QString::fromLatin1(kNothingSent));
                     return ShowStatus(QStringLiteral("Cancelled; nothing was written."));
                   }
                   std::vector<const SiteClock*> clocks;
                   for (std::size_t row : rows) clocks.push_back(&model_->ClockAt(row));
                   std::size_t changing = 0;
                   const QString details = PlanDetails(clocks, *plans, changing);
                   if (changing == 0 || !AskConfirmation(verb, details)) {
                     for (std::size_t i = 0; i < rows.size(); ++i) {
                       const ClockPlan& plan = (*plans)[i];
                       const QString result = !plan.Writable() ? Text(OutcomeOf(plan.outcomes).text)
                                              : changing == 0  ? QString::fromLatin1(kNoChange)
                                                               : QString::fromLatin1(kNothingSent);
                       model_->SetResult(rows[i], result);
                     }
                     return ShowStatus(changing == 0 ? QStringLiteral("%1: nothing to change.").arg(verb)
                                                     : QStringLiteral("%1: cancelled; nothing was written.").arg(verb));
                   }
                   WriteConfirmed(rows, *shared, *plans);
                 });
}

void SiteView::WriteConfirmed(const std::vector<std::size_t>& rows, const std::vector<Json>& settings,
                              const std::vector<ClockPlan>& plans) {
  auto shared = std::make_shared<const std::vector<Json>>(settings);
  std::vector<std::size_t> writeRows;
  std::vector<SiteTarget> targets;
  std::size_t leftOut = 0;
  std::size_t unchanged = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const ClockPlan& plan = plans[i];
    if (!plan.Writable()) {
      ++leftOut;
      model_->SetResult(rows[i], Text(OutcomeOf(plan.outcomes).text));
    } else if (!plan.Changes()) {
      ++unchanged;
      model_->SetResult(rows[i], QString::fromLatin1(kNoChange));
    } else {
      writeRows.push_back(rows[i]);
      targets.push_back({model_->ClockAt(rows[i]).last.ip, &(*shared)[i]});
    }
  }
  auto outcomes = std::make_shared<std::vector<ClockOutcome>>();
  const SiteTaskContext context = Context();
  progress_->setRange(0, static_cast<int>(targets.size()));
  progress_->setValue(0);
  ShowStatus(QStringLiteral("Writing to %1…").arg(Clocks(targets.size())));
  ClockProgress results = ResultProgress(writeRows);
  worker_->Start(
      [this, context, targets, outcomes, results] {
        std::atomic<int> done{0};
        *outcomes = WriteSite(context, targets, [&](std::size_t i, const std::string& text) {
          results(i, text);
          if (text != kWriting) QueueProgress(++done);
        });
      },
      [this, outcomes, shared, leftOut, unchanged] {
        const auto ok = static_cast<std::size_t>(
            std::ranges::count_if(*outcomes, [](const ClockOutcome& o) { return o.ok; }));
        QString status = QStringLiteral("Written: %1 succeeded, %2 did not.")
                             .arg(Clocks(ok))
                             .arg(outcomes->size() - ok);
        if (leftOut > 0) status += QStringLiteral(" Left out: %1 that could not be read.").arg(Clocks(leftOut));
        if (unchanged > 0) status += QStringLiteral(" Unchanged: %1.").arg(Clocks(unchanged));
        ShowStatus(status);
      });
}

void SiteView::UpgradeFirmware(const std::filesystem::path& firmware) {
  const std::vector<std::size_t> rows = SelectedRows();
  if (Busy() || rows.empty()) return;
  const std::string path = firmware.string();
  const std::string pathInCodePage = ToCodePage(path, services_.codePage);
  QString list;
  // Every clock must take the file before any of them gets it.
  for (std::size_t row : rows) {
    const SiteClock& clock = model_->ClockAt(row);
    if (!FirmwareTypeAccepted(pathInCodePage, clock.last.newPlatform)) {
      return Refuse(FormatIpv4(clock.last.ip) + ": " + FirmwareTypeRefusal(clock.last.newPlatform));
    }
    list += ClockLine(clock) + QLatin1Char('\n');
  }
  if (!AskConfirmation(QStringLiteral("Upgrade firmware"),
                       QStringLiteral("%1 will get %2:\n\n").arg(Clocks(rows.size()), Text(path)) + list)) {
    return;
  }
  for (std::size_t row : rows) model_->SetResult(row, QStringLiteral("waiting"));
  auto outcomes = std::make_shared<std::vector<ClockOutcome>>();
  const SiteTaskContext context = Context();
  progress_->setRange(0, 0);
  ShowStatus(QStringLiteral("Upgrading %1…").arg(Clocks(rows.size())));
  worker_->Start([context, path, outcomes, ips = AddressesOf(rows), progress = ResultProgress(rows)] {
    *outcomes = UpgradeSite(context, ips, path, progress);
  },
                 [this, outcomes] {
                   const auto ok = std::ranges::count_if(*outcomes, [](const ClockOutcome& o) { return o.ok; });
                   ShowStatus(QStringLiteral("Upgraded: %1 succeeded, %2 did not.")
                                  .arg(Clocks(static_cast<std::size_t>(ok)))
                                  .arg(static_cast<qsizetype>(outcomes->size()) - ok));
                 });
}

void SiteView::BackUp(const std::filesystem::path& file) {
  const std::vector<std::size_t> rows = SelectedRows();
  if (Busy() || rows.empty()) return;
  auto backup = std::make_shared<SiteBackup>();
  const SiteTaskContext context = Context();
  progress_->setRange(0, 0);
  ShowStatus(QStringLiteral("Reading %1…").arg(Clocks(rows.size())));
  worker_->Start([context, backup, ips = AddressesOf(rows), progress = ResultProgress(rows)] {
    *backup = BackUpSite(context, ips, progress);
  },
                 [this, backup, rows, file] {
                   // A cut-short backup would pass for the whole site later.
                   if (worker_->Stopping()) {
                     for (std::size_t i = 0; i < rows.size(); ++i) {
                       if (backup->outcomes[i].ok) model_->SetResult(rows[i], QStringLiteral("not saved: cancelled"));
                     }
                     return ShowStatus(QStringLiteral("Back up cancelled; no file was written."));
                   }
                   Json clocks = Json::array();
                   for (Json& clock : backup->clocks) {
                     if (!clock.is_null()) clocks.push_back(std::move(clock));
                   }
                   const std::string text = SiteDocument(std::move(clocks)).dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
                   if (!WriteWhole(file, text)) {
                     // A clock read but not on disk was not saved.
                     for (std::size_t i = 0; i < rows.size(); ++i) {
                       if (backup->outcomes[i].ok) model_->SetResult(rows[i], QStringLiteral("not saved"));
                     }
                     return Refuse(file.string() + ": cannot be written; nothing was saved");
                   }
                   const auto saved = std::ranges::count_if(backup->outcomes, [](const ClockOutcome& o) { return o.ok; });
                   ShowStatus(QStringLiteral("Saved %1 of %2 to %3.")
                                  .arg(Clocks(static_cast<std::size_t>(saved)))
                                  .arg(rows.size())
                                  .arg(Text(file.string())));
                 });
}

void SiteView::Restore(const std::filesystem::path& file) {
  std::vector<std::size_t> rows = SelectedRows();
  if (Busy() || rows.empty()) return;
  const auto loaded = LoadSiteFile(file);
  if (const auto* problems = std::get_if<std::string>(&loaded)) return Refuse(FirstLine(*problems));
  const Json& site = std::get<Json>(loaded);
  std::vector<std::size_t> found;
  std::vector<Json> settings;
  for (std::size_t row : rows) {
    const ClockReading& clock = model_->ClockAt(row).last;
    const auto saved = std::ranges::find_if(site["clocks"], [&](const Json& c) {
      return c.value("serial", "") == clock.serial && NormalMac(c.value("mac", "")) == clock.mac;
    });
    if (saved == site["clocks"].end()) {
      model_->SetResult(row, QString::fromLatin1(kNotInFile));
      continue;
    }
    found.push_back(row);
    settings.push_back(*saved);
  }
  if (found.empty()) return Refuse(file.string() + ": holds none of the selected clocks; nothing was sent");
  PlanThenWrite(std::move(found), std::move(settings), QStringLiteral("Restore"));
}

bool SiteView::ExportCsv(const std::filesystem::path& file) {
  if (!WriteWhole(file, CsvOfView(*proxy_).toStdString())) {
    Refuse(file.string() + ": cannot be written");
    return false;
  }
  ShowStatus(QStringLiteral("Exported %1 to %2.").arg(Clocks(static_cast<std::size_t>(proxy_->rowCount())),
                                                       Text(file.string())));
  return true;
}

void SiteView::AskApplySection() {
  std::vector<const SiteClock*> answered;
  for (std::size_t row = 0; row < model_->ClockCount(); ++row) {
    if (!model_->ClockAt(row).silent) answered.push_back(&model_->ClockAt(row));
  }
  const std::vector<std::size_t> rows = SelectedRows();
  const std::optional<std::uint32_t> first =
      rows.empty() ? std::nullopt : std::optional<std::uint32_t>(model_->ClockAt(rows.front()).last.ip);
  SectionChooser chooser(answered, first, this);
  if (chooser.exec() != QDialog::Accepted) return;
  ApplySection(chooser.ChosenSection(), chooser.Source());
}

void SiteView::AskUpgrade() {
  const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Upgrade firmware"), QString(),
                                                    QStringLiteral("Firmware (*.bin *.hex *.tar);;All files (*)"));
  if (!path.isEmpty()) UpgradeFirmware(path.toStdString());
}

void SiteView::AskBackUp() {
  const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Back up"), QStringLiteral("site.json"),
                                                    QStringLiteral("Site file (*.json)"));
  if (!path.isEmpty()) BackUp(path.toStdString());
}

void SiteView::AskRestore() {
  const QString path =
      QFileDialog::getOpenFileName(this, QStringLiteral("Restore"), QString(), QStringLiteral("Site file (*.json)"));
  if (!path.isEmpty()) Restore(path.toStdString());
}

void SiteView::AskExportCsv() {
  const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export CSV"), QStringLiteral("clocks.csv"),
                                                    QStringLiteral("CSV (*.csv)"));
  if (!path.isEmpty()) ExportCsv(path.toStdString());
}

void SiteView::OpenRow(const QModelIndex& index) {
  if (!index.isValid()) return;
  const SiteClock& clock = model_->ClockAt(static_cast<std::size_t>(proxy_->mapToSource(index).row()));
  if (Busy()) return ShowStatus(QStringLiteral("The main window waits until the action ends."));
  if (!services_.host.SelectClock(clock.last.ip)) {
    ShowStatus(QStringLiteral("%1 is not in the main window's list; refresh, or search there.")
                   .arg(Text(FormatIpv4(clock.last.ip))));
  }
}

void SiteView::closeEvent(QCloseEvent* event) {
  if (Busy()) {
    const bool stop = AskConfirmation(
        QStringLiteral("Close the site view"),
        QStringLiteral("An action is running. Cancel it and close? Exchanges under way end first; no new one starts, "
                       "and each clock's result stays true."));
    if (!stop) {
      event->ignore();
      return;
    }
    Cancel();
    worker_->Finish();
  }
  QDialog::closeEvent(event);
}

void SiteView::reject() {
  // Escape closes as the window's close button does.
  if (Busy()) {
    close();
    return;
  }
  QDialog::reject();
}

}  // namespace marindo
