// SHA-256 of a byte stream, in lower-case hex: how the printer names a job's
// data, and how a client checks it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

struct evp_md_ctx_st;

namespace printersim {

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void Update(std::span<const std::uint8_t> bytes);
  void Reset();
  // The digest of what was fed so far, in lower-case hex; the running state stays.
  std::string HexDigest() const;

 private:
  struct CtxDeleter {
    void operator()(evp_md_ctx_st* ctx) const;
  };
  std::unique_ptr<evp_md_ctx_st, CtxDeleter> ctx_;
};

}  // namespace printersim
