#include "platform/CodePage.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace marindo {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";  // U+FFFD
constexpr char kMissingCharacter = '?';

struct LanguageCodePage {
  std::string_view language;
  CodePage codePage;
};

// Languages whose Windows ANSI code page is not 1252. Chinese depends on the
// territory and is handled apart.
constexpr LanguageCodePage kLanguageCodePages[] = {
    {"ja", CodePage::Cp932},   {"ko", CodePage::Cp949},   {"ru", CodePage::Cp1251},
    {"uk", CodePage::Cp1251},  {"be", CodePage::Cp1251},  {"bg", CodePage::Cp1251},
    {"sr", CodePage::Cp1251},  {"mk", CodePage::Cp1251},  {"cs", CodePage::Cp1250},
    {"pl", CodePage::Cp1250},  {"hu", CodePage::Cp1250},  {"sk", CodePage::Cp1250},
    {"sl", CodePage::Cp1250},  {"hr", CodePage::Cp1250},  {"ro", CodePage::Cp1250},
    {"sq", CodePage::Cp1250},  {"el", CodePage::Cp1253},  {"tr", CodePage::Cp1254},
    {"az", CodePage::Cp1254},  {"he", CodePage::Cp1255},  {"ar", CodePage::Cp1256},
    {"fa", CodePage::Cp1256},  {"ur", CodePage::Cp1256},  {"et", CodePage::Cp1257},
    {"lv", CodePage::Cp1257},  {"lt", CodePage::Cp1257},  {"vi", CodePage::Cp1258},
    {"th", CodePage::Cp874},
};

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string AsciiLowered(std::string_view text) {
  std::string lowered(text);
  std::transform(lowered.begin(), lowered.end(), lowered.begin(), AsciiLower);
  return lowered;
}

// "ll_TT.codeset@modifier" -> "ll" and "TT" (lowered); either may be empty.
std::pair<std::string, std::string> LanguageAndTerritory(std::string_view localeName) {
  const std::string_view beforeCodeset = localeName.substr(0, localeName.find_first_of(".@"));
  const std::size_t underscore = beforeCodeset.find('_');
  if (underscore == std::string_view::npos) {
    return {AsciiLowered(beforeCodeset), {}};
  }
  return {AsciiLowered(beforeCodeset.substr(0, underscore)),
          AsciiLowered(beforeCodeset.substr(underscore + 1))};
}

CodePage ChineseCodePage(std::string_view territory) {
  // Traditional script regions; everything else writes simplified Chinese.
  const bool traditional = territory == "tw" || territory == "hk" || territory == "mo";
  return traditional ? CodePage::Cp950 : CodePage::Cp936;
}

bool IsPlainCLocale(std::string_view name) {
  return name.empty() || name == "C" || name == "POSIX" || name.starts_with("C.");
}

// A program that never called setlocale(LC_ALL, "") still runs in "C"; the
// operator's language is then only in the environment, looked up in the
// precedence POSIX gives it.
std::string CurrentLocaleName() {
  const char* current = std::setlocale(LC_CTYPE, nullptr);
  if (current != nullptr && !IsPlainCLocale(current)) {
    return current;
  }
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') {
      return value;
    }
  }
  return "C";
}

// glibc knows every code page under several names; the first that opens wins,
// so a C library with another naming still finds one of them.
std::vector<std::string> IconvNames(CodePage cp) {
  const std::string number = std::to_string(static_cast<unsigned>(cp));
  std::vector<std::string> names{"CP" + number, "WINDOWS-" + number};
  switch (cp) {
    case CodePage::Cp932: names.insert(names.end(), {"WINDOWS-31J", "MS932"}); break;
    case CodePage::Cp936: names.emplace_back("GBK"); break;
    case CodePage::Cp949: names.emplace_back("UHC"); break;
    case CodePage::Cp950: names.emplace_back("BIG5"); break;
    default: break;
  }
  return names;
}

