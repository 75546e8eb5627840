#include "siteview/SiteTableModel.h"

#include <algorithm>
#include <limits>
#include <string>

#include <QDateTime>
#include <QStringList>

#include "platform/Ipv4.h"

namespace marindo {

// Light enough that the black text on them reads well, in a light theme and a
// dark one alike.
const QColor SiteTableModel::kSilentColour{0xF4, 0xC2, 0xC2};
const QColor SiteTableModel::kStaleColour{0xFF, 0xE2, 0xA0};

namespace {

QString LocalTime(std::int64_t secondsSince1970, const QString& format) {
  return QDateTime::fromSecsSinceEpoch(secondsSince1970).toString(format);
}

QString SilentSince(const SiteClock& clock) {
  return QStringLiteral("silent since ") + LocalTime(clock.lastHeard, QStringLiteral("yyyy-MM-dd HH:mm"));
}

bool TooOld(const SiteClock& clock, int thresholdHours, std::int64_t now) {
  return SyncTooOld(clock.last.lastSync, std::int64_t{thresholdHours} * 3600, now);
}

// What a roster column shows of a clock (the result column is the model's own).
QString CellText(const SiteClock& clock, int column, std::int64_t now) {
  const ClockReading& r = clock.last;
  switch (column) {
    case SiteTableModel::kName:
      return QString::fromStdString(r.name);
    case SiteTableModel::kAddress:
      return QString::fromStdString(FormatIpv4(r.ip));
    case SiteTableModel::kSerial:
      return QString::fromStdString(r.serial);
    case SiteTableModel::kMac:
      return QString::fromStdString(r.mac);
    case SiteTableModel::kModel:
      return r.newPlatform ? QStringLiteral("new platform") : QStringLiteral("old platform");
    case SiteTableModel::kFirmware:
      return QString::fromStdString(r.firmware);
    case SiteTableModel::kLastSync:
      return r.lastSync == 0 ? QStringLiteral("never") : LocalTime(r.lastSync, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    case SiteTableModel::kSyncAge:
      return QString::fromStdString(AgeText(now, r.lastSync));
    case SiteTableModel::kSyncServer:
      return r.syncServer == 0 ? QString() : QString::fromStdString(FormatIpv4(r.syncServer));
    case SiteTableModel::kState:
      return clock.silent ? SilentSince(clock) : QStringLiteral("answered");
    default:
      return {};
  }
}

// Whether a row shows the same before and after: a refresh that changed
// nothing visible (the time it was heard, a sensor reading) repaints nothing
// and leaves a sorted view alone.
bool LooksTheSame(const SiteClock& before, std::int64_t nowBefore, const SiteClock& after, std::int64_t nowAfter,
                  int thresholdHours) {
  if (before.silent != after.silent) return false;
  if (TooOld(before, thresholdHours, nowBefore) != TooOld(after, thresholdHours, nowAfter)) return false;
  for (int column = 0; column < SiteTableModel::kResult; ++column) {
    if (CellText(before, column, nowBefore) != CellText(after, column, nowAfter)) return false;
  }
  return true;
}

}  // namespace

SiteTableModel::SiteTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void SiteTableModel::SetRoster(const SiteRoster& roster, std::int64_t now) {
  const std::vector<SiteClock>& incoming = roster.Clocks();
  if (incoming.size() < shown_) {
    // Rows never leave a roster, so this is another roster altogether: its
    // rows are other clocks, and the results shown belong to none of them.
    beginResetModel();
    roster_ = roster;
    shown_ = incoming.size();
    results_.assign(shown_, QString());
    now_ = now;
    endResetModel();
    return;
  }

  std::vector<bool> changed(shown_);
  for (std::size_t row = 0; row < shown_; ++row) {
    changed[row] = !LooksTheSame(roster_.Clocks()[row], now_, incoming[row], now, thresholdHours_);
  }
  // The rows already shown change first; the new ones are announced after.
  roster_ = roster;
  now_ = now;
  EmitChanged(changed, {});

  if (incoming.size() > shown_) {
    beginInsertRows({}, static_cast<int>(shown_), static_cast<int>(incoming.size() - 1));
    shown_ = incoming.size();
    results_.resize(shown_);
    endInsertRows();
  }
}

void SiteTableModel::SetThresholdHours(int hours) {
  if (hours == thresholdHours_) return;
  std::vector<bool> changed(shown_);
  for (std::size_t row = 0; row < shown_; ++row) {
    changed[row] = TooOld(ClockAt(row), thresholdHours_, now_) != TooOld(ClockAt(row), hours, now_);
  }
  thresholdHours_ = hours;
  EmitChanged(changed, {Qt::BackgroundRole, Qt::ForegroundRole, Qt::ToolTipRole});
}

void SiteTableModel::SetNow(std::int64_t now) {
  if (now == now_) return;
  std::vector<bool> changed(shown_);
  for (std::size_t row = 0; row < shown_; ++row) {
    changed[row] = !LooksTheSame(ClockAt(row), now_, ClockAt(row), now, thresholdHours_);
  }
  now_ = now;
  EmitChanged(changed, {});
}

void SiteTableModel::SetResult(std::size_t row, const QString& text) {
  if (row >= results_.size() || results_[row] == text) return;
  results_[row] = text;
  const QModelIndex cell = index(static_cast<int>(row), kResult);
  emit dataChanged(cell, cell, {Qt::DisplayRole, kSortRole});
}

void SiteTableModel::ClearResults() {
  std::vector<bool> changed(results_.size());
  for (std::size_t row = 0; row < results_.size(); ++row) {
    changed[row] = !results_[row].isEmpty();
    results_[row].clear();
  }
  EmitChanged(changed, {Qt::DisplayRole, kSortRole}, kResult);
}

QString SiteTableModel::Summary() const {
  return QString::fromStdString(SummaryText(roster_.Clocks().size(), roster_.SilentCount(),
                                            roster_.NotSynchronisedCount(std::int64_t{thresholdHours_} * 3600, now_),
                                            thresholdHours_));
}

int SiteTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(shown_);
}

int SiteTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant SiteTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() < 0 || static_cast<std::size_t>(index.row()) >= shown_) return {};
  const auto row = static_cast<std::size_t>(index.row());
  const SiteClock& clock = ClockAt(row);
  const int column = index.column();
  switch (role) {
    case Qt::DisplayRole:
      return column == kResult ? results_[row] : CellText(clock, column, now_);
    case kSortRole:
      switch (column) {
        case kAddress:
          return QVariant::fromValue(qint64{clock.last.ip});
        case kLastSync:
          return QVariant::fromValue(qint64{clock.last.lastSync});
        case kSyncAge:
          // Never synchronised is the oldest of all.
          return QVariant::fromValue(clock.last.lastSync == 0 ? std::numeric_limits<qint64>::max()
                                                              : now_ - qint64{clock.last.lastSync});
        case kSyncServer:
          return QVariant::fromValue(qint64{clock.last.syncServer});
        case kResult:
          return results_[row].toLower();
        default:
          return CellText(clock, column, now_).toLower();
      }
    case Qt::BackgroundRole:
      if (clock.silent) return kSilentColour;
      if (Stale(clock)) return kStaleColour;
      return {};
    case Qt::ForegroundRole:
      // The theme's text colour may be light; on these backgrounds it must not.
      if (clock.silent || Stale(clock)) return QColor(Qt::black);
      return {};
    case Qt::ToolTipRole: {
      QStringList why;
      if (clock.silent) why << SilentSince(clock);
      if (Stale(clock)) {
        why << (clock.last.lastSync == 0 ? QStringLiteral("never synchronised")
                                         : QStringLiteral("not synchronised for %1 h").arg(thresholdHours_));
      }
      if (why.isEmpty()) return {};
      return why.join(QStringLiteral("; "));
    }
    default:
      return {};
  }
}

