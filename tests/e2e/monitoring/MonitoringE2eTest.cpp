// The site exporter as a site runs it: `marindo-cli serve` inside the test
// LAN's tool namespace in front of three simulated clocks (monitoring.json),
// and a real Prometheus server scraping it every second on loopback. What
// Prometheus stored is read through its HTTP API: three clocks up with their
// labels, their sensors, and a clock that falls silent going to up 0 within
// two refreshes. Both programs are ended at the end, whatever happened.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "E2eSupport.h"

namespace marindo::e2e {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kPrometheus = "/usr/bin/prometheus";
constexpr int kInterval = 2;

std::string FileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A TCP port of 127.0.0.1 that nobody listens on right now.
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(fd);
  return ntohs(address.sin_port);
}

// A program in the background, its output in a file; ended by SIGTERM (then
// SIGKILL after a while) when it goes.
class Background {
 public:
  Background(const std::vector<std::string>& argv, const fs::path& log) : log_(log) {
    pid_ = ::fork();
    if (pid_ == 0) {
      const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(fd, 1);
      ::dup2(fd, 2);
      std::vector<char*> args;
      for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
  }
  ~Background() { Stop(); }
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  bool Running() {
    if (pid_ <= 0) return false;
    int raw = 0;
    if (::waitpid(pid_, &raw, WNOHANG) == 0) return true;
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    pid_ = -1;
    return false;
  }

  // Sends SIGTERM and waits; the exit status (-1 after a signal or a kill).
  int Stop() {
    if (!Running()) return status_;
    ::kill(pid_, SIGTERM);
    const auto deadline = Clock::now() + 10s;
    int raw = 0;
    while (::waitpid(pid_, &raw, WNOHANG) == 0) {
      if (Clock::now() > deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &raw, 0);
        break;
      }
      std::this_thread::sleep_for(20ms);
    }
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    pid_ = -1;
    return status_;
  }

  std::string Log() const { return FileText(log_); }

 private:
  fs::path log_;
  pid_t pid_ = -1;
  int status_ = -1;
};

// marindo_clock_up and the other per-clock series as Prometheus answers an
// instant query: the series by the clock's serial.
std::map<std::string, Json> SeriesBySerial(httplib::Client& prometheus, const std::string& query) {
  std::map<std::string, Json> series;
  // The queries here are metric names: nothing to encode.
  const auto response = prometheus.Get(("/api/v1/query?query=" + query).c_str());
  if (!response || response->status != 200) return series;
  const Json answer = Json::parse(response->body, nullptr, false);
  if (answer.is_discarded() || answer.value("status", "") != "success") return series;
  for (const Json& result : answer["data"]["result"]) series[result["metric"].value("serial", "")] = result;
  return series;
}

std::string ValueOf(const Json& series) { return series["value"][1].get<std::string>(); }

class MonitoringE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (RunFolder().empty()) GTEST_SKIP() << "not running inside the test LAN";
    if (!fs::exists(kPrometheus)) {
      std::cout << "SKIP: " << kPrometheus << " is missing (Debian's prometheus package; scripts/setup.sh installs it)"
                << std::endl;
      std::exit(77);
    }
    work_ = RunFolder() / "monitoring";
    fs::remove_all(work_);
    fs::create_directories(work_ / "tsdb");
  }

  fs::path work_;
};

