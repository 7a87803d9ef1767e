#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

#include "box.h"
#include "lang.h"
#include "uictl/uictl.h"
#include "uictl_test.h"

namespace uictl::test {
namespace {

class BoxTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    Open(
        "CONTROL \"NSDECIBOX\" 10 10 10 80 24 \"1,10\"\n"
        "CONTROL \"NSDECIBOXEX\" 11 10 40 80 24 \"-100000,100000\"\n"
        "CONTROL \"NSHEXABOX\" 12 10 70 80 24\n"
        "CONTROL \"NSDNSHBOX\" 13 10 100 120 24\n"
        "CONTROL \"NSDNSDBOX\" 14 10 130 120 24\n"
        "CONTROL \"NSURIBOX\" 15 10 160 120 24\n"
        "CONTROL \"NSAPPLETALKNAMEBOX\" 16 150 10 120 24\n"
        "CONTROL \"NSEB1NAMEBOX\" 17 150 40 120 24\n"
        "CONTROL \"NSSVRNAMEBOX\" 18 150 70 120 24\n"
        "CONTROL \"NSEDITBOX\" 19 150 100 120 24\n"
        "CONTROL \"NSDECIBOX\" 20 150 130 80 24 \"5,50\"\n"
        "CONTROL \"NSDECIBOX\" 21 150 160 80 24 \"abc\"\n"
        "PUSHBUTTON \"Other\" 30 100 260 80 24");
    // Valid texts everywhere, so that no box keeps the focus when a test moves it.
    NsDeciBoxSetText(dialog_.get(), 10, "5");
    NsDeciBoxExSetText(dialog_.get(), 11, "0");
    NsDeciBoxSetText(dialog_.get(), 20, "5");
    NsDeciBoxSetText(dialog_.get(), 21, "0");
    BoxAt(15)->Edit()->setText("x");
    commands_.clear();
  }
  Box* BoxAt(int id) { return Item<Box>(id); }
  // Types into the box over its text (none: keeps the text) and presses Tab; true
  // when the focus left the box.
  bool TypeAndTab(int id, const char* text) {
    BoxAt(id)->Edit()->setFocus();
    if (*text) BoxAt(id)->Edit()->selectAll();
    Type(text);
    Key(Qt::Key_Tab);
    return QApplication::focusWidget() != BoxAt(id)->Edit();
  }
};

TEST_F(BoxTest, ADecimalRangeRefusesValuesOutsideItWithTheRangeMessage) {
  EXPECT_FALSE(TypeAndTab(10, "0"));
  ASSERT_EQ(warnings_.size(), 1u);
  EXPECT_EQ(warnings_[0].text, "Enter a value from 1 to 10.");
  EXPECT_EQ(warnings_[0].caption, "Zento Device Setup Utility");
  EXPECT_EQ(warnings_[0].owner, dialog_.get());
  EXPECT_EQ(BoxAt(10)->Edit()->selectedText(), "0");
  BoxAt(10)->Edit()->clear();
  EXPECT_TRUE(TypeAndTab(10, "10"));
  EXPECT_EQ(warnings_.size(), 1u);
  EXPECT_EQ(CountCommands(10, EN_KILLFOCUS), 1);
}

TEST_F(BoxTest, ADecimalBoxRefusesEmptyTextAndNonNumbers) {
  NsDeciBoxSetText(dialog_.get(), 10, "");
  EXPECT_FALSE(TypeAndTab(10, ""));
  EXPECT_EQ(warnings_.back().text, "Enter a value from 1 to 10.");
  EXPECT_FALSE(TypeAndTab(10, "1-"));
  EXPECT_EQ(warnings_.back().text, "The input value is invalid.");
  EXPECT_EQ(beeps_, 0);
  BoxAt(10)->Edit()->clear();
  Type("x5.");
  EXPECT_EQ(BoxAt(10)->Edit()->text(), "5");
  EXPECT_EQ(beeps_, 2);
}

