#pragma once

// The command-line front end's hold on the clock link: one ClockLink, run one
// clock after another. The link ties every answer to the clock asked.

#include <cstdint>
#include <vector>

#include "link/ClockLink.h"

namespace marindo {

class ClockSession {
 public:
  explicit ClockSession(LinkServices services, LinkTimings timings = {});

  ClockLink& Link() { return link_; }
  const ClockList& Clocks() const { return link_.Clocks(); }
  ClockRecord* Record(std::uint32_t ip) { return link_.FindByIp(ip); }

  // The broadcast search of the windows; the addresses found, in order.
  std::vector<std::uint32_t> SearchAll();
  // The unicast search; true when that clock answered with a search reply.
  bool SearchOne(std::uint32_t ip);
  // Sends query `code` up to three times; true once that clock's reply is in
  // its record.
  bool Ask(std::uint32_t ip, std::uint8_t code);
  // Sends a modify frame the way the windows do (up to three tries).
  ModifyOutcome Write(std::uint32_t ip, const ClockFrame& frame);

 private:
  ClockLink link_;
};

}  // namespace marindo
