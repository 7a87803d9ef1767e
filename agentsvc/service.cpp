#include "service.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "instance.h"
#include "libraries.h"
#include "session_server.h"
#include "tgx/kobj.h"
#include "tgx/named_objects.h"
#include "tgx/socket.h"
#include "tgx/wire/agent_wire.h"

namespace tgx::agent::service {

namespace {

constexpr char kSystemdRunDirectory[] = "/run/systemd/system";

WORD ListenerPort() {
  if (const char* value = std::getenv(kPortVariable); value && *value) {
    char* end = nullptr;
    const unsigned long port = std::strtoul(value, &end, 10);
    if (*end == '\0' && port > 0 && port <= 0xFFFF) return static_cast<WORD>(port);
  }
  return kServicePort;
}

// sd_notify without libsystemd: one datagram to $NOTIFY_SOCKET. Without the
// variable there is nobody to tell, which counts as told.
bool Notify(const std::string& text) {
  const char* path = std::getenv("NOTIFY_SOCKET");
  if (!path || !*path) return true;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t length = std::strlen(path);
  if (length >= sizeof(address.sun_path)) return false;
  std::memcpy(address.sun_path, path, length);
  if (address.sun_path[0] == '@') address.sun_path[0] = '\0';  // abstract namespace
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
  const bool sent = ::sendto(fd, text.data(), text.size(), MSG_NOSIGNAL,
                             reinterpret_cast<const sockaddr*>(&address),
                             size) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return sent;
}

}  // namespace

RunMode DetectRunMode() {
  if (const char* mode = std::getenv("TGX_SERVICE_MODE"); mode && *mode) {
    return std::strcmp(mode, "systemd") == 0 ? RunMode::kSystemd : RunMode::kBackground;
  }
  return ::access(kSystemdRunDirectory, F_OK) == 0 ? RunMode::kSystemd : RunMode::kBackground;
}

bool StatusReporter::Report(DWORD state, DWORD exit_code, DWORD wait_hint_ms) {
  if (debug_) return true;
  const bool final_state = state == SERVICE_RUNNING || state == SERVICE_STOPPED;
  const DWORD check_point = final_state ? 0 : check_point_++;
  const std::string extend = "\nEXTEND_TIMEOUT_USEC=" + std::to_string(wait_hint_ms * 1000ull);
  const std::string point = " (check point " + std::to_string(check_point) + ")";
  switch (state) {
    case SERVICE_START_PENDING: return Notify("STATUS=Starting" + point + extend);
    case SERVICE_RUNNING: return Notify("READY=1\nSTATUS=Running");
    case SERVICE_STOP_PENDING: return Notify("STOPPING=1\nSTATUS=Stopping" + point + extend);
    default: return Notify("STATUS=Stopped, exit code " + std::to_string(exit_code));
  }
}

void Run(StatusReporter* reporter) {
  // 1-3: one instance at a time.
  char mutex_name[260];
  if (!MakeObjectName(mutex_name, kMainWindowClass)) return;
  if (Handle running = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, mutex_name)) return;
  EveryoneSecurity security;
  const Handle mutex = CreateMutexA(
      MakeEveryoneSecurityAttributes(security, kEveryoneProcessAccess), FALSE, mutex_name);
  if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) return;

  // 4: networking and the main loop.
  WSADATA wsa{};
  if (WSAStartup(MAKEWORD(1, 1), &wsa) != 0) return;
  const BYTE major = LOBYTE(wsa.wVersion), minor = HIBYTE(wsa.wVersion);
  if (major < 1 || (major == 1 && minor < 1)) {
    WSACleanup();
    return;
  }
  SessionServer* server_of_loop = nullptr;
  MessageLoop main_loop =
      MessageLoop::Create([&](MessageLoop& loop, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_CLOSE) {
          if (reporter) reporter->Report(SERVICE_STOP_PENDING, 0, 5000);
          server_of_loop->CloseListener();
          loop.Quit(0);
          return LRESULT{0};
        }
        server_of_loop->HandleMainMessage(message, wParam, lParam);
        return LRESULT{0};
      });
  if (main_loop) {
    SessionServer server(main_loop);
    server_of_loop = &server;
    // 5: without the 1394 library the service does not listen.
    PpdtLibrary ppdt;
    if (ppdt.Bind()) {
      // 6-7: the main loop, its listener and the record through which a second
      // copy asks it to close.
      const InstanceRecord record = InstanceRecord::Publish();
      server.OpenListener(ListenerPort());
      main_loop.PostOnTerminationSignals(WM_CLOSE);
      main_loop.Run();
      // 8
      ppdt.Unbind();
    }
    // 9
    server.Shutdown();
  }
  WSACleanup();
  // 10: the mutex closes with its handle.
}

}  // namespace tgx::agent::service
