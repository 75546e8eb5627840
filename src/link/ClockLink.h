#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <unordered_set>
#include <vector>

#include "clocks/ClockList.h"
#include "clocks/ClockNames.h"
#include "link/ClockFrame.h"
#include "link/FrameTrace.h"
#include "link/LinkTimings.h"
#include "link/TaskPool.h"
#include "platform/Adapters.h"
#include "platform/Neighbours.h"
#include "platform/PortProbe.h"
#include "platform/UdpSocket.h"
#include "platform/WaitPacer.h"

namespace marindo {

// A checked datagram after the link has handled it, with its sender.
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

// What became of a modify frame sent to one clock.
enum class ModifyOutcome {
  Accepted,    // its modify result says it applied the settings
  Refused,     // its modify result says it did not
  Answered,    // it answered with a frame that carries no verdict (display settings)
  NoResponse,  // no answer from that clock after every try
};

// The platform services the link works through; the program passes the real
// ones, tests their own.
struct LinkServices {
  const AdapterSource& adapters;
  NeighbourLookup& neighbours;
  PortProbe& probe;
  const ClockNames& names;
  // Told of every checked datagram; the windows need none.
  FrameObserver* observer = nullptr;
  // Called over and over while the link waits, at least every paint
  // interval, so that a window can keep painting; the command line needs none.
  std::function<void()> whileWaiting = {};
  // Told of every frame sent and every datagram read, with its fate;
  // `marindo-cli --trace` writes them out.
  FrameTrace* trace = nullptr;
};

// The tool's single endpoint on the clock protocol: one UDP socket on port
// 7000 with broadcast enabled, the local broadcast addresses, the online
// clocks, and the exchanges. Every datagram that arrives is handled by its
// command code and its sender, but an exchange with a clock ends only on that
// clock's own answer: a checked frame from its address and clock port whose
// code answers the request. Each try's deadline is fixed when it is sent.
// The link returns what happened; the front ends tell the operator.
//
// The windows call the link from one thread, which reads the socket while it
// waits. Between StartConcurrent and StopConcurrent a receiver thread of the
// link reads the socket instead and hands each answer to the exchange waiting
// for it, so that many clocks can be in flight at once, each from its own
// thread; records are then read through Snapshot.
//
// A new clock's MAC address, stored name and model are looked up on worker
// threads, so that a slow neighbour lookup or port probe holds up no other
// clock; each call that finds clocks returns once their lookups are in.
class ClockLink {
 public:
  using Deadline = std::chrono::steady_clock::time_point;
  static constexpr std::size_t kReceiveBufferSize = 256;

  explicit ClockLink(LinkServices services, LinkTimings timings = {});
  ~ClockLink();
  ClockLink(const ClockLink&) = delete;
  ClockLink& operator=(const ClockLink&) = delete;

  ClockList& Clocks() { return clocks_; }
  const ClockList& Clocks() const { return clocks_; }
  const std::vector<std::uint32_t>& BroadcastList() const { return broadcastList_; }
  // False when port 7000 was taken: the link still sends, but replies reach
  // the other program.
  bool Bound() const { return bound_; }
  std::uint16_t LocalPort() const { return socket_.LocalPort(); }
  const LinkTimings& Timings() const { return timings_; }

  void ClearClocks();
  ClockRecord* FindByIp(std::uint32_t ip) { return clocks_.FindByIp(ip); }
  // A copy of the record of `ip`, safe to take while exchanges run.
  std::optional<ClockRecord> Snapshot(std::uint32_t ip) const;
  std::vector<ClockRecord> SnapshotAll() const;
  // The number of records, and the address of the record at `index` in the
  // order of discovery: a list that may grow while a search runs.
  std::size_t ClockCount() const;
  std::uint32_t ClockIpAt(std::size_t index) const;
  // Waits until the record of `ip` holds what its lookups found (MAC, stored
  // name, model).
  void CompleteRecord(std::uint32_t ip) { FinishLookups(ip); }

  // Exchanges may come from several threads until StopConcurrent, which
  // returns once the receiver has stopped and every lookup is in.
  void StartConcurrent();
  void StopConcurrent();

  // Handles every datagram that arrives until `deadline`; the first that is
  // `ip`'s answer to a request of `requestCode` ends the wait and is returned.
  std::optional<HandledFrame> WaitReply(std::uint32_t ip, std::uint8_t requestCode, Deadline deadline);
  // Sends the query of `code` up to three times; the clock's answer, or
  // nothing after three silent waits or for address 0.
  std::optional<HandledFrame> Query(std::uint32_t ip, std::uint8_t code);
  // Sends a prepared modify frame to `ip` up to three times.
  ModifyOutcome SendModify(std::uint32_t ip, const ClockFrame& frame);
  // Sends `frame` to `ip` up to three times, waiting after each send for that
  // clock's answer; the answer, or nothing.
  std::optional<HandledFrame> Exchange(std::uint32_t ip, const ClockFrame& frame);

