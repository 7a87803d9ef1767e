// One dialog with a control of every family, grabbed in Japanese and in English.
#include <QDir>
#include <QLabel>

#include "uictl/uictl.h"
#include "uictl_test.h"

namespace uictl::test {
namespace {

class Screenshot : public DialogTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(Screenshot, OneControlOfEveryFamily) {
  NsSetCustumLangString(GetParam());
  Open(
      "LTEXT \"IP\" -1 10 14 90 20\nCONTROL \"NSIPADDRESSBOX\" 100 100 10 0 0\n"
      "LTEXT \"NetWare\" -1 10 44 90 20\nCONTROL \"NSNWADDRESSBOX\" 101 100 40 0 0\n"
      "LTEXT \"Deci\" -1 10 74 90 20\nCONTROL \"NSDECIBOX\" 102 100 70 80 24 \"1,10\"\n"
      "LTEXT \"Hexa\" -1 10 104 90 20\nCONTROL \"NSHEXABOX\" 103 100 100 80 24\n"
      "LTEXT \"DNS host\" -1 10 134 90 20\nCONTROL \"NSDNSHBOX\" 104 100 130 160 24\n"
      "LTEXT \"Edit\" -1 10 164 90 20\nCONTROL \"NSEDITBOX\" 105 100 160 160 24\n"
      "CONTROL \"NSGAUGE\" 110 280 10 150 20 \"0,100,65\"\n"
      "CONTROL \"NSONLINELED\" 111 280 40 24 24\nCONTROL \"NSONLINELED\" 112 310 40 24 24\n"
      "CONTROL \"NSONLINELED\" 113 340 40 24 24\nCONTROL \"NSONLINELED\" 114 370 40 24 24\n"
      "CONTROL \"NSCHECKMARK\" 115 400 40 24 24\n"
      "CONTROL \"NSINDICATORBUTTON\" 116 280 70 40 30\n"
      "CONTROL \"NSSTATUS\" 117 330 75 120 20 \"Online\"\n"
      "CONTROL \"NSOUTPUTLEVEL5\" 118 280 110 70 24\n"
      "CONTROL \"NSPAPERREMAIN4\" 119 360 110 70 24\n"
      "CONTROL \"NSREMAIN\" 120 280 145 150 16\n"
      "CONTROL \"NSREMAINSMALL\" 121 450 10 16 150\n"
      "CONTROL \"NSLISTBOX\" 130 480 10 110 70\n"
      "CONTROL \"NSCOMBOBOX\" 131 480 90 110 24\n"
      "CONTROL \"NSCOMBOBOXEX\" 132 480 120 110 24 \"DROPDOWNLIST\"\n"
      "CONTROL \"NSCHECKBOX\" 133 480 150 110 24 \"DHCP\"\n"
      "CONTROL \"NSTRACKBAR\" 134 280 170 150 30\n"
      "CONTROL \"NSSPINBOX\" 135 480 180 80 24 \"0,500,TENTHS\"\n"
      "CONTROL \"NSMICROSCROLL\" 136 570 180 16 24\n");
  NsSpinBoxSetValue(dialog_.get(), 135, 125);
  for (const char* item : {"A4", "A3", "Letter"}) {
    NsListBoxAddString(dialog_.get(), 130, item);
    NsComboBoxAddString(dialog_.get(), 131, item);
    NsComboBoxAddString(dialog_.get(), 132, item);
  }
  NsListBoxSetCurSel(dialog_.get(), 130, 1);
  NsComboBoxSetCurSel(dialog_.get(), 131, 0);
  NsComboBoxSetCurSel(dialog_.get(), 132, 2);
  NsCheckBoxSetCheck(dialog_.get(), 133, 1);
  NsTrackBarSetFrequency(dialog_.get(), 134, 10);
  NsTrackBarSetPos(dialog_.get(), 134, 30);
  NsOnlineLEDSetValue(dialog_.get(), 112, 1);
  NsOnlineLEDSetValue(dialog_.get(), 113, 3);
  NsOnlineLEDSetValue(dialog_.get(), 114, 4);
  NsCheckMarkSetValue(dialog_.get(), 115, 1);
  NsIndicatorButtonSetState(dialog_.get(), 116, 1);
  NsOutputLevelSetValue(dialog_.get(), 118, 3);
  NsRemainSetValue(dialog_.get(), 119, 2);
  NsRemainSetValue(dialog_.get(), 120, 80);
  NsRemainSetStyle(dialog_.get(), 121, 1);
  NsRemainSetValue(dialog_.get(), 121, 8);
  NsIPAddressBoxSetValue(dialog_.get(), 100, 192u | 168u << 8 | 1u << 24);
  const unsigned char nw[10] = {0, 0, 0, 0x1A, 0, 0x80, 0x5F, 0x12, 0x34, 0x56};
  NsNetWareAddressBoxSetValue(dialog_.get(), 101, nw);
  NsDeciBoxSetText(dialog_.get(), 102, "7");
  NsHexaBoxSetText(dialog_.get(), 103, "1F");
  NsEditBoxSetText(dialog_.get(), 105, "undefined");
  NsEditBoxDefine(dialog_.get(), 105, 0);
  // The warning text of the language, shown in the dialog for the picture.
  Item<Control>(104)->setFocus();
  Type("a/b");
  Key(Qt::Key_Tab);
  ASSERT_EQ(warnings_.size(), 1u);
  auto* label = new QLabel(warnings_[0].text, dialog_.get());
  label->setGeometry(10, 200, 380, 40);
  label->setWordWrap(true);
  label->show();
  QDir().mkpath(UICTL_SCREENSHOT_DIR);
  const QString file = QString(UICTL_SCREENSHOT_DIR) + "/uictl_" + GetParam() + ".png";
  const QPixmap picture = dialog_->grab();
  ASSERT_FALSE(picture.isNull());
  EXPECT_TRUE(picture.save(file));
  EXPECT_EQ(picture.size(), dialog_->size());
  // The same at 200%: everything is drawn, not scaled from a bitmap.
  QPixmap doubled(dialog_->size() * 2);
  doubled.setDevicePixelRatio(2);
  doubled.fill(Qt::white);
  dialog_->render(&doubled);
  EXPECT_TRUE(doubled.save(QString(UICTL_SCREENSHOT_DIR) + "/uictl_" + GetParam() + "_200.png"));
}

INSTANTIATE_TEST_SUITE_P(Languages, Screenshot, ::testing::Values("JP", "US"));

}  // namespace
}  // namespace uictl::test
