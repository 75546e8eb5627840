#include "cli/SiteMetrics.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <initializer_list>

#include "platform/Ipv4.h"

namespace marindo {
namespace {

using Label = std::pair<std::string_view, std::string_view>;

std::string Labels(std::initializer_list<Label> labels) {
  std::string text = "{";
  for (const auto& [name, value] : labels) {
    if (text.size() > 1) text += ',';
    text += name;
    text += "=\"";
    text += EscapeLabelValue(value);
    text += '"';
  }
  return text + "}";
}

void Family(std::string& page, std::string_view name, std::string_view type, std::string_view help) {
  page.append("# HELP ").append(name).append(" ").append(help).append("\n");
  page.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

void Sample(std::string& page, std::string_view name, std::string_view labels, double value) {
  page.append(name).append(labels).append(" ").append(MetricValue(value)).append("\n");
}

std::string_view ModelLabel(const ClockReading& reading) { return reading.newPlatform ? "new" : "old"; }

}  // namespace

std::string MetricValue(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  char buffer[32];
  // Whole numbers within the exact range of a double print as integers:
  // timestamps and counts read as they are.
  if (value == std::trunc(value) && std::fabs(value) < 9007199254740992.0) {
    const auto end = std::to_chars(std::begin(buffer), std::end(buffer), static_cast<long long>(value)).ptr;
    return std::string(buffer, end);
  }
  const auto end = std::to_chars(std::begin(buffer), std::end(buffer), value).ptr;
  return std::string(buffer, end);
}

std::string EscapeLabelValue(std::string_view value) {
  std::string escaped;
  escaped.reserve(value.size());
  for (char c : value) {
    if (c == '\\') {
      escaped += "\\\\";
    } else if (c == '"') {
      escaped += "\\\"";
    } else if (c == '\n') {
      escaped += "\\n";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

SiteMetrics::SiteMetrics(std::int64_t forgetAfterSeconds) : forgetAfter_(forgetAfterSeconds) {}

void SiteMetrics::Update(const std::vector<ClockReading>& heard, std::int64_t now) {
  for (auto& [identity, known] : clocks_) known.up = false;
  for (const ClockReading& reading : heard) {
    Known& known = clocks_[{reading.serial, reading.mac}];
    known.last = LaterReading(known.last, reading);
    known.up = true;
    known.lastSeen = now;
  }
  std::erase_if(clocks_, [&](const auto& entry) { return now - entry.second.lastSeen > forgetAfter_; });
}

void SiteMetrics::EndRefresh(double seconds, std::uint64_t unanswered, std::int64_t now) {
  errors_ += unanswered;
  lastDuration_ = seconds;
  lastRefreshAt_ = now;
}

std::size_t SiteMetrics::SilentCount() const {
  return static_cast<std::size_t>(
      std::ranges::count_if(clocks_, [](const auto& entry) { return !entry.second.up; }));
}

std::string SiteMetrics::Render() const {
  // The clocks by address, so that the page reads like the search's table.
  std::vector<const Known*> clocks;
  clocks.reserve(clocks_.size());
  for (const auto& [identity, known] : clocks_) clocks.push_back(&known);
  std::ranges::stable_sort(clocks, {}, [](const Known* known) { return known->last.ip; });
  std::vector<std::string> identities;
  identities.reserve(clocks.size());
  for (const Known* known : clocks) {
    identities.push_back(Labels({{"ip", FormatIpv4(known->last.ip)}, {"serial", known->last.serial}}));
  }

  std::string page;
  page.reserve(512 + clocks.size() * 700);
  // One family of per-clock samples; a family without samples is left out.
  const auto perClock = [&](std::string_view name, std::string_view help,
                            const std::function<std::optional<double>(const Known&)>& value,
                            const std::function<std::string(const Known&, const std::string&)>& labels) {
    bool headed = false;
    for (std::size_t i = 0; i < clocks.size(); ++i) {
      const std::optional<double> sample = value(*clocks[i]);
      if (!sample) continue;
      if (!headed) Family(page, name, "gauge", help);
      headed = true;
      Sample(page, name, labels ? labels(*clocks[i], identities[i]) : identities[i], *sample);
    }
  };
  perClock(
      "marindo_clock_up", "Whether the clock answered at the last refresh (1) or has been silent since (0).",
      [](const Known& known) { return known.up ? 1.0 : 0.0; },
      [](const Known& known, const std::string&) {
        const ClockReading& r = known.last;
        return Labels({{"ip", FormatIpv4(r.ip)},
                       {"serial", r.serial},
                       {"mac", r.mac},
                       {"name", r.name},
                       {"model", ModelLabel(r)}});
      });
  perClock(
      "marindo_clock_last_sync_timestamp_seconds",
      "When the clock last synchronised its time, in seconds since 1970; 0 when it never did.",
      [](const Known& known) { return static_cast<double>(known.last.lastSync); }, {});
  perClock(
      "marindo_clock_firmware_info", "The clock's firmware version, as a label.",
      [](const Known&) { return 1.0; },
      [](const Known& known, const std::string&) {
        const ClockReading& r = known.last;
        return Labels(
            {{"ip", FormatIpv4(r.ip)}, {"serial", r.serial}, {"model", ModelLabel(r)}, {"version", r.firmware}});
      });
  perClock(
      "marindo_clock_temperature_celsius", "The temperature the clock's sensor reads, in degrees Celsius.",
      [](const Known& known) { return known.last.temperatureCelsius; }, {});
  perClock(
      "marindo_clock_humidity_ratio", "The relative humidity the clock's sensor reads, from 0 to 1.",
      [](const Known& known) { return known.last.humidityRatio; }, {});
  perClock(
      "marindo_clock_last_seen_timestamp_seconds",
      "When the clock last answered a refresh, in seconds since 1970.",
      [](const Known& known) { return static_cast<double>(known.lastSeen); }, {});

  if (lastDuration_) {
    Family(page, "marindo_refresh_duration_seconds", "gauge", "How long the last refresh of the site took.");
    Sample(page, "marindo_refresh_duration_seconds", "", *lastDuration_);
  }
  Family(page, "marindo_refresh_clocks", "gauge",
         "The clocks known after the last refresh, silent ones included.");
  Sample(page, "marindo_refresh_clocks", "", static_cast<double>(clocks_.size()));
  Family(page, "marindo_refresh_silent_clocks", "gauge", "The known clocks that did not answer the last refresh.");
  Sample(page, "marindo_refresh_silent_clocks", "", static_cast<double>(SilentCount()));
  Family(page, "marindo_refresh_errors_total", "counter",
         "Exchanges of the refreshes that went unanswered, plus refreshes that failed.");
  Sample(page, "marindo_refresh_errors_total", "", static_cast<double>(errors_));
  if (lastDuration_) {
    Family(page, "marindo_refresh_timestamp_seconds", "gauge",
           "When the last refresh ended, in seconds since 1970.");
    Sample(page, "marindo_refresh_timestamp_seconds", "", static_cast<double>(lastRefreshAt_));
  }
  return page;
}

}  // namespace marindo
