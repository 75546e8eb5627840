#pragma once

// The command-line front end's hold on the clock link: one ClockLink, run one
// clock after another, with every answer tied to the clock that sent it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "clocks/ClockSelection.h"
#include "link/ClockLink.h"

namespace marindo {

// What a clock made of a modify frame.
enum class WriteResult {
  Accepted,    // its modify result says it applied the settings
  Refused,     // its modify result says it did not
  Answered,    // it answered a frame whose answer carries no result (display settings)
  NoResponse,  // no answer from that clock after every try
};

class ClockSession : private FrameObserver, private ClockSelection {
 public:
  // `services.observer` is replaced by the session itself.
  ClockSession(LinkServices services, LinkTimings timings = {});

  ClockLink& Link() { return link_; }
  const ClockList& Clocks() const { return link_.Clocks(); }
  ClockRecord* Record(std::uint32_t ip) { return link_.FindByIp(ip); }

  // The broadcast search of the windows; the addresses found, in order.
  std::vector<std::uint32_t> SearchAll();
  // The unicast search; true when that clock answered with a search reply.
  bool SearchOne(std::uint32_t ip);
  // Sends query `code` and waits for that clock's reply of the same code;
  // true once it is in the clock's record. Stray datagrams from elsewhere do
  // not count as the answer.
  bool Ask(std::uint32_t ip, std::uint8_t code);
  // Sends a modify frame the way the windows do (up to three tries) and
  // waits for that clock's answer.
  WriteResult Write(std::uint32_t ip, const ClockFrame& frame);

 private:
  void FrameHandled(const HandledFrame& frame) override;
  std::optional<std::uint32_t> SelectedClockIp() const override { return std::nullopt; }
  ClockRecord* SelectedRecord() override { return nullptr; }

  std::optional<HandledFrame> FindSeen(std::uint32_t ip, std::uint8_t code) const;
  // Keeps reading datagrams after an exchange ended on someone else's, until
  // the clock's own answer is in, or a reply wait passes in silence, or the
  // exchange's whole budget is spent.
  std::optional<HandledFrame> AwaitFrom(std::uint32_t ip, std::uint8_t code, int firstCount);
  static LinkServices Observed(LinkServices services, FrameObserver* observer);

  std::vector<HandledFrame> seen_;
  ClockLink link_;
};

std::string WriteResultText(WriteResult result, std::uint32_t ip);

}  // namespace marindo
