// The ordinal numbers of the exports, as callers that import by ordinal expect.
#include <cstring>

#include "uictl/uictl.h"

namespace {

struct Ordinal {
  unsigned number;
  const char* name;
  void* function;
};

template <typename F>
void* Address(F* function) {
  return reinterpret_cast<void*>(function);
}

#define UICTL_ORDINAL(number, name) \
  { number, #name, Address(&name) }

const Ordinal kOrdinals[] = {
    UICTL_ORDINAL(1, WEP),
    UICTL_ORDINAL(11, NSCUSTOM),
    UICTL_ORDINAL(6000, NsSetCustumLangString),
    UICTL_ORDINAL(212, NsIPAddressBoxWndProc),
    UICTL_ORDINAL(221, NsIPAddressBoxEnable),
    UICTL_ORDINAL(222, NsIPAddressBoxIsEnabled),
    UICTL_ORDINAL(223, NsIPAddressBoxDefine),
    UICTL_ORDINAL(224, NsIPAddressBoxIsDefined),
    UICTL_ORDINAL(225, NsIPAddressBoxSetValue),
    UICTL_ORDINAL(226, NsIPAddressBoxGetValue),
    UICTL_ORDINAL(227, NsIPAddressBoxClearValue),
    UICTL_ORDINAL(312, NsHexaBoxWndProc),
    UICTL_ORDINAL(321, NsHexaBoxEnable),
    UICTL_ORDINAL(322, NsHexaBoxIsEnabled),
    UICTL_ORDINAL(323, NsHexaBoxDefine),
    UICTL_ORDINAL(324, NsHexaBoxIsDefined),
    UICTL_ORDINAL(325, NsHexaBoxSetText),
    UICTL_ORDINAL(326, NsHexaBoxGetText),
    UICTL_ORDINAL(327, NsHexaBoxLimitText),
    UICTL_ORDINAL(412, NsDeciBoxWndProc),
    UICTL_ORDINAL(421, NsDeciBoxEnable),
    UICTL_ORDINAL(422, NsDeciBoxIsEnabled),
    UICTL_ORDINAL(423, NsDeciBoxDefine),
    UICTL_ORDINAL(424, NsDeciBoxIsDefined),
    UICTL_ORDINAL(425, NsDeciBoxSetText),
    UICTL_ORDINAL(426, NsDeciBoxGetText),
    UICTL_ORDINAL(427, NsDeciBoxSetRange),
    UICTL_ORDINAL(428, NsDeciBoxGetRange),
    UICTL_ORDINAL(24, NsDeciBoxExDefine),
    UICTL_ORDINAL(25, NsDeciBoxExEnable),
    UICTL_ORDINAL(26, NsDeciBoxExGetRange),
    UICTL_ORDINAL(27, NsDeciBoxExGetText),
    UICTL_ORDINAL(28, NsDeciBoxExIsDefined),
    UICTL_ORDINAL(29, NsDeciBoxExIsEnabled),
    UICTL_ORDINAL(30, NsDeciBoxExSetRange),
    UICTL_ORDINAL(31, NsDeciBoxExSetText),
    UICTL_ORDINAL(33, NsDeciBoxExWndProc),
    UICTL_ORDINAL(512, NsEditBoxWndProc),
    UICTL_ORDINAL(521, NsEditBoxEnable),
    UICTL_ORDINAL(522, NsEditBoxIsEnabled),
    UICTL_ORDINAL(523, NsEditBoxDefine),
    UICTL_ORDINAL(524, NsEditBoxIsDefined),
    UICTL_ORDINAL(525, NsEditBoxGetText),
    UICTL_ORDINAL(526, NsEditBoxSetText),
    UICTL_ORDINAL(527, NsEditBoxLimitText),
    UICTL_ORDINAL(1012, NsEB1NameBoxWndProc),
    UICTL_ORDINAL(1112, NsAppleTalkNameBoxWndProc),
    UICTL_ORDINAL(1212, NsEditBoxExWndProc),
    UICTL_ORDINAL(2400, NsNetWareAddressBoxWndProc),
    UICTL_ORDINAL(2410, NsNetWareAddressBoxEnable),
    UICTL_ORDINAL(2420, NsNetWareAddressBoxIsEnabled),
    UICTL_ORDINAL(2430, NsNetWareAddressBoxDefine),
    UICTL_ORDINAL(2440, NsNetWareAddressBoxIsDefined),
    UICTL_ORDINAL(2450, NsNetWareAddressBoxSetValue),
    UICTL_ORDINAL(2460, NsNetWareAddressBoxGetValue),
    UICTL_ORDINAL(2470, NsNetWareAddressBoxClearValue),
    UICTL_ORDINAL(2512, NsURIBoxWndProc),
    UICTL_ORDINAL(2600, NsDNSHBoxWndProc),
    UICTL_ORDINAL(2602, NsDNSHBoxLimitText),
    UICTL_ORDINAL(2700, NsDNSDBoxWndProc),
    UICTL_ORDINAL(2702, NsDNSDBoxLimitText),
    UICTL_ORDINAL(51, NsSvrNameBoxWndProc),
    UICTL_ORDINAL(34, NsGaugeWndProc),
    UICTL_ORDINAL(1410, NsGaugeSetValue),
    UICTL_ORDINAL(1411, NsGaugeGetValue),
    UICTL_ORDINAL(1420, NsGaugeSetDefine),
    UICTL_ORDINAL(1421, NsGaugeGetDefine),
    UICTL_ORDINAL(35, NsIndicatorButtonWndProc),
    UICTL_ORDINAL(1500, NsIndicatorButtonSetStyle),
    UICTL_ORDINAL(1501, NsIndicatorButtonGetStyle),
    UICTL_ORDINAL(1510, NsIndicatorButtonSetState),
    UICTL_ORDINAL(1511, NsIndicatorButtonGetState),
    UICTL_ORDINAL(1520, NsIndicatorButtonSetCheck),
    UICTL_ORDINAL(1521, NsIndicatorButtonGetCheck),
    UICTL_ORDINAL(1530, NsIndicatorButtonSetDefine),
    UICTL_ORDINAL(1531, NsIndicatorButtonGetDefine),
    UICTL_ORDINAL(47, NsRemainWndProc),
    UICTL_ORDINAL(1600, NsRemainSetStyle),
    UICTL_ORDINAL(1601, NsRemainGetStyle),
    UICTL_ORDINAL(1610, NsRemainSetValue),
    UICTL_ORDINAL(1611, NsRemainGetValue),
    UICTL_ORDINAL(1620, NsRemainSetDefine),
    UICTL_ORDINAL(1621, NsRemainGetDefine),
    UICTL_ORDINAL(45, NsOnlineLEDWndProc),
    UICTL_ORDINAL(1700, NsOnlineLEDSetValue),
    UICTL_ORDINAL(1701, NsOnlineLEDGetValue),
    UICTL_ORDINAL(1710, NsOnlineLEDSetAlign),
    UICTL_ORDINAL(1711, NsOnlineLEDGetAlign),
    UICTL_ORDINAL(1720, NsOnlineLEDSetDefine),
    UICTL_ORDINAL(1721, NsOnlineLEDGetDefine),
    UICTL_ORDINAL(17, NsCheckMarkWndProc),
    UICTL_ORDINAL(1800, NsCheckMarkSetValue),
    UICTL_ORDINAL(1801, NsCheckMarkGetValue),
    UICTL_ORDINAL(1810, NsCheckMarkSetAlign),
    UICTL_ORDINAL(1811, NsCheckMarkGetAlign),
    UICTL_ORDINAL(1820, NsCheckMarkSetDefine),
    UICTL_ORDINAL(1821, NsCheckMarkGetDefine),
    UICTL_ORDINAL(46, NsOutputLevelWndProc),
    UICTL_ORDINAL(2300, NsOutputLevelSetStyle),
    UICTL_ORDINAL(2301, NsOutputLevelGetStyle),
    UICTL_ORDINAL(2310, NsOutputLevelSetValue),
    UICTL_ORDINAL(2311, NsOutputLevelGetValue),
    UICTL_ORDINAL(2320, NsOutputLevelSetDefine),
    UICTL_ORDINAL(2321, NsOutputLevelGetDefine),
    UICTL_ORDINAL(49, NsStatusWndProc),
    UICTL_ORDINAL(1310, NsStatusSetDefine),
    UICTL_ORDINAL(1311, NsStatusGetDefine),
    UICTL_ORDINAL(1400, NsGaugeSetRange),
    UICTL_ORDINAL(1401, NsGaugeGetRange),
    UICTL_ORDINAL(1300, NsStatusSetText),
    UICTL_ORDINAL(1301, NsStatusGetText),
    UICTL_ORDINAL(1630, NsRemainDraw),
    UICTL_ORDINAL(2330, NsOutputLevelDraw),
};

#undef UICTL_ORDINAL

}  // namespace

extern "C" void* uictl_by_ordinal(unsigned ordinal) {
  for (const Ordinal& entry : kOrdinals)
    if (entry.number == ordinal) return entry.function;
  return nullptr;
}

extern "C" unsigned uictl_ordinal_of(const char* name) {
  if (!name) return 0;
  for (const Ordinal& entry : kOrdinals)
    if (std::strcmp(entry.name, name) == 0) return entry.number;
  return 0;
}
