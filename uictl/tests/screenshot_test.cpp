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
      "LTEXT \"Edit\" -1 10 164 90 20\nCONTROL \"NSEDITBOX\" 105 100 160 160 24\n");
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
}

INSTANTIATE_TEST_SUITE_P(Languages, Screenshot, ::testing::Values("JP", "US"));

}  // namespace
}  // namespace uictl::test
