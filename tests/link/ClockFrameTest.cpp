#include "link/ClockFrame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "link/Crc16.h"

namespace marindo {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ToVector(std::span<const std::uint8_t> bytes) { return Bytes(bytes.begin(), bytes.end()); }
Bytes Wire(const ClockFrame& frame) { return ToVector(frame.Bytes()); }

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes Zeros(std::size_t n) { return Bytes(n, 0x00); }

// Bit-by-bit CRC-16/MODBUS, written apart from the table form under test.
std::uint16_t BitwiseCrc(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = 0xFFFF;
  for (std::uint8_t b : bytes) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) {
      crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : static_cast<std::uint16_t>(crc >> 1);
    }
  }
  return crc;
}

TEST(Crc16ModbusTest, CheckValueOfStandardText) {
  const std::string text = "123456789";
  const Bytes bytes(text.begin(), text.end());
  EXPECT_EQ(Crc16Modbus(bytes), 0x4B37);
}

TEST(Crc16ModbusTest, AgreesWithBitwiseFormOnEveryLength) {
  Bytes bytes;
  for (int i = 0; i < 300; ++i) {
    EXPECT_EQ(Crc16Modbus(bytes), BitwiseCrc(bytes)) << "length " << i;
    bytes.push_back(static_cast<std::uint8_t>(i * 37 + 11));
  }
}

TEST(Crc16ModbusTest, EmptyInputIsInitialValue) { EXPECT_EQ(Crc16Modbus({}), 0xFFFF); }

struct WorkedExample {
  const char* name;
  Bytes payload;
  std::uint8_t flags;
  Bytes wire;
};

class WorkedExampleTest : public ::testing::TestWithParam<WorkedExample> {};

TEST_P(WorkedExampleTest, BuildsExactBytes) {
  const WorkedExample& ex = GetParam();
  const ClockFrame frame = ClockFrame::Build(ex.payload, ex.flags);
  EXPECT_EQ(ToVector(frame.Bytes()), ex.wire);
  EXPECT_EQ(frame.Code(), ex.payload.front());
  EXPECT_EQ(ToVector(frame.Payload()), ex.payload);
}

TEST_P(WorkedExampleTest, IsAcceptedWhenReceived) {
  const WorkedExample& ex = GetParam();
  const auto received = AcceptDatagram(ex.wire);
  ASSERT_TRUE(received.has_value());
  EXPECT_EQ(received->Code(), ex.payload.front());
  EXPECT_EQ(received->LengthByte(), ex.payload.size());
  EXPECT_EQ(ToVector(received->Payload()), ex.payload);
}

const WorkedExample kExamples[] = {
    {"QueryBasic", {0x02}, 0x80, {0x51, 0x4B, 0x80, 0x01, 0x02, 0x4F, 0x91}},
    {"SearchRequest",
     Concat({{0x01}, Zeros(20)}),
     0xC0,
     Concat({{0x51, 0x4B, 0xC0, 0x15, 0x01}, Zeros(20), {0xD9, 0x2E}})},
    // 24-hour, UTC +8, dynamic, mask 255.255.255.0, gateway and DNS
    // 192.168.1.1, brightness Normal, no DST, no energy saving.
    {"ModifyBasic",
     Concat({{0x06, 0x40, 0xD0}, Zeros(4), {0xFF, 0xFF, 0xFF, 0x00}, {0xC0, 0xA8, 0x01, 0x01},
             {0xC0, 0xA8, 0x01, 0x01}, Zeros(8)}),
     0x80,
     Concat({{0x51, 0x4B, 0x80, 0x1B, 0x06, 0x40, 0xD0}, Zeros(4), {0xFF, 0xFF, 0xFF, 0x00},
             {0xC0, 0xA8, 0x01, 0x01}, {0xC0, 0xA8, 0x01, 0x01}, Zeros(8), {0x4D, 0x00}})},
    // Address form: 10.0.0.1, 10.0.0.2 and three blank rows.
    {"ModifyNtpAddresses",
     Concat({{0x07, 0x00, 0x0A, 0x00, 0x00, 0x01, 0x0A, 0x00, 0x00, 0x02}, Zeros(12)}),
     0x80,
     Concat({{0x51, 0x4B, 0x80, 0x16, 0x07, 0x00, 0x0A, 0x00, 0x00, 0x01, 0x0A, 0x00, 0x00, 0x02},
             Zeros(12), {0x27, 0x5C}})},
    // Count-down 8:30:00 for 1:00:00, degrees C, radio open ID 5, time 5 s
    // and humiture 3 s alternately.
    {"ModifyDisplay",
     {0x09, 0x08, 0x1E, 0x00, 0x01, 0x00, 0x00, 0x01, 0x85, 0x00, 0x00, 0x00, 0x53, 0x30},
     0x80,
     {0x51, 0x4B, 0x80, 0x0E, 0x09, 0x08, 0x1E, 0x00, 0x01, 0x00, 0x00, 0x01, 0x85, 0x00, 0x00,
      0x00, 0x53, 0x30, 0xC4, 0x56}},
    // Short text form: HELLO, alternating every 3 s.
    {"ModifyShortText",
     Concat({{0x0B, 0x00, 0x83, 'H', 'E', 'L', 'L', 'O'}, Zeros(28)}),
     0x80,
     Concat({{0x51, 0x4B, 0x80, 0x24, 0x0B, 0x00, 0x83, 0x48, 0x45, 0x4C, 0x4C, 0x4F}, Zeros(28),
             {0x41, 0x7D}})},
    {"UpgradeAnnouncement", {0x0C, 0x01}, 0x80, {0x51, 0x4B, 0x80, 0x02, 0x0C, 0x01, 0xE5, 0x54}},
};

