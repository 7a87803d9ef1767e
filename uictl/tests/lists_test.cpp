#include <QAbstractItemView>
#include <QLineEdit>

#include "lists.h"
#include "uictl/uictl.h"
#include "uictl_test.h"

namespace uictl::test {
namespace {

class ListTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    Open(
        "CONTROL \"NSLISTBOX\" 50 10 10 150 100\n"
        "CONTROL \"NSLISTBOX\" 51 170 10 150 100 \"MULTIPLESEL\"\n"
        "CONTROL \"NSCOMBOBOX\" 52 10 120 150 24\n"
        "CONTROL \"NSCOMBOBOXEX\" 53 170 120 150 24 \"DROPDOWNLIST\"\n"
        "CONTROL \"NSCHECKBOX\" 54 10 160 150 24 \"Use DHCP\"\n"
        "CONTROL \"NSTRACKBAR\" 55 170 160 150 30");
    commands_.clear();
  }
  HWND d() { return dialog_.get(); }
};

TEST_F(ListTest, ListBoxItemsAndTheirErrors) {
  EXPECT_EQ(NsListBoxAddString(d(), 50, "b"), 0);
  EXPECT_EQ(NsListBoxAddString(d(), 50, "c"), 1);
  EXPECT_EQ(NsListBoxInsertString(d(), 50, 0, "a"), 0);
  EXPECT_EQ(NsListBoxInsertString(d(), 50, -1, "d"), 3) << "-1 appends";
  EXPECT_EQ(NsListBoxAddString(d(), 50, nullptr), -1);
  EXPECT_EQ(NsListBoxGetCount(d(), 50), 4);
  char text[8] = {};
  EXPECT_EQ(NsListBoxGetText(d(), 50, 2, text), 1);
  EXPECT_STREQ(text, "c");
  EXPECT_EQ(NsListBoxGetTextLen(d(), 50, 2), 1);
  EXPECT_EQ(NsListBoxGetText(d(), 50, 9, text), -1);
  EXPECT_EQ(NsListBoxDeleteString(d(), 50, 0), 3);
  EXPECT_EQ(NsListBoxDeleteString(d(), 50, 3), -1);
  EXPECT_EQ(NsListBoxGetCurSel(d(), 50), -1);
  EXPECT_EQ(NsListBoxSetCurSel(d(), 50, 1), 1);
  EXPECT_EQ(NsListBoxGetCurSel(d(), 50), 1);
  EXPECT_EQ(CountCommands(50, LBN_SELCHANGE), 0) << "the program's change is not notified";
  EXPECT_EQ(NsListBoxSetSel(d(), 50, 1, 0), -1) << "single selection";
  EXPECT_EQ(NsListBoxResetContent(d(), 50), 0);
  EXPECT_EQ(NsListBoxGetCount(d(), 50), 0);
  EXPECT_EQ(NsListBoxGetCount(d(), 999), -1);
}

TEST_F(ListTest, ListBoxSelectionByTheUserIsNotified) {
  for (const char* s : {"one", "two", "three"}) NsListBoxAddString(d(), 50, s);
  auto* list = Item<ListBox>(50)->List();
  const QRect second = list->visualItemRect(list->item(1));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second.center());
  EXPECT_EQ(NsListBoxGetCurSel(d(), 50), 1);
  EXPECT_GE(CountCommands(50, LBN_SELCHANGE), 1);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second.center());
  EXPECT_EQ(CountCommands(50, LBN_DBLCLK), 1);
}

