#include "cli/CliOutput.h"

#include <algorithm>
#include <cstdio>

namespace marindo {
namespace {

std::string ScalarText(const Json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_null()) return "-";
  if (value.is_array()) {
    std::string joined;
    for (const Json& item : value) {
      if (!joined.empty()) joined += ", ";
      joined += ScalarText(item);
    }
    return joined;
  }
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void FlattenInto(const std::string& prefix, const Json& value, TextTable& table) {
  if (!value.is_object()) {
    table.AddRow({prefix, ScalarText(value)});
    return;
  }
  for (const auto& [key, item] : value.items()) {
    FlattenInto(prefix.empty() ? key : prefix + "." + key, item, table);
  }
}

bool BellIsSet(const Json& bell) {
  const bool enabled = bell.value("enabled", false);
  const bool hasDays = bell.contains("days") && !bell["days"].empty();
  const bool hasDuration = bell.contains("duration") && bell["duration"].is_number() && bell["duration"] != 0;
  return enabled || hasDays || hasDuration;
}

std::string BellsText(const Json& bells) {
  TextTable table({"BELL", "ON", "TIME", "DAYS", "DURATION"});
  int empty = 0;
  for (const Json& bell : bells) {
    if (!BellIsSet(bell)) {
      ++empty;
      continue;
    }
    table.AddRow({ScalarText(bell.value("bell", Json())), bell.value("enabled", false) ? "yes" : "no",
                  ScalarText(bell.value("time", Json())), ScalarText(bell.value("days", Json::array())),
                  ScalarText(bell.value("duration", Json()))});
  }
  std::string text = table.Render();
  if (empty > 0) text += std::to_string(empty) + " bells not set\n";
  return text;
}

}  // namespace

TextTable::TextTable(std::vector<std::string> header) { rows_.push_back(std::move(header)); }

void TextTable::AddRow(std::vector<std::string> cells) { rows_.push_back(std::move(cells)); }

std::string TextTable::Render() const {
  std::vector<std::size_t> widths;
  for (const auto& row : rows_) {
    if (widths.size() < row.size()) widths.resize(row.size(), 0);
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  std::string text;
  for (const auto& row : rows_) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
    }
    text += line + "\n";
  }
  return text;
}

std::string SectionText(Section section, const Json& fields) {
  if (section == Section::Bells && fields.is_array()) return BellsText(fields);
  TextTable table({"FIELD", "VALUE"});
  FlattenInto("", fields, table);
  return table.Render();
}

std::string JsonDocument(const Json& document) {
  return document.dump(2, ' ', false, Json::error_handler_t::replace);
}

}  // namespace marindo
