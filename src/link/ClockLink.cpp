#include "link/ClockLink.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "link/AnswerCodes.h"
#include "link/BroadcastList.h"
#include "link/ReplyDecoders.h"

namespace marindo {
namespace {

using SteadyClock = std::chrono::steady_clock;

// How long the receiver thread waits on the socket before it looks whether
// it should stop.
constexpr std::chrono::milliseconds kReceiverLook{20};
// Lookups of new clocks at once: a neighbour lookup may wait a second for an
// ARP answer that never comes, and a site may hold a thousand clocks.
constexpr std::size_t kLookupThreads = 64;

std::vector<Adapter::Address> LocalNetworks(const std::vector<Adapter>& adapters) {
  std::vector<Adapter::Address> networks;
  for (const Adapter& adapter : adapters) {
    networks.insert(networks.end(), adapter.addresses.begin(), adapter.addresses.end());
  }
  return networks;
}

}  // namespace

ClockLink::ClockLink(LinkServices services, LinkTimings timings)
    : services_(services),
      timings_(timings),
      pacer_(timings.paintInterval, services.whileWaiting),
      lookupPool_(kLookupThreads) {
  socket_.EnableBroadcast();
  bound_ = socket_.Bind(timings_.bindIp, timings_.localPort);
  socket_.RequestReceiveBuffer(timings_.receiveBufferBytes);
  const std::vector<Adapter> adapters = services_.adapters.Adapters();
  broadcastList_ = BuildBroadcastList(adapters);
  localNetworks_ = LocalNetworks(adapters);
}

ClockLink::~ClockLink() {
  if (receiving_) {
    receiving_ = false;
    receiver_.join();
  }
}

void ClockLink::ClearClocks() {
  const std::lock_guard lock(mutex_);
  clocks_.ClearClocks();
}

std::optional<ClockRecord> ClockLink::Snapshot(std::uint32_t ip) const {
  const std::lock_guard lock(mutex_);
  const ClockRecord* record = clocks_.FindByIp(ip);
  if (record == nullptr) return std::nullopt;
  return *record;
}

std::optional<ClockLink::Datagram> ClockLink::ReadQueued() {
  Datagram datagram;
  for (;;) {
    const auto received = socket_.ReceiveFrom(datagram.bytes);
    if (!received) return std::nullopt;
    datagram.size = std::min(received->size, datagram.bytes.size());
    datagram.sizeSent = received->size;
    datagram.sender = received->senderIp;
    datagram.senderPort = received->senderPort;
    // Empty and oversized datagrams are skipped; the caller goes on waiting.
    if (received->size == 0 || received->truncated) {
      TraceReceived(datagram, received->size == 0 ? FrameFate::Empty : FrameFate::Oversize, std::nullopt, 0);
      continue;
    }
    return datagram;
  }
}

// Nothing that arrives moves the deadline: a host that sends now and then
// cannot stretch a wait.
std::optional<ClockLink::Datagram> ClockLink::NextDatagram(Deadline deadline) {
  if (!queued_.empty()) {
    Datagram datagram = queued_.front();
    queued_.pop_front();
    return datagram;
  }
  for (;;) {
    pacer_.Pace();
    const WaitPacer::Slice slice = pacer_.Next(deadline);
    if (socket_.WaitReadable(slice.wait)) {
      if (auto datagram = ReadQueued()) return datagram;
      continue;  // an empty or oversized datagram: the same deadline holds
    }
    if (slice.last) return std::nullopt;
  }
}

std::optional<HandledFrame> ClockLink::WaitReply(std::uint32_t ip, std::uint8_t requestCode, Deadline deadline) {
  while (const auto datagram = NextDatagram(deadline)) {
    const bool fromClock = datagram->sender == ip && datagram->senderPort == timings_.clockPort;
    const std::lock_guard lock(mutex_);
    FrameFate dropped = FrameFate::Handled;
    const std::optional<HandledFrame> handled =
        HandleLocked(std::span(datagram->bytes).first(datagram->size), datagram->sender, &dropped);
    const bool answer = handled && fromClock && AnswersRequest(requestCode, handled->code);
    TraceReceived(*datagram, answer ? FrameFate::Answer : dropped, handled, requestCode);
    if (answer) return handled;
  }
  return std::nullopt;
}

void ClockLink::DiscardStale() {
  queued_.clear();
  while (const auto datagram = ReadQueued()) {
    if (services_.trace == nullptr) continue;
    const std::lock_guard lock(mutex_);
    TraceReceived(*datagram, FrameFate::Stale, std::nullopt, 0);
  }
}

std::optional<HandledFrame> ClockLink::SendWithRetries(std::span<const std::uint8_t> bytes, std::uint32_t ip,
                                                       std::uint8_t requestCode) {
  if (receiving_) return SendAndAwait(bytes, ip, requestCode);
  // Whatever is already waiting answers an exchange whose wait has ended (a
  // late or repeated reply). Taken for this exchange's answer, an old
  // "success" would be reported for a change the clock may refuse.
  DiscardStale();
  std::optional<HandledFrame> answer;
  for (int attempt = 0; attempt < timings_.tries && !answer; ++attempt) {
    // A failed send is not reported: the wait that follows times out.
    TraceSent(bytes, ip, attempt + 1, timings_.tries);
    socket_.SendTo(bytes, ip, timings_.clockPort);
    const Deadline deadline = SteadyClock::now() + timings_.replyWait;
    answer = WaitReply(ip, requestCode, deadline);
  }
  FinishLookups();
  return answer;
}

// The receiver thread reads the socket; this exchange is answered only by
// what arrives once it is waiting, which keeps out late answers to earlier
// exchanges as DiscardStale does.
std::optional<HandledFrame> ClockLink::SendAndAwait(std::span<const std::uint8_t> bytes, std::uint32_t ip,
                                                    std::uint8_t requestCode) {
  Waiter waiter;
  waiter.ip = ip;
  waiter.requestCode = requestCode;
  std::unique_lock lock(mutex_);
  waiters_.push_back(&waiter);
  for (int attempt = 0; attempt < timings_.tries && !waiter.answer; ++attempt) {
    lock.unlock();
    TraceSent(bytes, ip, attempt + 1, timings_.tries);
    socket_.SendTo(bytes, ip, timings_.clockPort);
    const Deadline deadline = SteadyClock::now() + timings_.replyWait;
    lock.lock();
    waiter.answered.wait_until(lock, deadline, [&] { return waiter.answer.has_value(); });
  }
  std::erase(waiters_, &waiter);
  return waiter.answer;
}

std::optional<HandledFrame> ClockLink::Query(std::uint32_t ip, std::uint8_t code) {
  if (ip == 0) return std::nullopt;
  const ClockFrame query = ClockFrame::Query(code);
  return SendWithRetries(query.Bytes(), ip, code);
}

std::optional<HandledFrame> ClockLink::Exchange(std::uint32_t ip, const ClockFrame& frame) {
  return SendWithRetries(frame.Bytes(), ip, frame.Code());
}

ModifyOutcome ClockLink::SendModify(std::uint32_t ip, const ClockFrame& frame) {
  return ModifyOutcomeOf(Exchange(ip, frame));
}

ModifyOutcome ModifyOutcomeOf(const std::optional<HandledFrame>& answer) {
  if (!answer) return ModifyOutcome::NoResponse;
  if (HandlingOf(answer->code) != ReplyHandling::ModifyResult) return ModifyOutcome::Answered;
  return answer->accepted ? ModifyOutcome::Accepted : ModifyOutcome::Refused;
}

void ClockLink::SearchBroadcast() {
  const ClockFrame request = ClockFrame::SearchRequest();
  for (int pass = 0; pass < timings_.searchPasses; ++pass) {
    for (std::uint32_t address : broadcastList_) {
      TraceSent(request.Bytes(), address, pass + 1, timings_.searchPasses);
      socket_.SendTo(request.Bytes(), address, timings_.clockPort);
    }
    const Deadline passEnd = SteadyClock::now() + timings_.searchPassLimit;
    if (receiving_) {
      AwaitQuietPass(passEnd);
    } else {
      CollectSearchReplies(passEnd);
    }
  }
  FinishLookups();
}

// The receiver thread handles the replies; the pass ends a quiet second
// after the last search reply, or at its limit.
void ClockLink::AwaitQuietPass(Deadline passEnd) {
  std::unique_lock lock(mutex_);
  lastSearchReply_ = SteadyClock::now();
  for (;;) {
    const Deadline quietEnd = std::min<Deadline>(lastSearchReply_ + timings_.searchQuiet, passEnd);
    if (SteadyClock::now() >= quietEnd) return;
    lock.unlock();
    std::this_thread::sleep_until(std::min<Deadline>(quietEnd, SteadyClock::now() + kReceiverLook));
    lock.lock();
  }
}

void ClockLink::CollectSearchReplies(Deadline passEnd) {
  for (;;) {
    const Deadline quietEnd = std::min<Deadline>(SteadyClock::now() + timings_.searchQuiet, passEnd);
    const auto datagram = NextDatagram(quietEnd);
    if (!datagram) return;
    const std::lock_guard lock(mutex_);
    FrameFate dropped = FrameFate::Handled;
    const auto handled = HandleLocked(std::span(datagram->bytes).first(datagram->size), datagram->sender, &dropped);
    TraceReceived(*datagram, dropped, handled, 0);
  }
}

bool ClockLink::SearchUnicast(std::uint32_t ip) {
  const ClockFrame request = ClockFrame::SearchRequest();
  const bool answered = SendWithRetries(request.Bytes(), ip, code::kSearch).has_value();
  FinishLookups(ip);
  return answered;
}

std::vector<ClockRecord> ClockLink::SnapshotAll() const {
  const std::lock_guard lock(mutex_);
  return {clocks_.begin(), clocks_.end()};
}

std::size_t ClockLink::ClockCount() const {
  const std::lock_guard lock(mutex_);
  return clocks_.Count();
}

std::uint32_t ClockLink::ClockIpAt(std::size_t index) const {
  const std::lock_guard lock(mutex_);
  if (index >= clocks_.Count()) return 0;
  return (clocks_.begin() + static_cast<std::ptrdiff_t>(index))->ip;
}

void ClockLink::StartConcurrent() {
  if (receiving_) return;
  DiscardStale();
  receiving_ = true;
  receiver_ = std::thread([this] { ReceiveUntilStopped(); });
}

void ClockLink::StopConcurrent() {
  if (!receiving_) return;
  receiving_ = false;
  receiver_.join();
  FinishLookups();
}

void ClockLink::ReceiveUntilStopped() {
  while (receiving_) {
    if (!socket_.WaitReadable(kReceiverLook)) continue;
    while (const auto datagram = ReadQueued()) Dispatch(*datagram);
  }
}

void ClockLink::Dispatch(const Datagram& datagram) {
  const std::lock_guard lock(mutex_);
  FrameFate dropped = FrameFate::Handled;
  const auto handled = HandleLocked(std::span(datagram.bytes).first(datagram.size), datagram.sender, &dropped);
  if (!handled) {
    TraceReceived(datagram, dropped, handled, 0);
    return;
  }
  if (handled->code == code::kSearch) lastSearchReply_ = SteadyClock::now();
  if (datagram.senderPort == timings_.clockPort) {
    if (sweepAnswered_ != nullptr && handled->code == code::kSearch && clocks_.FindByIp(datagram.sender) != nullptr) {
      sweepAnswered_->insert(datagram.sender);
    }
    for (Waiter* waiter : waiters_) {
      if (!waiter->answer && waiter->ip == datagram.sender && AnswersRequest(waiter->requestCode, handled->code)) {
        waiter->answer = handled;
        waiter->answered.notify_one();
        TraceReceived(datagram, FrameFate::Answer, handled, waiter->requestCode);
        return;
      }
    }
  }
  TraceReceived(datagram, FrameFate::Handled, handled, 0);
}

void ClockLink::SendPaced(std::span<const std::uint32_t> addresses, const ClockFrame& frame, int packetsPerSecond) {
  const auto gap = std::chrono::duration<double>(1.0 / std::max(packetsPerSecond, 1));
  const auto start = SteadyClock::now();
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    const auto due = start + std::chrono::duration_cast<SteadyClock::duration>(gap * static_cast<double>(i));
    // Sleeps come in slices of a millisecond or more: shorter ones cost more
    // than they pace.
    if (due - SteadyClock::now() > std::chrono::milliseconds(1)) std::this_thread::sleep_until(due);
    TraceSent(frame.Bytes(), addresses[i], 0, 0);
    socket_.SendTo(frame.Bytes(), addresses[i], timings_.clockPort);
  }
}

