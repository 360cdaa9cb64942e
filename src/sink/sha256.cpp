#include "sink/sha256.h"

#include <openssl/evp.h>

#include <algorithm>

namespace {

// Fed in pieces of this size, so that no length is ever narrowed.
constexpr size_t chunk = size_t{64} << 20;

}  // namespace

struct sha256_stream::context {
  EVP_MD_CTX* md = EVP_MD_CTX_new();
  ~context() { EVP_MD_CTX_free(md); }
};

sha256_stream::sha256_stream() : ctx_(std::make_unique<context>()) {
  ok_ = ctx_->md && EVP_DigestInit_ex(ctx_->md, EVP_sha256(), nullptr) == 1;
}

sha256_stream::~sha256_stream() = default;

void sha256_stream::add(byte_view bytes) {
  for (size_t done = 0; ok_ && done < bytes.size();) {
    const size_t n = std::min(chunk, bytes.size() - done);
    ok_ = EVP_DigestUpdate(ctx_->md, bytes.data() + done, n) == 1;
    done += n;
  }
}

std::string sha256_stream::hex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!ok_ || EVP_DigestFinal_ex(ctx_->md, digest, &length) != 1) return {};
  ok_ = false;  // finished
  static constexpr char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * length);
  for (unsigned int i = 0; i < length; ++i) {
    out.push_back(digits[digest[i] >> 4]);
    out.push_back(digits[digest[i] & 0xF]);
  }
  return out;
}

std::string sha256_hex(byte_view bytes) {
  sha256_stream hash;
  hash.add(bytes);
  return hash.hex();
}
