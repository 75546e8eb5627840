#include "site/SiteRoster.h"

#include <algorithm>

namespace marindo {

void SiteRoster::Update(const std::vector<ClockReading>& heard, std::int64_t now) {
  for (SiteClock& clock : clocks_) clock.silent = true;
  for (const ClockReading& reading : heard) {
    const auto [entry, added] = index_.try_emplace({reading.serial, reading.mac}, clocks_.size());
    if (added) {
      clocks_.push_back({reading, false, now});
      continue;
    }
    SiteClock& clock = clocks_[entry->second];
    clock.last = LaterReading(clock.last, reading);
    clock.silent = false;
    clock.lastHeard = now;
  }
}

std::optional<std::size_t> SiteRoster::IndexOf(const std::string& serial, const std::string& mac) const {
  const auto found = index_.find({serial, mac});
  if (found == index_.end()) return std::nullopt;
  return found->second;
}

std::size_t SiteRoster::SilentCount() const {
  return static_cast<std::size_t>(std::ranges::count_if(clocks_, &SiteClock::silent));
}

std::size_t SiteRoster::NotSynchronisedCount(std::int64_t thresholdSeconds, std::int64_t now) const {
  return static_cast<std::size_t>(std::ranges::count_if(
      clocks_, [&](const SiteClock& clock) { return SyncTooOld(clock.last.lastSync, thresholdSeconds, now); }));
}

bool SyncTooOld(std::uint32_t lastSync, std::int64_t thresholdSeconds, std::int64_t now) {
  return lastSync == 0 || now - static_cast<std::int64_t>(lastSync) > thresholdSeconds;
}

std::string SummaryText(std::size_t clocks, std::size_t silent, std::size_t notSynchronised, int thresholdHours) {
  return std::to_string(clocks) + (clocks == 1 ? " clock" : " clocks") + " \u00B7 " + std::to_string(silent) +
         " silent \u00B7 " + std::to_string(notSynchronised) + " not synchronised for " +
         std::to_string(thresholdHours) + " h";
}

namespace {

void AppendCsvLine(std::string& text, const std::vector<std::string>& cells) {
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (i > 0) text += ',';
    const std::string& cell = cells[i];
    if (cell.find_first_of(",\"\r\n") == std::string::npos) {
      text += cell;
      continue;
    }
    text += '"';
    for (const char c : cell) {
      if (c == '"') text += '"';
      text += c;
    }
    text += '"';
  }
  text += "\r\n";
}

}  // namespace

std::string CsvText(const std::vector<std::string>& header, const std::vector<std::vector<std::string>>& rows) {
  std::string text;
  AppendCsvLine(text, header);
  for (const auto& row : rows) AppendCsvLine(text, row);
  return text;
}

}  // namespace marindo