QVariant SiteTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  switch (section) {
    case kName:
      return QStringLiteral("Name");
    case kAddress:
      return QStringLiteral("Address");
    case kSerial:
      return QStringLiteral("Serial");
    case kMac:
      return QStringLiteral("MAC");
    case kModel:
      return QStringLiteral("Model");
    case kFirmware:
      return QStringLiteral("Firmware");
    case kLastSync:
      return QStringLiteral("Last sync");
    case kSyncAge:
      return QStringLiteral("Sync age");
    case kSyncServer:
      return QStringLiteral("Sync server");
    case kState:
      return QStringLiteral("State");
    case kResult:
      return QStringLiteral("Result");
    default:
      return {};
  }
}

bool SiteTableModel::Stale(const SiteClock& clock) const { return TooOld(clock, thresholdHours_, now_); }

void SiteTableModel::EmitChanged(const std::vector<bool>& changed, const QList<int>& roles, int column) {
  const int first = column < 0 ? 0 : column;
  const int last = column < 0 ? kColumnCount - 1 : column;
  // One signal for each run of changed rows: a refresh of hundreds of clocks
  // that changes them all sends one.
  for (std::size_t row = 0; row < changed.size();) {
    if (!changed[row]) {
      ++row;
      continue;
    }
    std::size_t end = row;
    while (end < changed.size() && changed[end]) ++end;
    emit dataChanged(index(static_cast<int>(row), first), index(static_cast<int>(end - 1), last), roles);
    row = end;
  }
}

SiteFilterProxy::SiteFilterProxy(QObject* parent) : QSortFilterProxyModel(parent) {
  setSortRole(SiteTableModel::kSortRole);
  setFilterCaseSensitivity(Qt::CaseInsensitive);
  setFilterKeyColumn(-1);
}

QString CsvOfView(const QAbstractItemModel& model) {
  const int columns = model.columnCount();
  std::vector<std::string> header;
  header.reserve(static_cast<std::size_t>(columns));
  for (int column = 0; column < columns; ++column) {
    header.push_back(model.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString().toStdString());
  }
  std::vector<std::vector<std::string>> rows;
  rows.reserve(static_cast<std::size_t>(model.rowCount()));
  for (int row = 0; row < model.rowCount(); ++row) {
    std::vector<std::string>& cells = rows.emplace_back();
    cells.reserve(static_cast<std::size_t>(columns));
    for (int column = 0; column < columns; ++column) {
      cells.push_back(model.data(model.index(row, column), Qt::DisplayRole).toString().toStdString());
    }
  }
  return QString::fromStdString(CsvText(header, rows));
}

}  // namespace marindo
