#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "clocks/ClockList.h"
#include "clocks/ClockNames.h"
#include "clocks/ClockSelection.h"
#include "link/ClockFrame.h"
#include "link/LinkTimings.h"
#include "platform/Adapters.h"
#include "platform/Neighbours.h"
#include "platform/Notifier.h"
#include "platform/PortProbe.h"
#include "platform/UdpSocket.h"

namespace marindo {

// A checked datagram after the link has handled it, with its sender. Replies
// are not matched to requests; a front end that runs one clock after another
// ties each answer to its clock through these.
struct HandledFrame {
  std::uint8_t code = 0;
  std::uint32_t sender = 0;
  // A settings reply went into the sender's record.
  bool stored = false;
  // A modify result that says the clock applied the settings.
  bool accepted = false;
};

class FrameObserver {
 public:
  virtual ~FrameObserver() = default;
  virtual void FrameHandled(const HandledFrame& frame) = 0;
};

// The platform services the link works through; the program passes the real
// ones, tests their own.
struct LinkServices {
  Notifier& notifier;
  const AdapterSource& adapters;
  NeighbourLookup& neighbours;
  PortProbe& probe;
  const ClockNames& names;
  // Told of every checked datagram; the windows need none.
  FrameObserver* observer = nullptr;
};

// The tool's single endpoint on the clock protocol: one UDP socket on port
// 7000 with broadcast enabled, the local broadcast addresses, the online
// clocks, and the exchanges. Every exchange blocks for at most its budget;
// replies are not matched to requests: any datagram ends a wait and is
// handled by its command code and its sender alone.
class ClockLink {
 public:
  static constexpr std::size_t kReceiveBufferSize = 256;

  // `owner` is the window that holds the selected clock, the target of SendModify.
  ClockLink(const ClockSelection& owner, LinkServices services, LinkTimings timings = {});

  ClockList& Clocks() { return clocks_; }
  const ClockList& Clocks() const { return clocks_; }
  const std::vector<std::uint32_t>& BroadcastList() const { return broadcastList_; }
  bool Bound() const { return bound_; }
  std::uint16_t LocalPort() const { return socket_.LocalPort(); }
  const LinkTimings& Timings() const { return timings_; }

  void ClearClocks() { clocks_.ClearClocks(); }
  ClockRecord* FindByIp(std::uint32_t ip) { return clocks_.FindByIp(ip); }
  ClockRecord* FindByLabel(std::string_view label) { return clocks_.FindByLabel(label); }

  // Waits for the next datagram, hands it to HandleFrame and returns its size;
  // -1 when the reply wait passes with nothing.
  int WaitReply();
  // Sends the query of `code` up to three times; the size of the first
  // datagram that came back, or 0 after three silent waits or for address 0.
  int Query(std::uint32_t ip, std::uint8_t code);
  // Sends a prepared frame to the selected clock up to three times; silence
  // is reported to the operator. Nothing happens without a frame or a clock.
  void SendModify(const std::optional<ClockFrame>& frame);
  // Sends `frame` to `ip` up to three times, waiting after each send; the size
  // of the first datagram that came back, or 0.
  int Exchange(std::uint32_t ip, const ClockFrame& frame);

  // Three passes of the search request to every broadcast address, each
  // collecting replies until a second goes by with nothing.
  void SearchBroadcast();
  // The search request to one address, up to three times; the size of the
  // first datagram that came back, or -1.
  int SearchUnicast(std::uint32_t ip);

  // Every received datagram goes through here: checksum, then the command code.
  void HandleFrame(std::span<const std::uint8_t> bytes, std::uint32_t sender);
  // A search reply becomes a new record or refreshes the sender's record.
  void AddSearchReply(const ReceivedFrame& frame, std::uint32_t sender);

 private:
  struct Datagram {
    std::array<std::uint8_t, kReceiveBufferSize> bytes{};
    std::size_t size = 0;
    std::uint32_t sender = 0;
  };

  std::optional<Datagram> NextDatagram(std::chrono::microseconds wait);
  std::optional<Datagram> ReadQueued();
  // Moves every datagram already waiting in the socket into our own queue, so
  // that slow work cannot let the kernel's queue overflow.
  void DrainSocket();
  void DiscardStale();
  int SendWithRetries(std::span<const std::uint8_t> bytes, std::uint32_t ip);
  void CollectSearchReplies();
  bool ProbeNewPlatform(std::uint32_t ip, std::uint8_t firmwareMajor);

  const ClockSelection& owner_;
  LinkServices services_;
  LinkTimings timings_;
  UdpSocket socket_;
  bool bound_ = false;
  ClockList clocks_;
  std::vector<std::uint32_t> broadcastList_;
  std::deque<Datagram> queued_;
};

}  // namespace marindo
