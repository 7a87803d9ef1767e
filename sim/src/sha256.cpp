#include "sha256.h"

#include <openssl/evp.h>

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

}  // namespace printersim
