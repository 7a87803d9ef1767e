// The exported functions: thin wrappers that find the control by the dialog and
// identifier and send it one message.
#include "uictl/uictl.h"

#include <cstring>

#include "indicators.h"
#include "lang.h"
#include "lists.h"
#include "spin.h"
#include "uictl/controls.h"

namespace {

using uictl::Control;
using uictl::MakeLParam;

Control* Item(HWND dialog, int id) { return dynamic_cast<Control*>(uictl::DialogItem(dialog, id)); }

// The control's answer; missing when the identifier names no control.
LRESULT Send(HWND dialog, int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0,
             LRESULT missing = 0) {
  Control* control = Item(dialog, id);
  return control ? control->Dispatch(message, wParam, lParam) : missing;
}

int Int(LRESULT result) { return static_cast<int>(result); }
// An index, or -1 for any error of the list (LB_ERR, LB_ERRSPACE and their combo twins).
int Index(LRESULT result) { return result < 0 ? -1 : static_cast<int>(result); }
WPARAM At(int index) { return static_cast<WPARAM>(static_cast<std::intptr_t>(index)); }
// A single 16-bit value in the high word.
LPARAM Word(int value) { return uictl::MakeLParam(0, static_cast<std::uint16_t>(value)); }

LPARAM Flag(BOOL flag) { return MakeLParam(0, flag ? 1 : 0); }
LPARAM Text(const char* text) { return reinterpret_cast<LPARAM>(text); }
LPARAM Buffer(void* buffer) { return reinterpret_cast<LPARAM>(buffer); }
WPARAM Size(int size) { return size > 0 ? static_cast<WPARAM>(size) : 0; }

// A window procedure: the message to a control of that class.
LRESULT Proc(const char* className, HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* control = dynamic_cast<Control*>(box);
  if (!control || std::strcmp(control->ClassName(), className) != 0) return 0;
  return control->Dispatch(message, wParam, lParam);
}

// A message to a micro scroll given itself.
LRESULT Scroll(HWND scroll, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  auto* control = dynamic_cast<uictl::MicroScroll*>(scroll);
  return control ? control->Dispatch(message, wParam, lParam) : 0;
}

// A message to an indicator; fails when the identifier names none.
DWORD Indicate(HWND dialog, int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  auto* indicator = dynamic_cast<uictl::Indicator*>(uictl::DialogItem(dialog, id));
  if (!indicator) return static_cast<DWORD>(uictl::kIndicatorFailed);
  return static_cast<DWORD>(indicator->Dispatch(message, wParam, lParam));
}

// A window procedure of a family of classes, named by their common beginnings.
LRESULT FamilyProc(std::initializer_list<const char*> prefixes, HWND control, UINT message,
                   WPARAM wParam, LPARAM lParam) {
  auto* c = dynamic_cast<Control*>(control);
  if (!c) return 0;
  for (const char* prefix : prefixes)
    if (std::strncmp(c->ClassName(), prefix, std::strlen(prefix)) == 0)
      return c->Dispatch(message, wParam, lParam);
  return 0;
}

}  // namespace

extern "C" {

BOOL WEP(int) { return 1; }
int NSCUSTOM() { return 1; }
void NsSetCustumLangString(const char* code) { uictl::SetLanguageCode(code); }

// IP address box.
LRESULT NsIPAddressBoxWndProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  return Proc("NSIPADDRESSBOX", box, message, wParam, lParam);
}
void NsIPAddressBoxEnable(HWND d, int id, BOOL f) { Send(d, id, 1037, 0, Flag(f)); }
BOOL NsIPAddressBoxIsEnabled(HWND d, int id) { return Send(d, id, 1038) != 0; }
void NsIPAddressBoxDefine(HWND d, int id, BOOL f) { Send(d, id, 1039, 0, Flag(f)); }
BOOL NsIPAddressBoxIsDefined(HWND d, int id) { return Send(d, id, 1040) != 0; }
DWORD NsIPAddressBoxSetValue(HWND d, int id, DWORD value) {
  return static_cast<DWORD>(Send(d, id, 1035, 0, static_cast<LPARAM>(value)));
}
DWORD NsIPAddressBoxGetValue(HWND d, int id) { return static_cast<DWORD>(Send(d, id, 1034)); }
void NsIPAddressBoxClearValue(HWND d, int id) { Send(d, id, 1036); }

