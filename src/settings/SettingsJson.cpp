#include "settings/SettingsJson.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <initializer_list>
#include <span>

#include "platform/Ipv4.h"
#include "settings/SystemSettings.h"

namespace marindo {
namespace {

using Problems = std::vector<std::string>;
using Built = std::variant<ClockFrame, std::string>;
using Names = std::span<const std::string_view>;

constexpr std::array<std::string_view, kAllSections.size()> kSectionNames{"basic", "ntp",   "display",
                                                                          "text",  "bells", "system"};

// A bell's days by their flag bits, Sunday bit 0.
constexpr std::array<std::string_view, kDaysPerWeek> kBellDays{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

constexpr std::array<std::string_view, 2> kAddressingModes{"static", "dynamic"};
constexpr std::array<std::string_view, 2> kEnergyDisplays{"dim", "close"};
constexpr std::array<std::string_view, 2> kServerModes{"addresses", "names"};
constexpr std::array<std::string_view, 2> kUnits{"C", "F"};
constexpr std::array<std::string_view, 2> kTextModes{"roll", "alternate"};

constexpr long long kLastAlternateSeconds = 0x7F;
constexpr long long kLastUptimeDays = 0xFFFF;
constexpr std::size_t kMostServerEntries = kServerAddressRows;

// One count-down list of the display page: where the JSON names it and which
// byte of the record it shows.
struct CountdownPart {
  const char* group;
  const char* key;
  std::size_t slot;  // 0-2 start, 3-5 duration
  NumberList list;
};
constexpr std::array<CountdownPart, 6> kCountdownParts{{
    {"countdownStart", "hour", 0, kCountdownLists[0]},
    {"countdownStart", "minute", 1, kCountdownLists[1]},
    {"countdownStart", "second", 2, kCountdownLists[2]},
    {"countdownDuration", "hours", 3, kCountdownLists[3]},
    {"countdownDuration", "minutes", 4, kCountdownLists[4]},
    {"countdownDuration", "seconds", 5, kCountdownLists[5]},
}};

// ---------------------------------------------------------------------------
// Small helpers

std::string Shown(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

std::string Member(const std::string& path, std::string_view key) { return path + "." + std::string(key); }

std::string Element(const std::string& path, std::size_t index) { return path + "[" + std::to_string(index) + "]"; }

std::string Joined(const Problems& problems) {
  std::string text;
  for (const std::string& problem : problems) text += (text.empty() ? "" : "\n") + problem;
  return text;
}

std::string NameList(Names names) {
  std::string text;
  for (std::string_view name : names) text += (text.empty() ? "" : ", ") + std::string(name);
  return text;
}

std::optional<std::size_t> PositionOf(Names names, std::string_view name) {
  const auto found = std::find(names.begin(), names.end(), name);
  if (found == names.end()) return std::nullopt;
  return static_cast<std::size_t>(found - names.begin());
}

Json NameOrNull(Names names, unsigned number) {
  const std::string name = NameOf(names, number);
  return name.empty() ? Json(nullptr) : Json(name);
}

Json NumberOrNull(std::uint8_t value, const NumberList& list) {
  return list.ItemOf(value) ? Json(value) : Json(nullptr);
}

// The value of `key`, when the object gives one other than null: null in a
// file stands for "keep what the clock holds".
const Json* Given(const Json& object, const char* key) {
  if (!object.is_object()) return nullptr;
  const auto found = object.find(key);
  if (found == object.end() || found->is_null()) return nullptr;
  return &*found;
}

const Json* GivenIn(const Json* object, const char* key) { return object ? Given(*object, key) : nullptr; }

std::string Text(const Json& value) { return value.get<std::string>(); }

// Characters as the windows' text fields count them: UTF-16 units.
std::size_t CharacterCount(std::string_view utf8) {
  std::size_t count = 0;
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0U) != 0x80U) ++count;
    if (byte >= 0xF0U) ++count;
  }
  return count;
}

// Why a UTF-8 text cannot go into a code-page field as it is; nothing when it
// can. The codecs would cut it or put '?' in place of a character without a
// word.
std::optional<std::string> TextFitReason(std::string_view utf8, std::size_t fieldBytes, std::size_t characterLimit,
                                         CodePage cp) {
  const std::string page = std::to_string(static_cast<unsigned>(cp));
  if (utf8.find('\0') != std::string_view::npos) return "has a zero character, which would end it early";
  const std::size_t characters = CharacterCount(utf8);
  if (characters > characterLimit) {
    return "has " + std::to_string(characters) + " characters, more than the " + std::to_string(characterLimit) +
           " allowed";
  }
  const std::string encoded = ToCodePage(utf8, cp);
  if (FromCodePage(encoded, cp) != utf8) return "has characters that code page " + page + " cannot write";
  if (encoded.size() > fieldBytes) {
    return "is " + std::to_string(encoded.size()) + " bytes in code page " + page + ", more than its " +
           std::to_string(fieldBytes) + "-byte field";
  }
  return std::nullopt;
}

// A text field's problem, worded by where the text came from.
void CheckTextFits(const std::string& path, std::string_view utf8, bool fromFile, std::size_t fieldBytes,
                   std::size_t characterLimit, CodePage cp, Problems& problems) {
  const auto reason = TextFitReason(utf8, fieldBytes, characterLimit, cp);
  if (!reason) return;
  if (fromFile) {
    problems.push_back(path + ": " + Shown(Json(std::string(utf8))) + " " + *reason);
  } else {
    problems.push_back(path + ": the clock holds a text that " + *reason + "; the file must give a value");
  }
}

// The clock holds a value the page cannot show, so that an unchanged Modify
// would send something else in its place.
std::string HeldProblem(const std::string& path, const std::string& held) {
  return path + ": the clock holds " + held + ", which cannot be written back as it is; the file must give a value";
}

std::string OffProblem(const std::string& path, std::string_view what) {
  return path + ": " + std::string(what) + " is off on the clock; the file must give a value to switch it on";
}

std::string NotUsedProblem(const std::string& path, std::string_view state, std::string_view remedy) {
  return path + ": " + std::string(state) + "; give " + std::string(remedy) + " to use it";
}

std::string HeldZone(const ClockRecord& record) {
  const std::string text = ZoneText(record);
  if (!text.empty()) return "\"" + text + "\"";
  return "a zone with minutes code " + std::to_string(record.zoneMinuteCode);
}

// "HH:MM:SS", two digits each, within the bell lists.
std::optional<std::array<std::uint8_t, 3>> ParseBellTime(std::string_view text) {
  constexpr std::size_t kLength = 8;
  if (text.size() != kLength || text[2] != ':' || text[5] != ':') return std::nullopt;
  std::array<std::uint8_t, 3> parts{};
  const std::array<NumberList, 3> lists{kHourList, kMinuteList, kSecondList};
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const char tens = text[3 * i];
    const char ones = text[3 * i + 1];
    if (tens < '0' || tens > '9' || ones < '0' || ones > '9') return std::nullopt;
    parts[i] = static_cast<std::uint8_t>((tens - '0') * 10 + (ones - '0'));
    if (!lists[i].ItemOf(parts[i])) return std::nullopt;
  }
  return parts;
}

