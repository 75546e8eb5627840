#include "link/ClockLink.h"

#include <algorithm>
#include <cstring>

#include "link/AnswerCodes.h"
#include "link/BroadcastList.h"
#include "link/ReplyDecoders.h"

namespace marindo {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr std::uint8_t kSearchCode = 0x01;

}  // namespace

ClockLink::ClockLink(LinkServices services, LinkTimings timings)
    : services_(services), timings_(timings), pacer_(timings.paintInterval, services.whileWaiting) {
  socket_.EnableBroadcast();
  bound_ = socket_.Bind(timings_.bindIp, timings_.localPort);
  socket_.RequestReceiveBuffer(timings_.receiveBufferBytes);
  broadcastList_ = BuildBroadcastList(services_.adapters.Adapters());
}

std::optional<ClockLink::Datagram> ClockLink::ReadQueued() {
  Datagram datagram;
  for (;;) {
    const auto received = socket_.ReceiveFrom(datagram.bytes);
    if (!received) return std::nullopt;
    // Empty and oversized datagrams are skipped; the caller goes on waiting.
    if (received->size == 0 || received->truncated) continue;
    datagram.size = received->size;
    datagram.sender = received->senderIp;
    datagram.senderPort = received->senderPort;
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

void ClockLink::DrainSocket() {
  while (auto datagram = ReadQueued()) queued_.push_back(*datagram);
}

std::optional<HandledFrame> ClockLink::WaitReply(std::uint32_t ip, std::uint8_t requestCode, Deadline deadline) {
  while (const auto datagram = NextDatagram(deadline)) {
    const auto handled = HandleFrame(std::span(datagram->bytes).first(datagram->size), datagram->sender);
    const bool fromClock = datagram->sender == ip && datagram->senderPort == timings_.clockPort;
    if (handled && fromClock && AnswersRequest(requestCode, handled->code)) return handled;
  }
  return std::nullopt;
}

void ClockLink::DiscardStale() {
  queued_.clear();
  while (ReadQueued()) {
  }
}

std::optional<HandledFrame> ClockLink::SendWithRetries(std::span<const std::uint8_t> bytes, std::uint32_t ip,
                                                       std::uint8_t requestCode) {
  // Whatever is already waiting answers an exchange whose wait has ended (a
  // late or repeated reply). Taken for this exchange's answer, an old
  // "success" would be reported for a change the clock may refuse.
  DiscardStale();
  for (int attempt = 0; attempt < timings_.tries; ++attempt) {
    // A failed send is not reported: the wait that follows times out.
    socket_.SendTo(bytes, ip, timings_.clockPort);
    const Deadline deadline = SteadyClock::now() + timings_.replyWait;
    if (auto answer = WaitReply(ip, requestCode, deadline)) return answer;
  }
  return std::nullopt;
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
      socket_.SendTo(request.Bytes(), address, timings_.clockPort);
    }
    CollectSearchReplies(SteadyClock::now() + timings_.searchPassLimit);
  }
}

void ClockLink::CollectSearchReplies(Deadline passEnd) {
  for (;;) {
    const Deadline quietEnd = std::min<Deadline>(SteadyClock::now() + timings_.searchQuiet, passEnd);
    const auto datagram = NextDatagram(quietEnd);
    if (!datagram) return;
    HandleFrame(std::span(datagram->bytes).first(datagram->size), datagram->sender);
  }
}

bool ClockLink::SearchUnicast(std::uint32_t ip) {
  const ClockFrame request = ClockFrame::SearchRequest();
  return SendWithRetries(request.Bytes(), ip, kSearchCode).has_value();
}

std::optional<HandledFrame> ClockLink::HandleFrame(std::span<const std::uint8_t> bytes, std::uint32_t sender) {
  const std::optional<ReceivedFrame> frame = AcceptDatagram(bytes);
  if (!frame) return std::nullopt;
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
      return std::nullopt;
  }
  if (services_.observer != nullptr) services_.observer->FrameHandled(handled);
  return handled;
}

bool ClockLink::ProbeNewPlatform(std::uint32_t ip, std::uint8_t firmwareMajor) {
  if (firmwareMajor <= 1) return false;
  if (firmwareMajor >= 4) return true;
  return services_.probe.Accepts(ip, timings_.probePort, timings_.probeWait);
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

  // ARP and the port probe can take a second; keep the replies of the other
  // clocks safe in our own queue meanwhile.
  DrainSocket();
  record.label = services_.names.DefaultLabel(record);
  if (const std::optional<MacAddress> mac = services_.neighbours.LookupMac(sender)) {
    record.mac = *mac;
    if (std::string name = services_.names.Lookup(&record); !name.empty()) {
      record.label = std::move(name);
    }
  }
  DrainSocket();
  record.newPlatform = ProbeNewPlatform(sender, record.firmwareMajor);
  clocks_.Append(std::move(record));
}

}  // namespace marindo