// NetWare address box.
LRESULT NsNetWareAddressBoxWndProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  return Proc("NSNWADDRESSBOX", box, message, wParam, lParam);
}
void NsNetWareAddressBoxEnable(HWND d, int id, BOOL f) { Send(d, id, 1037, 0, Flag(f)); }
BOOL NsNetWareAddressBoxIsEnabled(HWND d, int id) { return Send(d, id, 1038) != 0; }
void NsNetWareAddressBoxDefine(HWND d, int id, BOOL f) { Send(d, id, 1039, 0, Flag(f)); }
BOOL NsNetWareAddressBoxIsDefined(HWND d, int id) { return Send(d, id, 1040) != 0; }
void NsNetWareAddressBoxSetValue(HWND d, int id, const unsigned char* value) {
  Send(d, id, 1035, 0, reinterpret_cast<LPARAM>(value));
}
BOOL NsNetWareAddressBoxGetValue(HWND d, int id, unsigned char* value) {
  return Send(d, id, 1034, 0, Buffer(value)) != 0;
}
void NsNetWareAddressBoxClearValue(HWND d, int id) { Send(d, id, 1036); }

// Hexadecimal box.
LRESULT NsHexaBoxWndProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  return Proc("NSHEXABOX", box, message, wParam, lParam);
}
void NsHexaBoxEnable(HWND d, int id, BOOL f) { Send(d, id, 1084, 0, Flag(f)); }
BOOL NsHexaBoxIsEnabled(HWND d, int id) { return Send(d, id, 1094) != 0; }
void NsHexaBoxDefine(HWND d, int id, BOOL f) { Send(d, id, 1104, 0, Flag(f)); }
BOOL NsHexaBoxIsDefined(HWND d, int id) { return Send(d, id, 1114) != 0; }
void NsHexaBoxSetText(HWND d, int id, const char* text) { Send(d, id, 1064, 0, Text(text)); }
int NsHexaBoxGetText(HWND d, int id, char* buffer, int size) {
  return static_cast<int>(Send(d, id, 1074, Size(size), Buffer(buffer)));
}
void NsHexaBoxLimitText(HWND d, int id, int limit) {
  Send(d, id, uictl::EM_LIMITTEXT, Size(limit));
}

// Decimal box.
LRESULT NsDeciBoxWndProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  return Proc("NSDECIBOX", box, message, wParam, lParam);
}
void NsDeciBoxEnable(HWND d, int id, BOOL f) { Send(d, id, 1104, 0, Flag(f)); }
BOOL NsDeciBoxIsEnabled(HWND d, int id) { return Send(d, id, 1114) != 0; }
void NsDeciBoxDefine(HWND d, int id, BOOL f) { Send(d, id, 1124, 0, Flag(f)); }
BOOL NsDeciBoxIsDefined(HWND d, int id) { return Send(d, id, 1134) != 0; }
void NsDeciBoxSetText(HWND d, int id, const char* text) { Send(d, id, 1084, 0, Text(text)); }
int NsDeciBoxGetText(HWND d, int id, char* buffer, int size) {
  return static_cast<int>(Send(d, id, 1094, Size(size), Buffer(buffer)));
}
void NsDeciBoxSetRange(HWND d, int id, int minimum, int maximum) {
  Send(d, id, 1064, 0,
       MakeLParam(static_cast<std::uint16_t>(minimum), static_cast<std::uint16_t>(maximum)));
}
DWORD NsDeciBoxGetRange(HWND d, int id) { return static_cast<DWORD>(Send(d, id, 1074)); }

// Wide decimal box.
LRESULT NsDeciBoxExWndProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  return Proc("NSDECIBOXEX", box, message, wParam, lParam);
}
void NsDeciBoxExEnable(HWND d, int id, BOOL f) { Send(d, id, 1104, 0, Flag(f)); }
BOOL NsDeciBoxExIsEnabled(HWND d, int id) { return Send(d, id, 1114) != 0; }
void NsDeciBoxExDefine(HWND d, int id, BOOL f) { Send(d, id, 1124, 0, Flag(f)); }
BOOL NsDeciBoxExIsDefined(HWND d, int id) { return Send(d, id, 1134) != 0; }
void NsDeciBoxExSetText(HWND d, int id, const char* text) { Send(d, id, 1094, 0, Text(text)); }
int NsDeciBoxExGetText(HWND d, int id, char* buffer, int size) {
  return static_cast<int>(Send(d, id, 1095, Size(size), Buffer(buffer)));
}
void NsDeciBoxExSetRange(HWND d, int id, std::int32_t minimum, std::int32_t maximum) {
  Send(d, id, 1064, 0, minimum);
  Send(d, id, 1065, 0, maximum);
}
BOOL NsDeciBoxExGetRange(HWND d, int id, std::int32_t* minimum, std::int32_t* maximum) {
  if (!Item(d, id) || !minimum || !maximum) return 0;
  *minimum = static_cast<std::int32_t>(Send(d, id, 1074));
  *maximum = static_cast<std::int32_t>(Send(d, id, 1075));
  return 1;
}

