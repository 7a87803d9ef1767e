// The Unix socket that stands for a printer's IEEE 1394 device (framing in
// tgx/wire/ppdt_device.h). One connection holds the device at a time;
// requests are answered in order, a stalled printer holds job writes back and a
// slow one delays every answer.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "event_loop.h"
#include "listener.h"
#include "ppdt_device.h"
#include "printer.h"
#include "stream.h"

namespace printersim {

class PpdtEndpoint {
 public:
  static std::unique_ptr<PpdtEndpoint> Create(EventLoop& loop, Printer& printer,
                                              const std::filesystem::path& path,
                                              std::string* error);
  ~PpdtEndpoint();
  const std::filesystem::path& path() const { return path_; }
  void UpdateStall();
  unsigned Notify(std::span<const std::uint8_t> payload);

 private:
  PpdtEndpoint(EventLoop& loop, Printer& printer) : loop_(loop), printer_(printer), timers_(loop) {}
  void Accept(tgx::UniqueFd fd);
  void OnData(std::span<const std::uint8_t> bytes);
  void ProcessRequests();
  void SendAnswer(const PpdtAnswer& answer);
  void Disconnect();

  EventLoop& loop_;
  Printer& printer_;
  std::filesystem::path path_;
  std::unique_ptr<Acceptor> acceptor_;
  std::unique_ptr<Stream> stream_;  // the connection holding the device
  std::unique_ptr<PpdtDevice> device_;
  std::vector<std::uint8_t> input_;
  bool busy_ = false;  // an answer is being delayed
  TimerGroup timers_;
};

}  // namespace printersim
