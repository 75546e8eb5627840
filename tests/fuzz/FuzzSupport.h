#pragma once

// What the fuzz targets share: the failure that libFuzzer reports, and the
// code pages a clock's text may arrive in.

#include <array>
#include <cstdint>
#include <string_view>

#include "platform/CodePage.h"

namespace marindo::fuzz {

// A broken promise of the code under test: libFuzzer keeps the input.
inline void Check(bool condition) {
  if (!condition) __builtin_trap();
}

inline constexpr std::array<CodePage, 14> kCodePages{
    CodePage::Cp874,  CodePage::Cp932,  CodePage::Cp936,  CodePage::Cp949,  CodePage::Cp950,
    CodePage::Cp1250, CodePage::Cp1251, CodePage::Cp1252, CodePage::Cp1253, CodePage::Cp1254,
    CodePage::Cp1255, CodePage::Cp1256, CodePage::Cp1257, CodePage::Cp1258};

inline CodePage CodePageOf(std::uint8_t selector) { return kCodePages[selector % kCodePages.size()]; }

// Well-formed UTF-8: every lead byte followed by its continuation bytes, no
// overlong forms, no surrogates, nothing above U+10FFFF.
inline bool IsUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    std::uint32_t value = 0;
    if (lead < 0x80U) {
      ++i;
      continue;
    }
    if ((lead & 0xE0U) == 0xC0U) {
      length = 2;
      value = lead & 0x1FU;
    } else if ((lead & 0xF0U) == 0xE0U) {
      length = 3;
      value = lead & 0x0FU;
    } else if ((lead & 0xF8U) == 0xF0U) {
      length = 4;
      value = lead & 0x07U;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0U) != 0x80U) return false;
      value = (value << 6) | (next & 0x3FU);
    }
    constexpr std::array<std::uint32_t, 5> kLeast{0, 0, 0x80, 0x800, 0x10000};
    if (value < kLeast[length] || value > 0x10FFFFU || (value >= 0xD800U && value <= 0xDFFFU)) return false;
    i += length;
  }
  return true;
}

}  // namespace marindo::fuzz
