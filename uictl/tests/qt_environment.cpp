#include <QLineEdit>

#include "uictl/uictl.h"
#include "uictl_test.h"

namespace uictl::test {
namespace {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    app_ = std::make_unique<QApplication>(argc_, argv_);
  }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[16] = "uictl_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

void DialogTest::SetUp() {
  NsSetCustumLangString("US");
  SetWarningPresenter([this](QWidget* owner, const QString& caption, const QString& text) {
    warnings_.push_back({owner, caption, text});
  });
  SetBeeper([this] { ++beeps_; });
}

void DialogTest::TearDown() {
  dialog_.reset();
  SetWarningPresenter(nullptr);
  SetBeeper(nullptr);
  NsSetCustumLangString(nullptr);
}

void DialogTest::Open(const QString& controls) {
  QString error;
  dialog_ = LoadDialog("DIALOG \"Test\" 600 300\n" + controls +
                           "\nDEFPUSHBUTTON \"OK\" 1 200 260 80 24"
                           "\nPUSHBUTTON \"Cancel\" 2 300 260 80 24",
                       &error);
  ASSERT_TRUE(dialog_) << error.toStdString();
  dialog_->onCommand = [this](int id, int code) { commands_.push_back({id, code}); };
  dialog_->show();
  dialog_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dialog_.get()));
}

void DialogTest::Type(const char* text) {
  for (const char* p = text; *p; ++p) QTest::keyClick(QApplication::focusWidget(), *p);
}

void DialogTest::Key(Qt::Key key, Qt::KeyboardModifiers modifiers) {
  QTest::keyClick(QApplication::focusWidget(), key, modifiers);
}

int DialogTest::CountCommands(int id, int code) const {
  int n = 0;
  for (const Command& c : commands_) n += (c.id == id && c.code == code) ? 1 : 0;
  return n;
}

}  // namespace uictl::test