std::string BellTimeText(const BellEntry& entry) {
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", unsigned{entry.hour}, unsigned{entry.minute},
                unsigned{entry.second});
  return text;
}

bool BellTimeShown(const BellEntry& entry) {
  return kHourList.ItemOf(entry.hour) && kMinuteList.ItemOf(entry.minute) && kSecondList.ItemOf(entry.second);
}

bool BellDurationShown(std::uint8_t duration) { return duration == 0 || kDurationList.ItemOf(duration); }

std::uint32_t AddressOf(const Json& value) { return ParseDottedQuad(Text(value)).value_or(0); }

// ---------------------------------------------------------------------------
// Record to JSON

Json DstRowJson(std::uint8_t hour, std::uint8_t week, std::uint8_t weekday, std::uint8_t month) {
  Json row = Json::object();
  row["hour"] = NumberOrNull(hour, kHourList);
  row["week"] = NameOrNull(kOrdinalNames, week);
  row["weekday"] = NameOrNull(kWeekdayNames, weekday);
  row["month"] = NameOrNull(kMonthNames, month);
  return row;
}

Json DstJson(const ClockRecord& r) {
  Json dst = Json::object();
  dst["enabled"] = DstIsOn(r);
  if (DstIsOn(r)) {
    dst["start"] = DstRowJson(r.dstStartHour, r.dstStartWeek, r.dstStartWeekday, r.dstStartMonth);
    dst["end"] = DstRowJson(r.dstEndHour, r.dstEndWeek, r.dstEndWeekday, r.dstEndMonth);
  }
  return dst;
}

Json EnergySavingJson(const ClockRecord& r) {
  Json energy = Json::object();
  energy["enabled"] = EnergySavingIsOn(r);
  if (EnergySavingIsOn(r)) {
    energy["from"] = NumberOrNull(r.energyFrom, kEnergyHourList);
    energy["to"] = NumberOrNull(r.energyTo, kEnergyHourList);
    energy["display"] = r.energyClose != 0 ? "close" : "dim";
  }
  return energy;
}

Json BasicJson(const ClockRecord& r, CodePage) {
  Json basic = Json::object();
  basic["timeFormat"] = r.hour24 != 0 ? 24 : 12;
  const auto zone = ZoneEntryOf(r);
  basic["zone"] = zone ? Json(std::string(TrimTrailingBlanks(*zone))) : Json(nullptr);
  basic["addressing"] = r.dynamicIp != 0 ? "dynamic" : "static";
  basic["ipAddress"] = FormatIpv4(r.ipAddress);
  basic["subnetMask"] = FormatIpv4(r.subnetMask);
  basic["gateway"] = FormatIpv4(r.gateway);
  basic["dnsServer"] = FormatIpv4(r.dnsServer);
  basic["dst"] = DstJson(r);
  basic["energySaving"] = EnergySavingJson(r);
  basic["brightness"] =
      r.brightness < kBrightnessNames.size() ? Json(std::string(kBrightnessNames[r.brightness])) : Json(nullptr);
  return basic;
}

Json NtpJson(const ClockRecord& r, CodePage cp) {
  const ServerControls controls = ServerControlsFromRecord(r, cp);
  Json ntp = Json::object();
  ntp["mode"] = controls.names ? "names" : "addresses";
  if (controls.names) {
    ntp["names"] = Json::array();
    for (const std::string& name : controls.nameTexts) ntp["names"].push_back(name);
  } else {
    ntp["servers"] = Json::array();
    for (std::uint32_t address : controls.addresses) ntp["servers"].push_back(FormatIpv4(address));
  }
  return ntp;
}

void AddHumitureJson(const ClockRecord& r, Json& display) {
  display["temperature"] = TemperatureText(r.humiture, r.tempUnit);
  display["humidity"] = HumidityText(r.humiture);
  display["unit"] = r.tempUnit == kUnitCelsius ? Json("C") : r.tempUnit == kUnitFahrenheit ? Json("F") : Json(nullptr);
  const bool timeOnly = r.displayTimes[1] == 0;
  display["timeOnly"] = timeOnly;
  if (!timeOnly) {
    display["timeSeconds"] = NumberOrNull(r.displayTimes[0], kDisplaySecondsList);
    display["humitureSeconds"] = NumberOrNull(r.displayTimes[1], kDisplaySecondsList);
  }
}

Json DisplayJson(const ClockRecord& r, CodePage) {
  Json display = Json::object();
  for (const CountdownPart& part : kCountdownParts) {
    const std::uint8_t value = part.slot < 3 ? r.countdownStart[part.slot] : r.countdownDuration[part.slot - 3];
    display[part.group][part.key] = NumberOrNull(value, part.list);
  }
  display["sensor"] = RecordHasSensor(r);
  if (RecordHasSensor(r)) AddHumitureJson(r, display);
  display["radio"] = Json::object();
  display["radio"]["on"] = (r.radio & kRadioOpenBit) != 0;
  display["radio"]["id"] = NumberOrNull(static_cast<std::uint8_t>(r.radio & kRadioIdBits), kRadioIdList);
  return display;
}

