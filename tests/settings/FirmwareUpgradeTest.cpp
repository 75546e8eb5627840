// The upgrade's and the download's texts and rules, without windows.

#include "settings/FirmwareUpgrade.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "platform/CodePage.h"
#include "settings/LogDownload.h"

namespace marindo {
namespace {

constexpr std::uint32_t kClock = 0xC0A80132;  // 192.168.1.50

TEST(FirmwareTypeRule, ExtensionAnywhereWithItsCase) {
  struct Case {
    const char* path;
    bool newPlatform;
    bool accepted;
  };
  const Case cases[] = {
      {"C:\\fw\\image.tar", true, true},     {"C:\\fw\\image.bin", true, false},
      {"/home/op/fw.tar.gz", true, true},    {"C:\\fw\\FW.TAR", true, false},
      {"C:\\fw\\image.tar", false, false},   {"C:\\fw\\image.bin", false, true},
      {"C:\\fw\\image.hex", false, true},    {"C:\\fw\\IMAGE.BIN", false, false},
      {"C:\\fw.bin\\readme.txt", false, true}, {"", true, false},
      {"", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + (c.newPlatform ? " new platform" : " older model"));
    EXPECT_EQ(FirmwareTypeAccepted(c.path, c.newPlatform), c.accepted);
  }
}

TEST(FirmwareTypeRule, DoubleBytePathIsSearchedInTheClocksCodePage) {
  // No trail byte of CP936 is a dot, so a Chinese folder does not hide or fake the type.
  EXPECT_TRUE(FirmwareTypeAccepted(ToCodePage("D:\\固件\\升级.tar", CodePage::Cp936), true));
  EXPECT_FALSE(FirmwareTypeAccepted(ToCodePage("D:\\固件\\升级.tar", CodePage::Cp936), false));
}

TEST(FirmwareTypeRule, RefusalsAndChooserTypesByModel) {
  EXPECT_STREQ(FirmwareTypeRefusal(true), "Only type of .tar firmware files is supported");
  EXPECT_STREQ(FirmwareTypeRefusal(false), "Only type of .bin/.hex firmware files are supported");
  EXPECT_STREQ(FirmwareFileFilter(true), "*.tar (*.tar)");
  EXPECT_STREQ(FirmwareFileFilter(false), "*.bin (*.bin);;*.hex (*.hex)");
}

TEST(UpgradeAnnouncement, EightBytesOnTheWire) {
  const ClockFrame frame = BuildUpgradeAnnouncement();
  const std::vector<std::uint8_t> wire(frame.Bytes().begin(), frame.Bytes().end());
  EXPECT_EQ(wire, (std::vector<std::uint8_t>{0x51, 0x4B, 0x80, 0x02, 0x0C, 0x01, 0xE5, 0x54}));
}

TEST(UpgradeProgressText, FileOf2560Bytes) {
  const char* expected[] = {
      "Block# 1 , Size#512 bytes ( 20.00 % )",  "Block# 2 , Size#1024 bytes ( 40.00 % )",
      "Block# 3 , Size#1536 bytes ( 60.00 % )", "Block# 4 , Size#2048 bytes ( 80.00 % )",
      "Block# 5 , Size#2560 bytes ( 100.00 % )",
  };
  for (std::uint64_t k = 1; k <= 5; ++k) EXPECT_EQ(BlockProgressText(k, 2560), expected[k - 1]);
  EXPECT_EQ(FinishProgressText(6, 2560), "Block# 6 , Size#2560 bytes ( 100 % )");
  EXPECT_EQ(UpgradeCounterText(1), "Total Update: 1");
  EXPECT_EQ(UpgradeCounterText(2), "Total Update: 2");
}

TEST(UpgradeProgressText, PercentageInSinglePrecision) {
  // 512 / 1536 * 100 is 33.333...; three blocks of 1000 give 51.2 %.
  EXPECT_EQ(BlockProgressText(1, 1536), "Block# 1 , Size#512 bytes ( 33.33 % )");
  EXPECT_EQ(BlockProgressText(1, 1000), "Block# 1 , Size#512 bytes ( 51.20 % )");
  EXPECT_EQ(BlockProgressText(1, 0), "Block# 1 , Size#512 bytes ( 0.00 % )");
}

TEST(UpgradeProgressText, LargeCountsDoNotWrap) {
  // 70000 blocks: past a 16-bit block number, still exact.
  EXPECT_EQ(BlockProgressText(70000, 70000ull * 512), "Block# 70000 , Size#35840000 bytes ( 100.00 % )");
  EXPECT_EQ(FinishProgressText(5000000000ull, 5000000000ull * 512),
            "Block# 5000000000 , Size#2560000000000 bytes ( 100 % )");
}

TEST(ProgressBarScale, RangeFitsAnIntForEveryLength) {
  struct Case {
    std::uint64_t length;
    int maximum;
  };
  const Case cases[] = {{2560, 5}, {511, 0}, {65536ull * 512, 65536}, {static_cast<std::uint64_t>(INT_MAX) * 512, INT_MAX}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    const ProgressBarScale scale = ProgressBarScaleFor(c.length);
    EXPECT_EQ(scale.maximum, c.maximum);
    EXPECT_EQ(scale.blocksPerStep, 1u);
  }
  for (std::uint64_t length : {(static_cast<std::uint64_t>(INT_MAX) + 1) * 512, UINT64_MAX}) {
    SCOPED_TRACE(length);
    const ProgressBarScale scale = ProgressBarScaleFor(length);
    EXPECT_GT(scale.maximum, 0);
    EXPECT_GT(scale.blocksPerStep, 1u);
    EXPECT_EQ(scale.Position(length / 512), scale.maximum);
    EXPECT_EQ(scale.Position(scale.blocksPerStep), 1);
  }
}

TEST(LogDownloadMessage, EveryOutcome) {
  struct Case {
    DownloadOutcome outcome;
    const char* name;
    const char* message;
  };
  const Case cases[] = {
      {DownloadOutcome::Done, "log.txt", "Log file 192.168.1.50log.txt download done."},
      {DownloadOutcome::Done, "sub/a.txt", "Log file 192.168.1.50log.txt download done."},
      {DownloadOutcome::NoResponse, "log.txt", "Clock not response,please try again."},
      {DownloadOutcome::FileNotCreated, "sub/a.txt",
       "Log file 192.168.1.50log.txt already exists in the current path, please rename the existing one or "
       "change the saving directory."},
      {DownloadOutcome::FileNotWritten, "sub/a.txt",
       "Log file 192.168.1.50a.txt could not be written completely, please check the saving directory and try "
       "again."},
      {DownloadOutcome::NameTooLong, "log.txt", "The file name is too long, please use a shorter name."},
      {DownloadOutcome::NoSocket, "log.txt",
       "No network socket could be opened for the download, please try again."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DownloadOutcomeMessage(c.outcome, kClock, c.name), c.message);
  }
}

}  // namespace
}  // namespace marindo
