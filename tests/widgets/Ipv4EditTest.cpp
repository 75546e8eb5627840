// The address field as the operator types into it.

#include "widgets/Ipv4Edit.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>

namespace marindo {
namespace {

class Ipv4EditTest : public ::testing::Test {
 protected:
  Ipv4EditTest() {
    field_.show();
    field_.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&field_));
    field_.Octet(0)->setFocus();
  }

  // Keys go wherever the focus is, as they would from a keyboard.
  static void Type(const QString& keys) {
    for (const QChar key : keys) QTest::keyClick(QApplication::focusWidget(), key.toLatin1());
  }

  Ipv4Edit field_;
};

struct Typing {
  const char* keys;
  std::uint32_t address;
  bool blank;
};

TEST_F(Ipv4EditTest, TypedTextGivesTheAddress) {
  const std::vector<Typing> cases{
      {"", 0, true},
      {"192.168.1.20", 0xC0A80114, false},
      {"192168001020", 0xC0A80114, false},  // three digits move on by themselves
      {"300.1.2.3", 0xFF010203, false},     // above 255 becomes 255
      {"10..5", 0x0A050000, false},         // a dot in an empty octet does nothing
      {"0.0.0.0", 0, false},                // reads like blank, but is not
      {"10", 0x0A000000, false},
  };
  for (const Typing& c : cases) {
    SCOPED_TRACE(c.keys);
    field_.ClearAddress();
    field_.Octet(0)->setFocus();
    Type(QString::fromLatin1(c.keys));
    EXPECT_EQ(field_.Address(), c.address);
    EXPECT_EQ(field_.IsBlank(), c.blank);
  }
}

TEST_F(Ipv4EditTest, LettersAndLongNumbersAreNotTaken) {
  Type("1a2b");
  EXPECT_EQ(field_.Octet(0)->text(), "12");
  Type("3");
  Type("4");  // the fourth digit goes to the next octet
  EXPECT_EQ(field_.Octet(0)->text(), "123");
  EXPECT_EQ(field_.Octet(1)->text(), "4");
}

TEST_F(Ipv4EditTest, BackspaceInAnEmptyOctetGoesBack) {
  Type("10.");
  ASSERT_EQ(QApplication::focusWidget(), field_.Octet(1));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
  EXPECT_EQ(QApplication::focusWidget(), field_.Octet(0));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
  EXPECT_EQ(field_.Octet(0)->text(), "1");
}

TEST_F(Ipv4EditTest, SetAndClearRoundTrip) {
  field_.SetAddress(0x7F000001);
  EXPECT_EQ(field_.Address(), 0x7F000001u);
  EXPECT_EQ(field_.Octet(3)->text(), "1");
  EXPECT_FALSE(field_.IsBlank());
  field_.ClearAddress();
  EXPECT_TRUE(field_.IsBlank());
  EXPECT_EQ(field_.Address(), 0u);
}

}  // namespace
}  // namespace marindo