std::vector<std::uint32_t> ClockLink::Sweep(std::span<const std::uint32_t> addresses, int packetsPerSecond) {
  const bool wasConcurrent = receiving_;
  StartConcurrent();
  std::unordered_set<std::uint32_t> answered;
  {
    const std::lock_guard lock(mutex_);
    sweepAnswered_ = &answered;
  }
  const ClockFrame request = ClockFrame::SearchRequest();
  std::vector<std::uint32_t> silent(addresses.begin(), addresses.end());
  for (int pass = 0; pass < timings_.tries && !silent.empty(); ++pass) {
    SendPaced(silent, request, packetsPerSecond);
    const Deadline passEnd = SteadyClock::now() + timings_.replyWait;
    std::unique_lock lock(mutex_);
    // Ends early once every address of the pass has answered.
    while (SteadyClock::now() < passEnd &&
           !std::ranges::all_of(silent, [&](std::uint32_t ip) { return answered.contains(ip); })) {
      lock.unlock();
      std::this_thread::sleep_for(kReceiverLook);
      lock.lock();
    }
    std::erase_if(silent, [&](std::uint32_t ip) { return answered.contains(ip); });
  }
  {
    const std::lock_guard lock(mutex_);
    sweepAnswered_ = nullptr;
  }
  if (!wasConcurrent) {
    StopConcurrent();
  } else {
    FinishLookups();
  }
  std::vector<std::uint32_t> found;
  for (std::uint32_t ip : addresses) {
    if (answered.contains(ip)) found.push_back(ip);
  }
  return found;
}

