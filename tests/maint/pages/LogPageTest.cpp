// The "Log Info" page: its fields per clock model, the folder chooser, the
// checks before a download and the message of every outcome, with TFTP in
// memory.

#include "maint/Log.h"

#include <algorithm>

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include "maint/pages/MaintPagesTestSupport.h"

namespace marindo {
namespace {

using namespace marindo::testing;

const std::string kFolder = "/var/tmp/logs";
const std::string kLocalLog = kFolder + "/127.0.0.1log.txt";

Bytes DataPacket(std::uint16_t block, const std::string& text) {
  Bytes packet(4 + text.size());
  packet[1] = 3;
  packet[2] = static_cast<std::uint8_t>(block >> 8);
  packet[3] = static_cast<std::uint8_t>(block & 0xFF);
  std::copy(text.begin(), text.end(), packet.begin() + 4);
  return packet;
}

class LogPageTest : public ::testing::Test {
 protected:
  LogPageTest() : page_(selection_, notifier_, nullptr, choosers_, Timings(), CodePage::Cp936, tftp_) {
    selection_.clocks = &clocks_;
  }

  static TftpTimings Timings() {
    TftpTimings timings;
    timings.wait = std::chrono::microseconds(1);
    return timings;
  }

  void SelectClock(bool newPlatform) {
    ClockRecord record;
    record.ip = kLoopback;
    record.newPlatform = newPlatform;
    clocks_.ClearClocks();
    clocks_.Append(record);
    selection_.selected = kLoopback;
  }
  // What the main window does when the operator picks a new-platform clock.
  void SelectNewClockWithFolder() {
    SelectClock(true);
    page_.RefreshLogFields();
    Edit("savePath")->setText(QString::fromStdString(kFolder));
  }

  QLineEdit* Edit(const char* name) {
    auto* edit = page_.findChild<QLineEdit*>(name);
    EXPECT_NE(edit, nullptr) << name;
    return edit;
  }
  // The four controls that RefreshLogFields switches, all alike.
  std::vector<bool> FieldsEnabled() {
    return {Edit("fileName")->isEnabled(), Edit("savePath")->isEnabled(),
            page_.findChild<QCheckBox*>("download")->isEnabled(),
            page_.findChild<QPushButton*>("browse")->isEnabled()};
  }
  std::vector<std::string> Download() {
    notifier_.messages.clear();
    page_.StartDownload();
    return notifier_.messages;
  }