TEST_F(BoxTest, RangesComeFromTheWindowText) {
  const DWORD range = NsDeciBoxGetRange(dialog_.get(), 20);
  EXPECT_EQ(range & 0xFFFF, 5u);
  EXPECT_EQ(range >> 16, 50u);
  EXPECT_TRUE(BoxAt(20)->state().rangeValid);
  EXPECT_FALSE(BoxAt(21)->state().rangeValid);
  EXPECT_EQ(BoxAt(21)->state().minimum, 0);
  EXPECT_EQ(BoxAt(21)->state().maximum, 100);
  // Without a valid range any number passes.
  EXPECT_TRUE(TypeAndTab(21, "-3000"));
  NsDeciBoxSetRange(dialog_.get(), 21, -5, 5);
  BoxAt(21)->Edit()->setFocus();
  EXPECT_EQ(NsDeciBoxGetRange(dialog_.get(), 21), 0x0005FFFBu);
  EXPECT_FALSE(TypeAndTab(21, ""));
  EXPECT_EQ(warnings_.back().text, "Enter a value from -5 to 5.");
}

TEST_F(BoxTest, TheWideDecimalBoxUsesThirtyTwoBitBounds) {
  EXPECT_FALSE(TypeAndTab(11, "100001"));
  EXPECT_EQ(warnings_.back().text, "Enter a value from -100000 to 100000.");
  NsDeciBoxExSetRange(dialog_.get(), 11, -2000000000, 2000000000);
  std::int32_t minimum = 0, maximum = 0;
  ASSERT_TRUE(NsDeciBoxExGetRange(dialog_.get(), 11, &minimum, &maximum));
  EXPECT_EQ(minimum, -2000000000);
  EXPECT_EQ(maximum, 2000000000);
  EXPECT_FALSE(NsDeciBoxExGetRange(dialog_.get(), 11, nullptr, &maximum));
  // The refused text is still there and now within the range.
  EXPECT_TRUE(TypeAndTab(11, ""));
}

TEST_F(BoxTest, FocusMovingToCancelDoesNotValidate) {
  BoxAt(10)->Edit()->setFocus();
  Type("99");
  Button(IDCANCEL)->setFocus(Qt::MouseFocusReason);
  EXPECT_TRUE(warnings_.empty());
  EXPECT_EQ(QApplication::focusWidget(), Button(IDCANCEL));
}

TEST_F(BoxTest, FocusMovingToAnotherButtonValidatesAndRestoresTheDefaultButton) {
  BoxAt(10)->Edit()->setFocus();
  Type("99");
  QTest::mouseClick(Button(30), Qt::LeftButton);
  ASSERT_EQ(warnings_.size(), 1u);
  EXPECT_EQ(QApplication::focusWidget(), BoxAt(10)->Edit());
  EXPECT_FALSE(Button(30)->isDefault());
  EXPECT_TRUE(Button(IDOK)->isDefault());
}

TEST_F(BoxTest, NoSecondWarningWhileTheFirstIsUp) {
  SetWarningPresenter(nullptr);  // the real, modal warning box
  int boxes = 0;
  std::function<void()> closeWarning = [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) {
      QTimer::singleShot(10, closeWarning);
      return;
    }
    ++boxes;
    EXPECT_EQ(box->parentWidget(), dialog_.get());
    EXPECT_EQ(box->text(), "Enter a value from 1 to 10.");
    box->accept();
  };
  QTimer::singleShot(10, closeWarning);
  BoxAt(10)->Edit()->setFocus();
  Type("0");
  Button(30)->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(boxes, 1);
  EXPECT_EQ(dialog_->focusWidget(), BoxAt(10)->Edit());
}

TEST_F(BoxTest, EnterValidatesAndEscapeCancels) {
  BoxAt(10)->Edit()->setFocus();
  Type("11");
  Key(Qt::Key_Return);
  EXPECT_EQ(warnings_.size(), 1u);
  EXPECT_EQ(dialog_->result(), 0);
  EXPECT_TRUE(dialog_->isVisible());
  Key(Qt::Key_Escape);
  EXPECT_EQ(CountCommands(IDCANCEL, 0), 1);
  EXPECT_EQ(dialog_->result(), QDialog::Rejected);
}