std::optional<HandledFrame> ClockLink::HandleFrame(std::span<const std::uint8_t> bytes, std::uint32_t sender) {
  std::optional<HandledFrame> handled;
  {
    const std::lock_guard lock(mutex_);
    handled = HandleLocked(bytes, sender);
  }
  FinishLookups();
  return handled;
}

std::optional<HandledFrame> ClockLink::HandleLocked(std::span<const std::uint8_t> bytes, std::uint32_t sender,
                                                    FrameFate* dropped) {
  const std::optional<ReceivedFrame> frame = AcceptDatagram(bytes);
  if (!frame) {
    if (dropped != nullptr) {
      *dropped = bytes.size() < ReceivedFrame::kMinSize ? FrameFate::TooShort : FrameFate::BadChecksum;
    }
    return std::nullopt;
  }
  HandledFrame handled{.code = frame->Code(), .sender = sender};
  switch (HandlingOf(frame->Code())) {
    case ReplyHandling::Search:
      AddSearchReply(*frame, sender);
      break;
    case ReplyHandling::Stored:
      if (ClockRecord* record = clocks_.FindByIp(sender)) {
        handled.stored = StoreReply(frame->Payload(), frame->LengthByte(), *record);
      }
      break;
    case ReplyHandling::ModifyResult:
      handled.accepted = ModifyAccepted(frame->Payload());
      break;
    case ReplyHandling::Ignored:
      break;
    case ReplyHandling::Dropped:
      if (dropped != nullptr) *dropped = FrameFate::UnknownCode;
      return std::nullopt;
  }
  if (services_.observer != nullptr) services_.observer->FrameHandled(handled);
  return handled;
}