// Edit box.
LRESULT NsEditBoxWndProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  return Proc("NSEDITBOX", box, message, wParam, lParam);
}
void NsEditBoxEnable(HWND d, int id, BOOL f) { Send(d, id, 1124, 0, Flag(f)); }
BOOL NsEditBoxIsEnabled(HWND d, int id) { return Send(d, id, 1125) != 0; }
void NsEditBoxDefine(HWND d, int id, BOOL f) { Send(d, id, 1126, 0, Flag(f)); }
BOOL NsEditBoxIsDefined(HWND d, int id) { return Send(d, id, 1127) != 0; }
void NsEditBoxSetText(HWND d, int id, const char* text) {
  Send(d, id, uictl::WM_SETTEXT, 0, Text(text));
}
int NsEditBoxGetText(HWND d, int id, char* buffer, int size) {
  return static_cast<int>(Send(d, id, uictl::WM_GETTEXT, Size(size), Buffer(buffer)));
}
void NsEditBoxLimitText(HWND d, int id, int limit) {
  Send(d, id, uictl::EM_LIMITTEXT, Size(limit));
}

// Name boxes.
LRESULT NsEditBoxExWndProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  return Proc("NSEDITBOXEX", box, message, wParam, lParam);
}
LRESULT NsEB1NameBoxWndProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  return Proc("NSEB1NAMEBOX", box, message, wParam, lParam);
}
LRESULT NsAppleTalkNameBoxWndProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  return Proc("NSAPPLETALKNAMEBOX", box, message, wParam, lParam);
}
LRESULT NsURIBoxWndProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  return Proc("NSURIBOX", box, message, wParam, lParam);
}
LRESULT NsSvrNameBoxWndProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  return Proc("NSSVRNAMEBOX", box, message, wParam, lParam);
}
LRESULT NsDNSHBoxWndProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  return Proc("NSDNSHBOX", box, message, wParam, lParam);
}
void NsDNSHBoxLimitText(HWND d, int id, int limit) {
  Send(d, id, uictl::EM_LIMITTEXT, Size(limit));
}
LRESULT NsDNSDBoxWndProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  return Proc("NSDNSDBOX", box, message, wParam, lParam);
}
void NsDNSDBoxLimitText(HWND d, int id, int limit) {
  Send(d, id, uictl::EM_LIMITTEXT, Size(limit));
}

