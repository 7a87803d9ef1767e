// The exported functions of libuictl.so: each takes the dialog and a control's
// identifier and sends that control one message of its family. Callers may also
// find them by their ordinal numbers (uictl_by_ordinal).
#pragma once

#include <cstdint>

class QWidget;

using HWND = QWidget*;
using UINT = unsigned int;
using DWORD = std::uint32_t;
using BOOL = int;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

extern "C" {

// Library.
BOOL WEP(int code);
int NSCUSTOM();
void NsSetCustumLangString(const char* code);
// The export of an ordinal number (null when none) and the ordinal of a name (0: none).
void* uictl_by_ordinal(unsigned ordinal);
unsigned uictl_ordinal_of(const char* name);

// IP address box.
LRESULT NsIPAddressBoxWndProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam);
void NsIPAddressBoxEnable(HWND dialog, int id, BOOL enable);
BOOL NsIPAddressBoxIsEnabled(HWND dialog, int id);
void NsIPAddressBoxDefine(HWND dialog, int id, BOOL define);
BOOL NsIPAddressBoxIsDefined(HWND dialog, int id);
DWORD NsIPAddressBoxSetValue(HWND dialog, int id, DWORD value);
DWORD NsIPAddressBoxGetValue(HWND dialog, int id);
void NsIPAddressBoxClearValue(HWND dialog, int id);

// NetWare address box (10-byte values).
LRESULT NsNetWareAddressBoxWndProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam);
void NsNetWareAddressBoxEnable(HWND dialog, int id, BOOL enable);
BOOL NsNetWareAddressBoxIsEnabled(HWND dialog, int id);
void NsNetWareAddressBoxDefine(HWND dialog, int id, BOOL define);
BOOL NsNetWareAddressBoxIsDefined(HWND dialog, int id);
void NsNetWareAddressBoxSetValue(HWND dialog, int id, const unsigned char* value);
BOOL NsNetWareAddressBoxGetValue(HWND dialog, int id, unsigned char* value);
void NsNetWareAddressBoxClearValue(HWND dialog, int id);

// Hexadecimal box.
LRESULT NsHexaBoxWndProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam);
void NsHexaBoxEnable(HWND dialog, int id, BOOL enable);
BOOL NsHexaBoxIsEnabled(HWND dialog, int id);
void NsHexaBoxDefine(HWND dialog, int id, BOOL define);
BOOL NsHexaBoxIsDefined(HWND dialog, int id);
void NsHexaBoxSetText(HWND dialog, int id, const char* text);
int NsHexaBoxGetText(HWND dialog, int id, char* buffer, int size);
void NsHexaBoxLimitText(HWND dialog, int id, int limit);

// Decimal box (16-bit range, packed low word minimum, high word maximum).
LRESULT NsDeciBoxWndProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam);
void NsDeciBoxEnable(HWND dialog, int id, BOOL enable);
BOOL NsDeciBoxIsEnabled(HWND dialog, int id);
void NsDeciBoxDefine(HWND dialog, int id, BOOL define);
BOOL NsDeciBoxIsDefined(HWND dialog, int id);
void NsDeciBoxSetText(HWND dialog, int id, const char* text);
int NsDeciBoxGetText(HWND dialog, int id, char* buffer, int size);
void NsDeciBoxSetRange(HWND dialog, int id, int minimum, int maximum);
DWORD NsDeciBoxGetRange(HWND dialog, int id);

// Wide decimal box (32-bit range).
LRESULT NsDeciBoxExWndProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam);
void NsDeciBoxExEnable(HWND dialog, int id, BOOL enable);
BOOL NsDeciBoxExIsEnabled(HWND dialog, int id);
void NsDeciBoxExDefine(HWND dialog, int id, BOOL define);
BOOL NsDeciBoxExIsDefined(HWND dialog, int id);
void NsDeciBoxExSetText(HWND dialog, int id, const char* text);
int NsDeciBoxExGetText(HWND dialog, int id, char* buffer, int size);
void NsDeciBoxExSetRange(HWND dialog, int id, std::int32_t minimum, std::int32_t maximum);
BOOL NsDeciBoxExGetRange(HWND dialog, int id, std::int32_t* minimum, std::int32_t* maximum);

