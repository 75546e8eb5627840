#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <array>
#include <clocale>
#include <cstdlib>
#include <optional>
#include <string>

namespace marindo {
namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

TEST(CodePageTest, LocaleNameGivesTheWindowsCodePageOfItsLanguage) {
  struct Case {
    const char* locale;
    CodePage expected;
  };
  const Case cases[] = {
      {"zh_CN.UTF-8", CodePage::Cp936},  {"zh_SG.GBK", CodePage::Cp936},   {"zh", CodePage::Cp936},
      {"zh_TW.UTF-8", CodePage::Cp950},  {"zh_HK.BIG5-HKSCS", CodePage::Cp950},
      {"ja_JP.UTF-8", CodePage::Cp932},  {"ko_KR.EUC-KR", CodePage::Cp949},
      {"ru_RU.UTF-8", CodePage::Cp1251}, {"uk_UA", CodePage::Cp1251},      {"sr_RS", CodePage::Cp1251},
      {"cs_CZ.UTF-8", CodePage::Cp1250}, {"pl_PL", CodePage::Cp1250},      {"sq_AL", CodePage::Cp1250},
      {"el_GR.UTF-8", CodePage::Cp1253}, {"tr_TR.UTF-8", CodePage::Cp1254}, {"az_AZ", CodePage::Cp1254},
      {"he_IL.UTF-8", CodePage::Cp1255}, {"ar_EG.UTF-8", CodePage::Cp1256}, {"fa_IR", CodePage::Cp1256},
      {"lt_LT.UTF-8", CodePage::Cp1257}, {"lv_LV", CodePage::Cp1257},      {"vi_VN", CodePage::Cp1258},
      {"th_TH.UTF-8", CodePage::Cp874},  {"RU_ru", CodePage::Cp1251},      {"ru", CodePage::Cp1251},
      {"en_US.UTF-8", CodePage::Cp1252}, {"de_DE@euro", CodePage::Cp1252}, {"fr", CodePage::Cp1252},
      {"C", CodePage::Cp1252},           {"POSIX", CodePage::Cp1252},      {"C.UTF-8", CodePage::Cp1252},
      {"", CodePage::Cp1252},            {"rux_RU", CodePage::Cp1252},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CodePageForLanguage(c.locale), c.expected) << c.locale;
  }
}

// The test process never calls setlocale(LC_ALL, ""), so it runs in "C" and
// the code page comes from the environment.
class CodePageEnvironmentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C");
    for (std::size_t i = 0; i < kVariables.size(); ++i) {
      if (const char* value = std::getenv(kVariables[i])) {
        saved_[i] = value;
      }
      ::unsetenv(kVariables[i]);
    }
  }
  void TearDown() override {
    for (std::size_t i = 0; i < kVariables.size(); ++i) {
      if (saved_[i]) {
        ::setenv(kVariables[i], saved_[i]->c_str(), 1);
      } else {
        ::unsetenv(kVariables[i]);
      }
    }
  }

  static constexpr std::array<const char*, 3> kVariables{"LC_ALL", "LC_CTYPE", "LANG"};
  std::array<std::optional<std::string>, 3> saved_;
};

TEST_F(CodePageEnvironmentTest, CLocaleFallsBackToTheEnvironmentInItsPrecedence) {
  EXPECT_EQ(CodePageForLocale(), CodePage::Cp1252);
  ::setenv("LANG", "ja_JP.UTF-8", 1);
  EXPECT_EQ(CodePageForLocale(), CodePage::Cp932);
  ::setenv("LC_CTYPE", "ko_KR.UTF-8", 1);
  EXPECT_EQ(CodePageForLocale(), CodePage::Cp949);
  ::setenv("LC_ALL", "", 1);
  EXPECT_EQ(CodePageForLocale(), CodePage::Cp949) << "empty counts as unset";
  ::setenv("LC_ALL", "ru_RU.UTF-8", 1);
  EXPECT_EQ(CodePageForLocale(), CodePage::Cp1251);
}

TEST(CodePageTest, TextRoundTripsThroughItsCodePage) {
  struct Case {
    CodePage cp;
    const char* utf8;
    const char* bytes;
  };
  const Case cases[] = {
      {CodePage::Cp1252, "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC", "Gr\xFC\xDF" "e \x80"},  // Grüße €
      {CodePage::Cp936, "A1\xE4\xB8\xAD\xE6\x96\x87", "A1\xD6\xD0\xCE\xC4"},              // A1中文
      {CodePage::Cp932, "\xE6\x99\x82\xE8\xA8\x88", "\x8E\x9E\x8C\x76"},                  // 時計
      {CodePage::Cp950, "\xE6\x99\x82\xE9\x90\x98", "\xAE\xC9\xC4\xC1"},                  // 時鐘
      {CodePage::Cp949, "\xEC\x8B\x9C\xEA\xB3\x84", "\xBD\xC3\xB0\xE8"},                  // 시계
      {CodePage::Cp1251, "\xD0\x9F\xD1\x80\xD0\xB8", "\xCF\xF0\xE8"},                    // При
      {CodePage::Cp1258, "Vi\xE1\xBB\x87t", "Vi\xEA\xF2t"},                              // Việt
      {CodePage::Cp1258, "Vie", "Vie"},  // a last letter that might still take a mark
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToCodePage(c.utf8, c.cp), c.bytes) << static_cast<unsigned>(c.cp);
    EXPECT_EQ(FromCodePage(c.bytes, c.cp), c.utf8) << static_cast<unsigned>(c.cp);
  }
}

