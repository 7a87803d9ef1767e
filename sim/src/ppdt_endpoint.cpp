#include "ppdt_endpoint.h"

#include <sys/socket.h>

#include "tgx/win32.h"
#include "tgx/wire/ppdt_device.h"

namespace printersim {

namespace ppdt = ::tgx::wire::ppdt_device;
namespace {

std::vector<std::uint8_t> EncodeAnswer(const PpdtAnswer& answer) {
  std::vector<std::uint8_t> bytes(ppdt::kAnswerHeaderSize + answer.data.size());
  ppdt::WriteAnswerHeader(bytes.data(), {answer.status, answer.bytes_returned,
                                         static_cast<std::uint32_t>(answer.data.size())});
  std::copy(answer.data.begin(), answer.data.end(), bytes.begin() + ppdt::kAnswerHeaderSize);
  return bytes;
}
}  // namespace

std::unique_ptr<PpdtEndpoint> PpdtEndpoint::Create(EventLoop& loop, Printer& printer,
                                                   const std::filesystem::path& path,
                                                   std::string* error) {
  std::unique_ptr<PpdtEndpoint> endpoint(new PpdtEndpoint(loop, printer));
  endpoint->path_ = path;
  tgx::UniqueFd listener = ListenUnix(path, error);
  if (!listener.valid()) return nullptr;
  PpdtEndpoint* self = endpoint.get();
  endpoint->acceptor_ = std::make_unique<Acceptor>(
      loop, std::move(listener), [self](tgx::UniqueFd fd) { self->Accept(std::move(fd)); });
  return endpoint;
}

PpdtEndpoint::~PpdtEndpoint() {
  std::error_code ec;
  std::filesystem::remove(path_, ec);  // the device vanishes first
  timers_.CancelAll();
  acceptor_.reset();
  stream_.reset();
  device_.reset();
}

void PpdtEndpoint::Accept(tgx::UniqueFd fd) {
  if (stream_) {
    // The device opens exclusively: answer the open with a sharing violation.
    printer_.counters().Add("ppdt.opens_refused");
    const auto answer = EncodeAnswer(PpdtAnswer{tgx::ERROR_SHARING_VIOLATION, 0, {}});
    ::send(fd.get(), answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    return;  // closing fd ends the connection
  }
  printer_.counters().Add("ppdt.opens");
  device_ = std::make_unique<PpdtDevice>(printer_);
  input_.clear();
  busy_ = false;
  stream_ = std::make_unique<Stream>(
      loop_, std::move(fd), [this](std::span<const std::uint8_t> b) { OnData(b); },
      [this] { timers_.After(Millis(0), [this] { Disconnect(); }); });
  SendAnswer(PpdtAnswer{});
}

void PpdtEndpoint::Disconnect() {
  stream_.reset();
  device_.reset();
  input_.clear();
  busy_ = false;
}

void PpdtEndpoint::OnData(std::span<const std::uint8_t> bytes) {
  input_.insert(input_.end(), bytes.begin(), bytes.end());
  ProcessRequests();
}

void PpdtEndpoint::ProcessRequests() {
  while (stream_ && !busy_ && input_.size() >= ppdt::kRequestHeaderSize) {
    ppdt::RequestHeader header;
    if (!ppdt::ReadRequestHeader(input_.data(), header)) {
      printer_.Violation("ppdt_bad_frame", "request header out of range");
      timers_.After(Millis(0), [this] { Disconnect(); });
      busy_ = true;
      return;
    }
    const std::size_t total =
        ppdt::kRequestHeaderSize + header.input_length + header.output_data_length;
    if (input_.size() < total) return;
    if (header.control_code == ppdt::kJobWrite && printer_.faults().stall) return;
    const std::span<const std::uint8_t> input(input_.data() + ppdt::kRequestHeaderSize,
                                              header.input_length);
    const std::span<const std::uint8_t> output_data(input.data() + input.size(),
                                                    header.output_data_length);
    PpdtAnswer answer =
        device_->Control(header.control_code, input, header.output_length, output_data);
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(total));
    const unsigned slow_ms = printer_.faults().slow_ms;
    if (slow_ms == 0) {
      SendAnswer(answer);
      continue;
    }
    busy_ = true;
    timers_.After(Millis(slow_ms), [this, answer = std::move(answer)] {
      busy_ = false;
      SendAnswer(answer);
      ProcessRequests();
    });
  }
}

void PpdtEndpoint::SendAnswer(const PpdtAnswer& answer) {
  if (stream_) stream_->Write(EncodeAnswer(answer));
}

void PpdtEndpoint::UpdateStall() { ProcessRequests(); }

unsigned PpdtEndpoint::Notify(std::span<const std::uint8_t> payload) {
  return device_ ? device_->Notify(payload) : 0;
}

}  // namespace printersim