void ClockLink::TraceSent(std::span<const std::uint8_t> bytes, std::uint32_t ip, int send, int sends) {
  if (services_.trace == nullptr) return;
  FrameEvent event;
  event.at = std::chrono::system_clock::now();
  event.sent = true;
  event.ip = ip;
  event.port = timings_.clockPort;
  event.bytes = bytes;
  event.size = bytes.size();
  event.send = send;
  event.sends = sends;
  event.clockPort = timings_.clockPort;
  services_.trace->Frame(event);
}

// For a handled datagram, called with the lock held, so that the record it
// shows is the one the datagram left.
void ClockLink::TraceReceived(const Datagram& datagram, FrameFate fate, const std::optional<HandledFrame>& handled,
                              std::uint8_t requestCode) {
  if (services_.trace == nullptr) return;
  FrameEvent event;
  event.at = std::chrono::system_clock::now();
  event.ip = datagram.sender;
  event.port = datagram.senderPort;
  event.bytes = std::span(datagram.bytes).first(datagram.size);
  event.size = datagram.sizeSent;
  event.fate = fate;
  event.requestCode = requestCode;
  if (handled) {
    event.stored = handled->stored;
    event.accepted = handled->accepted;
    event.record = clocks_.FindByIp(datagram.sender);
  }
  event.clockPort = timings_.clockPort;
  services_.trace->Frame(event);
}