TEST_F(MonitoringE2eTest, PrometheusSeesTheClocksAndOneFallingSilent) {
  const auto started = Clock::now();
  // The operator's name for one clock, with a quote that the label must
  // carry through escaping.
  std::ofstream(work_ / "settings.ini") << "[HALL0001-02-13-0A-D5-00-0A]\nname=Hall \"A\"\n";
  ::setenv("MARINDO_SETTINGS", (work_ / "settings.ini").c_str(), 1);

  const int exporterPort = FreePort();
  Background exporter({MARINDO_CLI, "serve", "--interval", std::to_string(kInterval), "--listen",
                       "127.0.0.1:" + std::to_string(exporterPort)},
                      work_ / "exporter.log");

  const int prometheusPort = FreePort();
  std::ofstream(work_ / "prometheus.yml") << "global:\n"
                                             "  scrape_interval: 1s\n"
                                             "  evaluation_interval: 1s\n"
                                             "scrape_configs:\n"
                                             "  - job_name: marindo\n"
                                             "    static_configs:\n"
                                             "      - targets: ['127.0.0.1:"
                                          << exporterPort << "']\n";
  Background prometheus({kPrometheus, "--config.file=" + (work_ / "prometheus.yml").string(),
                         "--storage.tsdb.path=" + (work_ / "tsdb").string(),
                         "--web.listen-address=127.0.0.1:" + std::to_string(prometheusPort), "--log.level=warn"},
                        work_ / "prometheus.log");
  httplib::Client api("127.0.0.1", prometheusPort);
  httplib::Client scrape("127.0.0.1", exporterPort);

  // Three clocks up, as Prometheus stored them.
  std::map<std::string, Json> up;
  for (const auto deadline = Clock::now() + 30s; Clock::now() < deadline; std::this_thread::sleep_for(200ms)) {
    ASSERT_TRUE(exporter.Running()) << exporter.Log();
    ASSERT_TRUE(prometheus.Running()) << prometheus.Log();
    up = SeriesBySerial(api, "marindo_clock_up");
    if (up.size() == 3 && ValueOf(up["HALL0001"]) == "1" && ValueOf(up["GYM0002"]) == "1" &&
        ValueOf(up["TOWER003"]) == "1") {
      break;
    }
  }
  ASSERT_EQ(up.size(), 3U) << exporter.Log() << prometheus.Log();
  struct Expected {
    const char* serial;
    const char* ip;
    const char* mac;
    const char* model;
    const char* name;
  };
  const Expected clocks[] = {
      {"HALL0001", "10.213.0.10", "02-13-0A-D5-00-0A", "new", "Hall \"A\""},
      {"GYM0002", "10.213.0.11", "02-13-0A-D5-00-0B", "old", ""},
      {"TOWER003", "10.213.0.12", "02-13-0A-D5-00-0C", "old", ""},
  };
  for (const Expected& clock : clocks) {
    SCOPED_TRACE(clock.serial);
    const Json& labels = up[clock.serial]["metric"];
    EXPECT_EQ(ValueOf(up[clock.serial]), "1");
    EXPECT_EQ(labels.value("ip", ""), clock.ip);
    EXPECT_EQ(labels.value("mac", ""), clock.mac);
    EXPECT_EQ(labels.value("model", ""), clock.model);
    EXPECT_EQ(labels.value("name", ""), clock.name);
    EXPECT_EQ(labels.value("job", ""), "marindo");
  }
  // The sensors: Celsius as given, Fahrenheit converted, none without one.
  const auto temperature = SeriesBySerial(api, "marindo_clock_temperature_celsius");
  ASSERT_EQ(temperature.size(), 2U) << exporter.Log();
  EXPECT_EQ(ValueOf(temperature.at("HALL0001")), "21.5");
  EXPECT_EQ(ValueOf(temperature.at("TOWER003")), "21.11");
  const auto firmware = SeriesBySerial(api, "marindo_clock_firmware_info");
  ASSERT_TRUE(firmware.contains("GYM0002"));
  EXPECT_EQ(firmware.at("GYM0002")["metric"].value("version", ""), "1.05");

  // One refresh takes the search's quiet seconds; the next starts an
  // interval after the last one started, or at once when it took longer.
  double refreshSeconds = kInterval;
  if (const auto page = scrape.Get("/metrics"); page && page->status == 200) {
    const std::string key = "\nmarindo_refresh_duration_seconds ";
    if (const std::size_t at = page->body.find(key); at != std::string::npos) {
      refreshSeconds = std::max(refreshSeconds, std::atof(page->body.c_str() + at + key.size()));
    }
  }
  ASSERT_EQ(Control("gym", "faults dropFirst=1000000"), 0);
  const auto silenced = Clock::now();
  // Two refreshes, the scrape after them, and the API's view of it.
  const auto limit = silenced + std::chrono::milliseconds(static_cast<int>((2 * refreshSeconds + 2) * 1000));
  std::map<std::string, Json> after;
  while (Clock::now() < limit + 10s) {
    after = SeriesBySerial(api, "marindo_clock_up");
    if (after.contains("GYM0002") && ValueOf(after["GYM0002"]) == "0") break;
    std::this_thread::sleep_for(100ms);
  }
  const auto seen = Clock::now();
  ASSERT_TRUE(after.contains("GYM0002")) << exporter.Log();
  EXPECT_EQ(ValueOf(after["GYM0002"]), "0") << exporter.Log();
  EXPECT_LE(seen, limit) << "up 0 came after "
                         << std::chrono::duration<double>(seen - silenced).count()
                         << " s; a refresh takes " << refreshSeconds << " s\n"
                         << exporter.Log();
  EXPECT_EQ(ValueOf(after["HALL0001"]), "1");
  EXPECT_EQ(ValueOf(after["TOWER003"]), "1");
  // The silent clock keeps its labels: the same series, now 0.
  EXPECT_EQ(after["GYM0002"]["metric"], up["GYM0002"]["metric"]);

  EXPECT_EQ(prometheus.Stop(), 0) << prometheus.Log();
  EXPECT_EQ(exporter.Stop(), 0) << exporter.Log();
  const std::string log = exporter.Log();
  EXPECT_NE(log.find("refresh: 3 clocks, 0 silent, "), std::string::npos) << log;
  EXPECT_NE(log.find("refresh: 3 clocks, 1 silent, "), std::string::npos) << log;
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  std::cout << "monitoring: the whole test took " << seconds << " s, a refresh " << refreshSeconds << " s\n";
  EXPECT_LT(seconds, 60.0);
}

}  // namespace
}  // namespace marindo::e2e
