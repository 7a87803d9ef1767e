// The frame shared by the entry boxes: a container with one child edit
// (identifier 1000), the box's state, the notifications passed to the dialog,
// validation when the focus leaves and on Enter or Tab, and the character
// filter of the family.
#pragma once

#include <QLineEdit>

#include <cstdint>

#include "filters.h"
#include "uictl/controls.h"

namespace uictl {

// Copies text as UTF-8 into a caller's buffer of size bytes, cut on a character
// boundary and NUL-terminated; returns the bytes copied without the NUL.
LRESULT CopyText(const QString& text, WPARAM size, LPARAM buffer);
// The text a message's parameter points at (UTF-8; null reads as empty).
QString TextParam(LPARAM text);

class Box : public Control {
 public:
  struct State {
    bool rangeValid = false;  // numeric boxes: a range is set; name boxes: validation on
    std::int32_t minimum = 0;
    std::int32_t maximum = 100;
    bool armed = true;   // cleared while the box's own warning is up
    bool notify = true;  // cleared while the box sets its own text
    bool defined = false;
  };

  Box(QWidget* parent, int id, const char* className, Family family, int limit);

  QLineEdit* Edit() const { return edit_; }
  const State& state() const { return state_; }
  // The family's check of the text; on refusal the warning has been shown.
  bool Validate();
  void SetTextQuietly(const QString& text);
  void SetDefined(bool defined);

 protected:
  virtual bool Check() = 0;
  // The messages every box answers: text, limit, enable and define by the
  // family's numbers; false when the message is not one of them.
  struct Block {
    UINT enable, isEnabled, define, isDefined;
  };
  bool DispatchCommon(const Block& block, UINT message, WPARAM wParam, LPARAM lParam,
                      LRESULT* result);
  void Warn(const QString& text);
  void PutFocusBack(QWidget* formerFocus);

  State state_;
  Family family_;

  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void UpdateLook();
  void TextChanged();
  bool FilterKey(class QKeyEvent* key);

  QLineEdit* edit_;
};

// A box that names a family and a limit and has no check of its own: the edit
// boxes, whose behaviour beyond the frame is free.
class EditBox : public Box {
 public:
  EditBox(QWidget* parent, int id, const char* className, int limit);
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam) override;

 protected:
  bool Check() override { return true; }
};

// Decimal box ("NSDECIBOX", limit 5, 16-bit range) and wide decimal box
// ("NSDECIBOXEX", limit 9, 32-bit range).
class DeciBox : public Box {
 public:
  DeciBox(QWidget* parent, int id, const QString& windowText, bool wide);
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam) override;

 protected:
  bool Check() override;

 private:
  bool wide_;
};

// Hexadecimal box ("NSHEXABOX").
class HexaBox : public Box {
 public:
  HexaBox(QWidget* parent, int id);
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam) override;

 protected:
  bool Check() override;
};

// Name boxes: DNS host and domain, URI, AppleTalk, EB1 and server names.
class NameBox : public Box {
 public:
  NameBox(QWidget* parent, int id, const char* className, Family family, int limit, int message);
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam) override;

 protected:
  bool Check() override;

 private:
  int message_;  // the string shown after replacing; 0: refuse without a message
};

}  // namespace uictl
