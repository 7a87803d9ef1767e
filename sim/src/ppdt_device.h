// The printer as its IEEE 1394 device: the driver's device controls for a job
// session (open, write, flush, cancel, close), administration and resource
// sessions (a write of management packets, then reads of the answers) and the
// device-ID query. One device object lives per open of the device.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "printer.h"
#include "printersim/device_packet.h"

namespace printersim {

struct PpdtAnswer {
  std::uint32_t status = 0;  // Win32 error, 0 for success
  std::uint32_t bytes_returned = 0;
  std::vector<std::uint8_t> data;
};

class PpdtDevice {
 public:
  explicit PpdtDevice(Printer& printer) : printer_(printer) {}
  ~PpdtDevice();
  PpdtDevice(const PpdtDevice&) = delete;
  PpdtDevice& operator=(const PpdtDevice&) = delete;

  // One device control. `output_data` is the caller's output buffer when the
  // control hands it to the device (the job write's data), else empty.
  PpdtAnswer Control(std::uint32_t code, std::span<const std::uint8_t> input,
                     std::uint32_t output_length, std::span<const std::uint8_t> output_data);
  // Queues an event notification for every open administration or resource
  // session; returns how many took it.
  unsigned Notify(std::span<const std::uint8_t> payload);

 private:
  struct ManagementSession {
    bool open = false;
    devpkt::Splitter splitter{devpkt::Answers::kAccepted};
    std::deque<std::uint8_t> answers;
  };
  PpdtAnswer OpenSession(ManagementSession& session);
  PpdtAnswer CloseSession(ManagementSession& session);
  PpdtAnswer WriteSession(ManagementSession& session, std::span<const std::uint8_t> input);
  PpdtAnswer ReadSession(ManagementSession& session, std::uint32_t output_length);
  PpdtAnswer JobWrite(std::span<const std::uint8_t> data);
  PpdtAnswer JobFlush(std::uint32_t output_length);

  Printer& printer_;
  bool job_open_ = false;
  bool job_cancelled_ = false;
  std::chrono::steady_clock::time_point delivered_at_{};
  ManagementSession admin_, resource_;
};

}  // namespace printersim