TEST_F(ListTest, MultipleSelection) {
  for (const char* s : {"a", "b", "c", "d"}) NsListBoxAddString(d(), 51, s);
  EXPECT_EQ(NsListBoxSetSel(d(), 51, 1, 1), 0);
  EXPECT_EQ(NsListBoxSetSel(d(), 51, 1, 3), 0);
  EXPECT_EQ(NsListBoxSetSel(d(), 51, 1, 4), -1);
  EXPECT_EQ(NsListBoxGetSel(d(), 51, 1), 1);
  EXPECT_EQ(NsListBoxGetSel(d(), 51, 2), 0);
  EXPECT_EQ(NsListBoxGetSelCount(d(), 51), 2);
  int items[1] = {-5};
  EXPECT_EQ(NsListBoxGetSelItems(d(), 51, 1, items), 1) << "no more than the room given";
  EXPECT_EQ(items[0], 1);
  EXPECT_EQ(NsListBoxGetSelItems(d(), 51, 4, nullptr), -1);
  EXPECT_EQ(NsListBoxSetSel(d(), 51, 0, -1), 0);
  EXPECT_EQ(NsListBoxGetSelCount(d(), 51), 0);
  EXPECT_EQ(NsListBoxSetCurSel(d(), 51, 0), -1);
  NsListBoxSetHorizenExtent(d(), 51, 400);
  EXPECT_EQ(NsListBoxGetHorizenExtent(d(), 51), 400);
  EXPECT_EQ(NsListBoxSetItemHeight(d(), 51, 0, 20), 0);
  EXPECT_EQ(NsListBoxSetItemHeight(d(), 51, 0, 0), -1);
}

TEST_F(ListTest, ComboAddStringIsMinusOneForBothErrors) {
  EXPECT_EQ(NsComboBoxAddString(d(), 52, nullptr), -1);  // CB_ERR
  auto* combo = Item<ComboBox>(52);
  for (int i = 0; i < kMaxItems; ++i) combo->Combo()->addItem(QString());
  EXPECT_EQ(combo->Dispatch(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("x")), CB_ERRSPACE);
  EXPECT_EQ(NsComboBoxAddString(d(), 52, "x"), -1);
  EXPECT_EQ(NsComboBoxInsertString(d(), 52, 0, "x"), -1);
  EXPECT_EQ(NsComboBoxGetCount(d(), 52), kMaxItems);
  NsComboBoxResetContent(d(), 52);
  EXPECT_EQ(NsComboBoxInsertString(d(), 52, 0, "x"), 0);
}

TEST_F(ListTest, ComboItemsTextAndSelection) {
  EXPECT_EQ(NsComboBoxAddString(d(), 52, "first"), 0);
  EXPECT_EQ(NsComboBoxAddString(d(), 52, "second"), 1);
  EXPECT_EQ(NsComboBoxSetCurSel(d(), 52, 1), 1);
  EXPECT_EQ(NsComboBoxGetCurSel(d(), 52), 1);
  EXPECT_EQ(NsComboBoxSetCurSel(d(), 52, 5), -1);
  EXPECT_EQ(NsComboBoxGetCurSel(d(), 52), -1);
  char buffer[16] = {};
  EXPECT_EQ(NsComboBoxGetLBText(d(), 52, 0, buffer), 5);
  EXPECT_STREQ(buffer, "first");
  EXPECT_EQ(NsComboBoxGetLBTextLen(d(), 52, 1), 6);
  EXPECT_EQ(NsComboBoxGetLBTextLen(d(), 52, 2), -1);
  NsComboBoxSetText(d(), 52, "typed");
  EXPECT_EQ(NsComboBoxGetText(d(), 52, buffer, sizeof buffer), 5);
  EXPECT_STREQ(buffer, "typed");
  EXPECT_EQ(CountCommands(52, CBN_SELCHANGE), 0);
  NsComboBoxLimitText(d(), 52, 4);
  EXPECT_EQ(Item<ComboBox>(52)->Combo()->lineEdit()->maxLength(), 4);
  EXPECT_EQ(NsComboBoxDeleteString(d(), 52, 0), 1);
  EXPECT_EQ(NsComboBoxSetHeight(d(), 52, 100), 0);
  EXPECT_EQ(NsComboBoxSetHeight(d(), 52, -3), -1);
  // The user's choice is notified.
  Item<ComboBox>(52)->Combo()->setFocus();
  NsComboBoxAddString(d(), 52, "third");
  Key(Qt::Key_Down);
  EXPECT_EQ(CountCommands(52, CBN_SELCHANGE), 1);
}