TEST(CodePageTest, CharacterTheCodePageLacksBecomesAQuestionMark) {
  struct Case {
    CodePage cp;
    std::string utf8;
    std::string expected;
  };
  const Case cases[] = {
      {CodePage::Cp1252, "a\xE4\xB8\xAD" "b", "a?b"},                // 中
      {CodePage::Cp1251, "\xC3\x84x", "?x"},                         // Ä
      {CodePage::Cp936, "\xF0\x9F\x98\x80\xE4\xB8\xAD", "?\xD6\xD0"},  // emoji, 中
      {CodePage::Cp1252, "a\xFF" "b", "a?b"},                        // not UTF-8
      {CodePage::Cp1252, "a\xE4\xB8", "a?"},                         // cut sequence
      {CodePage::Cp1252, std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToCodePage(c.utf8, c.cp), c.expected) << c.utf8;
  }
}

TEST(CodePageTest, BytesInvalidInTheCodePageShowAsReplacementCharacters) {
  struct Case {
    CodePage cp;
    std::string bytes;
    std::string expected;
  };
  const Case cases[] = {
      {CodePage::Cp1252, "a\x81" "b", std::string("a") + kReplacement + "b"},
      {CodePage::Cp936, "\xD6\xD0\x81", std::string("\xE4\xB8\xAD") + kReplacement},  // lead byte at the end
      {CodePage::Cp936, "\x81 x", std::string(kReplacement) + " x"},                  // lead without trail
      {CodePage::Cp932, "\x81", kReplacement},
      // A pair that is no character: each byte is replaced on its own, and
      // the zero after it still ends the field.
      {CodePage::Cp949, std::string("H\xA2\xE8\0A", 5),
       std::string("H") + kReplacement + kReplacement + std::string("\0A", 2)},
      {CodePage::Cp949, "\xC3\xBD\xA2\xE8", std::string("\xEC\xB2\xB5") + kReplacement + kReplacement},
      {CodePage::Cp949, "\xA2\xE8" "A", std::string(kReplacement) + kReplacement + "A"},
      {CodePage::Cp936, std::string("\xD6\0\xD0", 3), std::string(kReplacement) + std::string("\0", 1) + kReplacement},
      {CodePage::Cp1252, std::string("a\0b", 3), std::string("a\0b", 3)},
      {CodePage::Cp1252, "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FromCodePage(c.bytes, c.cp), c.expected) << c.bytes;
  }
}

TEST(CodePageTest, FitToFieldNeverSplitsADoubleByteCharacter) {
  struct Case {
    CodePage cp;
    std::string encoded;
    std::size_t width;
    std::string expected;
  };
  const Case cases[] = {
      {CodePage::Cp936, "\xD6\xD0\xCE\xC4", 4, "\xD6\xD0\xCE\xC4"},
      {CodePage::Cp936, "\xD6\xD0\xCE\xC4", 3, "\xD6\xD0"},
      {CodePage::Cp936, "\xD6\xD0\xCE\xC4", 1, ""},
      {CodePage::Cp936, "ab\xD6\xD0", 3, "ab"},
      {CodePage::Cp936, "a\xD6\xD0" "b", 3, "a\xD6\xD0"},
      {CodePage::Cp932, "a\x8E\x9E", 2, "a"},
      {CodePage::Cp932, "\xB1\xB2\xB3", 2, "\xB1\xB2"},  // half-width kana: one byte each
      {CodePage::Cp950, "\xAE\xC9\xC4\xC1", 3, "\xAE\xC9"},
      {CodePage::Cp949, "\xBD\xC3\xB0\xE8", 3, "\xBD\xC3"},
      {CodePage::Cp1252, "\xFC\xDF\xE4", 2, "\xFC\xDF"},   // single-byte: any byte ends a character
      {CodePage::Cp1252, "abc", 0, ""},
      {CodePage::Cp1252, "abc", 10, "abc"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FitToField(c.encoded, c.width, c.cp), c.expected)
        << static_cast<unsigned>(c.cp) << " width " << c.width;
  }
}

TEST(CodePageTest, TextBeforeZeroStopsAtZeroOrTheFieldsEnd) {
  const char withZero[8] = {'A', '1', '\0', 'x', 'y', 'z', 'w', 'v'};
  const char full[4] = {'A', 'B', 'C', 'D'};  // no terminator at all
  EXPECT_EQ(TextBeforeZero(withZero, sizeof withZero), "A1");
  EXPECT_EQ(TextBeforeZero(full, sizeof full), "ABCD");
  EXPECT_EQ(TextBeforeZero(full, 2), "AB");
  EXPECT_EQ(TextBeforeZero(full, 0), "");
  EXPECT_EQ(TextBeforeZero(nullptr, 5), "");
}

}  // namespace
}  // namespace marindo
