#include <QLineEdit>

#include "address_box.h"
#include "box.h"
#include "uictl/uictl.h"
#include "uictl_test.h"

namespace uictl::test {
namespace {

class IpBoxTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    Open(
        "CONTROL \"NSIPADDRESSBOX\" 100 10 10 200 24\n"
        "CONTROL \"NSEDITBOX\" 200 10 60 120 24");
    box_ = Item<AddressBox>(100);
    ASSERT_NE(box_, nullptr);
    box_->Field(0)->setFocus();
    commands_.clear();
  }
  QLineEdit* Focused() { return qobject_cast<QLineEdit*>(QApplication::focusWidget()); }
  AddressBox* box_ = nullptr;
};

TEST_F(IpBoxTest, ThreeDigitsMoveToTheNextFieldWithItsTextSelected) {
  NsIPAddressBoxSetValue(dialog_.get(), 100, 0x04030201);
  box_->Field(0)->clear();
  box_->Field(0)->setFocus();
  commands_.clear();
  Type("192");
  EXPECT_EQ(box_->Field(0)->text(), "192");
  ASSERT_EQ(Focused(), box_->Field(1));
  EXPECT_EQ(box_->Field(1)->selectedText(), "2");
  EXPECT_EQ(CountCommands(100, EN_CHANGE), 3);
}

TEST_F(IpBoxTest, DotAfterANumberMovesOnAndDoesNothingInAnEmptyField) {
  Type(".");
  EXPECT_EQ(Focused(), box_->Field(0));
  EXPECT_EQ(box_->Field(0)->text(), "");
  Type("10.");
  EXPECT_EQ(box_->Field(0)->text(), "10");
  EXPECT_EQ(Focused(), box_->Field(1));
  EXPECT_EQ(beeps_, 0);
}

TEST_F(IpBoxTest, ANumberAbove255WarnsAndUndoesTheLastKeystroke) {
  Type("300");
  ASSERT_EQ(warnings_.size(), 1u);
  EXPECT_EQ(warnings_[0].text, "Enter a value from 0 to 255.");
  EXPECT_EQ(warnings_[0].owner, dialog_.get());
  EXPECT_EQ(box_->Field(0)->text(), "30");
  EXPECT_EQ(Focused(), box_->Field(0));
  // The undone field still reads as its last good value.
  EXPECT_EQ(NsIPAddressBoxGetValue(dialog_.get(), 100), 30u);
}

TEST_F(IpBoxTest, SetValueShowsTheBytesInOrderWithoutChangeNotifications) {
  const DWORD value = 192u | 168u << 8 | 0u << 16 | 1u << 24;
  EXPECT_EQ(NsIPAddressBoxSetValue(dialog_.get(), 100, value), 0u);
  EXPECT_EQ(box_->Field(0)->text(), "192");
  EXPECT_EQ(box_->Field(1)->text(), "168");
  EXPECT_EQ(box_->Field(2)->text(), "0");
  EXPECT_EQ(box_->Field(3)->text(), "1");
  EXPECT_EQ(CountCommands(100, EN_CHANGE), 0);
  EXPECT_EQ(NsIPAddressBoxGetValue(dialog_.get(), 100), value);
  NsIPAddressBoxClearValue(dialog_.get(), 100);
  EXPECT_EQ(NsIPAddressBoxGetValue(dialog_.get(), 100), 0u);
  EXPECT_EQ(CountCommands(100, EN_CHANGE), 0);
}

TEST_F(IpBoxTest, BackspaceAtTheStartOfAFieldGoesBackWithoutDeleting) {
  Type("10.");
  ASSERT_EQ(Focused(), box_->Field(1));
  Key(Qt::Key_Backspace);
  EXPECT_EQ(Focused(), box_->Field(0));
  EXPECT_EQ(box_->Field(0)->text(), "10");
  EXPECT_EQ(box_->Field(0)->cursorPosition(), 2);
  EXPECT_FALSE(box_->Field(0)->hasSelectedText());
  // From the first field there is nowhere to go; the key is still consumed.
  Key(Qt::Key_Home);
  Key(Qt::Key_Backspace);
  EXPECT_EQ(Focused(), box_->Field(0));
  EXPECT_EQ(box_->Field(0)->text(), "10");
}

TEST_F(IpBoxTest, ArrowsCrossFieldsOnlyAtTheTextEnds) {
  Type("12");
  Key(Qt::Key_Left);
  EXPECT_EQ(Focused(), box_->Field(0));
  Key(Qt::Key_End);
  Key(Qt::Key_Right);
  EXPECT_EQ(Focused(), box_->Field(1));
  EXPECT_EQ(box_->Field(1)->cursorPosition(), 0);
  Key(Qt::Key_Left);
  EXPECT_EQ(Focused(), box_->Field(0));
}