Json TextJson(const ClockRecord& r, CodePage cp) {
  Json text = Json::object();
  const bool alternate = r.textRoll != 0;
  text["mode"] = alternate ? "alternate" : "roll";
  if (alternate) {
    text["alternateSeconds"] =
        r.textAlternateSeconds <= kLastAlternateSeconds ? Json(r.textAlternateSeconds) : Json(nullptr);
  }
  text["text"] = DisplayTextOf(r, cp);
  text["limit"] = DisplayTextLimit(r.longText);
  return text;
}

Json BellJson(const BellEntry& entry, int number) {
  Json bell = Json::object();
  bell["bell"] = number;
  bell["enabled"] = (entry.flags & BellEntry::kEnabled) != 0;
  bell["time"] = BellTimeShown(entry) ? Json(BellTimeText(entry)) : Json(nullptr);
  bell["days"] = Json::array();
  for (std::size_t day = 0; day < kBellDays.size(); ++day) {
    if (((unsigned{entry.flags} >> day) & 1U) != 0) bell["days"].push_back(kBellDays[day]);
  }
  bell["duration"] = BellDurationShown(entry.duration) ? Json(entry.duration) : Json(nullptr);
  return bell;
}

Json BellsJson(const ClockRecord& r, CodePage) {
  Json bells = Json::array();
  for (int position = 0; position < kBellCount; ++position)
    bells.push_back(BellJson(BellAt(r.bells, position), position + 1));
  return bells;
}

Json SystemJson(const ClockRecord& r, CodePage) {
  Json system = Json::object();
  const SystemInfo info = SystemInfoFromRecord(r);
  system["newPlatform"] = info.newPlatform;
  system["uptimeDays"] = info.uptimeDays;
  return system;
}

// ---------------------------------------------------------------------------
// Schema check

std::optional<long long> WholeNumber(const Json& value) {
  if (value.is_number_unsigned()) {
    const auto number = value.get<unsigned long long>();
    return number > static_cast<unsigned long long>(LLONG_MAX) ? LLONG_MAX : static_cast<long long>(number);
  }
  if (value.is_number_integer()) return value.get<long long>();
  return std::nullopt;
}

bool CheckNumberValue(const Json& value, const std::string& path, long long first, long long last, Problems& problems) {
  const auto number = WholeNumber(value);
  if (!number) {
    problems.push_back(path + ": " + Shown(value) +
                       (value.is_number() ? " is not a whole number" : " is not a number"));
    return false;
  }
  if (*number < first || *number > last) {
    problems.push_back(path + ": " + Shown(value) + " is out of range " + std::to_string(first) + "-" +
                       std::to_string(last));
    return false;
  }
  return true;
}

bool CheckTextValue(const Json& value, const std::string& path, Problems& problems) {
  if (value.is_string()) return true;
  problems.push_back(path + ": " + Shown(value) + " is not a text");
  return false;
}

void CheckNameValue(const Json& value, const std::string& path, Names names, Problems& problems) {
  if (!CheckTextValue(value, path, problems)) return;
  if (!PositionOf(names, Text(value))) {
    problems.push_back(path + ": " + Shown(value) + " is not one of " + NameList(names));
  }
}

// A blank address field reads as 0.0.0.0, so an empty text is one too.
void CheckAddressValue(const Json& value, const std::string& path, Problems& problems) {
  if (!CheckTextValue(value, path, problems)) return;
  const std::string text = Text(value);
  if (!text.empty() && !ParseDottedQuad(text)) {
    problems.push_back(path + ": " + Shown(value) + " is not a dotted IPv4 address");
  }
}

bool CheckListValue(const Json& value, const std::string& path, std::size_t least, std::size_t most,
                    Problems& problems) {
  if (!value.is_array()) {
    problems.push_back(path + ": " + Shown(value) + " is not a list");
    return false;
  }
  if (value.size() < least || value.size() > most) {
    problems.push_back(path + ": has " + std::to_string(value.size()) + " entries; give " + std::to_string(least) +
                       " to " + std::to_string(most));
    return false;
  }
  return true;
}

// One JSON object of the schema: reports it when it is none, and every key
// it does not know.
class ObjectCheck {
 public:
  ObjectCheck(const Json& object, std::string path, Problems& problems, std::initializer_list<std::string_view> keys)
      : object_(object), path_(std::move(path)), problems_(problems) {
    if (!object_.is_object()) {
      problems_.push_back(path_ + ": " + Shown(object_) + " is not an object");
      return;
    }
    valid_ = true;
    for (const auto& item : object_.items()) {
      if (std::find(keys.begin(), keys.end(), item.key()) == keys.end()) {
        problems_.push_back(Member(path_, item.key()) + ": unknown key");
      }
    }
  }

  bool Valid() const { return valid_; }
  std::string PathOf(std::string_view key) const { return Member(path_, key); }
  Problems& problems() const { return problems_; }

  // The value of `key` when present, null included.
  const Json* Find(const char* key) const {
    if (!valid_) return nullptr;
    const auto found = object_.find(key);
    return found == object_.end() ? nullptr : &*found;
  }
  // Present and not null.
  const Json* Value(const char* key, bool nullable) const {
    const Json* value = Find(key);
    if (value && value->is_null() && nullable) return nullptr;
    return value;
  }