class Converter {
 public:
  Converter(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  ~Converter() {
    if (IsOpen()) {
      iconv_close(handle_);
    }
  }

  bool IsOpen() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

  // Converts from `pos` on until the input ends (0) or iconv stops at a byte
  // it cannot take (its errno); `pos` is left at that byte.
  int ConvertFrom(std::string_view in, std::size_t& pos, std::string& out) {
    std::array<char, 256> buffer{};
    while (pos < in.size()) {
      // iconv's historical signature takes a non-const input pointer; it
      // never writes through it.
      char* source = const_cast<char*>(in.data() + pos);
      std::size_t sourceLeft = in.size() - pos;
      char* target = buffer.data();
      std::size_t targetLeft = buffer.size();
      const std::size_t result = iconv(handle_, &source, &sourceLeft, &target, &targetLeft);
      const int error = errno;
      out.append(buffer.data(), static_cast<std::size_t>(target - buffer.data()));
      pos = in.size() - sourceLeft;
      if (result == static_cast<std::size_t>(-1) && error != E2BIG) {
        return error;
      }
    }
    return 0;
  }

  // Code pages with combining marks (1255, 1258) hold a base character back
  // until they see what follows; this writes it out.
  void Flush(std::string& out) {
    std::array<char, 64> buffer{};
    char* target = buffer.data();
    std::size_t targetLeft = buffer.size();
    iconv(handle_, nullptr, nullptr, &target, &targetLeft);
    out.append(buffer.data(), static_cast<std::size_t>(target - buffer.data()));
  }

 private:
  iconv_t handle_;
};

struct Substitute {
  std::size_t skip;  // bytes of input replaced, at least 1
  std::string_view replacement;
};
using SubstituteFn = Substitute (*)(std::string_view rest);

Substitute SubstituteInvalidByte(std::string_view) {
  return {1, kReplacementCharacter};
}

bool IsContinuationByte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0U) == 0x80U;
}

std::size_t ExpectedUtf8Length(unsigned char lead) {
  if (lead < 0x80U) return 1;
  if ((lead & 0xE0U) == 0xC0U) return 2;
  if ((lead & 0xF0U) == 0xE0U) return 3;
  if ((lead & 0xF8U) == 0xF0U) return 4;
  return 1;
}

// One '?' per character the code page lacks; a malformed sequence is
// replaced by one '?' for its lead byte and the continuation bytes after it.
Substitute SubstituteUtf8Character(std::string_view rest) {
  const std::size_t expected = ExpectedUtf8Length(static_cast<unsigned char>(rest.front()));
  std::size_t length = 1;
  while (length < expected && length < rest.size() && IsContinuationByte(rest[length])) {
    ++length;
  }
  return {length, std::string_view(&kMissingCharacter, 1)};
}

// Without a converter (no gconv modules), ASCII is still ASCII in every one
// of these code pages; everything else is substituted.
std::string ConvertAsciiOnly(std::string_view in, SubstituteFn substitute) {
  std::string out;
  std::size_t pos = 0;
  while (pos < in.size()) {
    if (static_cast<unsigned char>(in[pos]) < 0x80U) {
      out.push_back(in[pos++]);
      continue;
    }
    const Substitute sub = substitute(in.substr(pos));
    out.append(sub.replacement);
    pos += sub.skip;
  }
  return out;
}

std::string ConvertWith(Converter& converter, std::string_view in, SubstituteFn substitute) {
  std::string out;
  std::size_t pos = 0;
  while (converter.ConvertFrom(in, pos, out) != 0 && pos < in.size()) {
    converter.Flush(out);
    const Substitute sub = substitute(in.substr(pos));
    out.append(sub.replacement);
    pos += std::min(sub.skip, in.size() - pos);
  }
  converter.Flush(out);
  return out;
}

bool IsLeadByte(unsigned char byte, CodePage cp) {
  switch (cp) {
    case CodePage::Cp932:
      return (byte >= 0x81U && byte <= 0x9FU) || (byte >= 0xE0U && byte <= 0xFCU);
    case CodePage::Cp936:
    case CodePage::Cp949:
    case CodePage::Cp950:
      return byte >= 0x81U && byte <= 0xFEU;
    default:
      return false;
  }
}

bool IsDoubleByte(CodePage cp) {
  return cp == CodePage::Cp932 || cp == CodePage::Cp936 || cp == CodePage::Cp949 ||
         cp == CodePage::Cp950;
}

