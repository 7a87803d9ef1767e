#include <QMouseEvent>

#include "indicators.h"
#include "uictl/uictl.h"
#include "uictl_test.h"

namespace uictl::test {
namespace {

constexpr DWORD kFailed = 0x80000000;

// Counts the paints of a widget.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* w) { w->installEventFilter(this); }
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

class IndicatorTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    Open(
        "CONTROL \"NSGAUGE\" 40 10 10 150 20 \"100,0,150\"\n"
        "CONTROL \"NSGAUGE\" 41 10 40 150 20\n"
        "CONTROL \"NSONLINELED\" 42 10 70 40 20 \"right top\"\n"
        "CONTROL \"NSCHECKMARK\" 43 60 70 20 20\n"
        "CONTROL \"NSINDICATORBUTTON\" 44 90 70 40 30\n"
        "CONTROL \"NSSTATUS\" 45 10 110 150 20 \"Ready\"\n"
        "CONTROL \"NSOUTPUTLEVEL4\" 46 10 140 60 20\n"
        "CONTROL \"NSPAPERREMAIN5S\" 47 80 140 60 20\n"
        "CONTROL \"NSREMAIN\" 48 150 140 60 20");
  }
  HWND d() { return dialog_.get(); }
};

TEST_F(IndicatorTest, TheGaugeReadsItsWindowTextInOrderAndClampsTheValue) {
  auto* gauge = Item<Gauge>(40);
  ASSERT_NE(gauge, nullptr);
  DWORD minimum = 1, maximum = 1, value = 1;
  EXPECT_EQ(NsGaugeGetRange(d(), 40, &minimum, &maximum), 0u);
  EXPECT_EQ(minimum, 0u);
  EXPECT_EQ(maximum, 100u);
  EXPECT_EQ(NsGaugeGetValue(d(), 40, &value), 0u);
  EXPECT_EQ(value, 100u);
  EXPECT_FALSE(gauge->isEnabled()) << "a gauge never takes the focus";
  EXPECT_EQ(NsGaugeGetRange(d(), 41, &minimum, &maximum), 0u);
  EXPECT_EQ(maximum, 100u) << "an empty window text: the missing numbers keep their defaults";
}

TEST_F(IndicatorTest, GaugeValuesRangesAndFailures) {
  EXPECT_EQ(NsGaugeGetValue(d(), 40, nullptr), kFailed);
  EXPECT_EQ(NsGaugeGetValue(d(), 999, nullptr), kFailed);
  DWORD minimum = 0;
  EXPECT_EQ(NsGaugeGetRange(d(), 40, &minimum, nullptr), kFailed);
  EXPECT_EQ(NsGaugeSetValue(d(), 40, 101), kFailed);
  EXPECT_EQ(NsGaugeSetValue(d(), 40, 50), 0u);
  EXPECT_EQ(NsGaugeSetRange(d(), 40, 60, 200), 0u);
  DWORD value = 0;
  NsGaugeGetValue(d(), 40, &value);
  EXPECT_EQ(value, 60u) << "clamped into the new range";
  EXPECT_EQ(NsGaugeSetDefine(d(), 40, 2), kFailed);
  EXPECT_EQ(NsGaugeSetDefine(d(), 40, 0), 0u);
  DWORD defined = 1;
  EXPECT_EQ(NsGaugeGetDefine(d(), 40, &defined), 0u);
  EXPECT_EQ(defined, 0u);
  // Not a gauge: every call fails.
  EXPECT_EQ(NsGaugeSetValue(d(), 42, 1), kFailed);
}