bool ClockLink::ProbeNewPlatform(std::uint32_t ip, std::uint8_t firmwareMajor) {
  if (firmwareMajor <= 1) return false;
  if (firmwareMajor >= 4) return true;
  return services_.probe.Accepts(ip, timings_.probePort, timings_.probeWait);
}

// ARP does not cross a router: a clock on no local network has no MAC
// address to find, and asking would only cost the full neighbour wait.
bool ClockLink::OnLocalSubnet(std::uint32_t ip) const {
  return std::ranges::any_of(localNetworks_, [&](const Adapter::Address& network) {
    return (network.ip & network.mask) == (ip & network.mask);
  });
}

ClockLink::RecordLookup ClockLink::LookUp(ClockRecord record) {
  RecordLookup lookup;
  if (OnLocalSubnet(record.ip)) lookup.mac = services_.neighbours.LookupMac(record.ip);
  if (lookup.mac) {
    record.mac = *lookup.mac;
    lookup.name = services_.names.Lookup(&record);
  }
  lookup.newPlatform = ProbeNewPlatform(record.ip, record.firmwareMajor);
  return lookup;
}

void ClockLink::AddSearchReply(const ReceivedFrame& frame, std::uint32_t sender) {
  const std::optional<SearchReply> reply = ReadSearchReply(frame.Payload());
  if (!reply || reply->serial[0] == '\0') return;

  if (ClockRecord* known = clocks_.FindByIp(sender)) {
    known->firmwareMajor = reply->firmwareMajor;
    known->firmwareMinor = reply->firmwareMinor;
    known->searchWord = reply->searchWord;
    known->lastSyncTime = reply->lastSyncTime;
    known->syncServerIp = reply->syncServerIp;
    known->radio = reply->radio;
    return;
  }

  ClockRecord record;
  record.ip = sender;
  std::memcpy(record.serial.data(), reply->serial.data(), reply->serial.size());
  record.firmwareMajor = reply->firmwareMajor;
  record.firmwareMinor = reply->firmwareMinor;
  record.searchWord = reply->searchWord;
  record.lastSyncTime = reply->lastSyncTime;
  record.syncServerIp = reply->syncServerIp;
  record.radio = reply->radio;
  record.label = services_.names.DefaultLabel(record);

  // The lookups run away from the socket, so the other clocks' replies are
  // read meanwhile; the record is completed when they are in.
  auto task = std::make_shared<std::packaged_task<RecordLookup()>>([this, record] { return LookUp(record); });
  lookups_.push_back({.ip = sender, .serial = record.serial, .result = task->get_future()});
  lookupPool_.Post([task] { (*task)(); });
  clocks_.Append(std::move(record));
}

void ClockLink::FinishLookups(std::optional<std::uint32_t> ip) {
  std::vector<PendingLookup> finishing;
  {
    const std::lock_guard lock(mutex_);
    const auto mine = std::stable_partition(lookups_.begin(), lookups_.end(), [&](const PendingLookup& lookup) {
      return ip && lookup.ip != *ip;
    });
    std::move(mine, lookups_.end(), std::back_inserter(finishing));
    lookups_.erase(mine, lookups_.end());
  }
  for (PendingLookup& pending : finishing) {
    // A window keeps painting meanwhile; only its own thread paces.
    while (pending.result.wait_for(timings_.paintInterval) != std::future_status::ready) {
      if (!receiving_) pacer_.Pace();
    }
  }
  const std::lock_guard lock(mutex_);
  for (PendingLookup& pending : finishing) {
    const RecordLookup lookup = pending.result.get();
    ClockRecord* record = clocks_.FindByIp(pending.ip);
    // The list may have been cleared, or another clock taken the address.
    if (record == nullptr || record->serial != pending.serial) continue;
    if (lookup.mac) record->mac = *lookup.mac;
    if (!lookup.name.empty()) record->label = lookup.name;
    record->newPlatform = lookup.newPlatform;
  }
}

}  // namespace marindo
