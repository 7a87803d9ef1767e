// The status indicators: gauge, online LED, check mark, indicator button, status
// text, output level and remaining paper or ink. Each keeps its state, draws
// itself with QPainter, and answers its messages (numbered as its exports'
// ordinals) with 0 or kIndicatorFailed.
#pragma once

#include <QString>

#include <cstdint>

#include "uictl/controls.h"

namespace uictl {

inline constexpr LRESULT kIndicatorFailed = 0x80000000;

class Indicator : public Control {
 public:
  Indicator(QWidget* parent, int id, const char* className);
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam) override;
  bool Defined() const { return defined_; }

 protected:
  // Stores an accepted value; the value already held returns 0 without a redraw.
  LRESULT Set(std::uint32_t& slot, std::uint32_t value, bool accepted);
  static LRESULT Get(std::uint32_t value, LPARAM out);
  // The family's own messages; kIndicatorFailed for an unknown one.
  virtual LRESULT Message(UINT message, WPARAM wParam, LPARAM lParam) = 0;
  // The numbers of the family's define messages.
  virtual UINT DefineMessage() const = 0;
  virtual void Paint(class QPainter& painter) = 0;
  void paintEvent(QPaintEvent* event) override;
  // The colour of a lit part: its own when defined, else gray.
  QColor Lit(const QColor& color) const;

  std::uint32_t defined_ = 1;
};

// "NSGAUGE": a bar from minimum to maximum with the percentage.
class Gauge : public Indicator {
 public:
  Gauge(QWidget* parent, int id, const QString& windowText);
  std::uint32_t Minimum() const { return minimum_; }
  std::uint32_t Maximum() const { return maximum_; }
  std::uint32_t Value() const { return value_; }

 protected:
  LRESULT Message(UINT message, WPARAM wParam, LPARAM lParam) override;
  UINT DefineMessage() const override { return 1420; }
  void Paint(QPainter& painter) override;

 private:
  std::uint32_t minimum_ = 0, maximum_ = 100, value_ = 0;
  QColor bar_;
};

// "NSONLINELED" (values 0 off, 1 online, 3 error, 4 busy; 5 redraws) and
// "NSCHECKMARK" (0 clear, 1 checked), each placed by its alignment bits.
class Lamp : public Indicator {
 public:
  Lamp(QWidget* parent, int id, const QString& windowText, bool checkMark);

 protected:
  LRESULT Message(UINT message, WPARAM wParam, LPARAM lParam) override;
  UINT DefineMessage() const override { return base_ + 20; }
  void Paint(QPainter& painter) override;

 private:
  QRect Placed(int side) const;
  bool checkMark_;
  UINT base_;  // 1700 or 1800
  std::uint32_t value_ = 0;
  std::uint32_t align_ = 0;
};

// "NSINDICATORBUTTON": style 16 display only (disabled) or 32 pushable; states
// 0 - 6 choose the colour of its lamp; a pushable button toggles its check when
// clicked and tells the dialog (BN_CLICKED).
class IndicatorButton : public Indicator {
 public:
  IndicatorButton(QWidget* parent, int id);

 protected:
  LRESULT Message(UINT message, WPARAM wParam, LPARAM lParam) override;
  UINT DefineMessage() const override { return 1530; }
  void Paint(QPainter& painter) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Click();
  std::uint32_t style_ = 32, state_ = 0, check_ = 0;
};

// "NSSTATUS": one line of text.
class StatusText : public Indicator {
 public:
  StatusText(QWidget* parent, int id, const QString& windowText);

 protected:
  LRESULT Message(UINT message, WPARAM wParam, LPARAM lParam) override;
  UINT DefineMessage() const override { return 1310; }
  void Paint(QPainter& painter) override;

 private:
  QString text_;
};

// The output level ("NSOUTPUTLEVEL4", "NSOUTPUTLEVEL5": 0 - 4 or 0 - 5 steps) and
// remaining indicators ("NSREMAIN", "NSREMAINLARGE", "NSREMAINSMALL",
// "NSPAPERREMAIN": 0 - 100 percent; "NSPAPERREMAIN4", "NSPAPERREMAIN4S": 0 - 4
// steps; "NSPAPERREMAIN5", "NSPAPERREMAIN5L", "NSPAPERREMAIN5S": 0 - 5 steps).
// Style 0 draws across, 1 upwards.
class Level : public Indicator {
 public:
  Level(QWidget* parent, int id, const char* className);
  std::uint32_t Steps() const { return steps_; }

 protected:
  LRESULT Message(UINT message, WPARAM wParam, LPARAM lParam) override;
  UINT DefineMessage() const override { return base_ + 20; }
  void Paint(QPainter& painter) override;

 private:
  UINT base_;            // 2300 output level, 1600 remaining
  std::uint32_t steps_;  // 0: a percentage
  std::uint32_t style_ = 0, value_ = 0;
};

}  // namespace uictl