// Edit box.
LRESULT NsEditBoxWndProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam);
void NsEditBoxEnable(HWND dialog, int id, BOOL enable);
BOOL NsEditBoxIsEnabled(HWND dialog, int id);
void NsEditBoxDefine(HWND dialog, int id, BOOL define);
BOOL NsEditBoxIsDefined(HWND dialog, int id);
void NsEditBoxSetText(HWND dialog, int id, const char* text);
int NsEditBoxGetText(HWND dialog, int id, char* buffer, int size);
void NsEditBoxLimitText(HWND dialog, int id, int limit);

// Name boxes and the second edit box: their window procedures; the DNS boxes'
// text limits.
LRESULT NsEditBoxExWndProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT NsEB1NameBoxWndProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT NsAppleTalkNameBoxWndProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT NsURIBoxWndProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT NsSvrNameBoxWndProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT NsDNSHBoxWndProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam);
void NsDNSHBoxLimitText(HWND dialog, int id, int limit);
LRESULT NsDNSDBoxWndProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam);
void NsDNSDBoxLimitText(HWND dialog, int id, int limit);

// List box. AddString and InsertString return the item's index, or -1 for either
// error (LB_ERR, LB_ERRSPACE).
LRESULT NsListBoxWndProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
void NsListBoxEnable(HWND dialog, int id, BOOL enable);
BOOL NsListBoxIsEnabled(HWND dialog, int id);
void NsListBoxDefine(HWND dialog, int id, BOOL define);
BOOL NsListBoxIsDefined(HWND dialog, int id);
int NsListBoxAddString(HWND dialog, int id, const char* text);
int NsListBoxInsertString(HWND dialog, int id, int index, const char* text);
int NsListBoxDeleteString(HWND dialog, int id, int index);
int NsListBoxGetCount(HWND dialog, int id);
int NsListBoxGetCurSel(HWND dialog, int id);
int NsListBoxResetContent(HWND dialog, int id);
int NsListBoxSetCurSel(HWND dialog, int id, int index);
int NsListBoxGetTopIndex(HWND dialog, int id);
int NsListBoxSetTopIndex(HWND dialog, int id, int index);
int NsListBoxGetText(HWND dialog, int id, int index, char* buffer);
int NsListBoxGetTextLen(HWND dialog, int id, int index);
LPARAM NsListBoxGetItemData(HWND dialog, int id, int index);
int NsListBoxGetSel(HWND dialog, int id, int index);
int NsListBoxSetSel(HWND dialog, int id, BOOL select, int index);
int NsListBoxGetSelCount(HWND dialog, int id);
int NsListBoxGetSelItems(HWND dialog, int id, int room, int* items);
int NsListBoxGetHorizenExtent(HWND dialog, int id);
void NsListBoxSetHorizenExtent(HWND dialog, int id, int extent);
int NsListBoxSetItemHeight(HWND dialog, int id, int index, int height);

// Combo box (and NSCOMBOBOXEX by its window procedure). AddString and
// InsertString return the index, or -1 for either error (CB_ERR, CB_ERRSPACE).
LRESULT NsComboBoxWndProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT NsComboBoxExWndProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
void NsComboBoxEnable(HWND dialog, int id, BOOL enable);
BOOL NsComboBoxIsEnabled(HWND dialog, int id);
void NsComboBoxDefine(HWND dialog, int id, BOOL define);
BOOL NsComboBoxIsDefined(HWND dialog, int id);
int NsComboBoxAddString(HWND dialog, int id, const char* text);
int NsComboBoxInsertString(HWND dialog, int id, int index, const char* text);
int NsComboBoxDeleteString(HWND dialog, int id, int index);
int NsComboBoxGetCount(HWND dialog, int id);
int NsComboBoxGetCurSel(HWND dialog, int id);
int NsComboBoxSetCurSel(HWND dialog, int id, int index);
void NsComboBoxLimitText(HWND dialog, int id, int limit);
int NsComboBoxResetContent(HWND dialog, int id);
void NsComboBoxShowDropDown(HWND dialog, int id, BOOL show);
void NsComboBoxSetText(HWND dialog, int id, const char* text);
int NsComboBoxGetText(HWND dialog, int id, char* buffer, int size);
int NsComboBoxGetLBText(HWND dialog, int id, int index, char* buffer);
int NsComboBoxGetLBTextLen(HWND dialog, int id, int index);
int NsComboBoxSetHeight(HWND dialog, int id, int height);

