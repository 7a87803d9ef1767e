// The list, combo, check box and track bar controls: standard Qt widgets inside
// a control that follows the enable and define scheme of the boxes and answers
// the standard list-box and combo-box messages.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QSlider>

#include "uictl/controls.h"

namespace uictl {

// Standard messages and results.
inline constexpr UINT LB_ADDSTRING = 0x0180, LB_INSERTSTRING = 0x0181, LB_DELETESTRING = 0x0182,
                      LB_RESETCONTENT = 0x0184, LB_SETSEL = 0x0185, LB_SETCURSEL = 0x0186,
                      LB_GETSEL = 0x0187, LB_GETCURSEL = 0x0188, LB_GETTEXT = 0x0189,
                      LB_GETTEXTLEN = 0x018A, LB_GETCOUNT = 0x018B, LB_GETTOPINDEX = 0x018E,
                      LB_GETSELCOUNT = 0x0190, LB_GETSELITEMS = 0x0191,
                      LB_GETHORIZONTALEXTENT = 0x0193, LB_SETHORIZONTALEXTENT = 0x0194,
                      LB_SETTOPINDEX = 0x0197, LB_GETITEMDATA = 0x0199, LB_SETITEMDATA = 0x019A,
                      LB_SETITEMHEIGHT = 0x01A0;
inline constexpr UINT CB_LIMITTEXT = 0x0141, CB_ADDSTRING = 0x0143, CB_DELETESTRING = 0x0144,
                      CB_GETCOUNT = 0x0146, CB_GETCURSEL = 0x0147, CB_GETLBTEXT = 0x0148,
                      CB_GETLBTEXTLEN = 0x0149, CB_INSERTSTRING = 0x014A, CB_RESETCONTENT = 0x014B,
                      CB_SETCURSEL = 0x014E, CB_SHOWDROPDOWN = 0x014F;
inline constexpr LRESULT LB_ERR = -1, LB_ERRSPACE = -2, CB_ERR = -1, CB_ERRSPACE = -2;
// Most items a list or combo box holds; one more is refused as out of space.
inline constexpr int kMaxItems = 32767;

// Notifications to the dialog.
inline constexpr int LBN_SELCHANGE = 1, LBN_DBLCLK = 2, CBN_SELCHANGE = 1, CBN_EDITCHANGE = 5,
                     BN_CLICKED = 0, TBN_POSCHANGED = 0;

// Enable, define and the rest of a family's own block.
class ListFamilyControl : public Control {
 public:
  ListFamilyControl(QWidget* parent, int id, const char* className)
      : Control(parent, id, className) {}
  bool Defined() const { return defined_; }

 protected:
  bool DispatchState(UINT base, UINT message, LPARAM lParam, LRESULT* result);
  void SetDefined(bool defined);
  // Takes the standard widget that fills the control.
  void Adopt(QWidget* inner);
  void resizeEvent(QResizeEvent* event) override;
  QWidget* inner_ = nullptr;
  bool defined_ = true;
};

// "NSLISTBOX"; window text "MULTIPLESEL" allows several selected items.
class ListBox : public ListFamilyControl {
 public:
  ListBox(QWidget* parent, int id, const QString& windowText);
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam) override;
  QListWidget* List() const { return list_; }

 private:
  LRESULT Insert(int index, LPARAM text);
  QListWidget* list_;
  bool multiple_;
  int extent_ = 0;
};

// "NSCOMBOBOX" and "NSCOMBOBOXEX": an editable combo box; window text
// "DROPDOWNLIST" makes the list the only choice.
class ComboBox : public ListFamilyControl {
 public:
  ComboBox(QWidget* parent, int id, const char* className, const QString& windowText);
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam) override;
  QComboBox* Combo() const { return combo_; }

 private:
  LRESULT Insert(int index, LPARAM text);
  QComboBox* combo_;
  bool notify_ = true;
};

// "NSCHECKBOX": the window text is its label.
class CheckBox : public ListFamilyControl {
 public:
  CheckBox(QWidget* parent, int id, const QString& windowText);
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam) override;
  QCheckBox* Box() const { return box_; }

 private:
  QCheckBox* box_;
};

// "NSTRACKBAR": a horizontal slider with ticks.
class TrackBar : public ListFamilyControl {
 public:
  TrackBar(QWidget* parent, int id);
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam) override;
  QSlider* Slider() const { return slider_; }

 private:
  QSlider* slider_;
  int bigStepFrequency_ = 0;
  std::uint32_t background_;
  bool notify_ = true;
};

}  // namespace uictl