  void Number(const char* key, long long first, long long last, bool nullable = false) const {
    if (const Json* value = Value(key, nullable)) CheckNumberValue(*value, PathOf(key), first, last, problems_);
  }
  void Flag(const char* key) const {
    const Json* value = Find(key);
    if (value && !value->is_boolean()) {
      problems_.push_back(PathOf(key) + ": " + Shown(*value) + " is not true or false");
    }
  }
  void Name(const char* key, Names names, bool nullable = false) const {
    if (const Json* value = Value(key, nullable)) CheckNameValue(*value, PathOf(key), names, problems_);
  }
  void Address(const char* key) const {
    if (const Json* value = Find(key)) CheckAddressValue(*value, PathOf(key), problems_);
  }
  void OneOf(const char* key, long long first, long long second) const {
    const Json* value = Find(key);
    if (!value || !CheckNumberValue(*value, PathOf(key), LLONG_MIN, LLONG_MAX, problems_)) return;
    const long long number = value->get<long long>();
    if (number != first && number != second) {
      problems_.push_back(PathOf(key) + ": " + Shown(*value) + " is not " + std::to_string(first) + " or " +
                          std::to_string(second));
    }
  }

 private:
  const Json& object_;
  std::string path_;
  Problems& problems_;
  bool valid_ = false;
};

void CheckDstRow(const Json& row, const std::string& path, Problems& problems) {
  const ObjectCheck c(row, path, problems, {"hour", "week", "weekday", "month"});
  c.Number("hour", 0, kHourList.last, true);
  c.Name("week", kOrdinalNames, true);
  c.Name("weekday", kWeekdayNames, true);
  c.Name("month", kMonthNames, true);
}

void CheckDst(const Json& dst, const std::string& path, Problems& problems) {
  const ObjectCheck c(dst, path, problems, {"enabled", "start", "end"});
  c.Flag("enabled");
  for (const char* key : {"start", "end"}) {
    if (const Json* row = c.Find(key)) CheckDstRow(*row, c.PathOf(key), problems);
  }
}

void CheckEnergySaving(const Json& energy, const std::string& path, Problems& problems) {
  const ObjectCheck c(energy, path, problems, {"enabled", "from", "to", "display"});
  c.Flag("enabled");
  c.Number("from", 0, kEnergyHourList.last, true);
  c.Number("to", 0, kEnergyHourList.last, true);
  c.Name("display", kEnergyDisplays);
}

void CheckZone(const ObjectCheck& c) {
  const Json* zone = c.Value("zone", true);
  if (!zone || !CheckTextValue(*zone, c.PathOf("zone"), c.problems())) return;
  if (!ZoneEntryNamed(Text(*zone)))
    c.problems().push_back(c.PathOf("zone") + ": " + Shown(*zone) + " is not a time zone");
}

void CheckBasic(const Json& fields, Problems& problems) {
  const ObjectCheck c(fields, "basic", problems,
                      {"timeFormat", "zone", "addressing", "ipAddress", "subnetMask", "gateway", "dnsServer", "dst",
                       "energySaving", "brightness"});
  c.OneOf("timeFormat", 12, 24);
  CheckZone(c);
  c.Name("addressing", kAddressingModes);
  for (const char* key : {"ipAddress", "subnetMask", "gateway", "dnsServer"}) c.Address(key);
  if (const Json* dst = c.Find("dst")) CheckDst(*dst, c.PathOf("dst"), problems);
  if (const Json* energy = c.Find("energySaving")) CheckEnergySaving(*energy, c.PathOf("energySaving"), problems);
  c.Name("brightness", kBrightnessNames, true);
}

void CheckNtp(const Json& fields, Problems& problems) {
  const ObjectCheck c(fields, "ntp", problems, {"mode", "servers", "names"});
  c.Name("mode", kServerModes);
  if (const Json* servers = c.Find("servers")) {
    if (CheckListValue(*servers, c.PathOf("servers"), 1, kMostServerEntries, problems)) {
      for (std::size_t i = 0; i < servers->size(); ++i)
        CheckAddressValue((*servers)[i], Element(c.PathOf("servers"), i), problems);
    }
  }
  if (const Json* names = c.Find("names")) {
    if (!CheckListValue(*names, c.PathOf("names"), 1, kServerNameRows, problems)) return;
    for (std::size_t i = 0; i < names->size(); ++i) {
      const std::string path = Element(c.PathOf("names"), i);
      if (!CheckTextValue((*names)[i], path, problems)) continue;
      const std::size_t characters = CharacterCount(Text((*names)[i]));
      if (characters > kServerNameBytes) {
        problems.push_back(path + ": has " + std::to_string(characters) + " characters, more than the " +
                           std::to_string(kServerNameBytes) + " a name field takes");
      }
    }
  }
}

void CheckCountdown(const ObjectCheck& c, const char* group, std::initializer_list<std::string_view> keys) {
  const Json* object = c.Find(group);
  if (!object) return;
  const ObjectCheck g(*object, c.PathOf(group), c.problems(), keys);
  for (const CountdownPart& part : kCountdownParts) {
    if (std::string_view(part.group) == group) g.Number(part.key, part.list.first, part.list.last, true);
  }
}

void CheckDisplay(const Json& fields, Problems& problems) {
  const ObjectCheck c(fields, "display", problems,
                      {"countdownStart", "countdownDuration", "sensor", "temperature", "humidity", "unit", "timeOnly",
                       "timeSeconds", "humitureSeconds", "radio"});
  CheckCountdown(c, "countdownStart", {"hour", "minute", "second"});
  CheckCountdown(c, "countdownDuration", {"hours", "minutes", "seconds"});
  c.Flag("sensor");
  for (const char* key : {"temperature", "humidity"}) {
    if (const Json* value = c.Find(key)) CheckTextValue(*value, c.PathOf(key), problems);
  }
  c.Name("unit", kUnits, true);
  c.Flag("timeOnly");
  c.Number("timeSeconds", 0, kDisplaySecondsList.last, true);
  c.Number("humitureSeconds", 0, kDisplaySecondsList.last, true);
  if (const Json* radio = c.Find("radio")) {
    const ObjectCheck r(*radio, c.PathOf("radio"), problems, {"on", "id"});
    r.Flag("on");
    r.Number("id", 0, kRadioIdList.last, true);
  }
}

