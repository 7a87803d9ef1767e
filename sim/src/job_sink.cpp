#include "job_sink.h"

#include <cerrno>
#include <cstring>

namespace printersim {

std::string JobSink::OpenFile(const std::string& path) {
  file_.reset(std::fopen(path.c_str(), "wb"));
  if (!file_) return "cannot open job file " + path + ": " + std::strerror(errno);
  return {};
}

void JobSink::BeginJob() {
  if (job_active_) EndJob(false);
  job_active_ = true;
  job_bytes_ = 0;
  job_hash_.Reset();
  ++jobs_started_;
}

void JobSink::Write(std::span<const std::uint8_t> bytes) {
  if (!job_active_) BeginJob();
  job_bytes_ += bytes.size();
  total_bytes_ += bytes.size();
  job_hash_.Update(bytes);
  if (file_) std::fwrite(bytes.data(), 1, bytes.size(), file_.get());
}

void JobSink::EndJob(bool cancelled) {
  if (!job_active_) return;
  job_active_ = false;
  ++jobs_ended_;
  if (cancelled) ++jobs_cancelled_;
  if (file_) std::fflush(file_.get());
}

void JobSink::Reset() {
  job_active_ = false;
  job_bytes_ = total_bytes_ = 0;
  jobs_started_ = jobs_ended_ = jobs_cancelled_ = 0;
  job_hash_.Reset();
}

}  // namespace printersim
