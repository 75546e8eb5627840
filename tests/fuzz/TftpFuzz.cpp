// Feeds hostile datagrams to a firmware upload or a log download through the
// transfer's I/O seam: no sockets, no waiting. Input layout:
//   byte 0      bit 0: download (1) or upload (0); bits 1..7 with byte 1:
//               the firmware's length (upload)
//   then records of [source][length high][length low][bytes...]; source 0xFF
//   is a silent wait, bit 7 a stranger's address, the low bits the port.
// The run ends when the records do, as if the clock fell silent.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "tftp/TftpClient.h"

namespace {

using namespace marindo;

constexpr std::uint32_t kClock = 0x0A000001;
constexpr std::uint32_t kStranger = 0x0A000002;
constexpr std::uint16_t kPorts[] = {69, 3456, 4000, 10000};

class Records {
 public:
  explicit Records(std::span<const std::uint8_t> input) : input_(input) {}

  // The next datagram into `buffer`; nothing for a silent wait or at the end.
  std::optional<TftpDatagram> Next(std::span<std::uint8_t> buffer) {
    if (input_.size() < 3) return std::nullopt;
    const std::uint8_t source = input_[0];
    const std::size_t wanted = static_cast<std::size_t>(input_[1] << 8 | input_[2]) % 1100;
    input_ = input_.subspan(3);
    if (source == 0xFF) return std::nullopt;
    const std::size_t size = std::min(wanted, input_.size());
    const std::size_t copied = std::min(size, buffer.size());
    if (copied > 0) std::memcpy(buffer.data(), input_.data(), copied);
    input_ = input_.subspan(size);
    ++delivered;
    return TftpDatagram{size, size > buffer.size(), (source & 0x80) != 0 ? kStranger : kClock,
                        kPorts[source & 3]};
  }

  std::size_t delivered = 0;

 private:
  std::span<const std::uint8_t> input_;
};

class FuzzSocket : public TftpSocket {
 public:
  explicit FuzzSocket(Records& records) : records_(records) {}
  bool Bind(std::uint32_t, std::uint16_t) override { return true; }
  bool SendTo(std::span<const std::uint8_t> bytes, std::uint32_t ip, std::uint16_t) override {
    // Nothing may go anywhere but the clock, and no packet beyond a full data block.
    if (ip != kClock || bytes.size() > 516) std::abort();
    return true;
  }
  std::optional<TftpDatagram> Receive(std::span<std::uint8_t> buffer, std::chrono::microseconds) override {
    return records_.Next(buffer);
  }

 private:
  Records& records_;
};

class PatternSource : public TftpFileSource {
 public:
  explicit PatternSource(std::uint64_t length) : length_(length) {}
  std::uint64_t Length() const override { return length_; }
  std::optional<std::size_t> ReadAt(std::uint64_t position, std::span<std::uint8_t> buffer) override {
    std::size_t count = 0;
    for (; count < buffer.size() && position + count < length_; ++count) {
      buffer[count] = static_cast<std::uint8_t>(position + count);
    }
    return count;
  }

 private:
  std::uint64_t length_;
};

class CountingSink : public TftpFileSink {
 public:
  explicit CountingSink(std::size_t& stored) : stored_(stored) {}
  bool Append(std::span<const std::uint8_t> bytes) override {
    if (bytes.size() > 512) std::abort();
    stored_ += bytes.size();
    return true;
  }
  bool Commit() override { return true; }

 private:
  std::size_t& stored_;
};

class FuzzIo : public TftpIo {
 public:
  FuzzIo(Records& records, std::uint64_t length) : records_(records), length_(length) {}
  std::unique_ptr<TftpSocket> OpenSocket() override { return std::make_unique<FuzzSocket>(records_); }
  std::unique_ptr<TftpFileSource> OpenForReading(const std::string&) override {
    return std::make_unique<PatternSource>(length_);
  }
  std::unique_ptr<TftpFileSink> CreateNew(const std::string&) override {
    return std::make_unique<CountingSink>(stored);
  }
  std::size_t stored = 0;

 private:
  Records& records_;
  std::uint64_t length_;
};

class FinishWatch : public UploadProgress {
 public:
  void Start() override {}
  void Block(std::uint64_t, std::uint64_t) override {}
  void Finish(std::uint64_t, std::uint64_t) override { finished = true; }
  bool finished = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const bool download = (data[0] & 1U) != 0;
  const std::uint64_t length = static_cast<std::uint64_t>((data[0] >> 1) << 8 | data[1]) % 4000;
  Records records(std::span(data + 2, size - 2));
  FuzzIo io(records, length);
  TftpClient client(CodePage::Cp1252, TftpTimings{}, io);
  if (download) {
    client.DownloadFile(kClock, "log.txt", "/nonexistent");
    // Each stored block came from one datagram of at most 512 data bytes.
    if (io.stored > records.delivered * 512) std::abort();
  } else {
    FinishWatch progress;
    const int result = client.UploadFile(kClock, "/fw/fw.bin", progress);
    // Success is reported only with the last block acknowledged.
    if (result == 0 && !progress.finished) std::abort();
  }
  return 0;
}
