#include "cli/Exporter.h"

#include <httplib.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <unordered_map>

#include "link/CommandCodes.h"
#include "link/SiteEngine.h"
#include "platform/IniFile.h"
#include "platform/Ipv4.h"
#include "platform/Signals.h"
#include "site/Targets.h"

namespace marindo {
namespace {

constexpr std::string_view kSection = "exporter";
constexpr std::array<std::string_view, 4> kKeys{"listen", "interval", "forget-after", "targets"};
constexpr const char* kMetricsType = "text/plain; version=0.0.4; charset=utf-8";
constexpr const char* kFrontPage =
    "<!DOCTYPE html>\n<html><head><title>marindo exporter</title></head>\n"
    "<body><h1>marindo exporter</h1>\n<p>The clocks of this site: <a href=\"/metrics\">/metrics</a></p>\n"
    "</body></html>\n";
// A connection Prometheus keeps open holds up the server's stop for at most
// this long.
constexpr time_t kKeepAliveSeconds = 2;

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return lower;
}

// strerror's words in the middle of a sentence.
std::string ErrorText(int error) {
  std::string text = std::strerror(error);
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z' && (text.size() < 2 || text[1] < 'A' || text[1] > 'Z')) {
    text[0] = static_cast<char>(text[0] - 'A' + 'a');
  }
  return text;
}

std::optional<long> WholeNumber(std::string_view text, long least, long most) {
  long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < least || value > most) {
    return std::nullopt;
  }
  return value;
}

std::string NumberRangeText(std::string_view key, long most) {
  return std::string(key) + " takes a whole number from 1 to " + std::to_string(most);
}

// Checks one key's value; what is wrong with it, or nothing.
std::optional<std::string> TakeValue(std::string_view key, const std::string& value, ExporterConfig& config) {
  if (key == "listen") {
    auto listen = ParseListenAddress(value);
    if (auto* problem = std::get_if<std::string>(&listen)) return "listen: " + *problem;
    config.listen = value;
  } else if (key == "interval") {
    config.interval = WholeNumber(value, 1, kMaxInterval);
    if (!config.interval) return NumberRangeText(key, kMaxInterval);
  } else if (key == "forget-after") {
    config.forgetAfter = WholeNumber(value, 1, kMaxForgetAfter);
    if (!config.forgetAfter) return NumberRangeText(key, kMaxForgetAfter);
  } else {
    // A list in a file reads better with blanks after its commas.
    std::string list = value;
    std::erase_if(list, [](char c) { return c == ' ' || c == '\t'; });
    if (!list.empty()) {
      auto targets = ParseTargets(list);
      if (auto* problem = std::get_if<std::string>(&targets)) return "targets: " + *problem;
    }
    config.targets = list;
  }
  return std::nullopt;
}

}  // namespace

std::string ListenAddress::Text() const { return FormatIpv4(ip) + ":" + std::to_string(port); }

std::variant<ListenAddress, std::string> ParseListenAddress(std::string_view text) {
  const std::string wrong = "\"" + std::string(text) +
                            "\" is not ADDR:PORT (an IPv4 address and a port from 1 to 65535, like " +
                            std::string(kDefaultListen) + ")";
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return wrong;
  const std::optional<std::uint32_t> ip = ParseDottedQuad(text.substr(0, colon));
  const std::optional<long> port = WholeNumber(text.substr(colon + 1), 1, 65535);
  if (!ip || !port) return wrong;
  return ListenAddress{.ip = *ip, .port = static_cast<std::uint16_t>(*port)};
}

std::variant<ExporterConfig, std::string> ReadExporterConfig(const std::filesystem::path& file) {
  const std::string name = file.string();
  std::error_code error;
  if (std::filesystem::is_directory(file, error)) return name + ": cannot be read: it is a folder";
  std::ifstream in(file, std::ios::binary);
  if (!in) return name + ": cannot be read: " + ErrorText(errno);
  std::ostringstream read;
  read << in.rdbuf();
  if (in.bad()) return name + ": cannot be read: " + ErrorText(errno);
  std::string content = read.str();

  // Checked line by line, so that every mistake is told with its line; the
  // values are then read as the project's INI module reads them.
  ExporterConfig config;
  bool inSection = false;
  bool sectionSeen = false;
  std::vector<std::pair<std::string, std::size_t>> keys;  // key, line
  std::string_view rest = content;
  if (rest.starts_with("\xEF\xBB\xBF")) rest.remove_prefix(3);
  for (std::size_t number = 1; !rest.empty(); ++number) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = Trim(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    const std::string where = name + ":" + std::to_string(number) + ": ";
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      if (close == std::string_view::npos || !Trim(line.substr(close + 1)).empty()) {
        return where + "malformed section header " + std::string(line);
      }
      const std::string section = Lower(Trim(line.substr(1, close - 1)));
      if (section != kSection) {
        return where + "unknown section [" + std::string(Trim(line.substr(1, close - 1))) +
               "]; the exporter reads [exporter]";
      }
      if (sectionSeen) return where + "a second [exporter] section";
      inSection = sectionSeen = true;
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || Trim(line.substr(0, equals)).empty()) {
      return where + "not a \"key = value\" line: " + std::string(line);
    }
    const std::string key = Lower(Trim(line.substr(0, equals)));
    if (std::find(kKeys.begin(), kKeys.end(), key) == kKeys.end()) {
      return where + "unknown key \"" + std::string(Trim(line.substr(0, equals))) +
             "\" (the keys are listen, interval, forget-after and targets)";
    }
    if (!inSection) return where + "\"" + key + "\" comes before the [exporter] section";
    if (std::ranges::find(keys, key, &std::pair<std::string, std::size_t>::first) != keys.end()) {
      return where + "\"" + key + "\" is given twice";
    }
    keys.emplace_back(key, number);
  }
  for (const auto& [key, number] : keys) {
    const std::optional<std::string> value = ini::FindValue(content, kSection, key);
    if (auto problem = TakeValue(key, value.value_or(""), config)) {
      return name + ":" + std::to_string(number) + ": " + *problem;
    }
  }
  return config;
}