// List box.
LRESULT NsListBoxWndProc(HWND c, UINT message, WPARAM wParam, LPARAM lParam) {
  return Proc("NSLISTBOX", c, message, wParam, lParam);
}
void NsListBoxEnable(HWND d, int id, BOOL f) { Send(d, id, 2025, 0, Flag(f)); }
BOOL NsListBoxIsEnabled(HWND d, int id) { return Send(d, id, 2026) != 0; }
void NsListBoxDefine(HWND d, int id, BOOL f) { Send(d, id, 2027, 0, Flag(f)); }
BOOL NsListBoxIsDefined(HWND d, int id) { return Send(d, id, 2028) != 0; }
int NsListBoxAddString(HWND d, int id, const char* text) {
  return Index(Send(d, id, uictl::LB_ADDSTRING, 0, Text(text), uictl::LB_ERR));
}
int NsListBoxInsertString(HWND d, int id, int index, const char* text) {
  return Index(Send(d, id, uictl::LB_INSERTSTRING, At(index), Text(text), uictl::LB_ERR));
}
int NsListBoxDeleteString(HWND d, int id, int index) {
  return Int(Send(d, id, uictl::LB_DELETESTRING, At(index), 0, uictl::LB_ERR));
}
int NsListBoxGetCount(HWND d, int id) {
  return Int(Send(d, id, uictl::LB_GETCOUNT, 0, 0, uictl::LB_ERR));
}
int NsListBoxGetCurSel(HWND d, int id) {
  return Int(Send(d, id, uictl::LB_GETCURSEL, 0, 0, uictl::LB_ERR));
}
int NsListBoxResetContent(HWND d, int id) {
  return Int(Send(d, id, uictl::LB_RESETCONTENT, 0, 0, uictl::LB_ERR));
}
int NsListBoxSetCurSel(HWND d, int id, int index) {
  return Int(Send(d, id, uictl::LB_SETCURSEL, At(index), 0, uictl::LB_ERR));
}
int NsListBoxGetTopIndex(HWND d, int id) {
  return Int(Send(d, id, uictl::LB_GETTOPINDEX, 0, 0, uictl::LB_ERR));
}
int NsListBoxSetTopIndex(HWND d, int id, int index) {
  return Int(Send(d, id, uictl::LB_SETTOPINDEX, At(index), 0, uictl::LB_ERR));
}
int NsListBoxGetText(HWND d, int id, int index, char* buffer) {
  return Int(Send(d, id, uictl::LB_GETTEXT, At(index), Buffer(buffer), uictl::LB_ERR));
}
int NsListBoxGetTextLen(HWND d, int id, int index) {
  return Int(Send(d, id, uictl::LB_GETTEXTLEN, At(index), 0, uictl::LB_ERR));
}
LPARAM NsListBoxGetItemData(HWND d, int id, int index) {
  return Send(d, id, uictl::LB_GETITEMDATA, At(index), 0, uictl::LB_ERR);
}
int NsListBoxGetSel(HWND d, int id, int index) {
  return Int(Send(d, id, uictl::LB_GETSEL, At(index), 0, uictl::LB_ERR));
}
int NsListBoxSetSel(HWND d, int id, BOOL select, int index) {
  return Int(Send(d, id, uictl::LB_SETSEL, select ? 1 : 0, index, uictl::LB_ERR));
}
int NsListBoxGetSelCount(HWND d, int id) {
  return Int(Send(d, id, uictl::LB_GETSELCOUNT, 0, 0, uictl::LB_ERR));
}
int NsListBoxGetSelItems(HWND d, int id, int room, int* items) {
  return Int(Send(d, id, uictl::LB_GETSELITEMS, Size(room), Buffer(items), uictl::LB_ERR));
}
int NsListBoxGetHorizenExtent(HWND d, int id) {
  return Int(Send(d, id, uictl::LB_GETHORIZONTALEXTENT));
}
void NsListBoxSetHorizenExtent(HWND d, int id, int extent) {
  Send(d, id, uictl::LB_SETHORIZONTALEXTENT, Size(extent));
}
int NsListBoxSetItemHeight(HWND d, int id, int index, int height) {
  return Int(Send(d, id, uictl::LB_SETITEMHEIGHT, At(index),
                  uictl::MakeLParam(static_cast<unsigned>(height), 0), uictl::LB_ERR));
}