void CheckText(const Json& fields, Problems& problems) {
  const ObjectCheck c(fields, "text", problems, {"mode", "alternateSeconds", "text", "limit"});
  c.Name("mode", kTextModes);
  c.Number("alternateSeconds", 0, kLastAlternateSeconds, true);
  if (const Json* text = c.Find("text"); text && CheckTextValue(*text, c.PathOf("text"), problems)) {
    const auto limit = static_cast<std::size_t>(DisplayTextLimit(true));
    const std::size_t characters = CharacterCount(Text(*text));
    if (characters > limit) {
      problems.push_back(c.PathOf("text") + ": has " + std::to_string(characters) + " characters, more than the " +
                         std::to_string(limit) + " any clock takes");
    }
  }
  c.OneOf("limit", DisplayTextLimit(false), DisplayTextLimit(true));
}

void CheckBellTime(const ObjectCheck& c) {
  const Json* time = c.Value("time", true);
  if (!time || !CheckTextValue(*time, c.PathOf("time"), c.problems())) return;
  if (!ParseBellTime(Text(*time))) {
    c.problems().push_back(c.PathOf("time") + ": " + Shown(*time) + " is not a time of day (HH:MM:SS)");
  }
}

void CheckBellDays(const ObjectCheck& c) {
  const Json* days = c.Find("days");
  if (!days || !CheckListValue(*days, c.PathOf("days"), 0, kBellDays.size(), c.problems())) return;
  std::array<bool, kDaysPerWeek> seen{};
  for (std::size_t i = 0; i < days->size(); ++i) {
    const std::string path = Element(c.PathOf("days"), i);
    const std::size_t before = c.problems().size();
    CheckNameValue((*days)[i], path, kBellDays, c.problems());
    if (c.problems().size() != before) continue;
    const std::size_t day = *PositionOf(kBellDays, Text((*days)[i]));
    if (seen[day]) c.problems().push_back(path + ": " + Shown((*days)[i]) + " is given twice");
    seen[day] = true;
  }
}

void CheckBellDuration(const ObjectCheck& c) {
  const Json* duration = c.Value("duration", true);
  if (!duration || !CheckNumberValue(*duration, c.PathOf("duration"), 0, kDurationList.last, c.problems())) return;
  const auto seconds = duration->get<long long>();
  if (seconds != 0 && seconds < kDurationList.first) {
    c.problems().push_back(c.PathOf("duration") + ": " + Shown(*duration) + " is not 0 or " +
                           std::to_string(kDurationList.first) + "-" + std::to_string(kDurationList.last));
  }
}

// Answers the bell number the entry names, when it names one.
std::optional<int> CheckBellEntry(const Json& entry, const std::string& path, Problems& problems) {
  const ObjectCheck c(entry, path, problems, {"bell", "enabled", "time", "days", "duration"});
  if (!c.Valid()) return std::nullopt;
  c.Flag("enabled");
  CheckBellTime(c);
  CheckBellDays(c);
  CheckBellDuration(c);
  const Json* bell = c.Find("bell");
  if (!bell) {
    problems.push_back(c.PathOf("bell") + ": missing; each entry names its bell");
    return std::nullopt;
  }
  if (!CheckNumberValue(*bell, c.PathOf("bell"), 1, kBellCount, problems)) return std::nullopt;
  return bell->get<int>();
}

void CheckBells(const Json& fields, Problems& problems) {
  const std::string path = "bells";
  if (!CheckListValue(fields, path, 0, kBellCount, problems)) return;
  std::array<bool, kBellCount> seen{};
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const auto bell = CheckBellEntry(fields[i], Element(path, i), problems);
    if (!bell) continue;
    auto& once = seen[static_cast<std::size_t>(*bell - 1)];
    if (once)
      problems.push_back(Member(Element(path, i), "bell") + ": bell " + std::to_string(*bell) + " is given twice");
    once = true;
  }
}

void CheckSystem(const Json& fields, Problems& problems) {
  const ObjectCheck c(fields, "system", problems, {"newPlatform", "uptimeDays"});
  c.Flag("newPlatform");
  c.Number("uptimeDays", 0, kLastUptimeDays);
}

// ---------------------------------------------------------------------------
// Fields over the record: basic

// One DST row: a part the file gives replaces the list's text; a list left
// without a selection would go out as 0.
void LayDstRow(const Json* row, const std::string& path, const DstRowValues& held, bool wasOn, DstRowTexts& texts,
               Problems& problems) {
  struct Part {
    const char* key;
    std::string* text;
    std::uint8_t held;
  };
  const std::array<Part, 4> parts{{{"hour", &texts.hour, held.hour},
                                   {"week", &texts.ordinal, held.week},
                                   {"weekday", &texts.weekday, held.weekday},
                                   {"month", &texts.month, held.month}}};
  for (const Part& part : parts) {
    if (const Json* value = GivenIn(row, part.key)) {
      *part.text = value->is_string() ? Text(*value) : std::to_string(value->get<int>());
    } else if (!wasOn) {
      if (part.text->empty()) problems.push_back(OffProblem(Member(path, part.key), "daylight saving"));
    } else if (part.text->empty() && part.held != 0) {
      // A held 0 goes back out as the 0 it is; any other value without an
      // entry would be replaced by 0.
      problems.push_back(HeldProblem(Member(path, part.key), std::to_string(part.held)));
    }
  }
}

void LayDst(const ClockRecord& r, const Json& fields, BasicForm& form, Problems& problems) {
  const std::string path = "basic.dst";
  const Json* dst = Given(fields, "dst");
  if (const Json* enabled = GivenIn(dst, "enabled")) form.dstEnabled = enabled->get<bool>();
  if (!form.dstEnabled) {
    for (const char* key : {"start", "end"}) {
      if (GivenIn(dst, key)) {
        problems.push_back(NotUsedProblem(Member(path, key), "daylight saving stays off", "\"enabled\": true"));
      }
    }
    return;
  }
  const bool wasOn = DstIsOn(r);
  const std::size_t before = problems.size();
  LayDstRow(GivenIn(dst, "start"), Member(path, "start"),
            {r.dstStartHour, r.dstStartWeek, r.dstStartWeekday, r.dstStartMonth}, wasOn, form.dstStart, problems);
  LayDstRow(GivenIn(dst, "end"), Member(path, "end"), {r.dstEndHour, r.dstEndWeek, r.dstEndWeekday, r.dstEndMonth},
            wasOn, form.dstEnd, problems);
  if (problems.size() != before) return;
  if (form.dstStart.month == form.dstEnd.month && form.dstStart.ordinal == form.dstEnd.ordinal) {
    problems.push_back(path +
                       ": a rule that starts and ends in the same week of the same month is off on the "
                       "clock; give different ones or \"enabled\": false");
  }
}

