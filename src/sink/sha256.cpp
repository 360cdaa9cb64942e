#include "sink/sha256.h"

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

namespace {

struct md_ctx_free {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

// Fed in pieces of this size, so that no length is ever narrowed.
constexpr size_t chunk = size_t{64} << 20;

}  // namespace

std::string sha256_hex(byte_view bytes) {
  std::unique_ptr<EVP_MD_CTX, md_ctx_free> ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return {};
  for (size_t done = 0; done < bytes.size();) {
    const size_t n = std::min(chunk, bytes.size() - done);
    if (EVP_DigestUpdate(ctx.get(), bytes.data() + done, n) != 1) return {};
    done += n;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) return {};
  static constexpr char hex[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * length);
  for (unsigned int i = 0; i < length; ++i) {
    out.push_back(hex[digest[i] >> 4]);
    out.push_back(hex[digest[i] & 0xF]);
  }
  return out;
}
