#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

#include <QDialog>

#include "clocks/ClockNames.h"
#include "clocks/ClockSelection.h"
#include "link/ClockLink.h"
#include "link/LinkTimings.h"
#include "platform/Adapters.h"
#include "platform/Neighbours.h"
#include "platform/Notifier.h"
#include "platform/PortProbe.h"
#include "siteview/SiteHost.h"

class QModelIndex;
class QPoint;
class QTreeWidgetItem;

namespace Ui {
class CMarindoDlg;
}

namespace marindo {

class Basic;
class Bell;
class WaitPainter;
class LabelEditDelegate;
class Log;
class Other;
class Server;
class SiteView;
class System;

// What the main window's clock link runs on: the real services in the
// program, fakes in tests.
struct PlatformServices {
  Notifier& notifier;
  const AdapterSource& adapters;
  NeighbourLookup& neighbours;
  PortProbe& probe;
};

// The program's main window: the clock tree on the left, the six pages on the
// right, Search and Modify. It owns the clock link (and so the clock socket)
// and every page, and it holds the clock the operator selected by a click in
// the tree.
class CMarindoDlg : public QDialog, public ClockSelection, public SiteHost {
  Q_OBJECT

 public:
  enum Tab : int { kTabBasic, kTabServers, kTabOther, kTabBell, kTabSystem, kTabLog, kTabCount };

  // Opens the clock socket as `timings` say (the program passes the defaults)
  // and keeps the clock names in `settingsFile`.
  CMarindoDlg(PlatformServices services, const std::filesystem::path& settingsFile, LinkTimings timings = {},
              QWidget* parent = nullptr);
  ~CMarindoDlg() override;

  // The selected clock's address while its record is in the list: a clock
  // that a later search did not find again is no longer selected.
  std::optional<std::uint32_t> SelectedClockIp() const override;
  ClockRecord* SelectedRecord() override;

  ClockLink& Link() { return link_; }
  // The tab whose page shows the selected clock's own answers, read since
  // the pages were last cleared; only such a page may be written back.
  std::optional<int> ReadTab() const { return readTab_; }

  // The operator's actions, by the control that starts them.
  void Search();
  void Modify();
  void RenameStart();
  void ShowAbout();
  // "Site view…": opens the site view, or brings it to the front.
  void ShowSiteView();
  SiteView* SiteViewWindow() const { return siteView_; }

  // The site view's requests.
  void SiteBusy(bool busy) override;
  void ClocksReplaced() override;
  bool SelectClock(std::uint32_t ip) override;

 public slots:
  void reject() override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreatePages();
  void SetUpTree();
  void SetUpMenu();
  void ConnectSignals();

  void ClearPages();
  void SetBusy(bool busy);
  void SearchClocks();
  void FillTree();
  void SortClockItems();

  void TabChange(int tab);
  void QueryForTabChange(int tab, std::uint32_t ip);
  void ClockClick(const QPoint& viewportPos);
  void QueryForClockClick(int tab, std::uint32_t ip);
  void ModifyShowingPage(int tab);
  void SendModify(const std::optional<ClockFrame>& frame);
  bool ReadAnswer(std::uint32_t ip, std::uint8_t code);

  void ContextMenu(const QPoint& viewportPos);
  void RenameEnd(const QModelIndex& edited, const QString& text);

  Notifier& notifier_;
  std::filesystem::path settingsFile_;
  std::unique_ptr<Ui::CMarindoDlg> ui_;
  ClockNames names_;
  WaitPainter* painter_ = nullptr;
  ClockLink link_;
  std::optional<std::uint32_t> selectedIp_;
  std::optional<int> readTab_;
  QTreeWidgetItem* root_ = nullptr;
  LabelEditDelegate* labelDelegate_ = nullptr;
  Basic* basic_ = nullptr;
  Server* server_ = nullptr;
  Other* other_ = nullptr;
  Bell* bell_ = nullptr;
  System* system_ = nullptr;
  Log* log_ = nullptr;
  SiteView* siteView_ = nullptr;
  bool siteBusy_ = false;
};

}  // namespace marindo
