/* The agent client library: the channel API for application programs, carried to
 * the local agent service over loopback TCP (127.0.0.1, port 50229; the
 * environment variable TGX_AGENT_PORT moves the port).
 *
 * Every channel socket that the library hands out is one TCP connection of its
 * own. Calls block until the service answers or the time limit passes (5 s, 30 s
 * for AuCbtRecv). Several threads may call the library at once; a socket must
 * not be deleted by one thread while another still uses it.
 *
 * The header is plain C so that any program can use it; C++ callers also get
 * the export table with the functions' ordinals. */
#ifndef TGX_AGENTCLI_H
#define TGX_AGENTCLI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A channel socket: the handle of its TCP connection. */
typedef uint32_t AuCbtSocket;
#define AUCBT_INVALID_SOCKET ((AuCbtSocket)-1)

/* Size of the channel address record given to AuCbtCreateSocket: the service
 * channel (16-bit) at byte 2, the NUL-terminated port name from byte 4 to 23. */
#define AUCBT_DESCRIPTOR_SIZE 26

/* Result codes that the library produces itself; the service's own codes pass
 * through where a function returns the reply status. */
#define AUCBT_NOT_READY ((int32_t)0xC010000F)
#define AUCBT_UNKNOWN_SOCKET ((int32_t)0xC0100008)
#define AUCBT_BAD_ARGUMENT ((int32_t)0xC0100006)
#define AUCBT_INPUT_TOO_LONG ((int32_t)0xC0100005)
#define AUCBT_TRANSPORT_FAILED ((int32_t)0xC01000FE)
#define AUCBT_WRONG_REPLY ((int32_t)0xC01000FC)
#define AUCBT_BUFFER_TOO_SMALL ((int32_t)0xC0100001)
/* Status of the library before AuCbtInitialize and after the final shutdown. */
#define AUCBT_LIBRARY_NOT_INITIALISED ((int32_t)0xC001000F)

/* Starts the library (reference counted). 0 when ready, else 0xC001000F. */
int32_t AuCbtInitialize(void);
/* Undoes one AuCbtInitialize; the last one deletes every socket left open. */
int32_t AuCbtShutdown(void);
/* Opens a channel socket for the descriptor (AUCBT_DESCRIPTOR_SIZE bytes); stores
 * the service's socket identifier through socketId. AUCBT_INVALID_SOCKET on failure. */
AuCbtSocket AuCbtCreateSocket(const void* descriptor, uint32_t* socketId);
/* 0 connected, 0x40100001 connected to a raw port, else a failure code. */
int32_t AuCbtConnect(AuCbtSocket socket);
/* Closes the channel socket whatever the outcome; nonzero cancelJob asks the
 * service to cancel the print job first. */
int32_t AuCbtDeleteSocket(AuCbtSocket socket, int32_t cancelJob);
/* Bytes accepted (at most 65535 per call), 0 when the printer is busy, a negative
 * service status, or -1. */
int32_t AuCbtSend(AuCbtSocket socket, const void* data, int32_t length);
/* Bytes received (at most 4096 per call), a negative status, or -1. */
int32_t AuCbtRecv(AuCbtSocket socket, void* buffer, int32_t size);
/* Bytes waiting on the channel, or -1. */
int32_t AuCbtGetDataSizeInSocket(AuCbtSocket socket, int32_t mode);
/* Checks the socket locally; sends nothing. */
int32_t AuCbtWakeupRead(AuCbtSocket socket);
int32_t AuCbtSetPollingTime(AuCbtSocket socket, int32_t pollingTime);
/* 1 done, 0 failed. Time-outs in milliseconds. */
int32_t AuCbtSetTimeout(AuCbtSocket socket, int32_t receiveTimeout, int32_t sendTimeout);
int32_t AuCbtGetTimeout(AuCbtSocket socket, int32_t* receiveTimeout, int32_t* sendTimeout);
/* A device control on the channel's port; control code 0x16000C gives the
 * printer's device ID. inputLength at most 1024. */
int32_t AuCbtGetChannelCapability(AuCbtSocket socket, uint32_t controlCode, const void* input,
                                  uint32_t inputLength, void* output, uint32_t outputSize,
                                  uint32_t* outputLength);
int32_t AuCbtGetPacketSizeFromSocket(AuCbtSocket socket, uint16_t* sendSize, uint16_t* receiveSize);
/* 1 when a print-job channel is open on the socket's port, else 0. */
int32_t AuCbtCheckOpenedJobCH(AuCbtSocket socket);

#ifdef __cplusplus
}  // extern "C"

namespace tgx::agentcli {

// The exports with their fixed ordinals, for programs that bind the library by
// ordinal: look the ordinal up here, then bind the name with dlsym.
struct Export {
  int ordinal;
  const char* name;
};

inline constexpr Export kExports[] = {
    {100, "AuCbtInitialize"},
    {101, "AuCbtShutdown"},
    {200, "AuCbtCreateSocket"},
    {201, "AuCbtConnect"},
    {202, "AuCbtDeleteSocket"},
    {300, "AuCbtSend"},
    {400, "AuCbtRecv"},
    {401, "AuCbtGetDataSizeInSocket"},
    {402, "AuCbtWakeupRead"},
    {403, "AuCbtSetPollingTime"},
    {500, "AuCbtSetTimeout"},
    {501, "AuCbtGetTimeout"},
    {600, "AuCbtGetChannelCapability"},
    {700, "AuCbtGetPacketSizeFromSocket"},
    {800, "AuCbtCheckOpenedJobCH"},
};

// The name exported under an ordinal, or null.
inline constexpr const char* ExportName(int ordinal) {
  for (const Export& e : kExports) {
    if (e.ordinal == ordinal) return e.name;
  }
  return nullptr;
}

}  // namespace tgx::agentcli
#endif

#endif /* TGX_AGENTCLI_H */
