#pragma once

// Stand-ins and helpers shared by the widget tests: a notifier that records,
// fake network services, scripted clocks on loopback, a temporary settings
// file, and a driver for modal windows.

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include "clocks/ClockRecord.h"
#include "link/ClockFrame.h"
#include "link/LinkTimings.h"
#include "link/LoopbackPeer.h"
#include "platform/Adapters.h"
#include "platform/Ipv4.h"
#include "platform/Neighbours.h"
#include "platform/Notifier.h"
#include "platform/PortProbe.h"

// Readable QString values in test failures.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace marindo::testing {

class RecordingNotifier : public Notifier {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  std::vector<std::string> messages;
};

class FakeAdapters : public AdapterSource {
 public:
  std::vector<Adapter> Adapters() const override { return adapters; }
  // A /32 network on loopback: its directed broadcast is the address itself.
  void AddLoopbackHost(std::uint32_t ip) {
    adapters.push_back({"lo-test" + std::to_string(adapters.size()), Adapter::Kind::Ethernet, {{ip, 0xFFFFFFFF}}});
  }
  std::vector<Adapter> adapters;
};

class FakeNeighbours : public NeighbourLookup {
 public:
  std::optional<MacAddress> LookupMac(std::uint32_t ip) override {
    const auto it = macs.find(ip);
    if (it == macs.end()) return std::nullopt;
    return it->second;
  }
  std::map<std::uint32_t, MacAddress> macs;
};

class FakeProbe : public PortProbe {
 public:
  bool Accepts(std::uint32_t, std::uint16_t, std::chrono::milliseconds) override { return false; }
};

// A settings file of this test alone, removed afterwards.
class TempSettings {
 public:
  TempSettings() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("marindo-widgets-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".ini");
    std::filesystem::remove(path_);
  }
  ~TempSettings() { std::filesystem::remove(path_); }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline Bytes FrameOf(const Bytes& payload) {
  const ClockFrame frame = ClockFrame::Build(payload);
  const auto bytes = frame.Bytes();
  return Bytes(bytes.begin(), bytes.end());
}

inline Bytes SearchReplyFrame(const std::string& serial, std::uint8_t firmwareMajor) {
  Bytes payload(37, 0);
  payload[0] = 0x01;
  std::memcpy(&payload[1], serial.data(), std::min<std::size_t>(serial.size(), 20));
  payload[21] = firmwareMajor;
  return FrameOf(payload);
}

inline std::uint8_t CodeOf(const Bytes& datagram) {
  return datagram.size() > ClockFrame::kHeaderSize ? datagram[ClockFrame::kHeaderSize] : 0;
}

// A clock on a loopback address: answers every search with its serial, every
// query with a reply of its full size (settings all zero), every modify with
// success, and stays silent on the codes it is told to; it counts what it got.
class ScriptedClock {
 public:
  ScriptedClock(std::uint32_t ip, std::uint16_t port, std::string serial, std::uint8_t firmwareMajor)
      : serial_(std::move(serial)), peer_(ip, port) {
    peer_.Start([this, firmwareMajor](std::size_t, const PeerDatagram& datagram) {
      const std::uint8_t code = CodeOf(datagram.bytes);
      if (code < 32 && (silent_ & (1U << code)) != 0) return std::vector<Bytes>{};
      if (code == 0x01) return std::vector<Bytes>{SearchReplyFrame(serial_, firmwareMajor)};
      return std::vector<Bytes>{FrameOf(AnswerTo(code))};
    });
  }

  std::uint16_t Port() const { return peer_.Port(); }
  std::size_t Mark() const { return peer_.Received().size(); }
  // The command codes received since `mark`, in order.
  std::vector<std::uint8_t> CodesSince(std::size_t mark) const {
    std::vector<std::uint8_t> codes;
    const auto received = peer_.Received();
    for (std::size_t i = mark; i < received.size(); ++i) codes.push_back(CodeOf(received[i].bytes));
    return codes;
  }
  void SetSilentOn(std::uint8_t code, bool silent = true) {
    if (silent) {
      silent_ |= 1U << code;
    } else {
      silent_ &= ~(1U << code);
    }
  }

 private:
  static Bytes AnswerTo(std::uint8_t code) {
    const std::map<std::uint8_t, std::size_t> replySizes{{0x02, 27}, {0x03, 22}, {0x04, 181},
                                                         {0x05, 14}, {0x0A, 35}, {0x10, 5}};
    const auto size = replySizes.find(code);
    if (size == replySizes.end()) return {code, 1};
    Bytes payload(size->second, 0);
    payload[0] = code;
    return payload;
  }

  // Read by the peer's thread, so set up before it starts.
  std::string serial_;
  std::atomic<std::uint32_t> silent_{0};
  LoopbackPeer peer_;
};

inline LinkTimings LoopbackTimings(std::uint16_t clockPort) {
  using namespace std::chrono_literals;
  LinkTimings timings;
  timings.bindIp = 0x7F000001;
  timings.localPort = 0;
  timings.clockPort = clockPort;
  timings.replyWait = 100ms;
  timings.searchQuiet = 150ms;
  timings.probeWait = 10ms;
  return timings;
}

// Acts on modal windows as they come up, one step per window, in order. A
// step never acts twice in a row on the same window, so a window that an
// earlier step is still closing is not taken for the next one. Windows still
// open after the deadline are closed, so a test that went wrong fails instead
// of hanging in a modal loop.
class ModalDriver {
 public:
  explicit ModalDriver(std::chrono::milliseconds deadline = std::chrono::milliseconds(20000)) {
    QObject::connect(&poll_, &QTimer::timeout, [this] { Poll(); });
    poll_.start(10);
    watchdog_.setSingleShot(true);
    QObject::connect(&watchdog_, &QTimer::timeout, [this] { GiveUp(); });
    watchdog_.start(deadline);
  }

  template <class Window>
  void Then(std::function<void(Window*)> action) {
    steps_.push_back([action](QWidget* widget) {
      auto* window = qobject_cast<Window*>(widget);
      if (window == nullptr) return false;
      action(window);
      return true;
    });
  }

  std::size_t StepsDone() const { return next_; }
  bool TimedOut() const { return timedOut_; }

 private:
  void Poll() {
    if (next_ >= steps_.size()) return;
    QWidget* window = QApplication::activeModalWidget();
    if (window == nullptr) window = QApplication::activePopupWidget();
    if (window == nullptr || window == lastActed_.data()) return;
    if (steps_[next_](window)) {
      lastActed_ = window;
      ++next_;
    }
  }

  void GiveUp() {
    timedOut_ = true;
    for (int i = 0; i < 20; ++i) {
      QWidget* window = QApplication::activePopupWidget();
      if (window == nullptr) window = QApplication::activeModalWidget();
      if (window == nullptr) return;
      window->close();
    }
  }

  std::vector<std::function<bool(QWidget*)>> steps_;
  std::size_t next_ = 0;
  QPointer<QWidget> lastActed_;
  QTimer poll_;
  QTimer watchdog_;
  bool timedOut_ = false;
};

}  // namespace marindo::testing
