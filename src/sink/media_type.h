// The media type of a blob's bytes, from libmagic, and the file name
// extension for it.
#pragma once
#include <string>
#include <string_view>

#include "format/bytes.h"

struct magic_set;

class media_types {
 public:
  media_types();
  ~media_types();
  media_types(const media_types&) = delete;
  media_types& operator=(const media_types&) = delete;
  // "image/png", ...; "application/octet-stream" when libmagic cannot tell
  // (or could not load its database).
  std::string of(byte_view bytes);

 private:
  magic_set* cookie_ = nullptr;
};

// The extension for a media type: png, jpg, gif, pdf, gz, zip, sqlite, ...;
// "bin" for a type not in the list.
std::string_view extension_for(std::string_view media_type);
