#include "job_sink.h"

#include <openssl/evp.h>

#include <cerrno>
#include <cstring>

namespace printersim {

void Sha256::CtxDeleter::operator()(evp_md_ctx_st* ctx) const { EVP_MD_CTX_free(ctx); }

Sha256::Sha256() : ctx_(EVP_MD_CTX_new()) { Reset(); }
Sha256::~Sha256() = default;

void Sha256::Reset() { EVP_DigestInit_ex(ctx_.get(), EVP_sha256(), nullptr); }

void Sha256::Update(std::span<const std::uint8_t> bytes) {
  EVP_DigestUpdate(ctx_.get(), bytes.data(), bytes.size());
}

std::string Sha256::HexDigest() const {
  std::unique_ptr<evp_md_ctx_st, CtxDeleter> copy(EVP_MD_CTX_new());
  EVP_MD_CTX_copy_ex(copy.get(), ctx_.get());
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(copy.get(), digest, &length);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned i = 0; i < length; ++i) {
    hex.push_back(kHex[digest[i] >> 4]);
    hex.push_back(kHex[digest[i] & 15]);
  }
  return hex;
}

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
