// Feeds settings files through the checks and the frame builders, the road an
// operator's JSON takes to a clock. Input layout:
//   byte 0     the code page
//   bytes 1-8  select the current settings of the clock the file is laid over
//              (they are stored as the body of every settings reply)
//   rest       the JSON text
// Promises: the checks never throw or crash; a file they pass builds a frame
// of the section's own code and size, or a refusal, for any clock.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "FuzzSupport.h"
#include "link/ReplyDecoders.h"
#include "settings/SettingsJson.h"

namespace {

using namespace marindo;
using fuzz::Check;

constexpr std::size_t kHeader = 9;

// Every settings reply with the same short body repeated to the reply's length.
ClockRecord RecordFrom(std::span<const std::uint8_t> seed, std::uint8_t firmwareMajor) {
  ClockRecord record;
  record.firmwareMajor = firmwareMajor;
  record.newPlatform = firmwareMajor >= 4;
  record.radio = seed[0];
  for (const std::uint8_t code : std::to_array<std::uint8_t>({0x02, 0x03, 0x04, 0x05, 0x0A, 0x10})) {
    std::vector<std::uint8_t> payload(code == 0x04 ? 181 : code == 0x0A ? 67 : 62);
    payload[0] = code;
    for (std::size_t i = 1; i < payload.size(); ++i) payload[i] = seed[i % seed.size()];
    StoreReply(payload, static_cast<std::uint8_t>(payload.size()), record);
  }
  return record;
}

std::uint8_t CodeOf(Section section) {
  switch (section) {
    case Section::Basic:
      return 0x06;
    case Section::Ntp:
      return 0x07;
    case Section::Display:
      return 0x09;
    case Section::Text:
      return 0x0B;
    case Section::Bells:
      return 0x08;
    case Section::System:
      break;
  }
  return 0;
}

void BuildEvery(const Json& document, const ClockRecord& record, CodePage cp) {
  for (Section section : kAllSections) {
    const std::string name(SectionName(section));
    if (!document.contains(name)) continue;
    const Json& fields = document[name];
    if (!CheckSectionJson(section, fields).empty() || !SectionWritable(section)) continue;
    const auto built = BuildSectionFrame(record, section, fields, cp);
    if (const auto* frame = std::get_if<ClockFrame>(&built)) {
      Check(frame->Code() == CodeOf(section));
      Check(frame->Bytes().size() == static_cast<std::size_t>(frame->Bytes()[3]) + ClockFrame::kOverhead);
    } else {
      Check(!std::get<std::string>(built).empty());
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeader) return 0;
  const CodePage cp = fuzz::CodePageOf(data[0]);
  const std::span<const std::uint8_t> seed(data + 1, kHeader - 1);
  const std::string text(reinterpret_cast<const char*>(data + kHeader), size - kHeader);
  const Json document = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (document.is_discarded() || !document.is_object()) return 0;
  for (std::uint8_t major : {std::uint8_t{1}, std::uint8_t{4}}) {
    const ClockRecord record = RecordFrom(seed, major);
    BuildEvery(document, record, cp);
    // What a clock reports must read back into a file that passes the checks.
    for (Section section : kAllSections) Check(CheckSectionJson(section, SectionToJson(record, section, cp)).empty());
  }
  return 0;
}
