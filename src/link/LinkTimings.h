#pragma once

#include <chrono>
#include <cstdint>

namespace marindo {

// Ports, waits and retry counts of the clock link. The program always runs
// with these defaults, which the clocks are built for; tests on loopback use
// their own ports and may shorten the waits.
struct LinkTimings {
  std::uint32_t bindIp = 0;            // 0.0.0.0
  std::uint16_t localPort = 7000;
  std::uint16_t clockPort = 7000;
  std::chrono::microseconds replyWait{900000};
  int tries = 3;
  std::chrono::microseconds searchQuiet{1000000};
  int searchPasses = 3;
  // A pass of the broadcast search ends after a quiet second, and at the
  // latest this long after its send, however many datagrams keep coming. A
  // healthy site of a thousand clocks answers well within it.
  std::chrono::microseconds searchPassLimit{20000000};
  // While a window waits on the link it repaints at least this often.
  std::chrono::microseconds paintInterval{25000};
  std::uint16_t probePort = 22;
  std::chrono::milliseconds probeWait{500};
  // Enough for a thousand clocks answering one broadcast while the reader is
  // busy with the slow work of a new record.
  int receiveBufferBytes = 8 * 1024 * 1024;
};

}  // namespace marindo