  ClockList clocks_;
  ListSelection selection_;
  RecordingNotifier notifier_;
  AnsweringChoosers choosers_;
  MemoryTftp tftp_;
  Log page_;
};

TEST_F(LogPageTest, FieldsFollowTheSelectedClocksModel) {
  const std::vector<bool> allOn(4, true);
  const std::vector<bool> allOff(4, false);
  EXPECT_EQ(FieldsEnabled(), allOff);  // no clock yet

  Edit("savePath")->setText("/keep/me");
  SelectClock(true);
  page_.RefreshLogFields();
  EXPECT_EQ(Edit("fileName")->text(), "log.txt");
  EXPECT_EQ(FieldsEnabled(), allOn);

  // A typed name gives way to the default at the next refresh.
  Edit("fileName")->setText("other.txt");
  page_.RefreshLogFields();
  EXPECT_EQ(Edit("fileName")->text(), "log.txt");

  SelectClock(false);
  page_.RefreshLogFields();
  EXPECT_EQ(Edit("fileName")->text(), "");
  EXPECT_EQ(FieldsEnabled(), allOff);

  selection_.selected.reset();
  page_.RefreshLogFields();
  EXPECT_EQ(Edit("fileName")->text(), "");
  EXPECT_EQ(FieldsEnabled(), allOff);
  EXPECT_EQ(Edit("savePath")->text(), "/keep/me");
}

TEST_F(LogPageTest, BrowseFillsTheSavePathUnlessCancelled) {
  Edit("savePath")->setText("/old");
  choosers_.answer = "";
  page_.BrowseSaveFolder();
  EXPECT_EQ(Edit("savePath")->text(), "/old");
  choosers_.answer = "/home/op/logs";
  SelectClock(true);
  page_.RefreshLogFields();
  page_.findChild<QPushButton*>("browse")->click();
  EXPECT_EQ(choosers_.folderRequests, 2);
  EXPECT_EQ(Edit("savePath")->text(), "/home/op/logs");
}

TEST_F(LogPageTest, ChecksComeInOrderAndSendNothing) {
  struct Case {
    bool clock;
    bool newPlatform;
    const char* name;
    const char* folder;
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {false, true, "log.txt", "/tmp", {}},
      {true, true, "", "", {"Please fill in the file name"}},
      {true, true, "log.txt", "", {"Please select a path to save the file"}},
      // An older clock's disabled, empty name.
      {true, false, nullptr, "/tmp", {"Please fill in the file name"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name != nullptr ? c.name : "(refreshed)") + " " + c.folder);
    selection_.selected.reset();
    if (c.clock) SelectClock(c.newPlatform);
    page_.RefreshLogFields();
    if (c.name != nullptr) Edit("fileName")->setText(c.name);
    Edit("savePath")->setText(c.folder);
    EXPECT_EQ(Download(), c.messages);
  }
  EXPECT_EQ(tftp_.socketsOpened, 0);
  EXPECT_TRUE(tftp_.files.empty());
}

TEST_F(LogPageTest, DoneNamesTheAddressAndLogTxt) {
  SelectNewClockWithFolder();
  tftp_.replies.push_back(DataPacket(1, "first line\n"));
  EXPECT_EQ(Download(), std::vector<std::string>{"Log file 127.0.0.1log.txt download done."});
  EXPECT_EQ(tftp_.files.at(kLocalLog), Bytes(std::begin("first line\n"), std::end("first line\n") - 1));
  // The read request went to port 69 of the clock.
  ASSERT_FALSE(tftp_.sent.empty());
  EXPECT_EQ(tftp_.sent.front().port, 69);
  EXPECT_EQ(tftp_.sent.front().bytes[1], 1);
}

TEST_F(LogPageTest, TypedNameWithAFolderStillReportsLogTxt) {
  SelectNewClockWithFolder();
  Edit("fileName")->setText("sub/a.txt");
  tftp_.replies.push_back(DataPacket(1, "a"));
  EXPECT_EQ(Download(), std::vector<std::string>{"Log file 127.0.0.1log.txt download done."});
  EXPECT_EQ(tftp_.files.count(kFolder + "/127.0.0.1a.txt"), 1u);
  const std::string request(tftp_.sent.front().bytes.begin() + 2, tftp_.sent.front().bytes.end());
  EXPECT_EQ(request.substr(0, request.find('\0')), "/usr/tftpfile/sub/a.txt");
}

TEST_F(LogPageTest, TypedNameGoesToTheClockInItsCodePage) {
  SelectNewClockWithFolder();
  Edit("fileName")->setText(QString::fromUtf8("日志.txt"));
  tftp_.replies.push_back(DataPacket(1, "z"));
  EXPECT_EQ(Download(), std::vector<std::string>{"Log file 127.0.0.1log.txt download done."});
  const Bytes& request = tftp_.sent.front().bytes;
  const std::string path = "/usr/tftpfile/" + ToCodePage("日志.txt", CodePage::Cp936);
  EXPECT_EQ(std::string(request.begin() + 2, request.begin() + 2 + static_cast<std::ptrdiff_t>(path.size())), path);
  EXPECT_EQ(request.size(), path.size() + 9);
}

TEST_F(LogPageTest, SecondDownloadFindsTheFileAndLeavesIt) {
  SelectNewClockWithFolder();
  tftp_.files[kLocalLog] = Bytes{'o', 'l', 'd'};
  tftp_.replies.push_back(DataPacket(1, "new"));
  EXPECT_EQ(Download(),
            std::vector<std::string>{"Log file 127.0.0.1log.txt already exists in the current path, please rename "
                                     "the existing one or change the saving directory."});
  EXPECT_EQ(tftp_.files.at(kLocalLog), (Bytes{'o', 'l', 'd'}));
}

TEST_F(LogPageTest, EveryFailureIsReportedAndThePageGoesOn) {
  struct Case {
    const char* what;
    std::function<void(MemoryTftp&)> arrange;
    QString name;
    std::string message;
  };
  const Case cases[] = {
      {"silent clock", [](MemoryTftp&) {}, "log.txt", "Clock not response,please try again."},
      {"error packet, then silence",
       [](MemoryTftp& t) { t.replies.push_back({0, 5, 0, 1, 'F', 0}); }, "log.txt",
       "Clock not response,please try again."},
      {"no socket", [](MemoryTftp& t) { t.noSocket = true; }, "log.txt",
       "No network socket could be opened for the download, please try again."},
      {"disk full",
       [](MemoryTftp& t) {
         t.failWrites = true;
         t.replies.push_back(DataPacket(1, "x"));
       },
       "log.txt",
       "Log file 127.0.0.1log.txt could not be written completely, please check the saving directory and try "
       "again."},
      {"name too long", [](MemoryTftp&) {}, QString(80, 'n'), "The file name is too long, please use a shorter name."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tftp_.files.clear();
    tftp_.replies.clear();
    tftp_.noSocket = false;
    tftp_.failWrites = false;
    c.arrange(tftp_);
    SelectNewClockWithFolder();
    Edit("fileName")->setText(c.name);
    EXPECT_EQ(Download(), std::vector<std::string>{c.message});
  }
}

}  // namespace
}  // namespace marindo