// Combo box.
LRESULT NsComboBoxWndProc(HWND c, UINT message, WPARAM wParam, LPARAM lParam) {
  return Proc("NSCOMBOBOX", c, message, wParam, lParam);
}
LRESULT NsComboBoxExWndProc(HWND c, UINT message, WPARAM wParam, LPARAM lParam) {
  return Proc("NSCOMBOBOXEX", c, message, wParam, lParam);
}
void NsComboBoxEnable(HWND d, int id, BOOL f) { Send(d, id, 2025, 0, Flag(f)); }
BOOL NsComboBoxIsEnabled(HWND d, int id) { return Send(d, id, 2026) != 0; }
void NsComboBoxDefine(HWND d, int id, BOOL f) { Send(d, id, 2027, 0, Flag(f)); }
BOOL NsComboBoxIsDefined(HWND d, int id) { return Send(d, id, 2028) != 0; }
int NsComboBoxAddString(HWND d, int id, const char* text) {
  return Index(Send(d, id, uictl::CB_ADDSTRING, 0, Text(text), uictl::CB_ERR));
}
int NsComboBoxInsertString(HWND d, int id, int index, const char* text) {
  return Index(Send(d, id, uictl::CB_INSERTSTRING, At(index), Text(text), uictl::CB_ERR));
}
int NsComboBoxDeleteString(HWND d, int id, int index) {
  return Int(Send(d, id, uictl::CB_DELETESTRING, At(index), 0, uictl::CB_ERR));
}
int NsComboBoxGetCount(HWND d, int id) {
  return Int(Send(d, id, uictl::CB_GETCOUNT, 0, 0, uictl::CB_ERR));
}
int NsComboBoxGetCurSel(HWND d, int id) {
  return Int(Send(d, id, uictl::CB_GETCURSEL, 0, 0, uictl::CB_ERR));
}
int NsComboBoxSetCurSel(HWND d, int id, int index) {
  return Int(Send(d, id, uictl::CB_SETCURSEL, At(index), 0, uictl::CB_ERR));
}
void NsComboBoxLimitText(HWND d, int id, int limit) {
  Send(d, id, uictl::CB_LIMITTEXT, Size(limit));
}
int NsComboBoxResetContent(HWND d, int id) {
  return Int(Send(d, id, uictl::CB_RESETCONTENT, 0, 0, uictl::CB_ERR));
}
void NsComboBoxShowDropDown(HWND d, int id, BOOL show) {
  Send(d, id, uictl::CB_SHOWDROPDOWN, show ? 1 : 0);
}
void NsComboBoxSetText(HWND d, int id, const char* text) {
  Send(d, id, uictl::WM_SETTEXT, 0, Text(text));
}
int NsComboBoxGetText(HWND d, int id, char* buffer, int size) {
  return Int(Send(d, id, uictl::WM_GETTEXT, Size(size), Buffer(buffer)));
}
int NsComboBoxGetLBText(HWND d, int id, int index, char* buffer) {
  return Int(Send(d, id, uictl::CB_GETLBTEXT, At(index), Buffer(buffer), uictl::CB_ERR));
}
int NsComboBoxGetLBTextLen(HWND d, int id, int index) {
  return Int(Send(d, id, uictl::CB_GETLBTEXTLEN, At(index), 0, uictl::CB_ERR));
}
int NsComboBoxSetHeight(HWND d, int id, int height) {
  if (height < 0 || height > 0xFFFE) return uictl::CB_ERR;
  return Int(
      Send(d, id, 2029, 0, uictl::MakeLParam(0, static_cast<unsigned>(height) + 1), uictl::CB_ERR));
}

// Check box.
LRESULT NsCheckBoxWndProc(HWND c, UINT message, WPARAM wParam, LPARAM lParam) {
  return Proc("NSCHECKBOX", c, message, wParam, lParam);
}
void NsCheckBoxEnable(HWND d, int id, BOOL f) { Send(d, id, 2025, 0, Flag(f)); }
BOOL NsCheckBoxIsEnabled(HWND d, int id) { return Send(d, id, 2026) != 0; }
void NsCheckBoxDefine(HWND d, int id, BOOL f) { Send(d, id, 2027, 0, Flag(f)); }
BOOL NsCheckBoxIsDefined(HWND d, int id) { return Send(d, id, 2028) != 0; }
void NsCheckBoxSetCheck(HWND d, int id, BOOL f) { Send(d, id, 2029, 0, Flag(f)); }
BOOL NsCheckBoxGetCheck(HWND d, int id) { return Send(d, id, 2030) != 0; }

// Track bar.
LRESULT NsTrackBarWndProc(HWND c, UINT message, WPARAM wParam, LPARAM lParam) {
  return Proc("NSTRACKBAR", c, message, wParam, lParam);
}
void NsTrackBarEnable(HWND d, int id, BOOL f) { Send(d, id, 1140, 0, Flag(f)); }
BOOL NsTrackBarIsEnabled(HWND d, int id) { return Send(d, id, 1141) != 0; }
void NsTrackBarDefine(HWND d, int id, BOOL f) { Send(d, id, 1142, 0, Flag(f)); }
BOOL NsTrackBarIsDefined(HWND d, int id) { return Send(d, id, 1143) != 0; }
void NsTrackBarSetPos(HWND d, int id, int position) { Send(d, id, 1129, 0, Word(position)); }
int NsTrackBarGetPos(HWND d, int id) { return Int(Send(d, id, 1124)); }
void NsTrackBarSetRange(HWND d, int id, int minimum, int maximum) {
  Send(d, id, 1130, 0, Word(minimum));
  Send(d, id, 1131, 0, Word(maximum));
}
BOOL NsTrackBarGetRange(HWND d, int id, int* minimum, int* maximum) {
  if (!Item(d, id) || !minimum || !maximum) return 0;
  *minimum = Int(Send(d, id, 1125));
  *maximum = Int(Send(d, id, 1126));
  return 1;
}
void NsTrackBarSetLineSize(HWND d, int id, int size) { Send(d, id, 1132, 0, Word(size)); }
int NsTrackBarGetLineSize(HWND d, int id) { return Int(Send(d, id, 1127)); }
void NsTrackBarSetPageSize(HWND d, int id, int size) { Send(d, id, 1133, 0, Word(size)); }
int NsTrackBarGetPageSize(HWND d, int id) { return Int(Send(d, id, 1128)); }
void NsTrackBarSetFrequency(HWND d, int id, int frequency) {
  Send(d, id, 1134, 0, Word(frequency));
}
int NsTrackBarGetFrequency(HWND d, int id) { return Int(Send(d, id, 1135)); }
void NsTrackBarSetBSFrequency(HWND d, int id, int frequency) {
  Send(d, id, 1137, 0, Word(frequency));
}
int NsTrackBarGetBSFrequency(HWND d, int id) { return Int(Send(d, id, 1136)); }
void NsTrackBarSetBKColor(HWND d, int id, DWORD color) {
  Send(d, id, 1138, 0, static_cast<LPARAM>(color));
}
DWORD NsTrackBarGetBKColor(HWND d, int id) { return static_cast<DWORD>(Send(d, id, 1139)); }