TEST_F(ListTest, TheDropDownListHasNoEditAndTheExClassAnswersTheSameMessages) {
  auto* combo = Item<ComboBox>(53);
  EXPECT_EQ(combo->Combo()->lineEdit(), nullptr);
  NsComboBoxAddString(d(), 53, "A4");
  NsComboBoxAddString(d(), 53, "A3");
  NsComboBoxSetText(d(), 53, "A3");
  EXPECT_EQ(NsComboBoxGetCurSel(d(), 53), 1);
  EXPECT_EQ(NsComboBoxExWndProc(combo, CB_GETCOUNT, 0, 0), 2);
  EXPECT_EQ(NsComboBoxWndProc(combo, CB_GETCOUNT, 0, 0), 0) << "not of that class";
}

TEST_F(ListTest, CheckBoxChecksAndClicks) {
  EXPECT_FALSE(NsCheckBoxGetCheck(d(), 54));
  NsCheckBoxSetCheck(d(), 54, 1);
  EXPECT_TRUE(NsCheckBoxGetCheck(d(), 54));
  EXPECT_EQ(CountCommands(54, BN_CLICKED), 0);
  QTest::mouseClick(Item<CheckBox>(54)->Box(), Qt::LeftButton);
  EXPECT_FALSE(NsCheckBoxGetCheck(d(), 54));
  EXPECT_EQ(CountCommands(54, BN_CLICKED), 1);
  NsCheckBoxEnable(d(), 54, 0);
  EXPECT_FALSE(NsCheckBoxIsEnabled(d(), 54));
  QTest::mouseClick(Item<CheckBox>(54)->Box(), Qt::LeftButton);
  EXPECT_EQ(CountCommands(54, BN_CLICKED), 1);
  NsCheckBoxDefine(d(), 54, 0);
  EXPECT_FALSE(NsCheckBoxIsDefined(d(), 54));
}

TEST_F(ListTest, TrackBarValues) {
  NsTrackBarSetRange(d(), 55, -10, 10);
  int minimum = 0, maximum = 0;
  ASSERT_TRUE(NsTrackBarGetRange(d(), 55, &minimum, &maximum));
  EXPECT_EQ(minimum, -10);
  EXPECT_EQ(maximum, 10);
  EXPECT_FALSE(NsTrackBarGetRange(d(), 55, nullptr, &maximum));
  NsTrackBarSetPos(d(), 55, 20);
  EXPECT_EQ(NsTrackBarGetPos(d(), 55), 10) << "kept within the range";
  NsTrackBarSetPos(d(), 55, -3);
  EXPECT_EQ(NsTrackBarGetPos(d(), 55), -3);
  EXPECT_EQ(CountCommands(55, TBN_POSCHANGED), 0);
  NsTrackBarSetLineSize(d(), 55, 2);
  NsTrackBarSetPageSize(d(), 55, 5);
  NsTrackBarSetFrequency(d(), 55, 5);
  NsTrackBarSetBSFrequency(d(), 55, 10);
  EXPECT_EQ(NsTrackBarGetLineSize(d(), 55), 2);
  EXPECT_EQ(NsTrackBarGetPageSize(d(), 55), 5);
  EXPECT_EQ(NsTrackBarGetFrequency(d(), 55), 5);
  EXPECT_EQ(NsTrackBarGetBSFrequency(d(), 55), 10);
  NsTrackBarSetBKColor(d(), 55, 0x00336699);
  EXPECT_EQ(NsTrackBarGetBKColor(d(), 55), 0x00336699u);
  // The user's keys move it by the line size and are notified.
  Item<TrackBar>(55)->Slider()->setFocus();
  Key(Qt::Key_Right);
  EXPECT_EQ(NsTrackBarGetPos(d(), 55), -1);
  EXPECT_EQ(CountCommands(55, TBN_POSCHANGED), 1);
  NsTrackBarEnable(d(), 55, 0);
  EXPECT_FALSE(NsTrackBarIsEnabled(d(), 55));
  NsTrackBarDefine(d(), 55, 0);
  EXPECT_FALSE(NsTrackBarIsDefined(d(), 55));
}

}  // namespace
}  // namespace uictl::test
