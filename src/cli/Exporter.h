#pragma once

// The site exporter behind `marindo-cli serve`: a thread that refreshes the
// site every interval through the concurrent link, and an HTTP server that
// answers every scrape with the page of the last refresh. A scrape takes a
// copy of a finished page and never waits for a clock or for the refresh.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <variant>
#include <vector>

#include "cli/SiteMetrics.h"
#include "clocks/ClockNames.h"
#include "link/ClockLink.h"
#include "platform/CodePage.h"

namespace marindo {

// An IPv4 address and TCP port to listen on.
struct ListenAddress {
  std::uint32_t ip = 0;
  std::uint16_t port = 0;
  std::string Text() const;
};

inline constexpr std::string_view kDefaultListen = "127.0.0.1:9477";
inline constexpr long kDefaultInterval = 60;
inline constexpr long kMaxInterval = 86400;
inline constexpr long kDefaultForgetAfter = 86400;
inline constexpr long kMaxForgetAfter = 31536000;

// "ADDR:PORT": a dotted quad (0.0.0.0 for every local address) and a port
// from 1 to 65535; or what is wrong with the text.
std::variant<ListenAddress, std::string> ParseListenAddress(std::string_view text);

// The [exporter] section of the exporter's config file, each key as given
// (nothing for a key the file leaves out).
struct ExporterConfig {
  std::optional<std::string> listen;
  std::optional<long> interval;
  std::optional<long> forgetAfter;
  std::optional<std::string> targets;  // "" for none
};

// Reads and checks the config file: "#" and ";" start comments, one
// [exporter] section of listen, interval, forget-after and targets. What is
// wrong names the file and, for its content, the line.
std::variant<ExporterConfig, std::string> ReadExporterConfig(const std::filesystem::path& file);

struct ExporterOptions {
  ListenAddress listen;
  std::chrono::seconds interval{kDefaultInterval};
  std::int64_t forgetAfter = kDefaultForgetAfter;
  std::vector<std::uint32_t> sweep;  // swept besides the broadcast search
  std::size_t parallel = 64;
  int rate = 10000;
};

class Exporter {
 public:
  // `now`: seconds since 1970; `log` takes one line per refresh.
  Exporter(ClockLink& link, const ClockNames& names, CodePage codePage, ExporterOptions options,
           std::function<std::int64_t()> now, std::ostream& log);
  ~Exporter();
  Exporter(const Exporter&) = delete;
  Exporter& operator=(const Exporter&) = delete;

  // Binds the HTTP port; why it could not, or nothing.
  std::optional<std::string> Listen();
  // Serves and refreshes, each on a thread of its own, until Stop.
  void Start();
  // Stops the server, then the refreshes (a refresh under way sends nothing
  // more and ends), and joins their threads.
  void Stop();

  // The page a scrape gets now.
  std::shared_ptr<const std::string> Page() const;

 private:
  struct Http;

  void RefreshUntilStopped();
  void Refresh();
  void Publish(std::string page);

  ClockLink& link_;
  const ClockNames& names_;
  CodePage codePage_;
  ExporterOptions options_;
  std::function<std::int64_t()> now_;
  std::ostream& log_;
  SiteMetrics metrics_;  // the refresh thread's alone

  mutable std::mutex pageMutex_;
  std::shared_ptr<const std::string> page_;

  std::mutex stopMutex_;
  std::condition_variable stopRequested_;
  bool stopping_ = false;
  std::thread refresher_;
  std::unique_ptr<Http> http_;
};

}  // namespace marindo
