#include "tftp/TftpClient.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/Ipv4.h"
#include "tftp/TftpPackets.h"

namespace marindo {
namespace {

using tftp::Opcode;
using BlockBuffer = std::array<std::uint8_t, tftp::kBlockSize>;

// A block's number on the wire is the low 16 bits of its count, so that block
// 65535 is followed by block 0, as common TFTP servers expect.
std::uint16_t WireBlock(std::uint64_t block) { return static_cast<std::uint16_t>(block & 0xFFFFU); }

// The block that an acknowledgement of `acked` names while `sent` is the
// block last sent. Within the first 65536 blocks the number is unambiguous;
// after them it is the latest block at or before `sent` with those low 16
// bits, since a clock acknowledges only what it has received.
std::uint64_t AcknowledgedBlock(std::uint64_t sent, std::uint16_t acked) {
  if (sent <= 0xFFFFU) return acked;
  return sent - static_cast<std::uint16_t>(WireBlock(sent) - acked);
}

std::uint64_t BlockPosition(std::uint64_t block) { return (block - 1) * tftp::kBlockSize; }

// 512 bytes, fewer for the last block, none for a block past the end.
std::size_t BlockLength(std::uint64_t fileLength, std::uint64_t position) {
  if (position >= fileLength) return 0;
  return static_cast<std::size_t>(std::min<std::uint64_t>(tftp::kBlockSize, fileLength - position));
}

// The bytes of data block `block`, read from the matching file position. A
// short read of a file whose length we know means it failed or shrank, and
// sending less would hand the clock a cut firmware as if it were whole.
std::optional<std::size_t> ReadFileBlock(TftpFileSource& file, std::uint64_t block, BlockBuffer& buffer) {
  const std::uint64_t position = BlockPosition(block);
  const std::size_t wanted = BlockLength(file.Length(), position);
  const auto got = file.ReadAt(position, std::span(buffer).first(wanted));
  if (!got || *got != wanted) return std::nullopt;
  return wanted;
}

// The block number that an upload answer acknowledges. The write request
// offers options, so an option acknowledgement answers it in place of the
// acknowledgement of block 0.
std::optional<std::uint16_t> AcknowledgedNumber(std::span<const std::uint8_t> packet,
                                                TftpClient::PacketKind kind) {
  if (tftp::HasOpcode(packet, Opcode::Ack)) return tftp::ReadBlock(packet);
  if (kind == TftpClient::PacketKind::Request && tftp::HasOpcode(packet, Opcode::OptionAck)) return 0;
  return std::nullopt;
}

// Whether acknowledgement number `acked` can answer what was just sent: the
// write request only as block 0, data block `block` as itself or as a block
// sent before it. Taking a number not sent yet would count a firmware as
// delivered that the clock never got. Past the first 65536 blocks every
// number names some block already sent.
bool AcknowledgesSent(TftpClient::PacketKind kind, std::uint64_t block, std::uint16_t acked) {
  if (kind == TftpClient::PacketKind::Request) return acked == 0;
  return block > 0xFFFFU || acked <= block;
}

std::string LocalLogPath(std::string_view folder, std::uint32_t clockIp, std::string_view name) {
  const std::filesystem::path path =
      std::filesystem::path(folder) / (FormatIpv4(clockIp) + std::string(tftp::LastPathPart(name)));
  return path.string();
}

}  // namespace

struct TftpClient::DownloadState {
  std::uint32_t clockIp = 0;
  bool acknowledged = false;  // the last datagram was answered: a new wait begins
  std::optional<std::uint16_t> dataPort;    // fixed by the first data block
  std::optional<std::uint16_t> lastStored;  // block number
  std::uint16_t expected = 1;
};

TftpClient::TftpClient(CodePage codePage, TftpTimings timings, TftpIo& io)
    : codePage_(codePage), timings_(timings), io_(io), serverPort_(timings.serverPort), pacer_(timings.paintInterval) {}

std::optional<TftpDatagram> TftpClient::ReceiveBefore(TftpSocket& socket, std::span<std::uint8_t> buffer,
                                                      Deadline deadline) {
  for (;;) {
    pacer_.Pace();
    const WaitPacer::Slice slice = pacer_.Next(deadline);
    if (auto datagram = socket.Receive(buffer, slice.wait)) return datagram;
    // A socket that reports its whole wait passed is taken at its word.
    if (slice.last) return std::nullopt;
  }
}

bool TftpClient::CountsAsAnswer(const TftpDatagram& datagram, PacketKind kind, std::uint32_t clockIp) const {
  // The request may be answered from any port of the clock (the transfer
  // port it picks); after that only that port speaks for the transfer.
  return datagram.sourceIp == clockIp && (kind == PacketKind::Request || datagram.sourcePort == serverPort_);
}

int TftpClient::SendWithAck(TftpSocket& socket, PacketKind kind, std::span<const std::uint8_t> bytes,
                            std::uint64_t block, std::uint32_t clockIp) {
  tftp::Bytes packet;
  if (kind == PacketKind::Request) {
    serverPort_ = timings_.serverPort;
    packet.assign(bytes.begin(), bytes.end());
  } else {
    packet = tftp::BuildData(WireBlock(block), bytes);
  }
  std::array<std::uint8_t, tftp::kUploadReceiveSize> buffer{};
  for (int send = 0; send < timings_.sends; ++send) {
    TraceSent(packet, clockIp, serverPort_, send + 1, timings_.sends);
    socket.SendTo(packet, clockIp, serverPort_);
    const Deadline deadline = std::chrono::steady_clock::now() + timings_.wait;
    while (const auto datagram = ReceiveBefore(socket, buffer, deadline)) {
      const auto received = std::span<const std::uint8_t>(buffer).first(std::min(datagram->size, buffer.size()));
      if (!CountsAsAnswer(*datagram, kind, clockIp)) {
        TraceReceived(received, *datagram, TftpFate::NotFromPeer);
        continue;
      }
      const auto acked = AcknowledgedNumber(received, kind);
      if (acked && AcknowledgesSent(kind, block, *acked)) {
        TraceReceived(received, *datagram, TftpFate::Acknowledges);
        serverPort_ = datagram->sourcePort;
        return *acked + 1;
      }
      TraceReceived(received, *datagram, TftpFate::NotAnAnswer);
    }
  }
  return -1;
}

int TftpClient::UploadFile(std::uint32_t clockIp, std::string_view path, UploadProgress& progress) {
  auto socket = io_.OpenSocket();
  // A failed bind is not fatal: the socket then sends from a port the system picks.
  if (socket) socket->Bind(timings_.uploadBindIp, timings_.uploadLocalPort);
  auto file = io_.OpenForReading(std::string(path));
  if (!file) return -1;
  // A file that cannot be read fails here, before the clock hears of an upgrade.
  BlockBuffer probe{};
  if (!ReadFileBlock(*file, 1, probe)) return -1;
  const auto request = tftp::BuildWriteRequest(ToCodePage(tftp::LastPathPart(path), codePage_), file->Length());
  if (!request) return -1;

  progress.Start();
  if (!socket) return -1;
  const int answer = SendWithAck(*socket, PacketKind::Request, *request, 0, clockIp);
  if (answer < 0) return -1;
  return SendFileBlocks(*socket, *file, static_cast<std::uint64_t>(answer), clockIp, progress);
}

int TftpClient::SendFileBlocks(TftpSocket& socket, TftpFileSource& file, std::uint64_t firstBlock,
                               std::uint32_t clockIp, UploadProgress& progress) {
  BlockBuffer buffer{};
  std::uint64_t next = firstBlock;
  for (;;) {
    const auto count = ReadFileBlock(file, next, buffer);
    if (!count) return -1;
    const int answer = SendWithAck(socket, PacketKind::Data, std::span(buffer).first(*count), next, clockIp);
    if (answer < 0) return -1;
    const std::uint64_t acked = AcknowledgedBlock(next, static_cast<std::uint16_t>(answer - 1));
    if (*count == tftp::kBlockSize) {
      progress.Block(acked, file.Length());
    } else if (acked >= next) {
      progress.Finish(acked, BlockPosition(next) + *count);
      return 0;
    }
    // An acknowledgement of an earlier block, the last one included, makes
    // the following block go again.
    next = acked + 1;
  }
}

DownloadOutcome TftpClient::DownloadFile(std::uint32_t clockIp, std::string_view name, std::string_view folder) {
  const std::string remotePath = ToCodePage(std::string(tftp::kRemoteLogFolder) + std::string(name), codePage_);
  const auto request = tftp::BuildReadRequest(remotePath);
  if (!request) return DownloadOutcome::NameTooLong;
  auto socket = io_.OpenSocket();
  if (!socket) return DownloadOutcome::NoSocket;
  // Sent once; a lost request shows as silence.
  TraceSent(*request, clockIp, timings_.serverPort, 0, 0);
  socket->SendTo(*request, clockIp, timings_.serverPort);
  auto file = io_.CreateNew(LocalLogPath(folder, clockIp, name));
  if (!file) return DownloadOutcome::FileNotCreated;
  return ReceiveFile(*socket, *file, clockIp);
}

DownloadOutcome TftpClient::ReceiveFile(TftpSocket& socket, TftpFileSink& file, std::uint32_t clockIp) {
  std::array<std::uint8_t, tftp::kDownloadReceiveSize> buffer{};
  DownloadState state;
  state.clockIp = clockIp;
  // The request went out just before; each acknowledgement starts a new wait.
  Deadline deadline = std::chrono::steady_clock::now() + timings_.wait;
  for (;;) {
    const auto datagram = ReceiveBefore(socket, buffer, deadline);
    if (!datagram) return DownloadOutcome::NoResponse;
    const auto packet = std::span<const std::uint8_t>(buffer).first(std::min(datagram->size, buffer.size()));
    if (datagram->truncated) {  // longer than any data packet of 512 bytes
      TraceReceived(packet, *datagram, TftpFate::Oversize);
      continue;
    }
    if (const auto outcome = TakeDatagram(socket, file, packet, *datagram, state)) {
      if (*outcome == DownloadOutcome::Done && !file.Commit()) return DownloadOutcome::FileNotWritten;
      return *outcome;
    }
    if (state.acknowledged) {
      deadline = std::chrono::steady_clock::now() + timings_.wait;
      state.acknowledged = false;
    }
  }
}

std::optional<DownloadOutcome> TftpClient::TakeDatagram(TftpSocket& socket, TftpFileSink& file,
                                                        std::span<const std::uint8_t> packet,
                                                        const TftpDatagram& datagram, DownloadState& state) {
  const bool fromTransferPeer = datagram.sourceIp == state.clockIp &&
                                (!state.dataPort || datagram.sourcePort == *state.dataPort);
  if (!fromTransferPeer) {
    TraceReceived(packet, datagram, TftpFate::NotFromPeer);
    return std::nullopt;
  }
  // The received packet's line goes before the acknowledgement it causes.
  const auto acknowledge = [&](std::uint16_t block, TftpFate fate) {
    TraceReceived(packet, datagram, fate);
    const auto ack = tftp::BuildAck(block);
    TraceSent(ack, datagram.sourceIp, datagram.sourcePort, 0, 0);
    socket.SendTo(ack, datagram.sourceIp, datagram.sourcePort);
    state.acknowledged = true;
  };
  const auto ignore = [&] {
    TraceReceived(packet, datagram, TftpFate::NotAnAnswer);
    return std::nullopt;
  };
  if (tftp::HasOpcode(packet, Opcode::OptionAck)) {
    // The request names no options, so whatever the clock names, the
    // defaults hold; RFC 2347 has the answer be the acknowledgement of block 0.
    acknowledge(0, TftpFate::OptionsTaken);
    return std::nullopt;
  }
  if (!tftp::HasOpcode(packet, Opcode::Data)) return ignore();
  const auto block = tftp::ReadBlock(packet);
  if (!block) return ignore();
  if (block == state.lastStored) {
    // Our acknowledgement got lost and the clock sent the block again.
    acknowledge(*block, TftpFate::Repeated);
    return std::nullopt;
  }
  if (*block != state.expected) return ignore();
  // Acknowledge first and store while the clock sends the next block, as
  // tftp-hpa does: the disk's time then overlaps the network's. A block that
  // cannot be stored still ends the download as a failure.
  acknowledge(*block, TftpFate::Stored);
  if (!file.Append(packet.subspan(tftp::kHeaderSize))) return DownloadOutcome::FileNotWritten;
  state.dataPort = datagram.sourcePort;
  state.lastStored = *block;
  state.expected = static_cast<std::uint16_t>(*block + 1);
  if (packet.size() < tftp::kDownloadReceiveSize) return DownloadOutcome::Done;
  return std::nullopt;
}

void TftpClient::TraceSent(std::span<const std::uint8_t> packet, std::uint32_t ip, std::uint16_t port, int send,
                           int sends) {
  if (trace_ == nullptr) return;
  TftpEvent event;
  event.at = std::chrono::system_clock::now();
  event.sent = true;
  event.ip = ip;
  event.port = port;
  event.bytes = packet;
  event.size = packet.size();
  event.send = send;
  event.sends = sends;
  trace_->Packet(event);
}

void TftpClient::TraceReceived(std::span<const std::uint8_t> packet, const TftpDatagram& datagram, TftpFate fate) {
  if (trace_ == nullptr) return;
  TftpEvent event;
  event.at = std::chrono::system_clock::now();
  event.ip = datagram.sourceIp;
  event.port = datagram.sourcePort;
  event.bytes = packet;
  event.size = datagram.size;
  event.fate = fate;
  trace_->Packet(event);
}

}  // namespace marindo
