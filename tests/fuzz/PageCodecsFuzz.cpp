// Feeds settings replies through the record into the pages' codecs, the road
// a clock's bytes take to the operator and back: the basic settings' texts,
// the NTP slots, the display texts and the bell rows, each read from a record
// filled by the reply decoders and built back into the modify frame the page
// would send. Input layout:
//   byte 0  the code page
//   byte 1  the record's firmware major version (it decides the text form)
//   rest    one reply body, stored under every settings code

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "link/ReplyDecoders.h"
#include "platform/Ipv4.h"
#include "settings/BasicSettings.h"
#include "settings/BellEntry.h"
#include "settings/OtherFrames.h"
#include "settings/ServerFrame.h"

namespace {

using namespace marindo;
using fuzz::Check;

constexpr std::uint8_t kSettingsCodes[] = {0x02, 0x03, 0x04, 0x05, 0x0A, 0x0E, 0x10};

// The payload as HandleFrame passes it: the code, then the body, the length
// byte telling the truth.
bool Store(std::uint8_t code, std::span<const std::uint8_t> body, ClockRecord& record) {
  std::vector<std::uint8_t> payload{code};
  payload.insert(payload.end(), body.begin(), body.end());
  const auto lengthByte = static_cast<std::uint8_t>(std::min<std::size_t>(payload.size(), 255));
  return StoreReply(payload, lengthByte, record);
}

// The zone the page shows must go back as the zone byte the clock sent.
void CheckZone(const ClockRecord& record) {
  const std::string zone = ZoneText(record);
  Check(zone.empty() == (record.zoneMinuteCode > 2));
  if (zone.empty() || zone == "UTC  0") return;
  const auto sent = static_cast<std::uint8_t>((record.zoneNegative != 0 ? 0x80U : 0U) |
                                              (unsigned{record.zoneHours} << 3) |
                                              (unsigned{record.zoneMinuteCode} << 1));
  Check(ZoneByte(TrimTrailingBlanks(zone)) == sent);
}

void CheckBasicTexts(const ClockRecord& record) {
  CheckZone(record);
  (void)DstIsOn(record);
  (void)EnergySavingIsOn(record);
  Check(FormatFirmwareVersion(record.firmwareMajor, record.firmwareMinor).size() <= 7);
  Check(FormatSyncTime(record.lastSyncTime).size() == 19);
  if (record.brightness < kBrightnessChoices) {
    Check(BrightnessNumber(kBrightnessNames[record.brightness]) == record.brightness);
  }
}

bool IsHostNameText(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
  });
}

// Addresses the clock sent read back as the same numbers; names go back in
// their 30-byte fields, unchanged when they are plain host names.
void CheckServers(const ClockRecord& record, std::span<const std::uint8_t> body, CodePage cp) {
  if (record.ntpMode == 0 && body.size() >= 21 && body[0] == 0) {
    for (std::size_t i = 0; i < ClockRecord::kNtpSlots; ++i) {
      Check(SlotAddress(record.ntpServers[i]) == ReadBe32(&body[1 + 4 * i]));
    }
  }
  const std::string first = SlotName(record.ntpServers[0], cp);
  const std::string second = SlotName(record.ntpServers[1], cp);
  Check(fuzz::IsUtf8(first) && fuzz::IsUtf8(second));
  const ClockFrame frame = BuildServerNameFrame(first, second, cp);
  const std::span<const std::uint8_t> payload = frame.Payload();
  Check(frame.Bytes().size() == 68 && payload[0] == code::kModifyServers && payload[1] == 1);
  for (std::size_t slot = 0; slot < kServerNameRows; ++slot) {
    const NtpSlot& sent = record.ntpServers[slot];
    const std::string name = TextBeforeZero(sent.name.data(), sent.name.size());
    if (!IsHostNameText(name)) continue;
    const auto field = payload.subspan(2 + slot * kServerNameBytes, kServerNameBytes);
    Check(std::equal(name.begin(), name.end(), field.begin()));
    Check(std::all_of(field.begin() + static_cast<std::ptrdiff_t>(name.size()), field.end(),
                      [](std::uint8_t b) { return b == 0; }));
  }
}

void CheckDisplay(const ClockRecord& record, CodePage cp) {
  (void)TemperatureText(record.humiture, record.tempUnit);
  const std::string humidity = HumidityText(record.humiture);
  (void)HasHumitureSensor(record.tempUnit, humidity);

  const std::string text = DisplayTextOf(record, cp);
  Check(fuzz::IsUtf8(text));
  const DisplayTextForm form = record.longText ? DisplayTextForm::Long : DisplayTextForm::Short;
  const ClockFrame frame = BuildTextFrameFrom(form, record.textRoll != 0, record.textAlternateSeconds, text, cp);
  const std::span<const std::uint8_t> payload = frame.Payload();
  const std::size_t width = DisplayTextFieldBytes(form);
  Check(payload.size() == 3 + width + 1 && payload[0] == code::kModifyText && payload.back() == 0);
  const std::string sent = TextBeforeZero(record.text.data(), record.text.size());
  if (IsHostNameText(sent) && sent.size() <= width) {
    Check(std::equal(sent.begin(), sent.end(), payload.begin() + 3));
  }
}

// What a bell sub-page shows of an entry, and writes back when the operator
// presses Modify without touching it.
BellEntry Shown(const BellEntry& entry, int position) {
  const BellRow row = RowFromEntry(entry);
  BellEntry back{};
  back.index = static_cast<std::uint8_t>(position);
  back.hour = row.hour.value_or(0);
  back.minute = row.minute.value_or(0);
  back.second = row.second.value_or(0);
  back.flags = entry.flags;
  back.duration = row.duration.value_or(0);
  return back;
}

void CheckBells(const ClockRecord& record) {
  BellTable table;
  std::copy(record.bells.begin(), record.bells.end(), table.begin());
  BellRows rows;
  for (int position = 0; position < kBellCount; ++position) {
    rows[static_cast<std::size_t>(position)] = RowFromEntry(BellAt(table, position));
  }
  BellTable written{};
  const std::optional<std::string> refusal = ReadBellRows(rows, written);
  Check(!refusal || !refusal->empty());
  if (refusal) return;
  for (int position = 0; position < kBellCount; ++position) {
    Check(BellAt(written, position) == Shown(BellAt(table, position), position));
  }
  const ClockFrame frame = BellWriteFrame(written);
  Check(frame.Bytes().size() == 187);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const CodePage cp = fuzz::CodePageOf(data[0]);
  const std::span<const std::uint8_t> body(data + 2, std::min<std::size_t>(size - 2, 249));
  ClockRecord record;
  record.firmwareMajor = data[1];
  for (std::uint8_t code : kSettingsCodes) {
    (void)Store(code, body, record);
  }
  CheckBasicTexts(record);
  CheckServers(record, body, cp);
  CheckDisplay(record, cp);
  CheckBells(record);
  return 0;
}
