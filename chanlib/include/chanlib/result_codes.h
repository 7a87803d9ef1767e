// Result codes of the channel library, as its callers see them and as its
// layers pass them to each other.
#pragma once

namespace tgx::chanlib {

inline constexpr int kOk = 0;
inline constexpr int kBadSocket = -1;
inline constexpr int kNoReply = -6;
inline constexpr int kNoPoolSpace = -7;
inline constexpr int kNoConnection = -8;
inline constexpr int kNoSendCredit = -10;
inline constexpr int kShortWrite = -11;
inline constexpr int kNothingRead = -13;
inline constexpr int kSendFailed = -14;
inline constexpr int kReplyFailed = -15;
inline constexpr int kShortPacket = -16;
inline constexpr int kBrokenHeader = -17;
inline constexpr int kNoRing = -21;
inline constexpr int kPacketTooLong = -22;
inline constexpr int kNoSocketId = -24;
inline constexpr int kConnectionGone = -25;
inline constexpr int kNoTransactionChannel = -28;
inline constexpr int kNotInitialised = -29;
inline constexpr int kBadServiceChannel = -31;
inline constexpr int kNoRecordFree = -32;
inline constexpr int kNoDeviceId = -33;
inline constexpr int kPortNotOpen = -40;
inline constexpr int kCloseFailed = -41;
inline constexpr int kChannelRefused7 = -50;
inline constexpr int kChannelRefused3 = -51;
inline constexpr int kCloseRefused = -52;
inline constexpr int kWriteFailed = -60;
inline constexpr int kReadFailed = -61;
inline constexpr int kPortLost = -90;
inline constexpr int kProtocolFailure = -98;
inline constexpr int kWorkerTimeout = -99;
inline constexpr int kOpenChannelNoMemory = -400;
inline constexpr int kOpenChannelNoCredit = -401;
inline constexpr int kOpenChannelOther = -402;
inline constexpr int kOpenPortShift = -4400;  // added to -7, -40 or -99 of a failed open
inline constexpr int kSessionEnded = -999;
inline constexpr int kIoControlFailed = 223;

// Buffer allocation.
inline constexpr int kAllocNoRun = -1;       // no run of free blocks long enough
inline constexpr int kAllocPoolCreate = -2;  // an overflow pool could not be created
inline constexpr int kAllocBadSize = -3;
inline constexpr int kAllocNoEntry = -4;  // allocation table full

}  // namespace tgx::chanlib
