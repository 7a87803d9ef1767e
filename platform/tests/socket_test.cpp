// The Winsock shim: start-up state machine and the socket calls' additions.
#include "tgx/socket.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/tcp.h>

#include <future>
#include <string>

namespace tgx {
namespace {

TEST(Winsock, StartupChecksVersionAndCountsUses) {
  WSADATA data;
  EXPECT_EQ(tgx::socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
  EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);

  EXPECT_EQ(WSAStartup(MAKEWORD(0, 9), &data), WSAVERNOTSUPPORTED);
  EXPECT_EQ(data.wHighVersion, MAKEWORD(2, 2));
  EXPECT_EQ(WSACleanup(), SOCKET_ERROR) << "a refused start-up counts for nothing";

  ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
  EXPECT_EQ(data.wVersion, MAKEWORD(1, 1));
  ASSERT_EQ(WSAStartup(MAKEWORD(3, 0), &data), 0);
  EXPECT_EQ(data.wVersion, MAKEWORD(2, 2));
  EXPECT_EQ(WSACleanup(), 0);
  const SOCKET still = tgx::socket(AF_INET, SOCK_STREAM, 0);
  EXPECT_NE(still, INVALID_SOCKET) << "one start-up is still outstanding";
  closesocket(still);
  EXPECT_EQ(WSACleanup(), 0);
  EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
}

class Loopback : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
  }
  void TearDown() override { WSACleanup(); }
};

TEST_F(Loopback, SocketsAreCloseOnExecWithNoDelayAndReuse) {
  const SOCKET listener = tgx::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_NE(listener, INVALID_SOCKET);
  EXPECT_TRUE(fcntl(listener, F_GETFD) & FD_CLOEXEC);
  int on = 0;
  socklen_t length = sizeof on;
  getsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, &length);
  EXPECT_EQ(on, 1);
  sockaddr_in address = LoopbackAddress(0);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 5), 0);
  socklen_t size = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);

  const SOCKET client = tgx::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const SOCKET server = tgx::accept(listener, nullptr, nullptr);
  ASSERT_NE(server, INVALID_SOCKET);
  EXPECT_TRUE(fcntl(server, F_GETFD) & FD_CLOEXEC);
  on = 0;
  getsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, &length);
  EXPECT_EQ(on, 1);

  // Peeking leaves the data for the real read.
  ASSERT_EQ(tgx::send(client, "abcd", 4, 0), 4);
  char buffer[8];
  EXPECT_EQ(tgx::recv(server, buffer, 2, MSG_PEEK), 2);
  EXPECT_EQ(tgx::recv(server, buffer, 4, MSG_WAITALL), 4);
  EXPECT_EQ(std::string(buffer, 4), "abcd");

  // A large message on a non-blocking socket goes whole, as one call.
  fcntl(client, F_SETFL, fcntl(client, F_GETFL) | O_NONBLOCK);
  const std::string big(8 << 20, 'z');
  auto reader = std::async(std::launch::async, [server, &big] {
    std::string got;
    char chunk[65536];
    while (got.size() < big.size()) {
      const int n = tgx::recv(server, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      got.append(chunk, static_cast<std::size_t>(n));
    }
    return got == big;
  });
  EXPECT_EQ(tgx::send(client, big.data(), static_cast<int>(big.size()), 0),
            static_cast<int>(big.size()));
  EXPECT_TRUE(reader.get());

  closesocket(client);
  EXPECT_EQ(tgx::recv(server, buffer, sizeof buffer, 0), 0) << "peer closed";
  // Sending on: the peer resets; an error, never SIGPIPE.
  int result = 0;
  for (int i = 0; i < 200 && result != SOCKET_ERROR; ++i) {
    result = tgx::send(server, "x", 1, 0);
    if (result != SOCKET_ERROR) Sleep(5);
  }
  EXPECT_EQ(result, SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
  closesocket(server);
  closesocket(listener);
  EXPECT_EQ(closesocket(listener), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

TEST_F(Loopback, WaitsForReadableAndCountsWaitingBytes) {
  const SOCKET listener = tgx::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = LoopbackAddress(0);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 5), 0);
  socklen_t size = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
  const SOCKET client = tgx::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const SOCKET server = tgx::accept(listener, nullptr, nullptr);
  ASSERT_NE(server, INVALID_SOCKET);

  unsigned long waiting = 99;
  ASSERT_EQ(ioctlsocket(server, FIONREAD, &waiting), 0);
  EXPECT_EQ(waiting, 0u);
  EXPECT_EQ(WaitForReadable(server, 50), 0);  // nothing yet: times out

  ASSERT_EQ(tgx::send(client, "abcdef", 6, 0), 6);
  EXPECT_EQ(WaitForReadable(server, 20000), 1);
  for (int i = 0; i < 400 && waiting != 6; ++i) {  // loopback may deliver in parts
    ASSERT_EQ(ioctlsocket(server, FIONREAD, &waiting), 0);
    if (waiting != 6) Sleep(5);
  }
  EXPECT_EQ(waiting, 6u);

  // The peer's close makes the socket readable with nothing to read.
  char buffer[8];
  ASSERT_EQ(tgx::recv(server, buffer, 6, MSG_WAITALL), 6);
  closesocket(client);
  EXPECT_EQ(WaitForReadable(server, 20000), 1);
  ASSERT_EQ(ioctlsocket(server, FIONREAD, &waiting), 0);
  EXPECT_EQ(waiting, 0u);

  EXPECT_EQ(ioctlsocket(server, FIONBIO, &waiting), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
  closesocket(server);
  closesocket(listener);
  EXPECT_EQ(ioctlsocket(server, FIONREAD, &waiting), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
  EXPECT_EQ(WaitForReadable(server, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

}  // namespace
}  // namespace tgx
