#include "settings/SectionPlan.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <span>
#include <string_view>
#include <vector>

#include "link/CommandCodes.h"
#include "link/ReplyDecoders.h"

namespace marindo {
namespace {

namespace d = wire::display;
namespace t = wire::text;

std::uint8_t High4(std::uint8_t byte) { return static_cast<std::uint8_t>(byte >> 4); }
std::uint8_t Low4(std::uint8_t byte) { return static_cast<std::uint8_t>(byte & 0x0FU); }

// Basic settings, servers and bells go out in the layout their query's reply
// comes back in: the reply's decoder reads them.
bool LayAsReply(std::span<const std::uint8_t> payload, std::uint8_t query, ClockRecord& record) {
  std::vector<std::uint8_t> reply(payload.begin(), payload.end());
  reply[0] = query;
  return StoreReply(reply, static_cast<std::uint8_t>(reply.size()), record);
}

// The display modify carries the radio byte where the reply has the
// temperature, and no sensor readings at all.
bool LayDisplay(std::span<const std::uint8_t> p, ClockRecord& r) {
  if (p.size() < d::kSize) return false;
  std::copy_n(&p[d::kCountdownStart], 3, r.countdownStart.begin());
  std::copy_n(&p[d::kCountdownDuration], 3, r.countdownDuration.begin());
  r.tempUnit = p[d::kTempUnit];
  r.radio = p[d::kModifyRadio];
  r.displayTimes[0] = High4(p[d::kTimes]);
  r.displayTimes[2] = Low4(p[d::kTimes]);
  r.displayTimes[1] = High4(p[d::kHumitureTime]);
  return true;
}

// The text modify's field is as wide as the clock's form, then one zero byte;
// the clock keeps its lead byte and its form.
bool LayText(std::span<const std::uint8_t> p, ClockRecord& r) {
  if (p.size() < t::kHeader) return false;
  r.textRoll = (p[t::kMode] & 0x80U) != 0 ? 1 : 0;
  r.textAlternateSeconds = static_cast<std::uint8_t>(p[t::kMode] & 0x7FU);
  r.text.fill('\0');
  const std::span<const std::uint8_t> field = p.subspan(t::kHeader);
  std::copy_n(field.begin(), std::min(field.size(), r.text.size()), r.text.begin());
  return true;
}

// Which section a modify code writes.
std::optional<Section> SectionOfModify(std::uint8_t modify) {
  switch (modify) {
    case code::kModifyBasic:
      return Section::Basic;
    case code::kModifyServers:
      return Section::Ntp;
    case code::kModifyDisplay:
      return Section::Display;
    case code::kModifyText:
      return Section::Text;
    case code::kModifyBells:
      return Section::Bells;
    default:
      return std::nullopt;
  }
}

void CollectChanges(const std::string& path, const Json* before, const Json* after, std::vector<FieldChange>& out);

bool IsSet(const std::string& path) { return path.ends_with(".days"); }

void CollectObject(const std::string& path, const Json* before, const Json* after, std::vector<FieldChange>& out) {
  // The keys in the order the section prints them: a key only the old value
  // has keeps its place among the new value's keys.
  std::vector<std::string> keys;
  if (after != nullptr) {
    for (const auto& [key, value] : after->items()) keys.push_back(key);
  }
  if (before != nullptr) {
    auto next = keys.begin();
    for (const auto& [key, value] : before->items()) {
      const auto found = std::ranges::find(keys, key);
      if (found != keys.end()) {
        next = found + 1;
      } else {
        next = keys.insert(next, key) + 1;
      }
    }
  }
  for (const std::string& key : keys) {
    const Json* old = before != nullptr && before->contains(key) ? &(*before)[key] : nullptr;
    const Json* now = after != nullptr && after->contains(key) ? &(*after)[key] : nullptr;
    CollectChanges(path.empty() ? key : path + "." + key, old, now, out);
  }
}

void CollectArray(const std::string& path, const Json* before, const Json* after, std::vector<FieldChange>& out) {
  const std::size_t count = std::max(before != nullptr ? before->size() : 0, after != nullptr ? after->size() : 0);
  for (std::size_t i = 0; i < count; ++i) {
    const Json* old = before != nullptr && i < before->size() ? &(*before)[i] : nullptr;
    const Json* now = after != nullptr && i < after->size() ? &(*after)[i] : nullptr;
    CollectChanges(path + "[" + std::to_string(i) + "]", old, now, out);
  }
}

void CollectChanges(const std::string& path, const Json* before, const Json* after, std::vector<FieldChange>& out) {
  if (before != nullptr && after != nullptr && *before == *after) return;
  const Json* shape = before != nullptr ? before : after;
  const bool sameKind = before == nullptr || after == nullptr || before->type() == after->type();
  if (sameKind && shape->is_object()) return CollectObject(path, before, after, out);
  if (sameKind && shape->is_array() && !IsSet(path)) return CollectArray(path, before, after, out);
  FieldChange change{path, std::nullopt, std::nullopt};
  if (before != nullptr) change.before = *before;
  if (after != nullptr) change.after = *after;
  out.push_back(std::move(change));
}

// What the clock measures or is: no frame writes it, and a new unit makes the
// clock measure anew rather than relabel the old reading.
constexpr std::array<std::string_view, 4> kReadOnly{"display.sensor", "display.temperature", "display.humidity",
                                                    "text.limit"};

std::string Shown(const std::optional<Json>& value) {
  if (!value) return "(none)";
  return value->dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

std::optional<ClockRecord> RecordAfterModify(const ClockRecord& current, const ClockFrame& frame) {
  const std::span<const std::uint8_t> payload = frame.Payload();
  ClockRecord after = current;
  bool laid = false;
  switch (frame.Code()) {
    case code::kModifyBasic:
      laid = LayAsReply(payload, code::kQueryBasic, after);
      break;
    case code::kModifyServers:
      laid = LayAsReply(payload, code::kQueryServers, after);
      break;
    case code::kModifyBells:
      laid = LayAsReply(payload, code::kQueryBells, after);
      break;
    case code::kModifyDisplay:
      laid = LayDisplay(payload, after);
      break;
    case code::kModifyText:
      laid = LayText(payload, after);
      break;
    default:
      break;
  }
  if (!laid) return std::nullopt;
  return after;
}

std::vector<FieldChange> PlanSection(const ClockRecord& current, Section section, const ClockFrame& frame,
                                     CodePage cp) {
  if (SectionOfModify(frame.Code()) != section) return {};
  const std::optional<ClockRecord> after = RecordAfterModify(current, frame);
  if (!after) return {};
  std::vector<FieldChange> changes = JsonChanges(std::string(SectionName(section)), SectionToJson(current, section, cp),
                                                 SectionToJson(*after, section, cp));
  std::erase_if(changes, [](const FieldChange& change) {
    return std::ranges::find(kReadOnly, change.field) != kReadOnly.end();
  });
  return changes;
}

std::vector<FieldChange> JsonChanges(const std::string& path, const Json& before, const Json& after) {
  std::vector<FieldChange> changes;
  CollectChanges(path, &before, &after, changes);
  return changes;
}

std::string FieldChangeText(const FieldChange& change) {
  return change.field + ": " + Shown(change.before) + " \u2192 " + Shown(change.after);
}

std::string FrameHex(const ClockFrame& frame) {
  std::string hex;
  for (std::uint8_t byte : frame.Bytes()) {
    std::array<char, 3> pair{};
    std::snprintf(pair.data(), pair.size(), "%02x", byte);
    hex += pair.data();
  }
  return hex;
}

}  // namespace marindo
