#pragma once

// The command-line front end's hold on the clock link: one ClockLink, with
// many clocks in flight at once. The link ties every answer to the clock
// asked; records are read as copies, since answers keep arriving meanwhile.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "link/ClockLink.h"

namespace marindo {

class ClockSession {
 public:
  explicit ClockSession(LinkServices services, LinkTimings timings = {});

  ClockLink& Link() { return link_; }
  // A copy of the clock's record; nothing for an address without one.
  std::optional<ClockRecord> Record(std::uint32_t ip) const { return link_.Snapshot(ip); }

  // The broadcast search of the windows; the addresses found, in order.
  std::vector<std::uint32_t> SearchAll();
  // The unicast search; true when that clock answered with a search reply.
  bool SearchOne(std::uint32_t ip);
  // The unicast search of many addresses at `packetsPerSecond`; those whose
  // clock answered, in the order given.
  std::vector<std::uint32_t> SearchEach(std::span<const std::uint32_t> addresses, int packetsPerSecond);
  // Sends query `code` up to three times; true once that clock's reply is in
  // its record.
  bool Ask(std::uint32_t ip, std::uint8_t code);
  // Sends a modify frame the way the windows do (up to three tries).
  ModifyOutcome Write(std::uint32_t ip, const ClockFrame& frame);

 private:
  ClockLink link_;
};

}  // namespace marindo
