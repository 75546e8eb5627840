#pragma once

// marindo-cli --trace: one line per frame sent and per datagram received on
// the clock link, and per TFTP packet, in a format a site can attach to a
// report. Every line reads
//
//   TIME DIR ADDRESS:PORT CODE NAME len=N crc=VERDICT fields=JSON -> FATE
//
// for the clock protocol, and
//
//   TIME DIR ADDRESS:PORT tftp OPCODE len=N fields=JSON -> FATE
//
// for TFTP; README and marindo-cli(1) describe each field.

#include <mutex>
#include <ostream>
#include <string>

#include "link/FrameTrace.h"
#include "platform/CodePage.h"
#include "tftp/TftpTrace.h"

namespace marindo {

// The line of one event, without its newline. The decoded fields of a
// settings reply come from the sender's record, as the link stored them.
std::string FrameTraceLine(const FrameEvent& event, CodePage codePage);
std::string TftpTraceLine(const TftpEvent& event, CodePage codePage);

// Writes whole lines to one stream from any number of threads; each line is
// flushed as it is written, so that a trace of a run that is cut short holds
// every event up to the cut.
class TraceWriter : public FrameTrace, public TftpTrace {
 public:
  TraceWriter(std::ostream& out, CodePage codePage) : out_(out), codePage_(codePage) {}

  void Frame(const FrameEvent& event) override;
  void Packet(const TftpEvent& event) override;

 private:
  void Write(const std::string& line);

  std::mutex mutex_;
  std::ostream& out_;
  CodePage codePage_;
};

}  // namespace marindo