TEST_F(BoxTest, SettingTheTextFromTheProgramSendsNoChange) {
  NsDeciBoxSetText(dialog_.get(), 10, "7");
  NsEditBoxSetText(dialog_.get(), 19, "hello");
  NsHexaBoxSetText(dialog_.get(), 12, "FF");
  EXPECT_EQ(commands_.size(), 0u);
  char buffer[4];
  EXPECT_EQ(NsEditBoxGetText(dialog_.get(), 19, buffer, sizeof buffer), 3);
  EXPECT_STREQ(buffer, "hel");
  EXPECT_EQ(NsDeciBoxGetText(dialog_.get(), 10, buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "7");
  BoxAt(19)->Edit()->setFocus();
  Type("!");
  EXPECT_EQ(CountCommands(19, EN_CHANGE), 1);
}

TEST_F(BoxTest, GetTextNeverCutsACharacterInTwo) {
  NsEditBoxSetText(dialog_.get(), 19, "aé");
  char buffer[3] = {'x', 'x', 'x'};
  EXPECT_EQ(NsEditBoxGetText(dialog_.get(), 19, buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "a");
  EXPECT_EQ(NsEditBoxGetText(dialog_.get(), 19, nullptr, 10), 0);
}

TEST_F(BoxTest, AnUndefinedBoxBecomesDefinedWhenTheUserTypes) {
  NsEditBoxDefine(dialog_.get(), 19, 0);
  EXPECT_FALSE(NsEditBoxIsDefined(dialog_.get(), 19));
  EXPECT_NE(BoxAt(19)->Edit()->palette().color(QPalette::Active, QPalette::Text),
            QApplication::palette().color(QPalette::Active, QPalette::Text));
  BoxAt(19)->Edit()->setFocus();
  Type("a");
  EXPECT_TRUE(NsEditBoxIsDefined(dialog_.get(), 19));
  EXPECT_EQ(BoxAt(19)->Edit()->palette().color(QPalette::Active, QPalette::Text),
            QApplication::palette().color(QPalette::Active, QPalette::Text));
  NsEditBoxEnable(dialog_.get(), 19, 0);
  EXPECT_FALSE(NsEditBoxIsEnabled(dialog_.get(), 19));
  EXPECT_FALSE(BoxAt(19)->Edit()->isEnabled());
}

TEST_F(BoxTest, HexadecimalDigitsAreUpperCasedAndOthersRefused) {
  BoxAt(12)->Edit()->setFocus();
  Type("0fz9G");
  EXPECT_EQ(BoxAt(12)->Edit()->text(), "0F9");
  EXPECT_EQ(beeps_, 2);
  NsHexaBoxSetText(dialog_.get(), 12, "12x");
  EXPECT_FALSE(TypeAndTab(12, ""));
  EXPECT_EQ(warnings_.back().text, "Enter a valid hexadecimal value.");
  NsHexaBoxLimitText(dialog_.get(), 12, 2);
  NsHexaBoxSetText(dialog_.get(), 12, "");
  BoxAt(12)->Edit()->setFocus();
  Type("ABC");
  EXPECT_EQ(BoxAt(12)->Edit()->text(), "AB");
}

TEST_F(BoxTest, ADnsHostWithASlashBecomesADashWithItsMessage) {
  EXPECT_FALSE(TypeAndTab(13, "a/b"));
  EXPECT_EQ(BoxAt(13)->Edit()->text(), "a-b");
  EXPECT_EQ(BoxAt(13)->Edit()->selectedText(), "a-b");
  ASSERT_EQ(warnings_.size(), 1u);
  EXPECT_EQ(warnings_[0].text,
            "Characters that cannot be used in a DNS host name were replaced by \"-\".");
  EXPECT_EQ(beeps_, 0);
  EXPECT_TRUE(TypeAndTab(13, ""));
}

TEST_F(BoxTest, TheDnsDomainBoxDropsRefusedCharactersAsTyped) {
  EXPECT_TRUE(TypeAndTab(14, "ex@mple.com"));
  EXPECT_EQ(BoxAt(14)->Edit()->text(), "exmple.com");
  EXPECT_EQ(beeps_, 1);
  NsDNSDBoxLimitText(dialog_.get(), 14, 3);
  EXPECT_EQ(BoxAt(14)->Edit()->maxLength(), 3);
}

TEST_F(BoxTest, AnEmptyUriAsksForANameAndRefusedCharactersAreReplaced) {
  BoxAt(15)->Edit()->clear();
  EXPECT_FALSE(TypeAndTab(15, ""));
  EXPECT_EQ(warnings_.back().text, "Enter a name of 1 to 255 characters.");
  EXPECT_FALSE(TypeAndTab(15, "a:b\\c"));
  EXPECT_EQ(BoxAt(15)->Edit()->text(), "a-b-c");
  EXPECT_EQ(warnings_.back().text,
            "Characters that cannot be used in a URL were replaced by \"-\".");
}

TEST_F(BoxTest, AppleTalkNamesDropRefusedCharactersAndReplacePastedOnes) {
  EXPECT_TRUE(TypeAndTab(16, "a*b=c"));
  EXPECT_EQ(BoxAt(16)->Edit()->text(), "abc");
  EXPECT_EQ(beeps_, 2);
  BoxAt(16)->Edit()->setText(QString::fromUtf8("x@y\uFF85"));  // as pasted
  EXPECT_FALSE(TypeAndTab(16, ""));
  EXPECT_EQ(BoxAt(16)->Edit()->text(), "x-y-");
  EXPECT_EQ(warnings_.back().text,
            "Characters that cannot be used in a name were replaced by \"-\".");
}

TEST_F(BoxTest, InputMethodStringsAreFilteredPerFamily) {
  BoxAt(16)->Edit()->setFocus();
  QInputMethodEvent apple;
  apple.setCommitString(QString::fromUtf8("名*前"));
  QApplication::sendEvent(BoxAt(16)->Edit(), &apple);
  EXPECT_EQ(BoxAt(16)->Edit()->text(), QString::fromUtf8("名前"));
  BoxAt(17)->Edit()->setFocus();
  QInputMethodEvent eb1;
  eb1.setCommitString(QString::fromUtf8("ab名"));
  QApplication::sendEvent(BoxAt(17)->Edit(), &eb1);
  EXPECT_EQ(BoxAt(17)->Edit()->text(), "");
  EXPECT_EQ(beeps_, 1);
}

TEST_F(BoxTest, Eb1AndServerNamesRefuseWithoutAMessage) {
  EXPECT_TRUE(TypeAndTab(17, "a b;c~d"));
  EXPECT_EQ(BoxAt(17)->Edit()->text(), "abcd");
  EXPECT_EQ(beeps_, 3);
  BoxAt(17)->Edit()->setText("a|b");
  EXPECT_FALSE(TypeAndTab(17, ""));
  EXPECT_EQ(BoxAt(17)->Edit()->text(), "a|b");
  EXPECT_TRUE(warnings_.empty());
  BoxAt(17)->Edit()->setText("ok");  // else the EB1 box keeps the focus
  EXPECT_TRUE(TypeAndTab(18, "srv-1 a._b!"));
  EXPECT_EQ(BoxAt(18)->Edit()->text(), "srv-1 a._b");
  BoxAt(18)->Edit()->setText("a,b");
  EXPECT_FALSE(TypeAndTab(18, ""));
  EXPECT_TRUE(warnings_.empty());
}

TEST_F(BoxTest, TextLimitsFollowTheFamilies) {
  EXPECT_EQ(BoxAt(10)->Edit()->maxLength(), 5);
  EXPECT_EQ(BoxAt(11)->Edit()->maxLength(), 9);
  EXPECT_EQ(BoxAt(13)->Edit()->maxLength(), 63);
  EXPECT_EQ(BoxAt(14)->Edit()->maxLength(), 64);
  EXPECT_EQ(BoxAt(15)->Edit()->maxLength(), 255);
  EXPECT_EQ(BoxAt(16)->Edit()->maxLength(), 31);
  EXPECT_EQ(BoxAt(17)->Edit()->maxLength(), 19);
  EXPECT_EQ(BoxAt(18)->Edit()->maxLength(), 19);
  EXPECT_EQ(BoxAt(19)->Edit()->maxLength(), 32);
  EXPECT_EQ(ControlIdOf(BoxAt(19)->Edit()), kBoxEditId);
}

TEST_F(BoxTest, JapaneseTextsComeFromTheBuiltInTableWithoutALanguageFile) {
  NsSetCustumLangString("KR");  // no Korean file is shipped
  EXPECT_FALSE(TypeAndTab(10, "0"));
  EXPECT_EQ(warnings_.back().text, QString::fromUtf8("1から10までの値を指定してください。"));
}

}  // namespace
}  // namespace uictl::test
