// The site view's table as the window shows it: texts, sorting and filtering
// through the proxy, colours, the summary line, results across refreshes and
// the CSV of what the view shows.

#include "siteview/SiteTableModel.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <QSignalSpy>

namespace marindo {
namespace {

constexpr std::int64_t kNow = 1'796'983'200;  // 2026-12-11 10:00:00 UTC
constexpr std::int64_t kHour = 3600;

void SetZone(const char* zone) {
  ::setenv("TZ", zone, 1);
  ::tzset();
}

ClockReading Reading(std::string serial, std::string name, std::uint32_t ip, std::string mac, bool newPlatform,
                     std::string firmware, std::int64_t lastSync, std::uint32_t syncServer) {
  ClockReading reading;
  reading.serial = std::move(serial);
  reading.name = std::move(name);
  reading.ip = ip;
  reading.mac = std::move(mac);
  reading.newPlatform = newPlatform;
  reading.firmware = std::move(firmware);
  reading.lastSync = static_cast<std::uint32_t>(lastSync);
  reading.syncServer = syncServer;
  return reading;
}

// Four clocks whose every column sorts in another order, and whose text order
// differs from their value order where a column sorts by value.
const ClockReading kA = Reading("S-a", "hall", 0x0A00000A, "02-13-0A-D5-00-03", false, "4.02", kNow - 100,
                                0x0A000002);  // 10.0.0.10, synchronised 100 s ago from 10.0.0.2
const ClockReading kB =
    Reading("S-b", "Gate", 0x0A000009, "02-13-0A-D5-00-01", true, "3.10", 0, 0);  // 10.0.0.9, never synchronised
const ClockReading kC = Reading("s-c", "attic, north", 0x0A000101, "02-13-0A-D5-00-02", true, "4.10", kNow - 48 * kHour,
                                0x0A00000A);  // 10.0.1.1; goes silent
const ClockReading kD = Reading("S-d", "Basement", 0xC0A80001, "02-13-0A-D5-00-04", false, "2.00", kNow - 2 * kHour,
                                0x0A000009);  // 192.168.0.1
// A clock that joins later, at 10.0.0.1.
const ClockReading kE = Reading("S-e", "", 0x0A000001, "02-13-0A-D5-00-05", true, "4.10", kNow - 3 * kHour, 0);

class SiteTableModelTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { SetZone("UTC"); }

  SiteTableModelTest() {
    // C answers once, ten minutes before the refresh that does not hear it.
    roster_.Update({kA, kB, kC, kD}, kNow - 600);
    roster_.Update({kA, kB, kD}, kNow);
    model_.SetRoster(roster_, kNow);
    model_.SetResult(0, QStringLiteral("Done"));
    model_.SetResult(1, QStringLiteral("failed: no answer"));
    model_.SetResult(3, QStringLiteral("busy"));
    proxy_.setSourceModel(&model_);
  }

  QString Text(int row, int column) const { return model_.data(model_.index(row, column), Qt::DisplayRole).toString(); }
  QVariant Role(int row, int role) const { return model_.data(model_.index(row, SiteTableModel::kName), role); }

  // The clocks as the proxy shows them, by the last letter of their serial.
  std::string ProxyOrder() const {
    std::string order;
    for (int row = 0; row < proxy_.rowCount(); ++row) {
      const QModelIndex source = proxy_.mapToSource(proxy_.index(row, 0));
      const std::string& serial = model_.ClockAt(static_cast<std::size_t>(source.row())).last.serial;
      order += static_cast<char>(std::toupper(static_cast<unsigned char>(serial.back())));
    }
    return order;
  }