// Spin box.
LRESULT NsSpinBoxWndProc(HWND c, UINT message, WPARAM wParam, LPARAM lParam) {
  return Proc("NSSPINBOX", c, message, wParam, lParam);
}
void NsSpinBoxEnable(HWND d, int id, BOOL f) { Send(d, id, 1030, 0, Flag(f)); }
BOOL NsSpinBoxIsEnabled(HWND d, int id) { return Send(d, id, 1031) != 0; }
void NsSpinBoxDefine(HWND d, int id, BOOL f) { Send(d, id, 1032, 0, Flag(f)); }
BOOL NsSpinBoxIsDefined(HWND d, int id) { return Send(d, id, 1033) != 0; }
void NsSpinBoxSetValue(HWND d, int id, int value) { Send(d, id, 1025, 0, Word(value)); }
int NsSpinBoxGetValue(HWND d, int id) { return Int(Send(d, id, 1028)); }
void NsSpinBoxSetRange(HWND d, int id, int minimum, int maximum) {
  Send(d, id, 1026, 0,
       MakeLParam(static_cast<std::uint16_t>(minimum), static_cast<std::uint16_t>(maximum)));
}
DWORD NsSpinBoxGetRange(HWND d, int id) { return static_cast<DWORD>(Send(d, id, 1029)); }
void NsSpinBoxSetTick(HWND d, int id, int tick) { Send(d, id, 1027, 0, Word(tick)); }
int NsSpinBoxGetTick(HWND d, int id) { return Int(Send(d, id, 1034)); }
BOOL NsSpinBoxIsError(HWND d, int id) { return Send(d, id, 1035) != 0; }

// Micro scroll.
LRESULT MicroScrollWndProc(HWND c, UINT message, WPARAM wParam, LPARAM lParam) {
  return Proc("NSMICROSCROLL", c, message, wParam, lParam);
}
DWORD MSCrColorGet(HWND s) { return static_cast<DWORD>(Scroll(s, uictl::MSM_COLORGET)); }
DWORD MSCrColorSet(HWND s, DWORD color) {
  return static_cast<DWORD>(Scroll(s, uictl::MSM_COLORSET, 0, static_cast<LPARAM>(color)));
}
DWORD MSDwRangeGet(HWND s) { return static_cast<DWORD>(Scroll(s, uictl::MSM_RANGEGET)); }
DWORD MSDwRangeSet(HWND s, int minimum, int maximum) {
  return static_cast<DWORD>(
      Scroll(s, uictl::MSM_RANGESET, 0,
             MakeLParam(static_cast<std::uint16_t>(minimum), static_cast<std::uint16_t>(maximum))));
}
BOOL MSFInvertRangeGet(HWND s) { return Scroll(s, uictl::MSM_INVERTGET) != 0; }
BOOL MSFInvertRangeSet(HWND s, BOOL f) { return Scroll(s, uictl::MSM_INVERTSET, f ? 1 : 0) != 0; }
BOOL MSFNoPegScrollGet(HWND s) { return Scroll(s, uictl::MSM_NOPEGGET) != 0; }
BOOL MSFNoPegScrollSet(HWND s, BOOL f) { return Scroll(s, uictl::MSM_NOPEGSET, f ? 1 : 0) != 0; }
HWND MSHwndAssociateGet(HWND s) {
  return reinterpret_cast<HWND>(Scroll(s, uictl::MSM_ASSOCIATEGET));
}
HWND MSHwndAssociateSet(HWND s, HWND associate) {
  return reinterpret_cast<HWND>(
      Scroll(s, uictl::MSM_ASSOCIATESET, 0, reinterpret_cast<LPARAM>(associate)));
}
int MSWCurrentPosGet(HWND s) { return Int(Scroll(s, uictl::MSM_POSGET)); }
int MSWCurrentPosSet(HWND s, int position) {
  return Int(
      Scroll(s, uictl::MSM_POSSET, static_cast<WPARAM>(static_cast<std::uint16_t>(position))));
}
int MSWTickGet(HWND s) { return Int(Scroll(s, uictl::MSM_TICKGET)); }
int MSWTickSet(HWND s, int tick) {
  return Int(Scroll(s, uictl::MSM_TICKSET, static_cast<WPARAM>(static_cast<std::uint16_t>(tick))));
}

