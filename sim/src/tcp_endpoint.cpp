#include "tcp_endpoint.h"

namespace printersim {

std::unique_ptr<TcpEndpoint> TcpEndpoint::Create(EventLoop& loop, Printer& printer,
                                                 std::uint16_t port, std::string* error) {
  std::unique_ptr<TcpEndpoint> endpoint(new TcpEndpoint(loop, printer));
  tgx::UniqueFd listener = ListenLoopback(port, &endpoint->port_, error);
  if (!listener.valid()) return nullptr;
  TcpEndpoint* self = endpoint.get();
  endpoint->acceptor_ = std::make_unique<Acceptor>(
      loop, std::move(listener), [self](tgx::UniqueFd fd) { self->Accept(std::move(fd)); });
  return endpoint;
}

TcpEndpoint::~TcpEndpoint() {
  timers_.CancelAll();
  acceptor_.reset();
  connections_.clear();
}

void TcpEndpoint::Accept(tgx::UniqueFd fd) {
  const std::uint64_t id = next_id_++;
  printer_.counters().Add("tcp.connections");
  Connection& connection = connections_[id];
  Connection* self = &connection;  // map nodes stay where they are
  connection.session = std::make_unique<Session>(
      printer_, "tcp#" + std::to_string(id),
      [self](std::span<const std::uint8_t> bytes) { self->stream->Write(bytes); });
  if (!printer_.config().tcp_id_query.empty()) {
    connection.id_query.emplace(printer_.config().tcp_id_query);
  }
  connection.stream = std::make_unique<Stream>(
      loop_, std::move(fd), [this, self](std::span<const std::uint8_t> b) { FromHost(*self, b); },
      [this, id, self] {
        // Bytes held back as a possible query were job data after all.
        if (self->id_query) {
          self->id_query->Finish([self](auto bytes) { self->session->FromHost(bytes); });
        }
        // Not from inside the stream's own callback: drop it on the next turn.
        timers_.After(Millis(0), [this, id] { connections_.erase(id); });
      });
  connection.stream->SetReading(!printer_.faults().stall);
}

void TcpEndpoint::FromHost(Connection& connection, std::span<const std::uint8_t> bytes) {
  if (!connection.id_query) {
    connection.session->FromHost(bytes);
    return;
  }
  connection.id_query->Feed(
      bytes, [&connection](auto data) { connection.session->FromHost(data); },
      [this, &connection] {
        printer_.counters().Add("tcp.id_queries");
        connection.stream->Write(DeviceIdAnswer(printer_.config().device_id));
      });
}

void TcpEndpoint::UpdateReading() {
  for (auto& [id, connection] : connections_) {
    connection.stream->SetReading(!printer_.faults().stall);
  }
}

}  // namespace printersim
