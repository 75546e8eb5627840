#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <QDialog>
#include <QString>

#include "clocks/ClockNames.h"
#include "link/ClockLink.h"
#include "platform/CodePage.h"
#include "platform/Notifier.h"
#include "settings/SettingsJson.h"
#include "site/SitePreferences.h"
#include "site/SiteRoster.h"
#include "siteview/SiteHost.h"
#include "siteview/SiteTasks.h"
#include "tftp/TftpClient.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableView;
class QTimer;

namespace marindo {

class SiteFilterProxy;
class SiteTableModel;
class SiteWorker;

// What the site view runs on: the owner's link, names and notifier.
struct SiteViewServices {
  ClockLink& link;
  const ClockNames& names;
  Notifier& notifier;
  SiteHost& host;
  std::filesystem::path settingsFile;
  CodePage codePage = CodePage::Cp1252;
  TftpTimings tftpTimings{};
  std::size_t width = 64;     // clocks in flight at once, as marindo-cli's --parallel
  std::size_t transfers = 8;  // firmware uploads at once, as its --transfers
};

// Where "Apply section…" takes the section from.
struct SectionSource {
  std::optional<std::uint32_t> clock;  // read from this clock
  std::filesystem::path file;          // otherwise from this settings file
};

// The site view: every clock found, its health at a glance, and actions on
// the selected clocks, each run off the window's thread with a result per
// clock. Nothing is written before the operator has seen what will change.
class SiteView : public QDialog {
  Q_OBJECT

 public:
  // The operator's answer to a confirmation: its title and the list of what
  // will happen; true to go on.
  using Confirm = std::function<bool(const QString& title, const QString& details)>;

  explicit SiteView(SiteViewServices services, QWidget* parent = nullptr);
  ~SiteView() override;

  // Tests answer the confirmations themselves.
  void SetConfirm(Confirm confirm) { confirm_ = std::move(confirm); }

  // The operator's actions, with the choices their dialogs would ask for.
  void Refresh();
  void ApplySection(Section section, const SectionSource& source);
  void UpgradeFirmware(const std::filesystem::path& firmware);
  void BackUp(const std::filesystem::path& file);
  void Restore(const std::filesystem::path& file);
  bool ExportCsv(const std::filesystem::path& file);
  void Cancel();

  bool Busy() const;
  SiteTableModel& Model() { return *model_; }
  SiteFilterProxy& Proxy() { return *proxy_; }
  QTableView& Table() { return *table_; }
  QString Status() const;
  // Selects the rows of these addresses (the clocks' last known addresses).
  void SelectAddresses(const std::vector<std::uint32_t>& ips);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void BuildControls();
  void ConnectControls();
  void SetBusy(bool busy);
  void UpdateActions();
  void UpdateSummary();
  void ShowStatus(const QString& text);
  // The selected rows, in the table's order.
  std::vector<std::size_t> SelectedRows() const;
  std::vector<std::uint32_t> AddressesOf(const std::vector<std::size_t>& rows) const;
  SiteTaskContext Context() const;
  ClockProgress ResultProgress(const std::vector<std::size_t>& rows);
  // From the worker threads: what the window is to show. Gathered and
  // shown a batch per turn of the event loop, so that a thousand clocks
  // answering at once cost the window one turn, not a thousand.
  void QueueResult(std::size_t row, QString text);
  void QueueStatus(QString text);
  void QueueProgress(int value);
  void PostFlush();
  void Flush();
  bool AskConfirmation(const QString& title, const QString& details);
  void Refuse(const std::string& message);
  // Plans writing `settings` to the rows, asks, then writes.
  void PlanThenWrite(std::vector<std::size_t> rows, std::vector<Json> settings, const QString& verb);
  void WriteConfirmed(const std::vector<std::size_t>& rows, const std::vector<Json>& settings,
                      const std::vector<ClockPlan>& plans);
  // Applies a section read from the source clock.
  void ApplyFromClock(Section section, std::uint32_t source, std::vector<std::size_t> rows);

  void AskApplySection();
  void AskUpgrade();
  void AskBackUp();
  void AskRestore();
  void AskExportCsv();
  void StoreThreshold(int hours);
  void OpenRow(const QModelIndex& index);

  SiteViewServices services_;
  SitePreferences preferences_;
  SiteRoster roster_;
  SiteTableModel* model_ = nullptr;
  SiteFilterProxy* proxy_ = nullptr;
  SiteWorker* worker_ = nullptr;
  Confirm confirm_;

  std::mutex queuedMutex_;
  std::vector<std::pair<std::size_t, QString>> queuedResults_;
  std::optional<QString> queuedStatus_;
  std::optional<int> queuedProgress_;
  bool flushPosted_ = false;

  QLineEdit* filter_ = nullptr;
  QLineEdit* ranges_ = nullptr;
  QSpinBox* threshold_ = nullptr;
  QPushButton* refreshButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* status_ = nullptr;
  QTableView* table_ = nullptr;
  QLabel* summary_ = nullptr;
  QPushButton* applyButton_ = nullptr;
  QPushButton* upgradeButton_ = nullptr;
  QPushButton* backUpButton_ = nullptr;
  QPushButton* restoreButton_ = nullptr;
  QPushButton* exportButton_ = nullptr;
  QTimer* clockTick_ = nullptr;
};

}  // namespace marindo
