// What the uictl tests share: one QApplication on the offscreen platform, and a
// fixture with a shown, active dialog that records the warnings, beeps and
// commands its controls produce.
#pragma once

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "uictl/controls.h"

namespace uictl::test {

struct Warning {
  QWidget* owner;
  QString caption;
  QString text;
};

struct Command {
  int id;
  int code;
};

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Builds the dialog from a description (OK 1 and Cancel 2 buttons are added),
  // shows and activates it.
  void Open(const QString& controls);
  template <typename T = Control>
  T* Item(int id) {
    return dynamic_cast<T*>(DialogItem(dialog_.get(), id));
  }
  QPushButton* Button(int id) { return qobject_cast<QPushButton*>(DialogItem(dialog_.get(), id)); }
  // Keys typed into whatever has the focus.
  void Type(const char* text);
  void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
  int CountCommands(int id, int code) const;

  std::unique_ptr<Dialog> dialog_;
  std::vector<Warning> warnings_;
  std::vector<Command> commands_;
  int beeps_ = 0;
};

}  // namespace uictl::test