// Check box.
LRESULT NsCheckBoxWndProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
void NsCheckBoxEnable(HWND dialog, int id, BOOL enable);
BOOL NsCheckBoxIsEnabled(HWND dialog, int id);
void NsCheckBoxDefine(HWND dialog, int id, BOOL define);
BOOL NsCheckBoxIsDefined(HWND dialog, int id);
void NsCheckBoxSetCheck(HWND dialog, int id, BOOL check);
BOOL NsCheckBoxGetCheck(HWND dialog, int id);

// Track bar (16-bit signed values).
LRESULT NsTrackBarWndProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
void NsTrackBarEnable(HWND dialog, int id, BOOL enable);
BOOL NsTrackBarIsEnabled(HWND dialog, int id);
void NsTrackBarDefine(HWND dialog, int id, BOOL define);
BOOL NsTrackBarIsDefined(HWND dialog, int id);
void NsTrackBarSetPos(HWND dialog, int id, int position);
int NsTrackBarGetPos(HWND dialog, int id);
void NsTrackBarSetRange(HWND dialog, int id, int minimum, int maximum);
BOOL NsTrackBarGetRange(HWND dialog, int id, int* minimum, int* maximum);
void NsTrackBarSetLineSize(HWND dialog, int id, int size);
int NsTrackBarGetLineSize(HWND dialog, int id);
void NsTrackBarSetPageSize(HWND dialog, int id, int size);
int NsTrackBarGetPageSize(HWND dialog, int id);
void NsTrackBarSetFrequency(HWND dialog, int id, int frequency);
int NsTrackBarGetFrequency(HWND dialog, int id);
void NsTrackBarSetBSFrequency(HWND dialog, int id, int frequency);
int NsTrackBarGetBSFrequency(HWND dialog, int id);
void NsTrackBarSetBKColor(HWND dialog, int id, DWORD color);
DWORD NsTrackBarGetBKColor(HWND dialog, int id);

// Spin box (16-bit values; in tenths mode 125 stands for 12.5).
LRESULT NsSpinBoxWndProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
void NsSpinBoxEnable(HWND dialog, int id, BOOL enable);
BOOL NsSpinBoxIsEnabled(HWND dialog, int id);
void NsSpinBoxDefine(HWND dialog, int id, BOOL define);
BOOL NsSpinBoxIsDefined(HWND dialog, int id);
void NsSpinBoxSetValue(HWND dialog, int id, int value);
int NsSpinBoxGetValue(HWND dialog, int id);
void NsSpinBoxSetRange(HWND dialog, int id, int minimum, int maximum);
DWORD NsSpinBoxGetRange(HWND dialog, int id);
void NsSpinBoxSetTick(HWND dialog, int id, int tick);
int NsSpinBoxGetTick(HWND dialog, int id);
BOOL NsSpinBoxIsError(HWND dialog, int id);

// Micro scroll: these take the micro scroll itself; each Set returns the old value.
LRESULT MicroScrollWndProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
DWORD MSCrColorGet(HWND scroll);
DWORD MSCrColorSet(HWND scroll, DWORD color);
DWORD MSDwRangeGet(HWND scroll);
DWORD MSDwRangeSet(HWND scroll, int minimum, int maximum);
BOOL MSFInvertRangeGet(HWND scroll);
BOOL MSFInvertRangeSet(HWND scroll, BOOL invert);
BOOL MSFNoPegScrollGet(HWND scroll);
BOOL MSFNoPegScrollSet(HWND scroll, BOOL noPeg);
HWND MSHwndAssociateGet(HWND scroll);
HWND MSHwndAssociateSet(HWND scroll, HWND associate);
int MSWCurrentPosGet(HWND scroll);
int MSWCurrentPosSet(HWND scroll, int position);
int MSWTickGet(HWND scroll);
int MSWTickSet(HWND scroll, int tick);

