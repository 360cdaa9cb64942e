// SHA-256 of the input files, for the export's record of the run and the
// folder run's inventory.
#pragma once
#include <memory>
#include <string>

#include "format/bytes.h"

// A SHA-256 fed in pieces, through libcrypto.
class sha256_stream {
 public:
  sha256_stream();
  ~sha256_stream();
  sha256_stream(const sha256_stream&) = delete;
  sha256_stream& operator=(const sha256_stream&) = delete;
  // False once libcrypto failed (then hex() is empty).
  bool ok() const { return ok_; }
  void add(byte_view bytes);
  // The digest as 64 lower-case hex digits; empty when libcrypto failed.
  std::string hex();

 private:
  struct context;
  std::unique_ptr<context> ctx_;
  bool ok_ = false;
};

// The SHA-256 of the bytes as 64 lower-case hex digits. Views of any size
// (the bytes are fed in chunks). Empty when libcrypto fails.
std::string sha256_hex(byte_view bytes);
