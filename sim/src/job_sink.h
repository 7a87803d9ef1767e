// Where a printer's job data goes: counted and hashed with SHA-256 per job,
// counted over the printer's whole life, and optionally appended to a file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

#include "sha256.h"

namespace printersim {

class JobSink {
 public:
  // Opens the job file (truncated); returns an error text or empty.
  std::string OpenFile(const std::string& path);

  void BeginJob();
  void Write(std::span<const std::uint8_t> bytes);
  void EndJob(bool cancelled);
  bool job_active() const { return job_active_; }

  std::uint64_t job_bytes() const { return job_bytes_; }
  std::string job_sha256() const { return job_hash_.HexDigest(); }
  std::uint64_t total_bytes() const { return total_bytes_; }
  std::uint64_t jobs_started() const { return jobs_started_; }
  std::uint64_t jobs_ended() const { return jobs_ended_; }
  std::uint64_t jobs_cancelled() const { return jobs_cancelled_; }
  // Forgets every count and hash (the file keeps what it has).
  void Reset();

 private:
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, FileCloser> file_;
  bool job_active_ = false;
  std::uint64_t job_bytes_ = 0, total_bytes_ = 0;
  std::uint64_t jobs_started_ = 0, jobs_ended_ = 0, jobs_cancelled_ = 0;
  Sha256 job_hash_;
};

}  // namespace printersim
