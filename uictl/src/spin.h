// The micro scroll ("NSMICROSCROLL": two arrows stepping a position through a
// range) and the spin box ("NSSPINBOX": a checked number edit with a micro
// scroll beside it, child identifier 1001).
#pragma once

#include <cstdint>
#include <functional>

#include "box.h"

namespace uictl {

// The micro scroll's messages, behind the MS* functions.
inline constexpr UINT MSM_COLORSET = 1025, MSM_COLORGET = 1026, MSM_RANGESET = 1027,
                      MSM_RANGEGET = 1028, MSM_POSSET = 1029, MSM_POSGET = 1030, MSM_TICKSET = 1031,
                      MSM_TICKGET = 1032, MSM_INVERTSET = 1033, MSM_INVERTGET = 1034,
                      MSM_NOPEGSET = 1035, MSM_NOPEGGET = 1036, MSM_ASSOCIATESET = 1037,
                      MSM_ASSOCIATEGET = 1038;
// Sent to the dialog when the user moves the position.
inline constexpr int MSN_POSCHANGED = 0;

class MicroScroll : public Control {
 public:
  MicroScroll(QWidget* parent, int id);
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam) override;
  // One step up (or down), as a click on an arrow does.
  void Step(bool up);
  int Position() const { return position_; }
  void SetPosition(int position) { position_ = position; }
  void SetRange(int minimum, int maximum);
  void SetTick(int tick) { tick_ = tick; }
  int Tick() const { return tick_; }
  int Minimum() const { return minimum_; }
  int Maximum() const { return maximum_; }
  // Called with the new position after a step the user made.
  std::function<void(int)> onStep;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  int minimum_ = 0, maximum_ = 100, position_ = 0, tick_ = 1;
  std::uint32_t color_;
  bool invert_ = false, noPeg_ = false;
  QWidget* associate_ = nullptr;
};

// Window text: a range "minimum,maximum" (as the decimal box) and, to read the
// text in tenths, the word "TENTHS" ("0,500,TENTHS").
class SpinBox : public Box {
 public:
  SpinBox(QWidget* parent, int id, const QString& windowText);
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam) override;
  MicroScroll* Scroll() const { return scroll_; }

 protected:
  bool Check() override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The value the text stands for, or why it is refused (a string number) with
  // the value it is to be set to.
  struct Verdict {
    int value;
    int message;  // 0: accepted
  };
  Verdict Judge() const;
  QString Format(int value) const;
  void Show(int value, bool quietly);

  MicroScroll* scroll_;
  bool tenths_;
};

}  // namespace uictl