// The HTTP side: cpp-httplib's server on a thread of its own.
struct Exporter::Http {
  httplib::Server server;
  std::thread thread;
  std::atomic<bool> ended{false};
};

Exporter::Exporter(ClockLink& link, const ClockNames& names, CodePage codePage, ExporterOptions options,
                   std::function<std::int64_t()> now, std::ostream& log)
    : link_(link),
      names_(names),
      codePage_(codePage),
      options_(std::move(options)),
      now_(std::move(now)),
      log_(log),
      metrics_(options_.forgetAfter),
      http_(std::make_unique<Http>()) {
  Publish(metrics_.Render());
  httplib::Server& server = http_->server;
  // Address reuse lets a restarted exporter bind while old connections wait
  // out their time; port sharing is left off, so that a second exporter on
  // the same port is refused instead of taking half the scrapes.
  server.set_socket_options([](socket_t sock) {
    int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  server.set_keep_alive_timeout(kKeepAliveSeconds);
  server.Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
    const std::shared_ptr<const std::string> page = Page();
    response.set_content(*page, kMetricsType);
  });
  server.Get("/", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(kFrontPage, "text/html; charset=utf-8");
  });
}

Exporter::~Exporter() { Stop(); }

std::optional<std::string> Exporter::Listen() {
  errno = 0;
  if (http_->server.bind_to_port(FormatIpv4(options_.listen.ip), options_.listen.port)) return std::nullopt;
  const int error = errno;
  return "cannot listen on " + options_.listen.Text() + ": " +
         (error != 0 ? ErrorText(error) : std::string("the port could not be bound"));
}

void Exporter::Start() {
  // A scraper that hangs up while its page is written must cost only that
  // write, not the program: the server sends without MSG_NOSIGNAL.
  IgnoreBrokenPipes();
  httplib::Server& server = http_->server;
  http_->thread = std::thread([http = http_.get()] {
    http->server.listen_after_bind();
    http->ended = true;
  });
  // A stop before the server runs would find nothing to stop.
  while (!server.is_running() && !http_->ended) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  refresher_ = std::thread([this] { RefreshUntilStopped(); });
}

void Exporter::Stop() {
  if (http_->thread.joinable()) {
    http_->server.stop();
    http_->thread.join();
  }
  {
    const std::lock_guard lock(stopMutex_);
    stopping_ = true;
  }
  stopRequested_.notify_all();
  if (refresher_.joinable()) refresher_.join();
}

std::shared_ptr<const std::string> Exporter::Page() const {
  const std::lock_guard lock(pageMutex_);
  return page_;
}

void Exporter::Publish(std::string page) {
  auto published = std::make_shared<const std::string>(std::move(page));
  const std::lock_guard lock(pageMutex_);
  page_ = std::move(published);
}

void Exporter::RefreshUntilStopped() {
  std::unique_lock lock(stopMutex_);
  while (!stopping_) {
    const auto started = std::chrono::steady_clock::now();
    lock.unlock();
    Refresh();
    lock.lock();
    stopRequested_.wait_until(lock, started + options_.interval, [this] { return stopping_; });
  }
}

void Exporter::Refresh() {
  const auto started = std::chrono::steady_clock::now();
  std::atomic<std::uint64_t> unanswered{0};
  const auto stopping = [this] {
    const std::lock_guard lock(stopMutex_);
    return stopping_;
  };
  try {
    std::mutex readMutex;
    std::unordered_map<std::uint32_t, bool> displayRead;
    link_.ClearClocks();
    SiteEngine(link_, options_.parallel)
        .RunWhile(
            [&] {
              link_.SearchBroadcast();
              if (!options_.sweep.empty() && !stopping()) link_.Sweep(options_.sweep, options_.rate);
            },
            [&] { return link_.ClockCount(); },
            [&](std::size_t i) {
              const std::uint32_t ip = link_.ClockIpAt(i);
              link_.CompleteRecord(ip);
              if (stopping()) return;
              // The sensor readings come with the display settings.
              const std::optional<HandledFrame> reply = link_.Query(ip, code::kQueryDisplay);
              const bool read = reply && reply->stored;
              if (!read) ++unanswered;
              const std::lock_guard lock(readMutex);
              displayRead[ip] = read;
            });
    std::vector<ClockReading> heard;
    for (const ClockRecord& record : link_.SnapshotAll()) {
      const auto read = displayRead.find(record.ip);
      heard.push_back(ReadingOf(record, names_.Lookup(&record), codePage_,
                                read != displayRead.end() && read->second));
    }
    const std::int64_t now = now_();
    // Milliseconds are all a refresh's length can tell.
    const double seconds =
        std::round(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() * 1000) / 1000;
    metrics_.Update(heard, now);
    metrics_.EndRefresh(seconds, unanswered, now);
  } catch (const std::exception& failure) {
    metrics_.RefreshFailed();
    log_ << "refresh failed: " << failure.what() << "\n";
  }
  Publish(metrics_.Render());
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  char line[128];
  std::snprintf(line, sizeof line, "refresh: %zu %s, %zu silent, %.2f s\n", metrics_.ClockCount(),
                metrics_.ClockCount() == 1 ? "clock" : "clocks", metrics_.SilentCount(), seconds);
  log_ << line << std::flush;
}

}  // namespace marindo
