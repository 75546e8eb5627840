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
  std::uint16_t probePort = 22;
  std::chrono::milliseconds probeWait{500};
  // Enough for a thousand clocks answering one broadcast while the reader is
  // busy with the slow work of a new record.
  int receiveBufferBytes = 8 * 1024 * 1024;
};

}  // namespace marindo