void LayEnergyHour(const Json* energy, const char* key, std::uint8_t held, bool wasOn, std::string& text,
                   Problems& problems) {
  const std::string path = Member("basic.energySaving", key);
  if (const Json* value = GivenIn(energy, key)) {
    text = std::to_string(value->get<int>());
  } else if (text.empty()) {
    problems.push_back(wasOn ? HeldProblem(path, std::to_string(held)) : OffProblem(path, "energy saving"));
  }
}

// Switching the period off empties its lists and its display choice, as the
// page's check box does; switching it on checks "Display Dim".
void LayEnergySaving(const ClockRecord& r, const Json& fields, BasicForm& form, Problems& problems) {
  const std::string path = "basic.energySaving";
  const Json* energy = Given(fields, "energySaving");
  const bool wasOn = EnergySavingIsOn(r);
  const Json* enabled = GivenIn(energy, "enabled");
  if (!(enabled ? enabled->get<bool>() : wasOn)) {
    form.energyFrom.clear();
    form.energyTo.clear();
    form.displayClose = false;
    for (const char* key : {"from", "to", "display"}) {
      if (GivenIn(energy, key)) {
        problems.push_back(NotUsedProblem(Member(path, key), "energy saving stays off", "\"enabled\": true"));
      }
    }
    return;
  }
  LayEnergyHour(energy, "from", r.energyFrom, wasOn, form.energyFrom, problems);
  LayEnergyHour(energy, "to", r.energyTo, wasOn, form.energyTo, problems);
  if (const Json* display = GivenIn(energy, "display")) form.displayClose = Text(*display) == "close";
  if (!form.energyFrom.empty() && form.energyFrom == form.energyTo) {
    problems.push_back(path + ": \"from\" and \"to\" are both " + form.energyFrom +
                       "; a period needs two different hours (or \"enabled\": false)");
  }
}

void LayBrightness(const ClockRecord& r, const Json& fields, BasicForm& form, Problems& problems) {
  const std::string path = "basic.brightness";
  if (const Json* value = Given(fields, "brightness")) {
    const std::string name = Text(*value);
    if (BrightnessNumber(name)) {
      form.brightness = name;
    } else {
      const Names choices(kBrightnessNames.data(), kBrightnessChoices);
      problems.push_back(path + ": " + Shown(*value) + " is the clock's own choice and cannot be written; give " +
                         NameList(choices));
    }
  } else if (form.brightness.empty()) {
    const bool named = r.brightness < kBrightnessNames.size();
    problems.push_back(HeldProblem(
        path, named ? "\"" + std::string(kBrightnessNames[r.brightness]) + "\"" : std::to_string(r.brightness)));
  }
}

void LayAddressing(const Json& fields, BasicForm& form) {
  if (const Json* mode = Given(fields, "addressing")) {
    form.dynamicIp = Text(*mode) == "dynamic";
    form.staticIp = !form.dynamicIp;
  }
  const std::array<std::pair<const char*, std::uint32_t*>, 4> addresses{{{"ipAddress", &form.ipAddress},
                                                                         {"subnetMask", &form.subnetMask},
                                                                         {"gateway", &form.gateway},
                                                                         {"dnsServer", &form.dnsServer}}};
  for (const auto& [key, address] : addresses) {
    if (const Json* value = Given(fields, key)) *address = AddressOf(*value);
  }
}

Built BuildBasic(const ClockRecord& r, const Json& fields, CodePage) {
  Problems problems;
  BasicForm form = BasicFormFromRecord(r);
  if (const Json* format = Given(fields, "timeFormat")) form.hour24 = format->get<int>() == 24;
  if (const Json* zone = Given(fields, "zone")) {
    form.zone = std::string(ZoneEntryNamed(Text(*zone)).value_or(""));
  } else if (form.zone.empty()) {
    problems.push_back(HeldProblem("basic.zone", HeldZone(r)));
  }
  LayAddressing(fields, form);
  LayDst(r, fields, form, problems);
  LayEnergySaving(r, fields, form, problems);
  LayBrightness(r, fields, form, problems);
  const auto encoded = EncodeBasicForm(form);
  if (const auto* refusal = std::get_if<BasicRefusal>(&encoded)) {
    problems.push_back("basic.ipAddress: " + std::string(RefusalMessage(*refusal)));
  }
  if (!problems.empty()) return Joined(problems);
  return ClockFrame::Build(std::get<BasicPayload>(encoded));
}

// ---------------------------------------------------------------------------
// Fields over the record: ntp

void LayServers(const Json& fields, bool clockNames, ServerControls& c, Problems& problems) {
  if (Given(fields, "names")) {
    problems.push_back(NotUsedProblem("ntp.names", "the mode is \"addresses\"", "\"mode\": \"names\""));
  }
  if (const Json* servers = Given(fields, "servers")) {
    c.addresses = {};
    for (std::size_t i = 0; i < servers->size() && i < c.addresses.size(); ++i)
      c.addresses[i] = AddressOf((*servers)[i]);
  } else if (clockNames) {
    problems.push_back(
        "ntp.servers: the clock holds its servers as names; the file must give \"servers\" to switch "
        "to addresses");
  }
}