TEST_F(IndicatorTest, TheOnlineLedTakesItsValuesAndRefusesTwo) {
  DWORD value = 9;
  EXPECT_EQ(NsOnlineLEDSetValue(d(), 42, 3), 0u);
  EXPECT_EQ(NsOnlineLEDSetValue(d(), 42, 2), kFailed);
  EXPECT_EQ(NsOnlineLEDGetValue(d(), 42, &value), 0u);
  EXPECT_EQ(value, 3u) << "unchanged";
  EXPECT_EQ(NsOnlineLEDSetValue(d(), 42, 6), kFailed);
  EXPECT_EQ(NsOnlineLEDSetValue(d(), 42, 5), 0u);
  NsOnlineLEDGetValue(d(), 42, &value);
  EXPECT_EQ(value, 3u) << "5 only redraws";
  for (DWORD v : {0u, 1u, 4u}) {
    EXPECT_EQ(NsOnlineLEDSetValue(d(), 42, v), 0u);
    NsOnlineLEDGetValue(d(), 42, &value);
    EXPECT_EQ(value, v);
  }
}

TEST_F(IndicatorTest, ASetOfTheHeldValueDoesNotRedraw) {
  PaintCounter counter(Item<Control>(42));
  NsOnlineLEDSetValue(d(), 42, 1);
  const int afterChange = counter.paints;
  EXPECT_GE(afterChange, 1);
  NsOnlineLEDSetValue(d(), 42, 1);
  EXPECT_EQ(counter.paints, afterChange);
  NsOnlineLEDSetValue(d(), 42, 5);
  EXPECT_EQ(counter.paints, afterChange + 1);
}

TEST_F(IndicatorTest, AlignmentFromTheWindowTextAndBySetter) {
  DWORD align = 0;
  EXPECT_EQ(NsOnlineLEDGetAlign(d(), 42, &align), 0u);
  EXPECT_EQ(align, 512u | 16u);
  EXPECT_EQ(NsCheckMarkSetAlign(d(), 43, 256 | 32), 0u);
  EXPECT_EQ(NsCheckMarkGetAlign(d(), 43, &align), 0u);
  EXPECT_EQ(align, 256u | 32u);
  EXPECT_EQ(NsCheckMarkSetAlign(d(), 43, 256 | 512), kFailed);
  EXPECT_EQ(NsCheckMarkSetAlign(d(), 43, 1), kFailed);
  EXPECT_EQ(NsCheckMarkSetValue(d(), 43, 1), 0u);
  EXPECT_EQ(NsCheckMarkSetValue(d(), 43, 2), kFailed);
}

TEST_F(IndicatorTest, IndicatorButtonStylesStatesAndClicks) {
  auto* button = Item<Control>(44);
  EXPECT_EQ(NsIndicatorButtonSetStyle(d(), 44, 16), 0u);
  EXPECT_FALSE(button->isEnabled());
  EXPECT_EQ(NsIndicatorButtonSetStyle(d(), 44, 17), kFailed);
  EXPECT_EQ(NsIndicatorButtonSetStyle(d(), 44, 32), 0u);
  EXPECT_TRUE(button->isEnabled());
  EXPECT_EQ(NsIndicatorButtonSetState(d(), 44, 6), 0u);
  EXPECT_EQ(NsIndicatorButtonSetState(d(), 44, 7), kFailed);
  DWORD state = 0, check = 5;
  NsIndicatorButtonGetState(d(), 44, &state);
  EXPECT_EQ(state, 6u);
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(NsIndicatorButtonGetCheck(d(), 44, &check), 0u);
  EXPECT_EQ(check, 1u);
  EXPECT_EQ(CountCommands(44, 0), 1);
  NsIndicatorButtonSetStyle(d(), 44, 16);
  QTest::mouseClick(button, Qt::LeftButton);  // display only: nothing happens
  NsIndicatorButtonGetCheck(d(), 44, &check);
  EXPECT_EQ(check, 1u);
  EXPECT_EQ(CountCommands(44, 0), 1);
}

TEST_F(IndicatorTest, StatusText) {
  char buffer[4] = {};
  EXPECT_EQ(NsStatusGetText(d(), 45, buffer, sizeof buffer), 0u);
  EXPECT_STREQ(buffer, "Rea");
  EXPECT_EQ(NsStatusSetText(d(), 45, "Off"), 0u);
  EXPECT_EQ(NsStatusGetText(d(), 45, buffer, sizeof buffer), 0u);
  EXPECT_STREQ(buffer, "Off");
  EXPECT_EQ(NsStatusGetText(d(), 45, nullptr, 4), kFailed);
  EXPECT_EQ(NsStatusSetText(d(), 45, nullptr), kFailed);
}

