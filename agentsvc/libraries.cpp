#include "libraries.h"

#include <mutex>

#include "tgx/version.h"

namespace tgx::agent {

namespace {

const char* ChannelLibraryName() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof(version);
  const bool nine_x = GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
  return nine_x ? "chanlib95.dll" : "chanlibNT.dll";
}

struct ChannelBinding {
  std::mutex lock;
  Module module;
  ChannelApi api;
  bool bound = false;
};

ChannelBinding& Binding() {
  static ChannelBinding binding;
  return binding;
}

template <class Fn>
bool Find(const Module& m, const char* name, Fn& out) {
  out = m.Proc<Fn>(name);
  return out != nullptr;
}

}  // namespace

const ChannelApi* BindChannelLibrary() {
  ChannelBinding& b = Binding();
  std::lock_guard<std::mutex> guard(b.lock);
  if (b.bound) return &b.api;
  Module module = Module::Load(ChannelLibraryName());
  if (!module) return nullptr;
  ChannelApi api;
  const bool complete = Find(module, "CBT_CreateSocket", api.create_socket) &&
                        Find(module, "CBT_Bind", api.bind) &&
                        Find(module, "CBT_GetSocketID", api.get_socket_id) &&
                        Find(module, "CBT_Connect", api.connect) &&
                        Find(module, "CBT_CloseSocket", api.close_socket) &&
                        Find(module, "CBT_Recv", api.recv) && Find(module, "CBT_Send", api.send) &&
                        Find(module, "CBT_GetDataSizeInSocket", api.get_data_size) &&
                        Find(module, "CBT_GetChannelCapability", api.get_channel_capability) &&
                        Find(module, "CBT_SetTimeout", api.set_timeout) &&
                        Find(module, "CBT_GetTimeout", api.get_timeout) &&
                        Find(module, "CBT_GetPacketSizeFromSocket", api.get_packet_size) &&
                        Find(module, "CBT_CheckOpenedJobCH", api.check_opened_job_ch);
  if (!complete) return nullptr;                  // the module is freed here
  Find(module, "CBT_JobCancel", api.job_cancel);  // optional
  b.module = std::move(module);
  b.api = api;
  b.bound = true;
  return &b.api;
}

bool PpdtLibrary::Bind() {
  if (module_) return true;
  Module module = Module::Load("ppdtlib.dll");
  if (!module) return false;
  const auto initialize = module.Proc<InitializeFn>("PPDT_Initialize");
  const auto terminate = module.Proc<TerminateFn>("PPDT_Terminate");
  if (!initialize || !terminate || initialize() == 0) return false;
  module_ = std::move(module);
  terminate_ = terminate;
  return true;
}

void PpdtLibrary::Unbind() {
  if (!module_) return;
  terminate_();
  terminate_ = nullptr;
  module_.reset();
}

}  // namespace tgx::agent
