// Names of the channel library's named kernel objects. Each is kept as two
// literals side by side, the local form and the "Global\" form; the process's
// name form picks one, and a number is formatted into it after that.
#pragma once

#include <string>

namespace tgx::chanlib {

struct ObjectName {
  const char* local;
  const char* global;
};

#define TGX_CHANLIB_OBJECT(text) \
  ObjectName { text, "Global\\" text }

namespace names {
inline constexpr ObjectName kPortTable = TGX_CHANLIB_OBJECT("QRS_NBcbt_port_filemap");
inline constexpr ObjectName kPortTableInit = TGX_CHANLIB_OBJECT("QRS_NBcbt_port_filemap_Init");
inline constexpr ObjectName kChannelCount = TGX_CHANLIB_OBJECT("QRS_NBcbt_dll_filemap");
inline constexpr ObjectName kOverflowPool = TGX_CHANLIB_OBJECT("QRS_NBcbt_port_filemap_%d");
inline constexpr ObjectName kPortCommandsMutex = TGX_CHANLIB_OBJECT("QRS_NBcbt_MMF_Port");
inline constexpr ObjectName kChannelRecordsMutex = TGX_CHANLIB_OBJECT("QRS_NBcbt_MMF_channel");
inline constexpr ObjectName kBuffersMutex = TGX_CHANLIB_OBJECT("QRS_NBcbt_MMF_Buff");
inline constexpr ObjectName kSocketsMutex = TGX_CHANLIB_OBJECT("QRS_NBcbt_MMF_SKT");
inline constexpr ObjectName kChannelCountMutex = TGX_CHANLIB_OBJECT("QRS_NBcbt_MMF_DLL");
inline constexpr ObjectName kPortRecordsMutex = TGX_CHANLIB_OBJECT("QRS_NBcbt_MMF_LPT");
inline constexpr ObjectName kPortsLock = TGX_CHANLIB_OBJECT("QRS_CBT_muLPT");
inline constexpr ObjectName kSocketsLock = TGX_CHANLIB_OBJECT("QRS_CBT_muSKT");
inline constexpr ObjectName kPortRequestLock = TGX_CHANLIB_OBJECT("QRS_CBT_muPIO_%d");
inline constexpr ObjectName kPortTransactionLock = TGX_CHANLIB_OBJECT("QRS_CBT_muCMD_%d");
inline constexpr ObjectName kChannelLock = TGX_CHANLIB_OBJECT("QRS_muCHANEEL_%d");
inline constexpr ObjectName kPortWakeUp = TGX_CHANLIB_OBJECT("QRS_NBport_PortWakeUp_%d");
inline constexpr ObjectName kPortDone = TGX_CHANLIB_OBJECT("QRS_NBport_PortDone_%d");
inline constexpr ObjectName kWorkerKeepAlive = TGX_CHANLIB_OBJECT("QRS_CBT_muPROCESS_%d");
inline constexpr ObjectName kWorkerPresence = TGX_CHANLIB_OBJECT("QRS_NBPORT_PROCESS_%02X");
}  // namespace names

#undef TGX_CHANLIB_OBJECT

// The name in the process's form (by the named-object rules), with number
// formatted into it when the name has a pattern.
std::string NameOf(const ObjectName& name);
std::string NameOf(const ObjectName& name, int number);

}  // namespace tgx::chanlib
