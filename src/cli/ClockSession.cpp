#include "cli/ClockSession.h"

#include <algorithm>
#include <chrono>

#include "link/ReplyDecoders.h"
#include "platform/Ipv4.h"

namespace marindo {
namespace {
constexpr std::uint8_t kSearchCode = 0x01;
}  // namespace

LinkServices ClockSession::Observed(LinkServices services, FrameObserver* observer) {
  services.observer = observer;
  return services;
}

ClockSession::ClockSession(LinkServices services, LinkTimings timings)
    : link_(*this, Observed(services, this), timings) {}

void ClockSession::FrameHandled(const HandledFrame& frame) { seen_.push_back(frame); }

std::optional<HandledFrame> ClockSession::FindSeen(std::uint32_t ip, std::uint8_t code) const {
  const auto found = std::find_if(seen_.begin(), seen_.end(), [&](const HandledFrame& frame) {
    return frame.sender == ip && frame.code == code;
  });
  if (found == seen_.end()) return std::nullopt;
  return *found;
}

std::optional<HandledFrame> ClockSession::AwaitFrom(std::uint32_t ip, std::uint8_t code, int firstCount) {
  if (firstCount <= 0) return std::nullopt;
  const LinkTimings& timings = link_.Timings();
  const auto deadline = std::chrono::steady_clock::now() + timings.replyWait * timings.tries;
  while (!FindSeen(ip, code) && std::chrono::steady_clock::now() < deadline) {
    if (link_.WaitReply() < 0) break;
  }
  return FindSeen(ip, code);
}

std::vector<std::uint32_t> ClockSession::SearchAll() {
  link_.ClearClocks();
  link_.SearchBroadcast();
  std::vector<std::uint32_t> found;
  for (const ClockRecord& record : link_.Clocks()) found.push_back(record.ip);
  return found;
}

bool ClockSession::SearchOne(std::uint32_t ip) {
  seen_.clear();
  const int count = link_.SearchUnicast(ip);
  return AwaitFrom(ip, kSearchCode, count).has_value() && link_.FindByIp(ip) != nullptr;
}

bool ClockSession::Ask(std::uint32_t ip, std::uint8_t code) {
  seen_.clear();
  const int count = link_.Query(ip, code);
  const std::optional<HandledFrame> reply = AwaitFrom(ip, code, count);
  return reply && reply->stored;
}

WriteResult ClockSession::Write(std::uint32_t ip, const ClockFrame& frame) {
  seen_.clear();
  const std::uint8_t code = frame.Code();
  const int count = link_.Exchange(ip, frame);
  const std::optional<HandledFrame> answer = AwaitFrom(ip, code, count);
  if (!answer) return WriteResult::NoResponse;
  if (HandlingOf(code) != ReplyHandling::ModifyResult) return WriteResult::Answered;
  return answer->accepted ? WriteResult::Accepted : WriteResult::Refused;
}

std::string WriteResultText(WriteResult result, std::uint32_t ip) {
  switch (result) {
    case WriteResult::Accepted:
      return "Modify success!";
    case WriteResult::Refused:
      return "Modify failed!";
    case WriteResult::Answered:
      return "answered";
    case WriteResult::NoResponse:
      break;
  }
  return "No response from " + FormatIpv4(ip) + "!";
}

}  // namespace marindo