INSTANTIATE_TEST_SUITE_P(ClockFrame, WorkedExampleTest, ::testing::ValuesIn(kExamples),
                         [](const auto& example) { return std::string(example.param.name); });

TEST(ClockFrameTest, QueryAndSearchHelpersMatchTheirWireForm) {
  EXPECT_EQ(Wire(ClockFrame::Query(0x02)),
            (Bytes{0x51, 0x4B, 0x80, 0x01, 0x02, 0x4F, 0x91}));
  const Bytes search = Wire(ClockFrame::SearchRequest());
  ASSERT_EQ(search.size(), 27u);
  EXPECT_EQ(search, Concat({{0x51, 0x4B, 0xC0, 0x15, 0x01}, Zeros(20), {0xD9, 0x2E}}));
}

TEST(ClockFrameTest, EmptyBellTableWrite) {
  Bytes payload{0x08};
  for (std::uint8_t bell = 0; bell < 30; ++bell) {
    const Bytes entry{bell, 0, 0, 0, 0, 0};
    payload.insert(payload.end(), entry.begin(), entry.end());
  }
  const Bytes wire = Wire(ClockFrame::Build(payload));
  ASSERT_EQ(wire.size(), 187u);
  EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 5), (Bytes{0x51, 0x4B, 0x80, 0xB5, 0x08}));
  EXPECT_EQ(Bytes(wire.begin() + 5, wire.begin() + 11), Zeros(6));
  EXPECT_EQ(Bytes(wire.begin() + 179, wire.begin() + 185), (Bytes{0x1D, 0, 0, 0, 0, 0}));
  const std::uint16_t crc = BitwiseCrc(std::span(wire).first(185));
  EXPECT_EQ(wire[185], crc & 0xFF);
  EXPECT_EQ(wire[186], crc >> 8);
}

TEST(ClockFrameTest, LongestPayloadFillsTheFrame) {
  const Bytes payload(255, 0xAB);
  const ClockFrame frame = ClockFrame::Build(payload);
  EXPECT_EQ(frame.Bytes().size(), 261u);
  EXPECT_TRUE(AcceptDatagram(frame.Bytes()).has_value());
}

// A received frame with its checksum in either byte order, or spoiled.
Bytes WithTrailer(Bytes body, bool highFirst) {
  const std::uint16_t crc = BitwiseCrc(body);
  const auto low = static_cast<std::uint8_t>(crc & 0xFF);
  const auto high = static_cast<std::uint8_t>(crc >> 8);
  body.push_back(highFirst ? high : low);
  body.push_back(highFirst ? low : high);
  return body;
}

TEST(AcceptDatagramTest, ChecksumInEitherByteOrderIsAccepted) {
  const Bytes body{0x51, 0x4B, 0x80, 0x02, 0x06, 0x01};
  EXPECT_TRUE(AcceptDatagram(WithTrailer(body, false)).has_value());
  EXPECT_TRUE(AcceptDatagram(WithTrailer(body, true)).has_value());
}

TEST(AcceptDatagramTest, TrailerMatchingNeitherOrderIsDropped) {
  Bytes wire = WithTrailer({0x51, 0x4B, 0x80, 0x02, 0x06, 0x01}, false);
  wire.back() ^= 0x01;
  EXPECT_FALSE(AcceptDatagram(wire).has_value());
  wire = WithTrailer({0x51, 0x4B, 0x80, 0x02, 0x06, 0x01}, false);
  wire[5] = 0x00;  // payload changed after the checksum was made
  EXPECT_FALSE(AcceptDatagram(wire).has_value());
}

TEST(AcceptDatagramTest, MagicFlagsAndLengthAreNotChecked) {
  // Wrong magic, odd flags, and a length byte of 200 on a 2-byte payload: the
  // checksum over the datagram as received decides alone.
  const Bytes wire = WithTrailer({0x00, 0x00, 0x13, 0xC8, 0x05, 0x01}, false);
  const auto received = AcceptDatagram(wire);
  ASSERT_TRUE(received.has_value());
  EXPECT_EQ(received->LengthByte(), 200);
  EXPECT_EQ(received->Code(), 0x05);
  EXPECT_EQ(ToVector(received->Payload()), (Bytes{0x05, 0x01}));
}

TEST(AcceptDatagramTest, TooShortDatagramsAreDroppedUnread) {
  // Each datagram sits in a heap block of exactly its own size, so the
  // sanitizer build catches any read past its end.
  for (std::size_t size = 0; size < ReceivedFrame::kMinSize; ++size) {
    std::vector<std::uint8_t> datagram(size, 0x00);
    if (size >= 2) {
      // Make the trailer a valid checksum of what comes before it.
      const std::uint16_t crc = BitwiseCrc(std::span(datagram).first(size - 2));
      datagram[size - 2] = static_cast<std::uint8_t>(crc & 0xFF);
      datagram[size - 1] = static_cast<std::uint8_t>(crc >> 8);
    }
    EXPECT_FALSE(AcceptDatagram(datagram).has_value()) << "size " << size;
  }
}

TEST(AcceptDatagramTest, SevenByteFrameIsTheShortestAccepted) {
  const Bytes wire = WithTrailer({0x51, 0x4B, 0x80, 0x01, 0x09}, true);
  const auto received = AcceptDatagram(wire);
  ASSERT_TRUE(received.has_value());
  EXPECT_EQ(ToVector(received->Payload()), (Bytes{0x09}));
}

}  // namespace
}  // namespace marindo
