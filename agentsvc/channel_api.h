// The entry points of the channel library (the CBT_* functions) that the
// service binds by name, one table per process shared by every session.
// Each pointer type is taken from the library's own declaration, so a table
// entry, a stand-in library or a fake whose signature differs fails to compile.
#pragma once

#include "chanlib/cbt.h"

namespace tgx::agent {

struct ChannelApi {
  decltype(&CBT_CreateSocket) create_socket = nullptr;
  decltype(&CBT_Bind) bind = nullptr;
  decltype(&CBT_GetSocketID) get_socket_id = nullptr;
  decltype(&CBT_Connect) connect = nullptr;
  decltype(&CBT_CloseSocket) close_socket = nullptr;
  decltype(&CBT_Recv) recv = nullptr;
  decltype(&CBT_Send) send = nullptr;
  decltype(&CBT_GetDataSizeInSocket) get_data_size = nullptr;
  decltype(&CBT_GetChannelCapability) get_channel_capability = nullptr;
  decltype(&CBT_SetTimeout) set_timeout = nullptr;
  decltype(&CBT_GetTimeout) get_timeout = nullptr;
  decltype(&CBT_GetPacketSizeFromSocket) get_packet_size = nullptr;
  decltype(&CBT_CheckOpenedJobCH) check_opened_job_ch = nullptr;
  decltype(&CBT_JobCancel) job_cancel = nullptr;  // optional: never called when missing
};

}  // namespace tgx::agent
