#include "ppdt_device.h"

#include <algorithm>
#include <cstdio>

#include "tgx/win32.h"
#include "tgx/wire/ppdt_device.h"

namespace printersim {

namespace ppdt = ::tgx::wire::ppdt_device;
namespace {

PpdtAnswer Fail(std::uint32_t status) { return PpdtAnswer{status, 0, {}}; }
}  // namespace

PpdtDevice::~PpdtDevice() {
  if (job_open_ && printer_.sink().job_active()) printer_.sink().EndJob(false);
}

PpdtAnswer PpdtDevice::Control(std::uint32_t code, std::span<const std::uint8_t> input,
                               std::uint32_t output_length,
                               std::span<const std::uint8_t> output_data) {
  char name[40];
  std::snprintf(name, sizeof name, "ppdt.code.%08X", code);
  printer_.counters().Add("ppdt.requests");
  printer_.counters().Add(name);
  const auto& refuse = printer_.faults().ppdt_refuse;
  if (auto it = refuse.find(code); it != refuse.end()) {
    printer_.counters().Add("ppdt.refused");
    return Fail(it->second);
  }
  switch (code) {
    case ppdt::kJobOpen:
      if (job_open_) return Fail(tgx::ERROR_BUSY);
      job_open_ = true;
      job_cancelled_ = false;
      printer_.sink().BeginJob();
      return {};
    case ppdt::kJobWrite:
      if (!job_open_) return Fail(tgx::ERROR_INVALID_FUNCTION);
      return JobWrite(output_data);
    case ppdt::kJobFlush:
      if (!job_open_) return Fail(tgx::ERROR_INVALID_FUNCTION);
      return JobFlush(output_length);
    case ppdt::kJobCancel:
      if (!job_open_) return Fail(tgx::ERROR_INVALID_FUNCTION);
      if (!job_cancelled_) printer_.sink().EndJob(true);
      job_cancelled_ = true;
      return {};
    case ppdt::kJobClose:
      if (!job_open_) return Fail(tgx::ERROR_INVALID_FUNCTION);
      if (!job_cancelled_) printer_.sink().EndJob(false);
      job_open_ = false;
      return {};
    case ppdt::kAdminOpen: return OpenSession(admin_);
    case ppdt::kAdminClose: return CloseSession(admin_);
    case ppdt::kAdminWrite: return WriteSession(admin_, input);
    case ppdt::kAdminRead: return ReadSession(admin_, output_length);
    case ppdt::kResOpen: return OpenSession(resource_);
    case ppdt::kResClose: return CloseSession(resource_);
    case ppdt::kResWrite: return WriteSession(resource_, input);
    case ppdt::kResRead: return ReadSession(resource_, output_length);
    case ppdt::kGetDeviceId: {
      if (output_length == 0) return Fail(tgx::ERROR_INVALID_PARAMETER);
      const std::string& id = printer_.config().device_id;
      PpdtAnswer answer;
      answer.data.assign(id.begin(), id.begin() + std::min<std::size_t>(id.size(), output_length));
      answer.bytes_returned = static_cast<std::uint32_t>(answer.data.size());
      return answer;
    }
    default:
      printer_.Violation("ppdt_unknown_code", name);
      return Fail(tgx::ERROR_INVALID_FUNCTION);
  }
}

PpdtAnswer PpdtDevice::JobWrite(std::span<const std::uint8_t> data) {
  if (job_cancelled_) {
    printer_.counters().Add("ppdt.discarded_bytes", data.size());
  } else {
    printer_.sink().Write(data);
  }
  delivered_at_ = std::chrono::steady_clock::now() +
                  std::chrono::milliseconds(printer_.config().ppdt_flush_delay_ms);
  return PpdtAnswer{0, static_cast<std::uint32_t>(data.size()), {}};
}

// The flush byte turns nonzero once the data written so far has reached the
// printer: after the configured delivery delay, and never while it is stalled.
PpdtAnswer PpdtDevice::JobFlush(std::uint32_t output_length) {
  if (output_length == 0) return Fail(tgx::ERROR_INVALID_PARAMETER);
  printer_.counters().Add("ppdt.flush_polls");
  const bool delivered =
      !printer_.faults().stall && std::chrono::steady_clock::now() >= delivered_at_;
  return PpdtAnswer{0, 1, {static_cast<std::uint8_t>(delivered ? 1 : 0)}};
}

PpdtAnswer PpdtDevice::OpenSession(ManagementSession& session) {
  if (session.open) return Fail(tgx::ERROR_BUSY);
  session.open = true;
  session.splitter.Clear();
  session.answers.clear();
  return {};
}

PpdtAnswer PpdtDevice::CloseSession(ManagementSession& session) {
  if (!session.open) return Fail(tgx::ERROR_INVALID_FUNCTION);
  session.open = false;
  return {};
}

PpdtAnswer PpdtDevice::WriteSession(ManagementSession& session,
                                    std::span<const std::uint8_t> input) {
  if (!session.open) return Fail(tgx::ERROR_INVALID_FUNCTION);
  session.splitter.Feed(input);
  std::vector<std::uint8_t> request;
  for (;;) {
    const auto status = session.splitter.Next(request);
    if (status == devpkt::Splitter::Status::kNeedMore) break;
    if (status == devpkt::Splitter::Status::kBroken) {
      printer_.Violation("bad_device_packet", "1394 session write lost its framing");
      break;
    }
    if (auto answer = printer_.AnswerManagement(request)) {
      session.answers.insert(session.answers.end(), answer->begin(), answer->end());
    }
  }
  return PpdtAnswer{0, static_cast<std::uint32_t>(input.size()), {}};
}

PpdtAnswer PpdtDevice::ReadSession(ManagementSession& session, std::uint32_t output_length) {
  if (!session.open) return Fail(tgx::ERROR_INVALID_FUNCTION);
  const std::size_t n = std::min<std::size_t>(output_length, session.answers.size());
  PpdtAnswer answer;
  answer.data.assign(session.answers.begin(),
                     session.answers.begin() + static_cast<std::ptrdiff_t>(n));
  session.answers.erase(session.answers.begin(),
                        session.answers.begin() + static_cast<std::ptrdiff_t>(n));
  answer.bytes_returned = static_cast<std::uint32_t>(n);
  return answer;
}

unsigned PpdtDevice::Notify(std::span<const std::uint8_t> payload) {
  devpkt::Header header;
  header.opcode = devpkt::kOpNotification;
  const std::vector<std::uint8_t> notification = devpkt::Encode(header, payload);
  unsigned sessions = 0;
  for (ManagementSession* session : {&admin_, &resource_}) {
    if (!session->open) continue;
    session->answers.insert(session->answers.end(), notification.begin(), notification.end());
    ++sessions;
  }
  return sessions;
}

}  // namespace printersim
