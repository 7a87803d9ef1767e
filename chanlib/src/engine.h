// The packet and channel engine: ports, channels, transactions, sending and
// receiving over the port's worker. It runs in the calling process on the
// shared records; the locks it takes follow the order of SharedSet.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "shared_set.h"
#include "tgx/wire/packet_1284.h"

namespace tgx::chanlib {

// The packets of the printer wire, by their names.
using namespace tgx::wire;

inline constexpr DWORD kTransactionQuietMs = 500;
inline constexpr int kTransactionEmptyReads = 4;
inline constexpr std::uint16_t kTransactionPacketSize = 64;
inline constexpr std::uint16_t kTransactionCreditLimit = 2;
inline constexpr std::uint16_t kDataPacketSize = 4096;
inline constexpr std::size_t kDeviceIdSize = 256;
inline constexpr std::size_t kMaxSendPerCall = 0xFFFF;
inline constexpr int kMaxCreditRequests = 10;
inline constexpr std::uint8_t kInitRevision = 1;

// Reads one packet from the port and dispatches it (see DispatchPacket):
// kSessionEnded when the port is not open (state 1 or 2) or the printer ended
// the session, kProtocolFailure for a broken packet (the port then has a
// receive failure), kWorkerTimeout, kNothingRead when nothing came.
int PumpPort(SharedSet& set, int port, int waitingChannel);

// Sends a command on the port's transaction channel and waits for the reply
// with its code; reply gets the reply packet. Errors: kProtocolFailure,
// kSendFailed, kSessionEnded, kReplyFailed, kNoReply.
int RunTransaction(SharedSet& set, int port, const TransactionPacket& command,
                   std::vector<std::uint8_t>& reply);

// Opens the port (its worker runs) and sets its mode: the printer's device ID
// decides between the packet protocol (transaction channel opened, Init run)
// and raw use. kOk, or the open code shifted by kOpenPortShift, or the error of
// the protocol start.
int OpenPort(SharedSet& set, int port, std::string_view name);

// Closes a port whose last connection has gone and clears its record.
void ClosePort(SharedSet& set, int port);

// Opens the channel of a connection: a channel number, or the error.
int OpenDataChannel(SharedSet& set, int port, std::uint8_t primarySocket,
                    std::uint8_t secondarySocket);
// Closes it: kOk or kCloseRefused.
int CloseDataChannel(SharedSet& set, int port, int channel);
// Frees a channel's record and rings without telling the printer.
void FreeChannel(SharedSet& set, int port, int channel);

// Bytes received into out within the channel's receive time-out, or an error.
int ChannelRecv(SharedSet& set, int port, int channel, std::span<std::uint8_t> out);
// Bytes sent on a protocol channel against the printer's credit (at most
// 0xFFFF per call), or the error when nothing was sent.
int ChannelSend(SharedSet& set, int port, int channel, std::span<const std::uint8_t> data);
// Bytes written straight to a raw port, or the error when nothing was sent.
int RawSend(SharedSet& set, int port, int channel, std::span<const std::uint8_t> data);
// Payload bytes waiting in the channel's receiving ring.
int ChannelPending(SharedSet& set, int channel);

// Takes every connection of a failed port down and shuts the port; the record
// stays until its last connection closes. askWorker: the port's worker still
// answers, so the port is closed through it; a worker that timed out is left
// alone. The caller holds the ports lock.
void HandlePortFailure(SharedSet& set, int port, bool askWorker);

// The device-ID I/O control code of the family's build.
DWORD DeviceIdControlCode(Family family);

}  // namespace tgx::chanlib
