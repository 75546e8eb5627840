#include "link/ClockLink.h"

#include <cstring>

#include "link/BroadcastList.h"
#include "link/ReplyDecoders.h"
#include "platform/Ipv4.h"

namespace marindo {
namespace {

constexpr const char* kPortUnusable =
    "Marindo server udp port 7000 is not usable, make sure open only one Marindo instance!";
constexpr const char* kModifySuccess = "Modify success!";
constexpr const char* kModifyFailed = "Modify failed!";

std::string NoResponseText(std::uint32_t ip) { return "No response from " + FormatIpv4(ip) + "!"; }

}  // namespace

ClockLink::ClockLink(const ClockSelection& owner, LinkServices services, LinkTimings timings)
    : owner_(owner), services_(services), timings_(timings) {
  socket_.EnableBroadcast();
  bound_ = socket_.Bind(timings_.bindIp, timings_.localPort);
  if (!bound_) {
    // The program goes on with an unbound socket; sends still work, but
    // replies to port 7000 reach the other instance.
    services_.notifier.ShowMessage(kPortUnusable);
  }
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
    return datagram;
  }
}

std::optional<ClockLink::Datagram> ClockLink::NextDatagram(std::chrono::microseconds wait) {
  if (!queued_.empty()) {
    Datagram datagram = queued_.front();
    queued_.pop_front();
    return datagram;
  }
  // Each wait starts afresh after a datagram that yielded nothing.
  while (socket_.WaitReadable(wait)) {
    if (auto datagram = ReadQueued()) return datagram;
  }
  return std::nullopt;
}

void ClockLink::DrainSocket() {
  while (auto datagram = ReadQueued()) queued_.push_back(*datagram);
}

int ClockLink::WaitReply() {
  const auto datagram = NextDatagram(timings_.replyWait);
  if (!datagram) return -1;
  HandleFrame(std::span(datagram->bytes).first(datagram->size), datagram->sender);
  return static_cast<int>(datagram->size);
}

void ClockLink::DiscardStale() {
  queued_.clear();
  while (ReadQueued()) {
  }
}

int ClockLink::SendWithRetries(std::span<const std::uint8_t> bytes, std::uint32_t ip) {
  // Whatever is already waiting answers an exchange whose wait has ended (a
  // late or repeated reply). Taken for this exchange's answer, an old
  // "success" would be shown for a change the clock may refuse.
  DiscardStale();
  for (int attempt = 0; attempt < timings_.tries; ++attempt) {
    // A failed send is not reported: the wait that follows times out.
    socket_.SendTo(bytes, ip, timings_.clockPort);
    const int count = WaitReply();
    if (count > 0) return count;
  }
  return 0;
}

int ClockLink::Query(std::uint32_t ip, std::uint8_t code) {
  if (ip == 0) return 0;
  const ClockFrame query = ClockFrame::Query(code);
  return SendWithRetries(query.Bytes(), ip);
}

int ClockLink::Exchange(std::uint32_t ip, const ClockFrame& frame) {
  return SendWithRetries(frame.Bytes(), ip);
}

void ClockLink::SendModify(const std::optional<ClockFrame>& frame) {
  const std::optional<std::uint32_t> selected = owner_.SelectedClockIp();
  if (!frame || !selected) return;
  if (SendWithRetries(frame->Bytes(), *selected) == 0) {
    services_.notifier.ShowMessage(NoResponseText(*selected));
  }
}

void ClockLink::SearchBroadcast() {
  const ClockFrame request = ClockFrame::SearchRequest();
  for (int pass = 0; pass < timings_.searchPasses; ++pass) {
    for (std::uint32_t address : broadcastList_) {
      socket_.SendTo(request.Bytes(), address, timings_.clockPort);
    }
    CollectSearchReplies();
  }
}

void ClockLink::CollectSearchReplies() {
  while (auto datagram = NextDatagram(timings_.searchQuiet)) {
    HandleFrame(std::span(datagram->bytes).first(datagram->size), datagram->sender);
  }
}

int ClockLink::SearchUnicast(std::uint32_t ip) {
  const ClockFrame request = ClockFrame::SearchRequest();
  const int count = SendWithRetries(request.Bytes(), ip);
  return count > 0 ? count : -1;
}

void ClockLink::HandleFrame(std::span<const std::uint8_t> bytes, std::uint32_t sender) {
  const std::optional<ReceivedFrame> frame = AcceptDatagram(bytes);
  if (!frame) return;
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
      services_.notifier.ShowMessage(handled.accepted ? kModifySuccess : kModifyFailed);
      break;
    case ReplyHandling::Ignored:
      break;
    case ReplyHandling::Dropped:
      return;
  }
  if (services_.observer != nullptr) services_.observer->FrameHandled(handled);
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
