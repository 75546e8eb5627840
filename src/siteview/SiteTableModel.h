#pragma once

// The site view's table: one row per clock of the roster, a result column
// for the last action, colours for clocks that went silent or have not
// synchronised for too long, and a proxy that sorts by each column's value
// and filters on the text of every column.

#include <cstddef>
#include <cstdint>
#include <vector>

#include <QAbstractTableModel>
#include <QColor>
#include <QList>
#include <QSortFilterProxyModel>
#include <QString>

#include "site/SiteRoster.h"

namespace marindo {

class SiteTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column : int {
    kName,
    kAddress,
    kSerial,
    kMac,
    kModel,
    kFirmware,
    kLastSync,    // local time, "2026-12-11 09:42:05"; "never"
    kSyncAge,     // AgeText
    kSyncServer,  // dotted; "" for 0
    kState,       // "answered", "silent since 2026-12-11 09:40"
    kResult,      // the last action's result at this clock, or its progress
    kColumnCount
  };
  // The value a column sorts by: numbers for addresses and times, text
  // otherwise.
  static constexpr int kSortRole = Qt::UserRole + 1;
  static const QColor kSilentColour;
  static const QColor kStaleColour;

  explicit SiteTableModel(QObject* parent = nullptr);

  // The roster after a refresh at `now` (seconds since 1970). Rows already
  // shown keep their place and their result; new clocks are appended.
  void SetRoster(const SiteRoster& roster, std::int64_t now);
  void SetThresholdHours(int hours);
  // The time ages and the threshold are measured against, moved on between
  // refreshes so that an open window keeps its ages and colours true.
  void SetNow(std::int64_t now);
  int ThresholdHours() const { return thresholdHours_; }

  void SetResult(std::size_t row, const QString& text);
  void ClearResults();

  const SiteClock& ClockAt(std::size_t row) const { return roster_.Clocks().at(row); }
  std::size_t ClockCount() const { return shown_; }
  // "612 clocks · 3 silent · 7 not synchronised for 24 h".
  QString Summary() const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  bool Stale(const SiteClock& clock) const;
  // dataChanged for each run of rows marked in `changed`, over every column
  // or only `column`.
  void EmitChanged(const std::vector<bool>& changed, const QList<int>& roles, int column = -1);

  std::vector<QString> results_;
  SiteRoster roster_;
  // Rows the views know of: a refresh's new clocks are in the roster a
  // moment before their rows are announced.
  std::size_t shown_ = 0;
  std::int64_t now_ = 0;
  int thresholdHours_ = 24;
};

// Sorts by SiteTableModel::kSortRole; the filter keeps rows where any column
// holds the text, ignoring case.
class SiteFilterProxy : public QSortFilterProxyModel {
  Q_OBJECT

 public:
  explicit SiteFilterProxy(QObject* parent = nullptr);
};

// The rows as `model` shows them, in its order, with its header: what
// "Export CSV" writes.
QString CsvOfView(const QAbstractItemModel& model);

}  // namespace marindo
