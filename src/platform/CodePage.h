#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace marindo {

// The clocks were made for Windows PCs and read their texts as single- or
// double-byte text of a Windows ANSI code page. The tool therefore speaks the
// code page that a Windows PC of the operator's language would use, never the
// UTF-8 of the Linux locale.
enum class CodePage : std::uint16_t {
  Cp874 = 874,
  Cp932 = 932,
  Cp936 = 936,
  Cp949 = 949,
  Cp950 = 950,
  Cp1250 = 1250,
  Cp1251,
  Cp1252,
  Cp1253,
  Cp1254,
  Cp1255,
  Cp1256,
  Cp1257,
  Cp1258
};

// The code page of the current LC_CTYPE locale. A process still in the "C"
// locale (setlocale never called) falls back to LC_ALL, LC_CTYPE and LANG of
// the environment; C, POSIX and unknown languages give Cp1252.
CodePage CodePageForLocale();

// The code page of a locale name such as "zh_CN.UTF-8" (language, territory,
// codeset and modifier; only language and, for Chinese, territory matter).
CodePage CodePageForLanguage(std::string_view localeName);

// Code-page bytes to UTF-8. A byte that starts no valid character becomes
// U+FFFD and conversion goes on with the next byte; zero bytes are kept.
std::string FromCodePage(std::string_view bytes, CodePage cp);

// UTF-8 to code-page bytes. A character the code page lacks, and a malformed
// UTF-8 sequence, becomes '?'.
std::string ToCodePage(std::string_view utf8, CodePage cp);

// The longest leading part of `encoded` (code-page bytes) that fits `width`
// bytes without splitting a double-byte character.
std::string FitToField(std::string_view encoded, std::size_t width, CodePage cp);

// Whether `text` is strict UTF-8: no overlong forms, no surrogates, nothing
// past U+10FFFF, as JSON readers demand.
bool IsUtf8(std::string_view text);

// The first maxChars characters (code points) of UTF-8 text.
std::string FirstUtf8Chars(std::string_view text, std::size_t maxChars);

// The bytes up to the first zero byte, at most maxBytes: fixed-width fields
// that are full carry no terminator.
std::string TextBeforeZero(const char* bytes, std::size_t maxBytes);

}  // namespace marindo
