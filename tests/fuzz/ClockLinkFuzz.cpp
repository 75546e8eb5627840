// Feeds datagrams to the frame handler: every reply decoder, the search reply
// path and the modify results. Input layout:
//   byte 0   the sender: below 192 one of three known clocks, else a stranger
//   byte 1   0x51 ('Q'): the rest, from byte 1 on, is the datagram as it came
//            off the wire, checksum and all.
//            Anything else is a framing byte, and the rest is one body that
//            goes out once under every command code, framed with a checksum
//            that passes, so that random bodies reach the decoders instead of
//            dying at the checksum:
//              bit 0  checksum high byte first (as some clocks send it)
//              bit 1  the next byte is the length byte (else the true length)
//              bit 2  a magic other than 'Q' 'K'
// After every datagram the handler's outcome is checked against what its
// command code allows.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "link/ClockLink.h"
#include "link/Crc16.h"
#include "link/ReplyDecoders.h"

namespace {

using namespace marindo;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

class OddNeighbours : public NeighbourLookup {
 public:
  std::optional<MacAddress> LookupMac(std::uint32_t ip) override {
    if ((ip & 1U) == 0) return std::nullopt;
    return MacAddress{0x02, 0, 0, 0, 0, static_cast<std::uint8_t>(ip)};
  }
};
class SomePortsOpen : public PortProbe {
 public:
  bool Accepts(std::uint32_t ip, std::uint16_t, std::chrono::milliseconds) override { return (ip & 2U) != 0; }
};
class NoAdapters : public AdapterSource {
 public:
  std::vector<Adapter> Adapters() const override { return {}; }
};
struct World {
  OddNeighbours neighbours;
  SomePortsOpen probe;
  NoAdapters adapters;
  ClockNames names{std::filesystem::temp_directory_path() / "marindo-fuzz-absent" / "Tessaly.ini",
                   CodePage::Cp936};
  ClockLink link{LinkServices{adapters, neighbours, probe, names}, [] {
                   LinkTimings t;
                   t.bindIp = 0x7F000001;
                   t.localPort = 0;
                   return t;
                 }()};
};

constexpr std::uint32_t kKnown[] = {0x0A000001, 0x0A000002, 0x0A000003};
constexpr char kKnownLabel[] = "known";
// Strangers' search replies add records; the list starts over beyond this.
constexpr std::size_t kMostClocks = 16;
// Every code a clock may send, and one on each side of them.
constexpr std::uint8_t kLastCode = 0x12;

constexpr std::uint8_t kCrcHighFirst = 0x01;
constexpr std::uint8_t kLengthGiven = 0x02;
constexpr std::uint8_t kOtherMagic = 0x04;

void Reset(ClockLink& link) {
  link.ClearClocks();
  for (std::uint32_t ip : kKnown) {
    ClockRecord record;
    record.ip = ip;
    record.firmwareMajor = static_cast<std::uint8_t>(ip & 3U);
    record.label = kKnownLabel;
    link.Clocks().Append(record);
  }
}

std::vector<ClockRecord> Snapshot(const ClockList& clocks) { return {clocks.begin(), clocks.end()}; }

// What one datagram may do: known clocks keep their labels, at most one
// record is added and only by a search reply, only a modify result carries a
// verdict, and a settings reply from an unlisted sender changes nothing.
void Deliver(World& world, std::span<const std::uint8_t> datagram, std::uint32_t sender) {
  const std::optional<ReceivedFrame> frame = AcceptDatagram(datagram);
  const ReplyHandling handling = frame ? HandlingOf(frame->Code()) : ReplyHandling::Dropped;
  const bool listed = world.link.FindByIp(sender) != nullptr;
  const bool leavesTheList = handling == ReplyHandling::Dropped || handling == ReplyHandling::Ignored ||
                             (handling == ReplyHandling::Stored && !listed);
  const std::vector<ClockRecord> before = leavesTheList ? Snapshot(world.link.Clocks()) : std::vector<ClockRecord>{};
  const std::size_t countBefore = world.link.Clocks().Count();

  const std::optional<HandledFrame> handled = world.link.HandleFrame(datagram, sender);

  const std::size_t count = world.link.Clocks().Count();
  Check(count == countBefore || (handling == ReplyHandling::Search && count == countBefore + 1));
  for (std::uint32_t ip : kKnown) {
    const ClockRecord* record = world.link.FindByIp(ip);
    Check(record != nullptr && record->label == kKnownLabel);
  }
  Check(handled.has_value() == (handling != ReplyHandling::Dropped));
  if (handled) {
    Check(handled->code == frame->Code() && handled->sender == sender);
    Check(handled->accepted == (handling == ReplyHandling::ModifyResult && ModifyAccepted(frame->Payload())));
  }
  if (leavesTheList) Check(Snapshot(world.link.Clocks()) == before);
}

// The body under `code`, framed as a clock would frame it, cut to what the
// receive buffer holds.
std::vector<std::uint8_t> Framed(std::uint8_t code, std::uint8_t framing, std::uint8_t lengthByte,
                                 std::span<const std::uint8_t> body) {
  std::vector<std::uint8_t> datagram;
  const bool otherMagic = (framing & kOtherMagic) != 0;
  datagram.push_back(otherMagic ? 0x00 : ClockFrame::kMagic0);
  datagram.push_back(otherMagic ? 0xFF : ClockFrame::kMagic1);
  datagram.push_back(ClockFrame::kFlagsRequest);
  datagram.push_back(lengthByte);
  datagram.push_back(code);
  const std::size_t room = ClockLink::kReceiveBufferSize - datagram.size() - 2;
  const std::span<const std::uint8_t> kept = body.first(std::min(body.size(), room));
  datagram.insert(datagram.end(), kept.begin(), kept.end());
  const std::uint16_t crc = Crc16Modbus(datagram);
  const auto low = static_cast<std::uint8_t>(crc & 0xFFU);
  const auto high = static_cast<std::uint8_t>(crc >> 8);
  if ((framing & kCrcHighFirst) != 0) {
    datagram.insert(datagram.end(), {high, low});
  } else {
    datagram.insert(datagram.end(), {low, high});
  }
  return datagram;
}

void DeliverUnderEveryCode(World& world, std::uint8_t framing, std::span<const std::uint8_t> body,
                           std::uint32_t sender) {
  std::uint8_t lengthByte = 0;
  if ((framing & kLengthGiven) != 0) {
    if (body.empty()) return;
    lengthByte = body[0];
    body = body.subspan(1);
  }
  for (std::uint8_t code = 0; code <= kLastCode; ++code) {
    if ((framing & kLengthGiven) == 0) {
      lengthByte = static_cast<std::uint8_t>(std::min<std::size_t>(body.size() + 1, ClockFrame::kMaxPayload));
    }
    Deliver(world, Framed(code, framing, lengthByte, body), sender);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static World world;
  if (size < 2) return 0;
  if (world.link.Clocks().Count() > kMostClocks || world.link.Clocks().Count() < std::size(kKnown)) Reset(world.link);
  const std::uint32_t sender = data[0] < 192 ? kKnown[data[0] % std::size(kKnown)] : 0x0A000100U + data[0];
  const std::span<const std::uint8_t> rest(data + 1, size - 1);
  if (rest[0] == ClockFrame::kMagic0) {
    if (rest.size() <= ClockLink::kReceiveBufferSize) Deliver(world, rest, sender);
    return 0;
  }
  DeliverUnderEveryCode(world, rest[0], rest.subspan(1), sender);
  return 0;
}