  SiteRoster roster_;
  SiteTableModel model_;
  SiteFilterProxy proxy_;
};

TEST_F(SiteTableModelTest, RowsShowWhatTheClocksReported) {
  struct Cell {
    int column;
    const char* silentClock;  // C
    const char* neverSynchronised;  // B
  };
  const std::vector<Cell> cells{
      {SiteTableModel::kName, "attic, north", "Gate"},
      {SiteTableModel::kAddress, "10.0.1.1", "10.0.0.9"},
      {SiteTableModel::kSerial, "s-c", "S-b"},
      {SiteTableModel::kMac, "02-13-0A-D5-00-02", "02-13-0A-D5-00-01"},
      {SiteTableModel::kModel, "new platform", "new platform"},
      {SiteTableModel::kFirmware, "4.10", "3.10"},
      {SiteTableModel::kLastSync, "2026-12-09 10:00:00", "never"},
      {SiteTableModel::kSyncAge, "2 d 0 h", "never"},
      {SiteTableModel::kSyncServer, "10.0.0.10", ""},
      {SiteTableModel::kState, "silent since 2026-12-11 09:50", "answered"},
      {SiteTableModel::kResult, "", "failed: no answer"},
  };
  ASSERT_EQ(model_.columnCount(), SiteTableModel::kColumnCount);
  ASSERT_EQ(static_cast<int>(cells.size()), SiteTableModel::kColumnCount);
  for (const Cell& cell : cells) {
    SCOPED_TRACE(model_.headerData(cell.column, Qt::Horizontal, Qt::DisplayRole).toString().toStdString());
    EXPECT_EQ(Text(2, cell.column), QString::fromUtf8(cell.silentClock));
    EXPECT_EQ(Text(1, cell.column), QString::fromUtf8(cell.neverSynchronised));
  }
  EXPECT_EQ(Text(0, SiteTableModel::kModel), "old platform");
  EXPECT_EQ(Text(0, SiteTableModel::kSyncAge), "1 min");
}

TEST_F(SiteTableModelTest, TimesAreShownInLocalTime) {
  SetZone("XST-1");  // an hour east of UTC, and needs no zone files
  EXPECT_EQ(Text(2, SiteTableModel::kLastSync), "2026-12-09 11:00:00");
  EXPECT_EQ(Text(2, SiteTableModel::kState), "silent since 2026-12-11 10:50");
  SetZone("UTC");
}

TEST_F(SiteTableModelTest, EveryColumnSortsByItsValueThroughTheProxy) {
  struct Sorting {
    int column;
    const char* ascending;  // the clocks by serial letter
  };
  const std::vector<Sorting> cases{
      {SiteTableModel::kName, "CDBA"},        // ignoring case: attic, Basement, Gate, hall
      {SiteTableModel::kAddress, "BACD"},     // 10.0.0.9 before 10.0.0.10 before 10.0.1.1 before 192.168.0.1
      {SiteTableModel::kSerial, "ABCD"},      // s-c between S-b and S-d
      {SiteTableModel::kMac, "BCAD"},
      {SiteTableModel::kModel, "BCAD"},       // new platform first; equal ones keep the roster's order
      {SiteTableModel::kFirmware, "DBAC"},
      {SiteTableModel::kLastSync, "BCDA"},    // never, two days ago, two hours ago, 100 s ago
      {SiteTableModel::kSyncAge, "ADCB"},     // 100 s, 2 h, 2 d, never
      {SiteTableModel::kSyncServer, "BADC"},  // none, 10.0.0.2, 10.0.0.9, 10.0.0.10
      {SiteTableModel::kState, "ABDC"},       // answered before silent
      {SiteTableModel::kResult, "CDAB"},      // "", busy, Done, failed
  };
  for (const Sorting& c : cases) {
    SCOPED_TRACE(model_.headerData(c.column, Qt::Horizontal, Qt::DisplayRole).toString().toStdString());
    proxy_.sort(-1);  // equal values keep the order they had: start from the roster's
    proxy_.sort(c.column, Qt::AscendingOrder);
    EXPECT_EQ(ProxyOrder(), c.ascending);
  }
  proxy_.sort(SiteTableModel::kAddress, Qt::DescendingOrder);
  EXPECT_EQ(ProxyOrder(), "DCAB");
}

TEST_F(SiteTableModelTest, ASortedViewFollowsNewResultsAndNewClocks) {
  proxy_.sort(SiteTableModel::kResult, Qt::AscendingOrder);
  model_.SetResult(1, QStringLiteral("aborted"));
  EXPECT_EQ(ProxyOrder(), "CBDA");
  proxy_.sort(SiteTableModel::kAddress, Qt::AscendingOrder);
  roster_.Update({kA, kB, kD, kE}, kNow + 5);
  model_.SetRoster(roster_, kNow + 5);
  EXPECT_EQ(ProxyOrder(), "EBACD");
}

TEST_F(SiteTableModelTest, TheFilterFindsTextInAnyColumnIgnoringCase) {
  struct Filter {
    const char* text;
    const char* shown;
  };
  const std::vector<Filter> cases{
      {"HALL", "A"},                // name
      {"10.0.0.9", "BD"},           // B's address, D's sync server
      {"new platform", "BC"},       // model
      {"silent since", "C"},        // state
      {"never", "B"},               // last sync and age
      {"02-13-0a-d5-00-04", "D"},   // MAC, in the other case
      {"FAILED", "B"},              // result
      {"4.10", "C"},                // firmware
      {"2026-12-09", "C"},          // last sync's date
      {"", "ABCD"},
      {"no such clock", ""},
  };
  for (const Filter& c : cases) {
    SCOPED_TRACE(c.text);
    proxy_.setFilterFixedString(QString::fromUtf8(c.text));
    EXPECT_EQ(ProxyOrder(), c.shown);
  }
  // A result that arrives while filtered shows its clock.
  proxy_.setFilterFixedString(QStringLiteral("synchronised"));
  EXPECT_EQ(ProxyOrder(), "");
  model_.SetResult(3, QStringLiteral("synchronised now"));
  EXPECT_EQ(ProxyOrder(), "D");
}

TEST_F(SiteTableModelTest, SilentBeatsStaleAndColouredRowsSayWhy) {
  struct Colouring {
    int row;
    QVariant background;
    const char* toolTip;  // "" for none
  };
  const std::vector<Colouring> cases{
      {0, {}, ""},
      {1, SiteTableModel::kStaleColour, "never synchronised"},
      {2, SiteTableModel::kSilentColour, "silent since 2026-12-11 09:50; not synchronised for 24 h"},
      {3, {}, ""},
  };
  for (const Colouring& c : cases) {
    SCOPED_TRACE(c.row);
    EXPECT_EQ(Role(c.row, Qt::BackgroundRole), c.background);
    EXPECT_EQ(Role(c.row, Qt::ToolTipRole).toString(), QString::fromUtf8(c.toolTip));
    // Every cell of the row, not just the first.
    EXPECT_EQ(model_.data(model_.index(c.row, SiteTableModel::kResult), Qt::BackgroundRole), c.background);
    // Dark text on the light colours, whatever the theme's text colour.
    EXPECT_EQ(Role(c.row, Qt::ForegroundRole).isValid(), c.background.isValid());
  }
  EXPECT_EQ(Role(1, Qt::ForegroundRole).value<QColor>(), QColor(Qt::black));
  EXPECT_NE(SiteTableModel::kSilentColour, SiteTableModel::kStaleColour);
  EXPECT_GT(SiteTableModel::kSilentColour.lightness(), 160);
  EXPECT_GT(SiteTableModel::kStaleColour.lightness(), 160);
}

TEST_F(SiteTableModelTest, AThresholdChangeRecoloursTheRowsItConcerns) {
  QSignalSpy changed(&model_, &QAbstractItemModel::dataChanged);
  model_.SetThresholdHours(1);  // D, two hours since it synchronised, is now late
  EXPECT_EQ(Role(3, Qt::BackgroundRole), QVariant(SiteTableModel::kStaleColour));
  EXPECT_EQ(Role(3, Qt::ToolTipRole).toString(), "not synchronised for 1 h");
  EXPECT_EQ(Role(2, Qt::BackgroundRole), QVariant(SiteTableModel::kSilentColour));
  ASSERT_EQ(changed.size(), 1);
  EXPECT_EQ(changed[0][0].toModelIndex().row(), 3);
  EXPECT_EQ(changed[0][1].toModelIndex().row(), 3);
  EXPECT_TRUE(changed[0][2].value<QList<int>>().contains(Qt::BackgroundRole));
  EXPECT_EQ(model_.Summary(), "4 clocks \u00B7 1 silent \u00B7 3 not synchronised for 1 h");

  changed.clear();
  model_.SetThresholdHours(72);  // only B, never synchronised, stays late
  EXPECT_FALSE(Role(3, Qt::BackgroundRole).isValid());
  EXPECT_EQ(Role(2, Qt::BackgroundRole), QVariant(SiteTableModel::kSilentColour));  // silent all the same
  EXPECT_EQ(Role(2, Qt::ToolTipRole).toString(), "silent since 2026-12-11 09:50");
  EXPECT_EQ(model_.ThresholdHours(), 72);
  ASSERT_EQ(changed.size(), 1);  // C's tool tip and D's colour, one run of rows
  EXPECT_EQ(changed[0][0].toModelIndex().row(), 2);
  EXPECT_EQ(changed[0][1].toModelIndex().row(), 3);
  EXPECT_EQ(model_.Summary(), "4 clocks \u00B7 1 silent \u00B7 1 not synchronised for 72 h");

  changed.clear();
  model_.SetThresholdHours(72);
  EXPECT_EQ(changed.size(), 0);
}

TEST_F(SiteTableModelTest, TimePassingMovesAgesColoursAndTheSummaryOn) {
  EXPECT_FALSE(Role(3, Qt::BackgroundRole).isValid());
  QSignalSpy changed(&model_, &QAbstractItemModel::dataChanged);
  // 23 hours on, without a refresh: D last synchronised 25 hours ago.
  const std::int64_t later = kNow + 23 * kHour;
  model_.SetNow(later);
  EXPECT_EQ(Role(3, Qt::BackgroundRole), QVariant(SiteTableModel::kStaleColour));
  EXPECT_EQ(Text(0, SiteTableModel::kSyncAge).toStdString(), AgeText(later, static_cast<std::uint32_t>(kNow - 100)));
  EXPECT_EQ(model_.Summary(), "4 clocks \u00B7 1 silent \u00B7 3 not synchronised for 24 h");
  EXPECT_FALSE(changed.isEmpty());

  changed.clear();
  model_.SetNow(later);
  EXPECT_EQ(changed.size(), 0);
}

TEST_F(SiteTableModelTest, SummaryCountsTheRoster) {
  EXPECT_EQ(model_.Summary(), "4 clocks \u00B7 1 silent \u00B7 2 not synchronised for 24 h");
  SiteRoster one;
  one.Update({kA}, kNow);
  SiteTableModel model;
  model.SetRoster(one, kNow);
  EXPECT_EQ(model.Summary(), "1 clock \u00B7 0 silent \u00B7 0 not synchronised for 24 h");
}

TEST_F(SiteTableModelTest, ARefreshKeepsRowsAndResultsAndSignalsOnlyWhatChanged) {
  QSignalSpy changed(&model_, &QAbstractItemModel::dataChanged);
  QSignalSpy inserted(&model_, &QAbstractItemModel::rowsInserted);
  QSignalSpy reset(&model_, &QAbstractItemModel::modelReset);

  // Ten seconds on: A moved to another address, C is still silent, E is new.
  // No other row shows anything new (ages read the same to the minute).
  ClockReading moved = kA;
  moved.ip = 0x0A000063;
  roster_.Update({kE, kB, kD, moved}, kNow + 10);
  model_.SetRoster(roster_, kNow + 10);

  ASSERT_EQ(model_.rowCount(), 5);
  EXPECT_EQ(reset.size(), 0);
  ASSERT_EQ(inserted.size(), 1);
  EXPECT_EQ(inserted[0][1].toInt(), 4);
  EXPECT_EQ(inserted[0][2].toInt(), 4);
  ASSERT_EQ(changed.size(), 1);
  EXPECT_EQ(changed[0][0].toModelIndex().row(), 0);
  EXPECT_EQ(changed[0][1].toModelIndex().row(), 0);
  EXPECT_EQ(Text(0, SiteTableModel::kAddress), "10.0.0.99");
  EXPECT_EQ(Text(4, SiteTableModel::kSerial), "S-e");

  const std::vector<const char*> results{"Done", "failed: no answer", "", "busy", ""};
  for (std::size_t row = 0; row < results.size(); ++row) {
    EXPECT_EQ(Text(static_cast<int>(row), SiteTableModel::kResult), results[row]);
  }

  // C answers again: its state and colour change, and so does its row only.
  changed.clear();
  roster_.Update({kE, kB, kD, moved, kC}, kNow + 15);
  model_.SetRoster(roster_, kNow + 15);
  ASSERT_EQ(changed.size(), 1);
  EXPECT_EQ(changed[0][0].toModelIndex().row(), 2);
  EXPECT_EQ(Text(2, SiteTableModel::kState), "answered");
  EXPECT_EQ(Role(2, Qt::BackgroundRole), QVariant(SiteTableModel::kStaleColour));
  EXPECT_EQ(Text(2, SiteTableModel::kResult), "");
}

TEST_F(SiteTableModelTest, AnotherRosterReplacesTheRows) {
  QSignalSpy reset(&model_, &QAbstractItemModel::modelReset);
  SiteRoster other;
  other.Update({kD}, kNow);
  model_.SetRoster(other, kNow);
  EXPECT_EQ(reset.size(), 1);
  ASSERT_EQ(model_.rowCount(), 1);
  EXPECT_EQ(Text(0, SiteTableModel::kSerial), "S-d");
  EXPECT_EQ(Text(0, SiteTableModel::kResult), "");  // "Done" was another clock's
}

TEST_F(SiteTableModelTest, ResultsAreSetAndClearedCellByCell) {
  QSignalSpy changed(&model_, &QAbstractItemModel::dataChanged);
  model_.SetResult(2, QStringLiteral("writing\u2026"));
  ASSERT_EQ(changed.size(), 1);
  EXPECT_EQ(changed[0][0].toModelIndex(), model_.index(2, SiteTableModel::kResult));
  model_.SetResult(99, QStringLiteral("nowhere"));  // no such row: ignored
  EXPECT_EQ(changed.size(), 1);

  changed.clear();
  model_.ClearResults();
  for (int row = 0; row < model_.rowCount(); ++row) EXPECT_EQ(Text(row, SiteTableModel::kResult), "");
  ASSERT_EQ(changed.size(), 1);  // rows 0 to 3 all held one
  EXPECT_EQ(changed[0][0].toModelIndex(), model_.index(0, SiteTableModel::kResult));
  EXPECT_EQ(changed[0][1].toModelIndex(), model_.index(3, SiteTableModel::kResult));
}

TEST_F(SiteTableModelTest, CsvIsTheViewAsFilteredAndSorted) {
  proxy_.setFilterFixedString(QStringLiteral("NEW PLATFORM"));
  proxy_.sort(SiteTableModel::kAddress, Qt::DescendingOrder);
  EXPECT_EQ(CsvOfView(proxy_),
            "Name,Address,Serial,MAC,Model,Firmware,Last sync,Sync age,Sync server,State,Result\r\n"
            "\"attic, north\",10.0.1.1,s-c,02-13-0A-D5-00-02,new platform,4.10,2026-12-09 10:00:00,2 d 0 h,10.0.0.10,"
            "silent since 2026-12-11 09:50,\r\n"
            "Gate,10.0.0.9,S-b,02-13-0A-D5-00-01,new platform,3.10,never,never,,answered,failed: no answer\r\n");

  proxy_.setFilterFixedString(QStringLiteral("no such clock"));
  EXPECT_EQ(CsvOfView(proxy_),
            "Name,Address,Serial,MAC,Model,Firmware,Last sync,Sync age,Sync server,State,Result\r\n");
}

TEST_F(SiteTableModelTest, CsvKeepsNamesInUtf8) {
  ClockReading named = kB;
  named.name = "Gr\u00FC\u00DFe \"Saal\"";
  roster_.Update({kA, named, kD}, kNow);
  model_.SetRoster(roster_, kNow);
  proxy_.setFilterFixedString(QString::fromUtf8("gr\u00FC\u00DF"));
  EXPECT_EQ(CsvOfView(proxy_).split(QStringLiteral("\r\n")).at(1).section(QLatin1Char(','), 0, 0),
            QString::fromUtf8("\"Gr\u00FC\u00DFe \"\"Saal\"\"\""));
}

}  // namespace
}  // namespace marindo