// Indicators: every function returns 0, or 0x80000000 when the identifier names no
// indicator of the family, an out pointer is null or the value is not accepted.
LRESULT NsGaugeWndProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
DWORD NsGaugeSetValue(HWND dialog, int id, DWORD value);
DWORD NsGaugeGetValue(HWND dialog, int id, DWORD* value);
DWORD NsGaugeSetDefine(HWND dialog, int id, DWORD value);
DWORD NsGaugeGetDefine(HWND dialog, int id, DWORD* value);
LRESULT NsIndicatorButtonWndProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
DWORD NsIndicatorButtonSetStyle(HWND dialog, int id, DWORD value);
DWORD NsIndicatorButtonGetStyle(HWND dialog, int id, DWORD* value);
DWORD NsIndicatorButtonSetState(HWND dialog, int id, DWORD value);
DWORD NsIndicatorButtonGetState(HWND dialog, int id, DWORD* value);
DWORD NsIndicatorButtonSetCheck(HWND dialog, int id, DWORD value);
DWORD NsIndicatorButtonGetCheck(HWND dialog, int id, DWORD* value);
DWORD NsIndicatorButtonSetDefine(HWND dialog, int id, DWORD value);
DWORD NsIndicatorButtonGetDefine(HWND dialog, int id, DWORD* value);
LRESULT NsRemainWndProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
DWORD NsRemainSetStyle(HWND dialog, int id, DWORD value);
DWORD NsRemainGetStyle(HWND dialog, int id, DWORD* value);
DWORD NsRemainSetValue(HWND dialog, int id, DWORD value);
DWORD NsRemainGetValue(HWND dialog, int id, DWORD* value);
DWORD NsRemainSetDefine(HWND dialog, int id, DWORD value);
DWORD NsRemainGetDefine(HWND dialog, int id, DWORD* value);
LRESULT NsOnlineLEDWndProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
DWORD NsOnlineLEDSetValue(HWND dialog, int id, DWORD value);
DWORD NsOnlineLEDGetValue(HWND dialog, int id, DWORD* value);
DWORD NsOnlineLEDSetAlign(HWND dialog, int id, DWORD value);
DWORD NsOnlineLEDGetAlign(HWND dialog, int id, DWORD* value);
DWORD NsOnlineLEDSetDefine(HWND dialog, int id, DWORD value);
DWORD NsOnlineLEDGetDefine(HWND dialog, int id, DWORD* value);
LRESULT NsCheckMarkWndProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
DWORD NsCheckMarkSetValue(HWND dialog, int id, DWORD value);
DWORD NsCheckMarkGetValue(HWND dialog, int id, DWORD* value);
DWORD NsCheckMarkSetAlign(HWND dialog, int id, DWORD value);
DWORD NsCheckMarkGetAlign(HWND dialog, int id, DWORD* value);
DWORD NsCheckMarkSetDefine(HWND dialog, int id, DWORD value);
DWORD NsCheckMarkGetDefine(HWND dialog, int id, DWORD* value);
LRESULT NsOutputLevelWndProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
DWORD NsOutputLevelSetStyle(HWND dialog, int id, DWORD value);
DWORD NsOutputLevelGetStyle(HWND dialog, int id, DWORD* value);
DWORD NsOutputLevelSetValue(HWND dialog, int id, DWORD value);
DWORD NsOutputLevelGetValue(HWND dialog, int id, DWORD* value);
DWORD NsOutputLevelSetDefine(HWND dialog, int id, DWORD value);
DWORD NsOutputLevelGetDefine(HWND dialog, int id, DWORD* value);
LRESULT NsStatusWndProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
DWORD NsStatusSetDefine(HWND dialog, int id, DWORD value);
DWORD NsStatusGetDefine(HWND dialog, int id, DWORD* value);
DWORD NsGaugeSetRange(HWND dialog, int id, DWORD minimum, DWORD maximum);
DWORD NsGaugeGetRange(HWND dialog, int id, DWORD* minimum, DWORD* maximum);
DWORD NsStatusSetText(HWND dialog, int id, const char* text);
DWORD NsStatusGetText(HWND dialog, int id, char* buffer, int size);
DWORD NsRemainDraw(HWND dialog, int id);
DWORD NsOutputLevelDraw(HWND dialog, int id);

}  // extern "C"
