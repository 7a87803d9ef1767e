// A stand-in for the agent service on loopback TCP, for the tests of the client
// library and the client program: it reads each whole message from each client
// connection and hands it to a handler that answers as the test wants (well,
// late, wrongly, partly or not at all). ModelService answers like the real
// service does for one printer channel.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace tgx::test {

using Bytes = std::vector<std::uint8_t>;

// One message as the service received it.
struct ReceivedMessage {
  int connection;  // 1 for the first connection accepted, and so on
  Bytes bytes;
  std::uint32_t code() const;
};

// The service end of one client connection.
class ServiceConnection {
 public:
  explicit ServiceConnection(int fd, int id) : fd_(fd), id_(id) {}
  int id() const { return id_; }
  // Writes the bytes with one call.
  void Write(std::span<const std::uint8_t> bytes);
  // Answers `request` with a reply of `size` bytes: its code and `result` in the
  // header, the request's bytes after the header where the sizes overlap.
  void Answer(const ReceivedMessage& request, std::size_t size, std::uint32_t result);
  // Shuts the connection down in both directions.
  void Close();

 private:
  int fd_;
  int id_;
};

class FakeService {
 public:
  using Handler = std::function<void(ServiceConnection&, const ReceivedMessage&)>;

  // Listens on an ephemeral loopback port and points TGX_AGENT_PORT at it.
  explicit FakeService(Handler handler);
  ~FakeService();
  FakeService(const FakeService&) = delete;
  FakeService& operator=(const FakeService&) = delete;

  std::uint16_t port() const { return port_; }

  std::vector<ReceivedMessage> Messages() const;
  std::vector<ReceivedMessage> MessagesWithCode(std::uint32_t code) const;
  std::size_t ConnectionsAccepted() const;
  // Connections accepted whose client has not yet closed its end.
  std::size_t ConnectionsOpen() const;
  // Waits (at most `limit`) until `count` connections have been accepted and
  // every one has been closed by its client.
  bool WaitUntilAllClosed(std::size_t count, std::chrono::milliseconds limit) const;
  // Waits (at most `limit`) until `count` messages have arrived.
  bool WaitForMessages(std::size_t count, std::chrono::milliseconds limit) const;

 private:
  void AcceptLoop();
  void Serve(int fd, int id);

  Handler handler_;
  int listener_ = -1;
  std::uint16_t port_ = 0;
  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  bool stopping_ = false;
  std::vector<ReceivedMessage> messages_;
  std::vector<int> fds_;
  std::size_t accepted_ = 0;
  std::size_t closed_ = 0;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

// How a ModelService answers.
struct ModelSettings {
  std::uint32_t socket_id = 7;
  std::uint32_t connect_result = 0;
  std::uint16_t sending_packet_size = 4096;
  std::uint16_t receiving_packet_size = 512;
  std::string device_id = "MFG:Tessagraph;CMD:QRS,PJL;MDL:QRS-1100;";
  // Send statuses to answer before accepting data normally (for example
  // 0xC010000B for a busy printer, or 0x40100000 + k for a partial take).
  std::deque<std::uint32_t> send_statuses;
  // On a management channel, answer every packet that expects one by echoing
  // it with the answer flag set.
  bool echo_packets = true;
};

// A well-behaved service for one printer channel, shared by all connections:
// answers every command as the real service does, records what was printed,
// and gives queued printer data to Recv.
class ModelService {
 public:
  ModelService() = default;
  explicit ModelService(ModelSettings settings);

  void Handle(ServiceConnection& connection, const ReceivedMessage& message);
  FakeService::Handler Handler();

  // Data for the clients' next Recv calls.
  void QueueIncoming(std::span<const std::uint8_t> bytes);
  Bytes Printed() const;
  std::vector<std::uint32_t> CancelFlags() const;

 private:
  mutable std::mutex lock_;
  ModelSettings settings_;
  std::uint16_t service_channel_ = 0;
  Bytes printed_;
  Bytes incoming_;
  std::vector<std::uint32_t> cancel_flags_;
  std::uint32_t receive_timeout_ = 100;
  std::uint32_t send_timeout_ = 100;
};

// Runs a function on a thread after a delay (late replies); joined on destruction.
class Later {
 public:
  Later(std::chrono::milliseconds delay, std::function<void()> work);
  ~Later();
  // Waits until the work has run.
  void Wait();

 private:
  std::thread thread_;
};

}  // namespace tgx::test
