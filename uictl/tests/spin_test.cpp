#include <QLineEdit>

#include "spin.h"
#include "uictl/uictl.h"
#include "uictl_test.h"

namespace uictl::test {
namespace {

class SpinTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    Open(
        "CONTROL \"NSSPINBOX\" 60 10 10 80 24 \"0,100\"\n"
        "CONTROL \"NSSPINBOX\" 61 10 40 80 24 \"0,500,TENTHS\"\n"
        "CONTROL \"NSMICROSCROLL\" 62 100 10 16 30\n"
        "CONTROL \"NSEDITBOX\" 63 10 80 80 24");
    commands_.clear();
  }
  SpinBox* Spin(int id) { return Item<SpinBox>(id); }
  bool TypeAndTab(int id, const char* text) {
    Spin(id)->Edit()->setFocus();
    Spin(id)->Edit()->selectAll();
    Type(text);
    Key(Qt::Key_Tab);
    return QApplication::focusWidget() != Spin(id)->Edit();
  }
  HWND d() { return dialog_.get(); }
};

TEST_F(SpinTest, AValueAboveTheRangeIsRefusedAndSetToTheMaximum) {
  EXPECT_EQ(Spin(60)->Edit()->text(), "0");
  EXPECT_FALSE(TypeAndTab(60, "150"));
  ASSERT_EQ(warnings_.size(), 1u);
  EXPECT_EQ(warnings_[0].text, "Enter a value from 0 to 100.");
  EXPECT_EQ(Spin(60)->Edit()->text(), "100");
  EXPECT_EQ(NsSpinBoxGetValue(d(), 60), 100);
  EXPECT_TRUE(TypeAndTab(60, "42"));
  EXPECT_EQ(NsSpinBoxGetValue(d(), 60), 42);
  EXPECT_EQ(Spin(60)->Scroll()->Position(), 42);
}

TEST_F(SpinTest, OnlyDigitsEnterAndTheDotOnlyInTenths) {
  Spin(60)->Edit()->setFocus();
  Spin(60)->Edit()->selectAll();
  Type("1.x2");
  EXPECT_EQ(Spin(60)->Edit()->text(), "12");
  EXPECT_EQ(beeps_, 2);
  Spin(61)->Edit()->setFocus();
  Spin(61)->Edit()->selectAll();
  Type("2.5");
  EXPECT_EQ(Spin(61)->Edit()->text(), "2.5");
}

TEST_F(SpinTest, TenthsAreCheckedAgainstTheRangeAndTheHalfStep) {
  NsSpinBoxSetTick(d(), 61, 5);
  EXPECT_EQ(NsSpinBoxGetTick(d(), 61), 5);
  EXPECT_FALSE(TypeAndTab(61, "12.3"));
  EXPECT_EQ(warnings_.back().text, "Enter the value in steps of 0.5.");
  EXPECT_EQ(Spin(61)->Edit()->text(), "12.0");
  EXPECT_FALSE(TypeAndTab(61, "60"));
  EXPECT_EQ(warnings_.back().text, "Enter a value from 0.0 to 50.0.");
  EXPECT_EQ(Spin(61)->Edit()->text(), "50.0");
  EXPECT_TRUE(TypeAndTab(61, "7.5"));
  EXPECT_EQ(NsSpinBoxGetValue(d(), 61), 75);
  EXPECT_EQ(Spin(61)->Edit()->text(), "7.5");
  EXPECT_FALSE(TypeAndTab(61, "."));
  EXPECT_EQ(warnings_.back().text, "The input value is invalid.");
  EXPECT_EQ(Spin(61)->Edit()->text(), "0.0");
}

TEST_F(SpinTest, ArrowsStepByTheTickWithinTheRange) {
  NsSpinBoxSetRange(d(), 60, 0, 10);
  NsSpinBoxSetTick(d(), 60, 3);
  NsSpinBoxSetValue(d(), 60, 8);
  EXPECT_EQ(CountCommands(60, EN_CHANGE), 0);
  Spin(60)->Edit()->setFocus();
  Key(Qt::Key_Up);
  EXPECT_EQ(Spin(60)->Edit()->text(), "10") << "stops at the maximum";
  EXPECT_EQ(CountCommands(60, EN_CHANGE), 1);
  Key(Qt::Key_Up);
  EXPECT_EQ(NsSpinBoxGetValue(d(), 60), 10);
  QTest::mouseClick(Spin(60)->Scroll(), Qt::LeftButton, {}, QPoint(8, 20));
  EXPECT_EQ(NsSpinBoxGetValue(d(), 60), 7);
  const DWORD range = NsSpinBoxGetRange(d(), 60);
  EXPECT_EQ(range & 0xFFFF, 0u);
  EXPECT_EQ(range >> 16, 10u);
  Spin(60)->Edit()->setText("99");
  EXPECT_TRUE(NsSpinBoxIsError(d(), 60));
  EXPECT_EQ(NsSpinBoxGetValue(d(), 60), 7) << "the last good position";
  NsSpinBoxEnable(d(), 60, 0);
  EXPECT_FALSE(NsSpinBoxIsEnabled(d(), 60));
}

TEST_F(SpinTest, MicroScrollFunctions) {
  QWidget* ms = Item<MicroScroll>(62);
  ASSERT_NE(ms, nullptr);
  EXPECT_EQ(MSDwRangeSet(ms, 1, 5), 100u << 16);
  EXPECT_EQ(MSDwRangeGet(ms), 1u | 5u << 16);
  EXPECT_EQ(MSWCurrentPosGet(ms), 1) << "kept within the new range";
  EXPECT_EQ(MSWCurrentPosSet(ms, 9), 1);
  EXPECT_EQ(MSWCurrentPosGet(ms), 5);
  EXPECT_EQ(MSWTickSet(ms, 2), 1);
  EXPECT_EQ(MSWTickGet(ms), 2);
  EXPECT_FALSE(MSFNoPegScrollSet(ms, 1));
  QTest::mouseClick(ms, Qt::LeftButton, {}, QPoint(8, 4));
  EXPECT_EQ(MSWCurrentPosGet(ms), 1) << "without a peg it wraps to the minimum";
  EXPECT_EQ(CountCommands(62, MSN_POSCHANGED), 1);
  EXPECT_FALSE(MSFInvertRangeSet(ms, 1));
  EXPECT_TRUE(MSFInvertRangeGet(ms));
  QTest::mouseClick(ms, Qt::LeftButton, {}, QPoint(8, 4));
  EXPECT_EQ(MSWCurrentPosGet(ms), 5) << "inverted: up goes down, and wraps";
  MSCrColorSet(ms, 0x00123456);
  EXPECT_EQ(MSCrColorGet(ms), 0x00123456u);
  QWidget* edit = DialogItem(dialog_.get(), 63);
  EXPECT_EQ(MSHwndAssociateSet(ms, edit), nullptr);
  EXPECT_EQ(MSHwndAssociateGet(ms), edit);
  EXPECT_EQ(MSWCurrentPosGet(edit), 0) << "not a micro scroll";
}

}  // namespace
}  // namespace uictl::test
