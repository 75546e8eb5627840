#include "cli/TraceWriter.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string_view>

#include "link/ClockFrame.h"
#include "link/CommandCodes.h"
#include "link/ReplyDecoders.h"
#include "platform/Ipv4.h"
#include "settings/SettingsJson.h"
#include "tftp/TftpPackets.h"

namespace marindo {
namespace {

// "2026-12-11T09:01:02.345678Z": UTC, so that traces taken in several time
// zones line up.
std::string TimeText(std::chrono::system_clock::time_point at) {
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(micros / 1000000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  // Room for any int the fields could hold, so that nothing is ever cut.
  std::array<char, 96> text{};
  std::snprintf(text.data(), text.size(), "%04d-%02d-%02dT%02d:%02d:%02d.%06lldZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<long long>(micros % 1000000));
  return text.data();
}

std::string CodeText(std::uint8_t code) {
  std::array<char, 8> text{};
  std::snprintf(text.data(), text.size(), "0x%02X", code);
  return text.data();
}

// The command table's name, one word: "basic-settings".
std::string CodeName(std::uint8_t code) {
  const Command* command = CommandOf(code);
  if (command == nullptr) return "unknown";
  std::string name(command->name);
  std::replace(name.begin(), name.end(), ' ', '-');
  return name;
}

// Text from a clock may be in any code page; the trace stays valid UTF-8.
std::string Compact(const Json& fields) { return fields.dump(-1, ' ', false, Json::error_handler_t::replace); }

std::optional<Section> SectionOfQuery(std::uint8_t code) {
  for (Section section : kAllSections) {
    const std::vector<std::uint8_t> queries = SectionQueries(section);
    if (std::ranges::find(queries, code) != queries.end()) return section;
  }
  return std::nullopt;
}

Json SearchReplyFields(std::span<const std::uint8_t> payload, CodePage codePage) {
  const std::optional<SearchReply> reply = ReadSearchReply(payload);
  if (!reply) return Json::object();
  const std::string serial(reply->serial.data(), strnlen(reply->serial.data(), reply->serial.size()));
  std::array<char, 16> firmware{};
  std::snprintf(firmware.data(), firmware.size(), "%u.%02u", unsigned{reply->firmwareMajor},
                unsigned{reply->firmwareMinor});
  return Json{{"serial", FromCodePage(serial, codePage)}, {"firmware", firmware.data()}};
}

// What a received frame says, as far as the trace can tell it in a line.
Json ReceivedFields(const FrameEvent& event, std::span<const std::uint8_t> payload, CodePage codePage) {
  const std::uint8_t code = payload[0];
  switch (HandlingOf(code)) {
    case ReplyHandling::Search:
      return SearchReplyFields(payload, codePage);
    case ReplyHandling::ModifyResult:
      if (event.fate != FrameFate::Answer && event.fate != FrameFate::Handled) break;
      return Json{{"applied", event.accepted}};
    case ReplyHandling::Stored:
      if (!event.stored || event.record == nullptr) break;
      if (const std::optional<Section> section = SectionOfQuery(code)) {
        return SectionToJson(*event.record, *section, codePage);
      }
      break;
    default:
      break;
  }
  return Json::object();
}

// The settings a modify frame carries, where it lays them out as the reply
// to the section's query does: basic settings, NTP servers, bells, text.
// The display settings' modify frame has a layout of its own and shows none.
Json SentFields(std::span<const std::uint8_t> payload, std::uint8_t lengthByte, CodePage codePage) {
  struct Pair {
    std::uint8_t modify;
    std::uint8_t query;
    Section section;
  };
  constexpr std::array<Pair, 4> kSameLayout{{{code::kModifyBasic, code::kQueryBasic, Section::Basic},
                                             {code::kModifyServers, code::kQueryServers, Section::Ntp},
                                             {code::kModifyBells, code::kQueryBells, Section::Bells},
                                             {code::kModifyText, code::kQueryText, Section::Text}}};
  const auto* pair = std::ranges::find(kSameLayout, payload[0], &Pair::modify);
  if (pair == kSameLayout.end()) return Json::object();
  std::vector<std::uint8_t> asReply(payload.begin(), payload.end());
  asReply[0] = pair->query;
  ClockRecord written;
  if (!StoreReply(asReply, lengthByte, written)) return Json::object();
  Json fields = SectionToJson(written, pair->section, codePage);
  // What the clock reports of itself is no part of what was written.
  if (pair->section == Section::Text) fields.erase("limit");
  return fields;
}

std::string SendText(int send, int sends) {
  if (send == 0) return "send";
  return "send " + std::to_string(send) + "/" + std::to_string(sends);
}

std::string HandledText(const FrameEvent& event, std::uint8_t code) {
  const std::string from = FormatIpv4(event.ip);
  std::string what;
  switch (HandlingOf(code)) {
    case ReplyHandling::Search:
      // Every search reply lists its clock, whatever asked for it.
      return "search reply: " + from + " listed";
    case ReplyHandling::Stored:
      if (event.stored) {
        what = "stored into the record of " + from;
      } else if (event.record == nullptr) {
        what = "not stored: no record of " + from;
      } else {
        what = "not stored: shorter than its layout";
      }
      break;
    case ReplyHandling::ModifyResult:
      what = "no exchange waits for it";
      break;
    default:
      what = "nothing to do";
      break;
  }
  if (event.port != event.clockPort) {
    return "stray from port " + std::to_string(event.port) + ", not " + std::to_string(event.clockPort) + ": " + what;
  }
  return "stray: " + what;
}

std::string FateText(const FrameEvent& event, std::optional<std::uint8_t> code) {
  switch (event.fate) {
    case FrameFate::Sent:
      return SendText(event.send, event.sends);
    case FrameFate::Answer:
      return "answer to " + CodeText(event.requestCode) + " from " + FormatIpv4(event.ip);
    case FrameFate::Handled:
      return HandledText(event, code.value_or(0));
    case FrameFate::Stale:
      return "dropped: stale (waiting before the exchange began)";
    case FrameFate::Empty:
      return "dropped: empty";
    case FrameFate::Oversize:
      return "dropped: oversize";
    case FrameFate::TooShort:
      return "dropped: too short";
    case FrameFate::BadChecksum:
      return "dropped: bad checksum";
    case FrameFate::UnknownCode:
      return "dropped: unknown code";
  }
  return "";
}

// The TFTP request's file name, mode and options, each after its zero.
Json RequestFields(std::span<const std::uint8_t> packet, CodePage codePage) {
  std::vector<std::string> words;
  std::string word;
  for (std::uint8_t byte : packet.subspan(2)) {
    if (byte == 0) {
      words.push_back(word);
      word.clear();
    } else {
      word.push_back(static_cast<char>(byte));
    }
  }
  Json fields = Json::object();
  if (words.empty()) return fields;
  fields["file"] = FromCodePage(words[0], codePage);
  if (words.size() > 1) fields["mode"] = words[1];
  for (std::size_t i = 2; i + 1 < words.size(); i += 2) fields[words[i]] = words[i + 1];
  return fields;
}

Json TftpFields(std::span<const std::uint8_t> packet, CodePage codePage) {
  const std::optional<std::uint16_t> opcode = tftp::ReadOpcode(packet);
  const std::optional<std::uint16_t> block = tftp::ReadBlock(packet);
  switch (static_cast<tftp::Opcode>(opcode.value_or(0))) {
    case tftp::Opcode::ReadRequest:
    case tftp::Opcode::WriteRequest:
      return RequestFields(packet, codePage);
    case tftp::Opcode::Data:
      if (!block) break;
      return Json{{"block", *block}, {"data", packet.size() - tftp::kHeaderSize}};
    case tftp::Opcode::Ack:
      if (!block) break;
      return Json{{"block", *block}};
    case tftp::Opcode::Error: {
      if (!block) break;
      const auto text = packet.subspan(tftp::kHeaderSize);
      const std::string message(text.begin(), std::find(text.begin(), text.end(), std::uint8_t{0}));
      return Json{{"error", *block}, {"message", FromCodePage(message, codePage)}};
    }
    default:
      break;
  }
  return Json::object();
}

std::string TftpOpcodeName(std::span<const std::uint8_t> packet) {
  const std::optional<std::uint16_t> opcode = tftp::ReadOpcode(packet);
  if (!opcode) return "-";
  switch (static_cast<tftp::Opcode>(*opcode)) {
    case tftp::Opcode::ReadRequest:
      return "RRQ";
    case tftp::Opcode::WriteRequest:
      return "WRQ";
    case tftp::Opcode::Data:
      return "DATA";
    case tftp::Opcode::Ack:
      return "ACK";
    case tftp::Opcode::Error:
      return "ERROR";
    case tftp::Opcode::OptionAck:
      return "OACK";
  }
  return "opcode-" + std::to_string(*opcode);
}

std::string TftpFateText(const TftpEvent& event) {
  switch (event.fate) {
    case TftpFate::Sent:
      return SendText(event.send, event.sends);
    case TftpFate::Acknowledges:
      return "acknowledges the packet sent";
    case TftpFate::Stored:
      return "stored";
    case TftpFate::Repeated:
      return "stored before: acknowledged again";
    case TftpFate::OptionsTaken:
      return "options taken: acknowledged as block 0";
    case TftpFate::NotFromPeer:
      return "ignored: not from the transfer's address and port";
    case TftpFate::NotAnAnswer:
      return "ignored: no answer to the packet sent";
    case TftpFate::Oversize:
      return "dropped: oversize";
  }
  return "";
}

std::string Endpoint(std::uint32_t ip, std::uint16_t port) { return FormatIpv4(ip) + ":" + std::to_string(port); }

}  // namespace

std::string FrameTraceLine(const FrameEvent& event, CodePage codePage) {
  std::string line = TimeText(event.at) + (event.sent ? " send " : " recv ") + Endpoint(event.ip, event.port) + " ";
  const std::span<const std::uint8_t> bytes = event.bytes;
  std::optional<std::uint8_t> code;
  if (bytes.size() > ClockFrame::kHeaderSize) code = bytes[ClockFrame::kHeaderSize];
  line += code ? CodeText(*code) + " " + CodeName(*code) : std::string("- -");
  line += " len=" + std::to_string(event.size);
  const bool framed = event.size == bytes.size() && bytes.size() >= ReceivedFrame::kMinSize;
  const bool checked = framed && AcceptDatagram(bytes).has_value();
  line += std::string(" crc=") + (!framed ? "-" : checked ? "ok" : "bad");
  Json fields = Json::object();
  if (checked) {
    // Header and checksum off, whatever the length byte says.
    const auto payload = bytes.subspan(ClockFrame::kHeaderSize, bytes.size() - ClockFrame::kOverhead);
    fields = event.sent ? SentFields(payload, bytes[3], codePage) : ReceivedFields(event, payload, codePage);
  }
  line += " fields=" + Compact(fields);
  line += " -> " + FateText(event, code);
  return line;
}

std::string TftpTraceLine(const TftpEvent& event, CodePage codePage) {
  return TimeText(event.at) + (event.sent ? " send " : " recv ") + Endpoint(event.ip, event.port) + " tftp " +
         TftpOpcodeName(event.bytes) + " len=" + std::to_string(event.size) +
         " fields=" + Compact(TftpFields(event.bytes, codePage)) + " -> " + TftpFateText(event);
}

void TraceWriter::Frame(const FrameEvent& event) { Write(FrameTraceLine(event, codePage_)); }

void TraceWriter::Packet(const TftpEvent& event) { Write(TftpTraceLine(event, codePage_)); }

void TraceWriter::Write(const std::string& line) {
  const std::lock_guard lock(mutex_);
  out_ << line << '\n';
  out_.flush();
}

}  // namespace marindo