  // Three passes of the search request to every broadcast address, each
  // collecting replies until a second goes by with nothing, or its limit.
  // While exchanges run from other threads, the quiet second is one without
  // a search reply: their answers must not keep a pass open.
  void SearchBroadcast();
  // The search request to one address, up to three times; true when that
  // clock answered it.
  bool SearchUnicast(std::uint32_t ip);
  // The search request to each address, streamed at no more than
  // `packetsPerSecond`, then again to the addresses still silent, for as many
  // passes as an exchange has tries; each pass waits one reply wait after its
  // last send. The addresses whose clock answered, in the order given.
  std::vector<std::uint32_t> Sweep(std::span<const std::uint32_t> addresses, int packetsPerSecond);

  // Every received datagram goes through here: checksum, then the command
  // code. Nothing for a datagram that is dropped.
  std::optional<HandledFrame> HandleFrame(std::span<const std::uint8_t> bytes, std::uint32_t sender);

 private:
  struct Datagram {
    std::array<std::uint8_t, kReceiveBufferSize> bytes{};
    std::size_t size = 0;
    std::uint32_t sender = 0;
    std::uint16_t senderPort = 0;
    std::size_t sizeSent = 0;  // beyond `size` for a datagram that did not fit
  };
  // An exchange in flight while the receiver thread reads the socket.
  struct Waiter {
    std::uint32_t ip = 0;
    std::uint8_t requestCode = 0;
    std::optional<HandledFrame> answer;
    std::condition_variable answered;
  };
  // What is looked up about a new clock away from the socket.
  struct RecordLookup {
    std::optional<MacAddress> mac;
    std::string name;
    bool newPlatform = false;
  };
  struct PendingLookup {
    std::uint32_t ip = 0;
    std::array<char, 21> serial{};
    std::future<RecordLookup> result;
  };

  std::optional<Datagram> NextDatagram(Deadline deadline);
  std::optional<Datagram> ReadQueued();
  void DiscardStale();
  std::optional<HandledFrame> SendWithRetries(std::span<const std::uint8_t> bytes, std::uint32_t ip,
                                              std::uint8_t requestCode);
  std::optional<HandledFrame> SendAndAwait(std::span<const std::uint8_t> bytes, std::uint32_t ip,
                                           std::uint8_t requestCode);
  void CollectSearchReplies(Deadline passEnd);
  void AwaitQuietPass(Deadline passEnd);
  void ReceiveUntilStopped();
  void Dispatch(const Datagram& datagram);
  // HandleFrame with the lock held; new records' lookups are left running.
  // `dropped` learns why a datagram was dropped.
  std::optional<HandledFrame> HandleLocked(std::span<const std::uint8_t> bytes, std::uint32_t sender,
                                           FrameFate* dropped = nullptr);
  void TraceSent(std::span<const std::uint8_t> bytes, std::uint32_t ip, int send, int sends);
  void TraceReceived(const Datagram& datagram, FrameFate fate, const std::optional<HandledFrame>& handled,
                     std::uint8_t requestCode);
  // A search reply becomes a new record or refreshes the sender's record.
  void AddSearchReply(const ReceivedFrame& frame, std::uint32_t sender);
  RecordLookup LookUp(ClockRecord record);
  bool OnLocalSubnet(std::uint32_t ip) const;
  bool ProbeNewPlatform(std::uint32_t ip, std::uint8_t firmwareMajor);
  // Waits for the lookups of new records (of `ip` alone, or all) and puts
  // their results into the records.
  void FinishLookups(std::optional<std::uint32_t> ip = std::nullopt);
  void SendPaced(std::span<const std::uint32_t> addresses, const ClockFrame& frame, int packetsPerSecond);

  LinkServices services_;
  LinkTimings timings_;
  UdpSocket socket_;
  bool bound_ = false;
  std::vector<Adapter::Address> localNetworks_;
  std::vector<std::uint32_t> broadcastList_;
  std::deque<Datagram> queued_;
  WaitPacer pacer_;

  // Guards the records, the waiters, the pending lookups and the sweep's
  // answers against the receiver thread and the exchanges' threads.
  mutable std::mutex mutex_;
  ClockList clocks_;
  std::vector<Waiter*> waiters_;
  std::vector<PendingLookup> lookups_;
  std::unordered_set<std::uint32_t>* sweepAnswered_ = nullptr;
  Deadline lastSearchReply_{};
  std::atomic<bool> receiving_{false};
  std::thread receiver_;
  // Last, so that it goes first: its tasks use the services above.
  TaskPool lookupPool_;
};

// The outcome that a modify's answer (or its absence) stands for.
ModifyOutcome ModifyOutcomeOf(const std::optional<HandledFrame>& answer);

}  // namespace marindo
