#include "fake_service.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "tgx/wire/agent_wire.h"

namespace tgx::test {

namespace wire = tgx::agent;

namespace {

// Reads exactly `size` bytes; false at the end of the stream or on an error.
bool ReadExactly(int fd, std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t got = ::recv(fd, data, size, 0);
    if (got <= 0) return false;
    data += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace

std::uint32_t ReceivedMessage::code() const {
  return bytes.size() >= 8 ? wire::MessageCode(bytes.data()) : 0;
}

void ServiceConnection::Write(std::span<const std::uint8_t> bytes) {
  ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

void ServiceConnection::Answer(const ReceivedMessage& request, std::size_t size,
                               std::uint32_t result) {
  Bytes reply(size);
  std::copy_n(request.bytes.begin(), std::min(size, request.bytes.size()), reply.begin());
  wire::WriteHeader(reply.data(), static_cast<std::uint32_t>(size), request.code(), result);
  Write(reply);
}

void ServiceConnection::Close() { ::shutdown(fd_, SHUT_RDWR); }

FakeService::FakeService(Handler handler) : handler_(std::move(handler)) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listener_, 64) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("fake service cannot listen");
  }
  port_ = ntohs(address.sin_port);
  ::setenv(wire::kPortVariable, std::to_string(port_).c_str(), 1);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

FakeService::~FakeService() {
  {
    std::lock_guard hold(lock_);
    stopping_ = true;
  }
  ::shutdown(listener_, SHUT_RDWR);
  acceptor_.join();
  {
    std::lock_guard hold(lock_);
    for (int fd : fds_) ::shutdown(fd, SHUT_RDWR);
  }
  for (std::thread& t : threads_) t.join();
  for (int fd : fds_) ::close(fd);
  ::close(listener_);
}

void FakeService::AcceptLoop() {
  for (;;) {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    std::lock_guard hold(lock_);
    if (fd < 0 || stopping_) {
      if (fd >= 0) ::close(fd);
      return;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    fds_.push_back(fd);
    const int id = static_cast<int>(++accepted_);
    threads_.emplace_back([this, fd, id] { Serve(fd, id); });
    changed_.notify_all();
  }
}

void FakeService::Serve(int fd, int id) {
  ServiceConnection connection(fd, id);
  for (;;) {
    ReceivedMessage message{id, Bytes(4)};
    if (!ReadExactly(fd, message.bytes.data(), 4)) break;
    const std::uint32_t length = wire::MessageLength(message.bytes.data());
    if (length < 8 || length > wire::send::kMaxRequestSize) break;
    message.bytes.resize(length);
    if (!ReadExactly(fd, message.bytes.data() + 4, length - 4)) break;
    {
      std::lock_guard hold(lock_);
      messages_.push_back(message);
      changed_.notify_all();
    }
    handler_(connection, message);
  }
  std::lock_guard hold(lock_);
  ++closed_;
  changed_.notify_all();
}

std::vector<ReceivedMessage> FakeService::Messages() const {
  std::lock_guard hold(lock_);
  return messages_;
}

std::vector<ReceivedMessage> FakeService::MessagesWithCode(std::uint32_t code) const {
  std::vector<ReceivedMessage> found;
  for (ReceivedMessage& m : Messages()) {
    if (m.code() == code) found.push_back(std::move(m));
  }
  return found;
}

std::size_t FakeService::ConnectionsAccepted() const {
  std::lock_guard hold(lock_);
  return accepted_;
}

std::size_t FakeService::ConnectionsOpen() const {
  std::lock_guard hold(lock_);
  return accepted_ - closed_;
}

bool FakeService::WaitUntilAllClosed(std::size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock hold(lock_);
  return changed_.wait_for(hold, limit, [&] { return accepted_ == count && closed_ == count; });
}

bool FakeService::WaitForMessages(std::size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock hold(lock_);
  return changed_.wait_for(hold, limit, [&] { return messages_.size() >= count; });
}

// ---- ModelService -------------------------------------------------------------------

namespace {

constexpr std::uint32_t kDeviceIdControlCode = 0x16000C;

// Answers for every packet of a management stream that expects one: the packet
// with its answer flag set.
Bytes EchoAnswers(std::span<const std::uint8_t> stream) {
  constexpr std::size_t kHeader = 20;
  Bytes answers;
  while (stream.size() >= kHeader) {
    const std::size_t size = kHeader + ((stream[8] << 8) | stream[9]);
    if (size > stream.size()) break;
    if (stream[3] & 0x04) {
      const std::size_t at = answers.size();
      answers.insert(answers.end(), stream.begin(), stream.begin() + size);
      answers[at + 3] = 0x01;
    }
    stream = stream.subspan(size);
  }
  return answers;
}

}  // namespace

ModelService::ModelService(ModelSettings settings) : settings_(std::move(settings)) {}

FakeService::Handler ModelService::Handler() {
  return [this](ServiceConnection& c, const ReceivedMessage& m) { Handle(c, m); };
}

void ModelService::QueueIncoming(std::span<const std::uint8_t> bytes) {
  std::lock_guard hold(lock_);
  incoming_.insert(incoming_.end(), bytes.begin(), bytes.end());
}

Bytes ModelService::Printed() const {
  std::lock_guard hold(lock_);
  return printed_;
}

std::vector<std::uint32_t> ModelService::CancelFlags() const {
  std::lock_guard hold(lock_);
  return cancel_flags_;
}

void ModelService::Handle(ServiceConnection& connection, const ReceivedMessage& message) {
  std::lock_guard hold(lock_);
  const std::uint8_t* request = message.bytes.data();
  switch (message.code()) {
    case wire::code::kCreateSocket: {
      namespace cs = wire::create_socket;
      service_channel_ =
          wire::LoadLe16(request + cs::kDescriptor + wire::descriptor::kServiceChannel);
      Bytes reply(message.bytes);
      reply.resize(cs::kReplySize);
      wire::SetMessageResult(reply.data(), 0);
      wire::StoreLe32(reply.data() + cs::kSocketId, settings_.socket_id);
      connection.Write(reply);
      return;
    }
    case wire::code::kConnect:
      connection.Answer(message, wire::connect::kReplySize, settings_.connect_result);
      return;
    case wire::code::kDeleteSocket:
      cancel_flags_.push_back(wire::LoadLe32(request + wire::delete_socket::kCancelFlag));
      connection.Answer(message, wire::delete_socket::kReplySize, 0);
      return;
    case wire::code::kSend: {
      const std::uint32_t n = wire::LoadLe32(request + wire::send::kCount);
      std::span<const std::uint8_t> data(request + wire::send::kData, n);
      std::uint32_t status = 0;
      if (!settings_.send_statuses.empty()) {
        status = settings_.send_statuses.front();
        settings_.send_statuses.pop_front();
      }
      if (wire::result::Failed(status)) {
        data = {};
      } else if ((status & wire::result::kPartialSend) == wire::result::kPartialSend) {
        data = data.first(std::min<std::size_t>(status & 0xFFFF, n));
      }
      printed_.insert(printed_.end(), data.begin(), data.end());
      if (service_channel_ != wire::kPrintJobChannel && settings_.echo_packets) {
        const Bytes answers = EchoAnswers(data);
        incoming_.insert(incoming_.end(), answers.begin(), answers.end());
      }
      Bytes reply(wire::send::kReplySize);
      wire::WriteHeader(reply.data(), wire::send::kReplySize, wire::code::kSend, status);
      connection.Write(reply);
      return;
    }
    case wire::code::kRecv: {
      namespace rc = wire::recv;
      const std::size_t count =
          std::min({static_cast<std::size_t>(wire::LoadLe32(request + rc::kLargestCount)),
                    rc::kDataCapacity, incoming_.size()});
      Bytes reply(rc::kReplySize);
      wire::WriteHeader(reply.data(), rc::kReplySize, wire::code::kRecv, 0);
      std::copy_n(incoming_.begin(), count, reply.begin() + rc::kData);
      wire::StoreLe32(reply.data() + rc::kCount, static_cast<std::uint32_t>(count));
      incoming_.erase(incoming_.begin(), incoming_.begin() + static_cast<std::ptrdiff_t>(count));
      connection.Write(reply);
      return;
    }
    case wire::code::kGetDataSizeInSocket: {
      Bytes reply(message.bytes);
      wire::StoreLe32(reply.data() + wire::get_data_size::kSize,
                      static_cast<std::uint32_t>(incoming_.size()));
      connection.Write(reply);
      return;
    }
    case wire::code::kSetPollingTime:
      connection.Answer(message, wire::set_polling_time::kReplySize, 0);
      return;
    case wire::code::kSetTimeout:
      receive_timeout_ = wire::LoadLe32(request + wire::set_timeout::kReceiveTimeout);
      send_timeout_ = wire::LoadLe32(request + wire::set_timeout::kSendTimeout);
      connection.Answer(message, wire::set_timeout::kReplySize, 0);
      return;
    case wire::code::kGetTimeout: {
      Bytes reply(message.bytes);
      wire::StoreLe32(reply.data() + wire::get_timeout::kReceiveTimeout, receive_timeout_);
      wire::StoreLe32(reply.data() + wire::get_timeout::kSendTimeout, send_timeout_);
      connection.Write(reply);
      return;
    }
    case wire::code::kGetChannelCapability: {
      namespace cap = wire::get_channel_capability;
      Bytes reply(cap::kReplySize);
      std::uint32_t result = wire::result::kParameter;
      if (wire::LoadLe32(request + cap::kControlCode) == kDeviceIdControlCode) {
        const std::size_t count =
            std::min({settings_.device_id.size(), cap::kDataCapacity,
                      static_cast<std::size_t>(wire::LoadLe32(request + cap::kOutputCapacity))});
        std::copy_n(settings_.device_id.begin(), count, reply.begin() + cap::kOutput);
        wire::StoreLe32(reply.data() + cap::kOutputLength, static_cast<std::uint32_t>(count));
        result = 0;
      }
      wire::WriteHeader(reply.data(), cap::kReplySize, wire::code::kGetChannelCapability, result);
      connection.Write(reply);
      return;
    }
    case wire::code::kGetPacketSizeFromSocket: {
      Bytes reply(message.bytes);
      wire::StoreLe16(reply.data() + wire::get_packet_size::kSendingSize,
                      settings_.sending_packet_size);
      wire::StoreLe16(reply.data() + wire::get_packet_size::kReceivingSize,
                      settings_.receiving_packet_size);
      connection.Write(reply);
      return;
    }
    case wire::code::kCheckOpenedJobCH: {
      Bytes reply(message.bytes);
      wire::StoreLe32(reply.data() + wire::check_opened_job_ch::kValue,
                      service_channel_ == wire::kPrintJobChannel ? 1 : 0);
      connection.Write(reply);
      return;
    }
    default: return;  // unknown codes get no reply
  }
}

Later::Later(std::chrono::milliseconds delay, std::function<void()> work)
    : thread_([delay, work = std::move(work)] {
        std::this_thread::sleep_for(delay);
        work();
      }) {}

Later::~Later() { Wait(); }

void Later::Wait() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace tgx::test