TEST_F(IpBoxTest, LettersBeepAndNeverEnter) {
  Type("1a-2");
  EXPECT_EQ(box_->Field(0)->text(), "12");
  EXPECT_EQ(beeps_, 2);
}

TEST_F(IpBoxTest, TabLeavesTheBoxAndEnterAndEscapeReachTheDialog) {
  Type("1");
  Key(Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), Item<Box>(200)->Edit());
  EXPECT_EQ(CountCommands(100, EN_KILLFOCUS), 1);
  box_->Field(2)->setFocus();
  EXPECT_EQ(CountCommands(100, EN_SETFOCUS), 1);
  Key(Qt::Key_Return);
  EXPECT_EQ(CountCommands(IDOK, 0), 1);
  EXPECT_EQ(dialog_->result(), QDialog::Accepted);
}

TEST_F(IpBoxTest, EnableAndDefineAreKeptAndReported) {
  EXPECT_TRUE(NsIPAddressBoxIsEnabled(dialog_.get(), 100));
  EXPECT_TRUE(NsIPAddressBoxIsDefined(dialog_.get(), 100));
  NsIPAddressBoxEnable(dialog_.get(), 100, 0);
  EXPECT_FALSE(NsIPAddressBoxIsEnabled(dialog_.get(), 100));
  EXPECT_FALSE(box_->Field(3)->isEnabled());
  NsIPAddressBoxDefine(dialog_.get(), 100, 0);
  EXPECT_FALSE(NsIPAddressBoxIsDefined(dialog_.get(), 100));
  NsIPAddressBoxEnable(dialog_.get(), 100, 1);
  box_->Field(0)->setFocus();
  Type("7");
  EXPECT_TRUE(NsIPAddressBoxIsDefined(dialog_.get(), 100));
  // A dialog item that is not there, or not a control, is ignored.
  EXPECT_EQ(NsIPAddressBoxGetValue(dialog_.get(), 999), 0u);
  EXPECT_FALSE(NsIPAddressBoxIsEnabled(dialog_.get(), IDOK));
}

TEST_F(IpBoxTest, FieldMessagesMoveBetweenFields) {
  EXPECT_EQ(box_->Dispatch(1024, 0, 39), 1);
  EXPECT_EQ(Focused(), box_->Field(1));
  EXPECT_EQ(box_->Dispatch(1024, 0, 37), 1);
  EXPECT_EQ(Focused(), box_->Field(0));
  EXPECT_EQ(box_->Dispatch(1024, 0, 37), 0);
}

class NetWareBoxTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    Open("CONTROL \"NSNWADDRESSBOX\" 300 10 10 300 24");
    box_ = Item<AddressBox>(300);
    ASSERT_NE(box_, nullptr);
    box_->Field(0)->setFocus();
  }
  AddressBox* box_ = nullptr;
};

TEST_F(NetWareBoxTest, HexDigitsAreUpperCasedAndTheNetworkFieldMovesOnWhenFull) {
  Type("0a1b2c3dg");
  EXPECT_EQ(box_->Field(0)->text(), "0A1B2C3D");
  EXPECT_EQ(QApplication::focusWidget(), box_->Field(1));
  EXPECT_EQ(box_->Field(1)->text(), "");
  EXPECT_EQ(beeps_, 1);
  Type("00000000001");
  unsigned char value[10] = {};
  ASSERT_TRUE(NsNetWareAddressBoxGetValue(dialog_.get(), 300, value));
  const unsigned char expected[10] = {0x0A, 0x1B, 0x2C, 0x3D, 0, 0, 0, 0, 0, 0x01};
  EXPECT_EQ(0, std::memcmp(value, expected, 10));
}

TEST_F(NetWareBoxTest, SetValueWritesUpperCaseHexAndGetValueFailsOnAnEmptyField) {
  const unsigned char value[10] = {0xDE, 0xAD, 0xBE, 0xEF, 0, 0x1B, 0x21, 0x3C, 0x4D, 0xFF};
  NsNetWareAddressBoxSetValue(dialog_.get(), 300, value);
  EXPECT_EQ(box_->Field(0)->text(), "DEADBEEF");
  EXPECT_EQ(box_->Field(1)->text(), "001B213C4DFF");
  unsigned char back[10] = {};
  ASSERT_TRUE(NsNetWareAddressBoxGetValue(dialog_.get(), 300, back));
  EXPECT_EQ(0, std::memcmp(value, back, 10));
  EXPECT_FALSE(NsNetWareAddressBoxGetValue(dialog_.get(), 300, nullptr));
  NsNetWareAddressBoxSetValue(dialog_.get(), 300, nullptr);  // does nothing
  EXPECT_EQ(box_->Field(0)->text(), "DEADBEEF");
  NsNetWareAddressBoxClearValue(dialog_.get(), 300);
  EXPECT_FALSE(NsNetWareAddressBoxGetValue(dialog_.get(), 300, back));
}

}  // namespace
}  // namespace uictl::test