// A lead byte and the byte after it, or a single byte. A zero is never a
// trail byte: it ends the text field, so a lead byte before it stands alone.
std::size_t CharacterLength(std::string_view rest, CodePage cp) {
  const bool pair =
      rest.size() >= 2 && IsLeadByte(static_cast<unsigned char>(rest[0]), cp) && rest[1] != '\0';
  return pair ? 2 : 1;
}

// Some of glibc's double-byte decoders (UHC among them) step over a pair they
// reject before they report it, so a replacement put at the reported position
// would swallow the next byte, even the zero that ends a field. One character
// at a time, a rejected character is always the one just handed over.
std::string DecodeCharacterByCharacter(Converter& converter, std::string_view in, CodePage cp) {
  std::string out;
  std::size_t pos = 0;
  while (pos < in.size()) {
    const std::string_view character = in.substr(pos, CharacterLength(in.substr(pos), cp));
    std::string decoded;
    std::size_t used = 0;
    if (converter.ConvertFrom(character, used, decoded) == 0 && used == character.size()) {
      out.append(decoded);
      pos += character.size();
    } else {
      out.append(kReplacementCharacter);
      ++pos;
    }
  }
  return out;
}

std::string Convert(std::string_view in, bool toCodePage, CodePage cp, SubstituteFn substitute) {
  for (const std::string& name : IconvNames(cp)) {
    Converter converter(toCodePage ? name.c_str() : "UTF-8", toCodePage ? "UTF-8" : name.c_str());
    if (!converter.IsOpen()) {
      continue;
    }
    if (!toCodePage && IsDoubleByte(cp)) {
      return DecodeCharacterByCharacter(converter, in, cp);
    }
    return ConvertWith(converter, in, substitute);
  }
  return ConvertAsciiOnly(in, substitute);
}

}  // namespace

CodePage CodePageForLocale() {
  return CodePageForLanguage(CurrentLocaleName());
}

CodePage CodePageForLanguage(std::string_view localeName) {
  const auto [language, territory] = LanguageAndTerritory(localeName);
  if (language == "zh") {
    return ChineseCodePage(territory);
  }
  for (const LanguageCodePage& entry : kLanguageCodePages) {
    if (entry.language == language) {
      return entry.codePage;
    }
  }
  return CodePage::Cp1252;
}

std::string FromCodePage(std::string_view bytes, CodePage cp) {
  return Convert(bytes, false, cp, SubstituteInvalidByte);
}

std::string ToCodePage(std::string_view utf8, CodePage cp) {
  return Convert(utf8, true, cp, SubstituteUtf8Character);
}

std::string FitToField(std::string_view encoded, std::size_t width, CodePage cp) {
  std::size_t end = 0;
  while (end < encoded.size()) {
    const bool lead = IsLeadByte(static_cast<unsigned char>(encoded[end]), cp);
    const std::size_t length = std::min<std::size_t>(lead ? 2 : 1, encoded.size() - end);
    if (length > width - end) {
      break;
    }
    end += length;
  }
  return std::string(encoded.substr(0, end));
}

std::string TextBeforeZero(const char* bytes, std::size_t maxBytes) {
  if (bytes == nullptr) {
    return {};
  }
  return std::string(bytes, std::find(bytes, bytes + maxBytes, '\0'));
}

bool IsUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    unsigned char low = 0x80;  // bounds of the second byte
    unsigned char high = 0xBF;
    if (lead < 0x80) {
      length = 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      low = lead == 0xE0 ? 0xA0 : 0x80;
      high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      low = lead == 0xF0 ? 0x90 : 0x80;
      high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
      return false;
    }
    if (text.size() - i < length) {
      return false;
    }
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) {
        return false;
      }
    }
    i += length;
  }
  return true;
}

std::string FirstUtf8Chars(std::string_view text, std::size_t maxChars) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsContinuationByte(text[i])) continue;
    if (chars == maxChars) return std::string(text.substr(0, i));
    ++chars;
  }
  return std::string(text);
}

}  // namespace marindo