// Indicators.
DWORD NsGaugeSetValue(HWND d, int id, DWORD value) { return Indicate(d, id, 1410, 0, value); }
DWORD NsGaugeGetValue(HWND d, int id, DWORD* value) {
  return Indicate(d, id, 1411, 0, Buffer(value));
}
DWORD NsGaugeSetDefine(HWND d, int id, DWORD value) { return Indicate(d, id, 1420, 0, value); }
DWORD NsGaugeGetDefine(HWND d, int id, DWORD* value) {
  return Indicate(d, id, 1421, 0, Buffer(value));
}
DWORD NsIndicatorButtonSetStyle(HWND d, int id, DWORD value) {
  return Indicate(d, id, 1500, 0, value);
}
DWORD NsIndicatorButtonGetStyle(HWND d, int id, DWORD* value) {
  return Indicate(d, id, 1501, 0, Buffer(value));
}
DWORD NsIndicatorButtonSetState(HWND d, int id, DWORD value) {
  return Indicate(d, id, 1510, 0, value);
}
DWORD NsIndicatorButtonGetState(HWND d, int id, DWORD* value) {
  return Indicate(d, id, 1511, 0, Buffer(value));
}
DWORD NsIndicatorButtonSetCheck(HWND d, int id, DWORD value) {
  return Indicate(d, id, 1520, 0, value);
}
DWORD NsIndicatorButtonGetCheck(HWND d, int id, DWORD* value) {
  return Indicate(d, id, 1521, 0, Buffer(value));
}
DWORD NsIndicatorButtonSetDefine(HWND d, int id, DWORD value) {
  return Indicate(d, id, 1530, 0, value);
}
DWORD NsIndicatorButtonGetDefine(HWND d, int id, DWORD* value) {
  return Indicate(d, id, 1531, 0, Buffer(value));
}
DWORD NsRemainSetStyle(HWND d, int id, DWORD value) { return Indicate(d, id, 1600, 0, value); }
DWORD NsRemainGetStyle(HWND d, int id, DWORD* value) {
  return Indicate(d, id, 1601, 0, Buffer(value));
}
DWORD NsRemainSetValue(HWND d, int id, DWORD value) { return Indicate(d, id, 1610, 0, value); }
DWORD NsRemainGetValue(HWND d, int id, DWORD* value) {
  return Indicate(d, id, 1611, 0, Buffer(value));
}
DWORD NsRemainSetDefine(HWND d, int id, DWORD value) { return Indicate(d, id, 1620, 0, value); }
DWORD NsRemainGetDefine(HWND d, int id, DWORD* value) {
  return Indicate(d, id, 1621, 0, Buffer(value));
}
DWORD NsOnlineLEDSetValue(HWND d, int id, DWORD value) { return Indicate(d, id, 1700, 0, value); }
DWORD NsOnlineLEDGetValue(HWND d, int id, DWORD* value) {
  return Indicate(d, id, 1701, 0, Buffer(value));
}
DWORD NsOnlineLEDSetAlign(HWND d, int id, DWORD value) { return Indicate(d, id, 1710, 0, value); }
DWORD NsOnlineLEDGetAlign(HWND d, int id, DWORD* value) {
  return Indicate(d, id, 1711, 0, Buffer(value));
}
DWORD NsOnlineLEDSetDefine(HWND d, int id, DWORD value) { return Indicate(d, id, 1720, 0, value); }
DWORD NsOnlineLEDGetDefine(HWND d, int id, DWORD* value) {
  return Indicate(d, id, 1721, 0, Buffer(value));
}
DWORD NsCheckMarkSetValue(HWND d, int id, DWORD value) { return Indicate(d, id, 1800, 0, value); }
DWORD NsCheckMarkGetValue(HWND d, int id, DWORD* value) {
  return Indicate(d, id, 1801, 0, Buffer(value));
}
DWORD NsCheckMarkSetAlign(HWND d, int id, DWORD value) { return Indicate(d, id, 1810, 0, value); }
DWORD NsCheckMarkGetAlign(HWND d, int id, DWORD* value) {
  return Indicate(d, id, 1811, 0, Buffer(value));
}
DWORD NsCheckMarkSetDefine(HWND d, int id, DWORD value) { return Indicate(d, id, 1820, 0, value); }
DWORD NsCheckMarkGetDefine(HWND d, int id, DWORD* value) {
  return Indicate(d, id, 1821, 0, Buffer(value));
}
DWORD NsOutputLevelSetStyle(HWND d, int id, DWORD value) { return Indicate(d, id, 2300, 0, value); }
DWORD NsOutputLevelGetStyle(HWND d, int id, DWORD* value) {
  return Indicate(d, id, 2301, 0, Buffer(value));
}
DWORD NsOutputLevelSetValue(HWND d, int id, DWORD value) { return Indicate(d, id, 2310, 0, value); }
DWORD NsOutputLevelGetValue(HWND d, int id, DWORD* value) {
  return Indicate(d, id, 2311, 0, Buffer(value));
}
DWORD NsOutputLevelSetDefine(HWND d, int id, DWORD value) {
  return Indicate(d, id, 2320, 0, value);
}
DWORD NsOutputLevelGetDefine(HWND d, int id, DWORD* value) {
  return Indicate(d, id, 2321, 0, Buffer(value));
}
DWORD NsStatusSetDefine(HWND d, int id, DWORD value) { return Indicate(d, id, 1310, 0, value); }
DWORD NsStatusGetDefine(HWND d, int id, DWORD* value) {
  return Indicate(d, id, 1311, 0, Buffer(value));
}
DWORD NsGaugeSetRange(HWND d, int id, DWORD minimum, DWORD maximum) {
  return Indicate(d, id, 1400, minimum, maximum);
}
DWORD NsGaugeGetRange(HWND d, int id, DWORD* minimum, DWORD* maximum) {
  return Indicate(d, id, 1401, reinterpret_cast<WPARAM>(minimum), Buffer(maximum));
}
DWORD NsStatusSetText(HWND d, int id, const char* text) {
  return Indicate(d, id, 1300, 0, Text(text));
}
DWORD NsStatusGetText(HWND d, int id, char* buffer, int size) {
  return Indicate(d, id, 1301, Size(size), Buffer(buffer));
}
DWORD NsRemainDraw(HWND d, int id) { return Indicate(d, id, 1630); }
DWORD NsOutputLevelDraw(HWND d, int id) { return Indicate(d, id, 2330); }
LRESULT NsGaugeWndProc(HWND c, UINT message, WPARAM wParam, LPARAM lParam) {
  return FamilyProc({"NSGAUGE"}, c, message, wParam, lParam);
}
LRESULT NsIndicatorButtonWndProc(HWND c, UINT message, WPARAM wParam, LPARAM lParam) {
  return FamilyProc({"NSINDICATORBUTTON"}, c, message, wParam, lParam);
}
LRESULT NsRemainWndProc(HWND c, UINT message, WPARAM wParam, LPARAM lParam) {
  return FamilyProc({"NSREMAIN", "NSPAPERREMAIN"}, c, message, wParam, lParam);
}
LRESULT NsOnlineLEDWndProc(HWND c, UINT message, WPARAM wParam, LPARAM lParam) {
  return FamilyProc({"NSONLINELED"}, c, message, wParam, lParam);
}
LRESULT NsCheckMarkWndProc(HWND c, UINT message, WPARAM wParam, LPARAM lParam) {
  return FamilyProc({"NSCHECKMARK"}, c, message, wParam, lParam);
}
LRESULT NsOutputLevelWndProc(HWND c, UINT message, WPARAM wParam, LPARAM lParam) {
  return FamilyProc({"NSOUTPUTLEVEL"}, c, message, wParam, lParam);
}
LRESULT NsStatusWndProc(HWND c, UINT message, WPARAM wParam, LPARAM lParam) {
  return FamilyProc({"NSSTATUS"}, c, message, wParam, lParam);
}

}  // extern "C"