TEST_F(IndicatorTest, LevelsAndRemainingHaveTheirStepsOrPercentages) {
  EXPECT_EQ(NsOutputLevelSetValue(d(), 46, 4), 0u);
  EXPECT_EQ(NsOutputLevelSetValue(d(), 46, 5), kFailed);
  EXPECT_EQ(NsRemainSetValue(d(), 47, 5), 0u);
  EXPECT_EQ(NsRemainSetValue(d(), 47, 6), kFailed);
  EXPECT_EQ(NsRemainSetValue(d(), 48, 100), 0u);
  EXPECT_EQ(NsRemainSetValue(d(), 48, 101), kFailed);
  EXPECT_EQ(NsRemainSetStyle(d(), 48, 1), 0u);
  EXPECT_EQ(NsRemainSetStyle(d(), 48, 2), kFailed);
  EXPECT_EQ(NsRemainDraw(d(), 48), 0u);
  EXPECT_EQ(NsRemainDraw(d(), 999), kFailed);
  EXPECT_EQ(NsOutputLevelDraw(d(), 46), 0u);
  DWORD value = 0;
  EXPECT_EQ(NsOutputLevelGetValue(d(), 46, &value), 0u);
  EXPECT_EQ(value, 4u);
}

TEST(Ordinals, ExportsAreFoundByTheirNumbers) {
  EXPECT_EQ(uictl_by_ordinal(225), reinterpret_cast<void*>(&NsIPAddressBoxSetValue));
  EXPECT_EQ(uictl_by_ordinal(226), reinterpret_cast<void*>(&NsIPAddressBoxGetValue));
  EXPECT_EQ(uictl_by_ordinal(223), reinterpret_cast<void*>(&NsIPAddressBoxDefine));
  EXPECT_EQ(uictl_by_ordinal(1700), reinterpret_cast<void*>(&NsOnlineLEDSetValue));
  EXPECT_EQ(uictl_by_ordinal(11), reinterpret_cast<void*>(&NSCUSTOM));
  EXPECT_EQ(uictl_by_ordinal(6000), reinterpret_cast<void*>(&NsSetCustumLangString));
  EXPECT_EQ(uictl_by_ordinal(9999), nullptr);
  EXPECT_EQ(uictl_ordinal_of("NsGaugeGetValue"), 1411u);
  EXPECT_EQ(uictl_ordinal_of("NsDeciBoxExWndProc"), 33u);
  EXPECT_EQ(uictl_ordinal_of("nothing"), 0u);
  EXPECT_EQ(NSCUSTOM(), 1);
}

TEST(Factory, EveryBuiltClassIsMadeByItsName) {
  for (const std::string& name : ClassNames()) {
    if (!IsRegisteredClass(name)) continue;
    QWidget parent;
    Control* control = CreateControl(name, &parent, 7);
    ASSERT_NE(control, nullptr) << name;
    EXPECT_STREQ(control->ClassName(), name.c_str());
    EXPECT_EQ(control->Id(), 7);
  }
  QWidget parent;
  EXPECT_EQ(CreateControl("NSNOSUCHCLASS", &parent, 1), nullptr);
  QString error;
  EXPECT_FALSE(LoadDialog("CONTROL \"NSNOSUCHCLASS\" 1 0 0 10 10", &error));
  EXPECT_NE(error.indexOf("NSNOSUCHCLASS"), -1);
  EXPECT_FALSE(LoadDialog("CONTROL \"NSGAUGE\" x 0 0 10 10", &error));
  EXPECT_FALSE(LoadDialog("DIALOG \"t\" 0 10", &error));
}

}  // namespace
}  // namespace uictl::test