void LayNames(const Json& fields, bool clockNames, ServerControls& c, CodePage cp, Problems& problems) {
  if (Given(fields, "servers")) {
    problems.push_back(NotUsedProblem("ntp.servers", "the mode is \"names\"", "\"mode\": \"addresses\""));
  }
  const Json* names = Given(fields, "names");
  if (names) {
    for (std::size_t i = 0; i < c.nameTexts.size(); ++i) c.nameTexts[i] = i < names->size() ? Text((*names)[i]) : "";
  } else if (!clockNames) {
    problems.push_back(
        "ntp.names: the clock holds its servers as addresses; the file must give \"names\" to switch "
        "to names");
    return;
  }
  for (std::size_t i = 0; i < c.nameTexts.size(); ++i) {
    CheckTextFits(Element("ntp.names", i), c.nameTexts[i], names != nullptr, kServerNameBytes, kServerNameBytes, cp,
                  problems);
  }
}

Built BuildNtp(const ClockRecord& r, const Json& fields, CodePage cp) {
  Problems problems;
  ServerControls c = ServerControlsFromRecord(r, cp);
  const bool clockNames = c.names;
  if (const Json* mode = Given(fields, "mode")) c.names = Text(*mode) == "names";
  if (c.names) {
    LayNames(fields, clockNames, c, cp, problems);
  } else {
    LayServers(fields, clockNames, c, problems);
  }
  if (!problems.empty()) return Joined(problems);
  return EncodeServerControls(c, cp);
}

// ---------------------------------------------------------------------------
// Fields over the record: display

void LayCountdown(const ClockRecord& r, const Json& fields, DisplayControls& c, Problems& problems) {
  for (const CountdownPart& part : kCountdownParts) {
    const std::uint8_t held = CountdownValue(r, part.slot);
    if (const Json* value = GivenIn(Given(fields, part.group), part.key)) {
      c.countdown[part.slot] = value->get<long>();
    } else if (!part.list.ItemOf(held)) {
      problems.push_back(HeldProblem(Member(Member("display", part.group), part.key), std::to_string(held)));
    }
  }
}

void LayDuration(const Json& fields, const char* key, std::uint8_t held, bool wasTimeOnly, long& duration,
                 Problems& problems) {
  if (const Json* value = Given(fields, key)) {
    duration = value->get<long>();
  } else if (!wasTimeOnly && !kDisplaySecondsList.ItemOf(held)) {
    problems.push_back(HeldProblem(Member("display", key), std::to_string(held)));
  }
}

// A humiture duration of 0 is the clock's "time only".
void LayAlternation(const ClockRecord& r, const Json& fields, DisplayControls& c, Problems& problems) {
  const bool wasTimeOnly = c.timeOnly;
  if (const Json* timeOnly = Given(fields, "timeOnly")) c.timeOnly = timeOnly->get<bool>();
  if (c.timeOnly) {
    for (const char* key : {"timeSeconds", "humitureSeconds"}) {
      if (Given(fields, key)) {
        problems.push_back(NotUsedProblem(Member("display", key), "the time shows alone", "\"timeOnly\": false"));
      }
    }
    return;
  }
  const std::size_t before = problems.size();
  LayDuration(fields, "timeSeconds", r.displayTimes[0], wasTimeOnly, c.timeDuration, problems);
  LayDuration(fields, "humitureSeconds", r.displayTimes[1], wasTimeOnly, c.humitureDuration, problems);
  if (problems.size() != before || c.humitureDuration != 0) return;
  if (Given(fields, "humitureSeconds")) {
    problems.push_back("display.humitureSeconds: 0 shows the time alone; give 1-15 or \"timeOnly\": true");
  } else {
    problems.push_back(OffProblem("display.humitureSeconds", "alternating with the humiture"));
  }
}

void LayHumiture(const ClockRecord& r, const Json& fields, DisplayControls& c, Problems& problems) {
  if (const Json* unit = Given(fields, "unit")) {
    c.showsTemperature = true;
    c.celsius = Text(*unit) == "C";
    c.fahrenheit = !c.celsius;
  } else if (!c.showsTemperature) {
    problems.push_back(HeldProblem("display.unit", "unit " + std::to_string(r.tempUnit)));
  }
  LayAlternation(r, fields, c, problems);
}

void RefuseHumiture(const Json& fields, Problems& problems) {
  for (const char* key : {"unit", "timeOnly", "timeSeconds", "humitureSeconds"}) {
    if (Given(fields, key)) problems.push_back(Member("display", key) + ": this clock has no humiture sensor");
  }
}

void LayRadio(const ClockRecord& r, const Json& fields, DisplayControls& c, Problems& problems) {
  const Json* radio = Given(fields, "radio");
  if (const Json* on = GivenIn(radio, "on")) c.radioOpen = on->get<bool>();
  if (const Json* id = GivenIn(radio, "id")) {
    c.radioId = id->get<long>();
  } else if (!c.radioId) {
    problems.push_back(HeldProblem("display.radio.id", std::to_string(r.radio & kRadioIdBits)));
  }
}

Built BuildDisplay(const ClockRecord& r, const Json& fields, CodePage) {
  Problems problems;
  DisplayControls c = DisplayControlsFromRecord(r);
  LayCountdown(r, fields, c, problems);
  if (RecordHasSensor(r)) {
    LayHumiture(r, fields, c, problems);
  } else {
    RefuseHumiture(fields, problems);
  }
  LayRadio(r, fields, c, problems);
  if (!problems.empty()) return Joined(problems);
  return BuildDisplayFrameFrom(c);
}

// ---------------------------------------------------------------------------
// Fields over the record: text

// Choosing "Alternate(s):" selects the list's first entry; "Roll" empties it.
void LayTextMode(const ClockRecord& r, const Json& fields, TextControls& c, Problems& problems) {
  const bool wasRoll = c.roll;
  if (const Json* mode = Given(fields, "mode")) c.roll = Text(*mode) == "roll";
  if (c.roll != wasRoll) c.alternateSeconds = c.roll ? 0 : long{kAlternateList.first};
  const Json* seconds = Given(fields, "alternateSeconds");
  if (c.roll) {
    if (seconds) {
      problems.push_back(NotUsedProblem("text.alternateSeconds", "the mode is \"roll\"", "\"mode\": \"alternate\""));
    }
  } else if (seconds) {
    c.alternateSeconds = seconds->get<long>();
  } else if (!wasRoll && r.textAlternateSeconds != 0 && !kAlternateList.ItemOf(r.textAlternateSeconds)) {
    problems.push_back(HeldProblem("text.alternateSeconds", std::to_string(r.textAlternateSeconds)));
  }
}

