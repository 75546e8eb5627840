#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "platform/CodePage.h"
#include "platform/WaitPacer.h"
#include "tftp/TftpIo.h"
#include "tftp/TftpTrace.h"

namespace marindo {

// Ports, waits and retry counts of the transfers. The program always runs
// with these defaults, which the clocks are built for; tests on loopback use
// their own ports and may shorten the waits.
struct TftpTimings {
  std::uint16_t serverPort = 69;
  std::uint32_t uploadBindIp = 0;  // all local addresses
  std::uint16_t uploadLocalPort = 10000;
  std::chrono::microseconds wait{1000000};
  int sends = 10;  // of one upload packet before the upload gives up
  // While a window waits on a transfer it repaints at least this often.
  std::chrono::microseconds paintInterval{25000};
};

// Follows an upload: Start once the file is open, Block after each
// acknowledged full data packet, Finish after the acknowledged last one.
// Counts are 64-bit: a large file needs more blocks than a 16-bit block
// number can count.
class UploadProgress {
 public:
  virtual ~UploadProgress() = default;
  virtual void Start() = 0;
  virtual void Block(std::uint64_t block, std::uint64_t fileLength) = 0;
  virtual void Finish(std::uint64_t block, std::uint64_t bytesTransferred) = 0;
};

// Only a download that is Done leaves a file; every other outcome leaves
// nothing under the file's name or beside it.
enum class DownloadOutcome {
  Done,
  NoResponse,      // the clock was silent for one wait
  FileNotCreated,  // the local file exists already or cannot be created
  FileNotWritten,  // storing a block, or the whole file, failed
  NameTooLong,     // the read request would not fit its buffer; nothing was sent
  NoSocket,        // no UDP socket could be created; nothing was sent
};

// Firmware upload and log download with TFTP towards a clock's port 69. Each
// transfer opens a socket of its own and blocks until it ends. Every wait
// ends at a deadline fixed when our packet went out: datagrams that do not
// answer it never stretch it.
class TftpClient {
 public:
  enum class PacketKind { Request, Data };

  // Names are sent to the clock in `codePage`.
  explicit TftpClient(CodePage codePage, TftpTimings timings = {}, TftpIo& io = SystemTftpIo());

  // Sends a request as it is, or `bytes` as data block `block` (its low 16
  // bits on the wire), and waits for the clock's acknowledgement, sending
  // again after each silent wait. Only block 0 acknowledges the request, and
  // only the block sent or one sent before it acknowledges data: a number
  // not sent yet is ignored. The acknowledged block number plus 1 (1 to
  // 65536), or -1 when every send went unanswered. A request resets the
  // server port; the clock's first answer to it sets the port of the transfer.
  int SendWithAck(TftpSocket& socket, PacketKind kind, std::span<const std::uint8_t> bytes,
                  std::uint64_t block, std::uint32_t clockIp);

  // Writes the file at `path` to the clock under the last part of its path.
  // 0 when the last block was acknowledged, -1 on any failure.
  int UploadFile(std::uint32_t clockIp, std::string_view path, UploadProgress& progress);

  // Reads /usr/tftpfile/<name> from the clock into <folder>/<clock address><last part of name>.
  DownloadOutcome DownloadFile(std::uint32_t clockIp, std::string_view name, std::string_view folder);

  // Called over and over while a transfer waits, at least every paint
  // interval, so that a window can keep painting.
  void SetWhileWaiting(std::function<void()> whileWaiting) { pacer_.SetWhileWaiting(std::move(whileWaiting)); }
  // Told of every packet sent and received; none when null.
  void SetTrace(TftpTrace* trace) { trace_ = trace; }

  // The clock's port that upload packets go to.
  std::uint16_t ServerPort() const { return serverPort_; }
  const TftpTimings& Timings() const { return timings_; }

 private:
  struct DownloadState;
  using Deadline = std::chrono::steady_clock::time_point;

  // One datagram before `deadline`, painting meanwhile; nothing once it passed.
  std::optional<TftpDatagram> ReceiveBefore(TftpSocket& socket, std::span<std::uint8_t> buffer, Deadline deadline);
  bool CountsAsAnswer(const TftpDatagram& datagram, PacketKind kind, std::uint32_t clockIp) const;
  int SendFileBlocks(TftpSocket& socket, TftpFileSource& file, std::uint64_t firstBlock,
                     std::uint32_t clockIp, UploadProgress& progress);
  DownloadOutcome ReceiveFile(TftpSocket& socket, TftpFileSink& file, std::uint32_t clockIp);
  std::optional<DownloadOutcome> TakeDatagram(TftpSocket& socket, TftpFileSink& file,
                                              std::span<const std::uint8_t> packet,
                                              const TftpDatagram& datagram, DownloadState& state);

  void TraceSent(std::span<const std::uint8_t> packet, std::uint32_t ip, std::uint16_t port, int send, int sends);
  void TraceReceived(std::span<const std::uint8_t> packet, const TftpDatagram& datagram, TftpFate fate);

  CodePage codePage_;
  TftpTimings timings_;
  TftpIo& io_;
  std::uint16_t serverPort_;
  WaitPacer pacer_;
  TftpTrace* trace_ = nullptr;
};

}  // namespace marindo
