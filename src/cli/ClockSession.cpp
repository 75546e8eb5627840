#include "cli/ClockSession.h"

namespace marindo {

ClockSession::ClockSession(LinkServices services, LinkTimings timings) : link_(services, timings) {}

std::vector<std::uint32_t> ClockSession::SearchAll() {
  link_.ClearClocks();
  link_.SearchBroadcast();
  std::vector<std::uint32_t> found;
  for (const ClockRecord& record : link_.Clocks()) found.push_back(record.ip);
  return found;
}

// A reply with an empty serial answers, yet makes no record.
bool ClockSession::SearchOne(std::uint32_t ip) { return link_.SearchUnicast(ip) && Record(ip).has_value(); }

std::vector<std::uint32_t> ClockSession::SearchEach(std::span<const std::uint32_t> addresses, int packetsPerSecond) {
  return link_.Sweep(addresses, packetsPerSecond);
}

bool ClockSession::Ask(std::uint32_t ip, std::uint8_t code) {
  const std::optional<HandledFrame> reply = link_.Query(ip, code);
  return reply && reply->stored;
}

ModifyOutcome ClockSession::Write(std::uint32_t ip, const ClockFrame& frame) { return link_.SendModify(ip, frame); }

}  // namespace marindo
