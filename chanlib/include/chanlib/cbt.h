// The CBT API: the fifteen functions that libchanlibNT.so and libchanlib95.so
// export by name. Socket handles are 0 to 29 (0xFFFF: none); results are
// negative on failure (see result_codes.h).
#pragma once

#include <cstdint>

extern "C" {

// Bind information: 4 bytes not used, the port name (20 bytes, zero-terminated),
// a flag byte. Connect information: 26 bytes; byte 2 is the service channel.
std::uint16_t CBT_CreateSocket();
int CBT_Bind(std::uint16_t socket, void* bindInfo);
int CBT_GetSocketID(std::uint16_t socket);
int CBT_Connect(std::uint16_t socket, const void* connectInfo);
int CBT_CloseSocket(std::uint16_t socket);
int CBT_Recv(std::uint16_t socket, void* buffer, int length);
int CBT_Send(std::uint16_t socket, const void* buffer, int length);
int CBT_GetDataSizeInSocket(std::uint16_t socket, int mode);
int CBT_GetChannelCapability(std::uint16_t socket, std::uint32_t controlCode, const void* input,
                             std::uint32_t inputLength, void* output, std::uint32_t outputLength,
                             std::uint32_t* bytesReturned);
void CBT_EnumChannel();
int CBT_SetTimeout(std::uint16_t socket, std::uint32_t recvTimeoutMs, std::uint32_t sendTimeoutMs);
int CBT_GetTimeout(std::uint16_t socket, std::uint32_t* recvTimeoutMs,
                   std::uint32_t* sendTimeoutMs);
int CBT_GetPacketSizeFromSocket(std::uint16_t socket, std::uint16_t* sendSize,
                                std::uint16_t* recvSize);
int CBT_CheckOpenedJobCH(std::uint16_t socket);
int CBT_JobCancel(std::uint16_t socket);

}  // extern "C"