Built BuildText(const ClockRecord& r, const Json& fields, CodePage cp) {
  Problems problems;
  TextControls c = TextControlsFromRecord(r, cp);
  LayTextMode(r, fields, c, problems);
  const Json* text = Given(fields, "text");
  if (text) c.text = Text(*text);
  const DisplayTextForm form = r.longText ? DisplayTextForm::Long : DisplayTextForm::Short;
  CheckTextFits("text.text", c.text, text != nullptr, DisplayTextFieldBytes(form),
                static_cast<std::size_t>(DisplayTextLimit(r.longText)), cp, problems);
  if (!problems.empty()) return Joined(problems);
  return BuildTextFrameFrom(form, c.roll, c.alternateSeconds, c.text, cp);
}

// ---------------------------------------------------------------------------
// Fields over the record: bells

void LayBellEntry(const Json& entry, BellRow& row) {
  if (const Json* enabled = Given(entry, "enabled")) row.enabled = enabled->get<bool>();
  if (const Json* time = Given(entry, "time")) {
    if (const auto parts = ParseBellTime(Text(*time))) {
      row.hour = (*parts)[0];
      row.minute = (*parts)[1];
      row.second = (*parts)[2];
    }
  }
  if (const Json* days = Given(entry, "days")) {
    row.days = {};
    for (const Json& day : *days) row.days[PositionOf(kBellDays, Text(day)).value_or(0)] = true;
  }
  if (const Json* duration = Given(entry, "duration")) {
    const auto seconds = duration->get<std::uint8_t>();
    row.duration = seconds == 0 ? std::nullopt : std::optional<std::uint8_t>(seconds);
  }
}

void CheckHeldBell(const BellEntry& held, const Json* entry, int number, Problems& problems) {
  const std::string path = "bells: bell " + std::to_string(number);
  if (!BellTimeShown(held) && !(entry && Given(*entry, "time"))) {
    problems.push_back(HeldProblem(path + " time", BellTimeText(held)));
  }
  if (!BellDurationShown(held.duration) && !(entry && Given(*entry, "duration"))) {
    problems.push_back(HeldProblem(path + " duration", std::to_string(held.duration)));
  }
}

Built BuildBells(const ClockRecord& r, const Json& fields, CodePage) {
  Problems problems;
  BellRows rows = BellRowsFromRecord(r);
  std::array<const Json*, kBellCount> entries{};
  for (const Json& entry : fields) {
    const auto position = static_cast<std::size_t>(entry.at("bell").get<int>() - 1);
    entries[position] = &entry;
    LayBellEntry(entry, rows[position]);
  }
  for (int position = 0; position < kBellCount; ++position) {
    CheckHeldBell(BellAt(r.bells, position), entries[static_cast<std::size_t>(position)], position + 1, problems);
  }
  if (!problems.empty()) return Joined(problems);
  BellTable table = r.bells;
  if (const std::optional<std::string> refusal = ReadBellRows(rows, table)) return "bells: " + *refusal;
  return BellWriteFrame(table);
}

// ---------------------------------------------------------------------------
// Each section's query, printing, check and frame; read-only sections build
// no frame.

struct SectionCodec {
  std::uint8_t query;
  Json (*toJson)(const ClockRecord&, CodePage);
  void (*check)(const Json&, Problems&);
  Built (*build)(const ClockRecord&, const Json&, CodePage);
};

// In the order of Section.
constexpr std::array<SectionCodec, kAllSections.size()> kSectionCodecs{{
    {0x02, BasicJson, CheckBasic, BuildBasic},
    {0x03, NtpJson, CheckNtp, BuildNtp},
    {0x05, DisplayJson, CheckDisplay, BuildDisplay},
    {0x0A, TextJson, CheckText, BuildText},
    {0x04, BellsJson, CheckBells, BuildBells},
    {0x10, SystemJson, CheckSystem, nullptr},
}};

const SectionCodec& CodecOf(Section section) { return kSectionCodecs[static_cast<std::size_t>(section)]; }

}  // namespace

// ---------------------------------------------------------------------------
// Sections

std::string_view SectionName(Section section) { return kSectionNames[static_cast<std::size_t>(section)]; }

std::optional<Section> SectionNamed(std::string_view name) {
  for (Section section : kAllSections) {
    if (SectionName(section) == name) return section;
  }
  return std::nullopt;
}

bool SectionWritable(Section section) { return CodecOf(section).build != nullptr; }

std::vector<std::uint8_t> SectionQueries(Section section) { return {CodecOf(section).query}; }

Json SectionToJson(const ClockRecord& record, Section section, CodePage cp) {
  return CodecOf(section).toJson(record, cp);
}

// Null is a section that gives no fields.
std::vector<std::string> CheckSectionJson(Section section, const Json& fields) {
  Problems problems;
  if (!fields.is_null()) CodecOf(section).check(fields, problems);
  return problems;
}

// The fields are checked again here, so that no unchecked value can reach a
// codec.
std::variant<ClockFrame, std::string> BuildSectionFrame(const ClockRecord& current, Section section, const Json& fields,
                                                        CodePage cp) {
  const SectionCodec& codec = CodecOf(section);
  if (!codec.build) return std::string(SectionName(section)) + ": read only; nothing of it can be written";
  if (const Problems problems = CheckSectionJson(section, fields); !problems.empty()) return Joined(problems);
  const Json none = section == Section::Bells ? Json::array() : Json::object();
  return codec.build(current, fields.is_null() ? none : fields, cp);
}

}  // namespace marindo
