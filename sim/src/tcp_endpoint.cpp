#include "tcp_endpoint.h"

namespace printersim {

std::unique_ptr<TcpEndpoint> TcpEndpoint::Create(EventLoop& loop, Printer& printer,
                                                 std::uint16_t port, std::string* error) {
  std::unique_ptr<TcpEndpoint> endpoint(new TcpEndpoint(loop, printer));
  UniqueFd listener = ListenLoopback(port, &endpoint->port_, error);
  if (!listener.valid()) return nullptr;
  TcpEndpoint* self = endpoint.get();
  endpoint->acceptor_ = std::make_unique<Acceptor>(
      loop, std::move(listener), [self](UniqueFd fd) { self->Accept(std::move(fd)); });
  return endpoint;
}

TcpEndpoint::~TcpEndpoint() {
  timers_.CancelAll();
  acceptor_.reset();
  connections_.clear();
}

void TcpEndpoint::Accept(UniqueFd fd) {
  const std::uint64_t id = next_id_++;
  printer_.counters().Add("tcp.connections");
  Connection& connection = connections_[id];
  Connection* self = &connection;  // map nodes stay where they are
  connection.session = std::make_unique<Session>(
      printer_, "tcp#" + std::to_string(id),
      [self](std::span<const std::uint8_t> bytes) { self->stream->Write(bytes); });
  Session* session = connection.session.get();
  connection.stream = std::make_unique<Stream>(
      loop_, std::move(fd), [session](std::span<const std::uint8_t> b) { session->FromHost(b); },
      [this, id] {
        // Not from inside the stream's own callback: drop it on the next turn.
        timers_.After(Millis(0), [this, id] { connections_.erase(id); });
      });
  connection.stream->SetReading(!printer_.faults().stall);
}

void TcpEndpoint::UpdateReading() {
  for (auto& [id, connection] : connections_) {
    connection.stream->SetReading(!printer_.faults().stall);
  }
}

}  // namespace printersim
