#include "sink/media_type.h"

#include <magic.h>

#include <array>
#include <utility>

media_types::media_types() {
  cookie_ = magic_open(MAGIC_MIME_TYPE | MAGIC_ERROR);
  if (cookie_ && magic_load(cookie_, nullptr) != 0) {
    magic_close(cookie_);
    cookie_ = nullptr;
  }
}

media_types::~media_types() {
  if (cookie_) magic_close(cookie_);
}

std::string media_types::of(byte_view bytes) {
  const char* type = cookie_ && !bytes.empty() ? magic_buffer(cookie_, bytes.data(), bytes.size()) : nullptr;
  return type ? std::string(type) : std::string("application/octet-stream");
}

std::string_view extension_for(std::string_view media_type) {
  constexpr std::array<std::pair<std::string_view, std::string_view>, 24> known{{
      {"image/png", "png"},         {"image/jpeg", "jpg"},          {"image/gif", "gif"},
      {"image/webp", "webp"},       {"image/heic", "heic"},         {"image/tiff", "tif"},
      {"image/bmp", "bmp"},         {"image/x-ms-bmp", "bmp"},      {"application/pdf", "pdf"},
      {"application/gzip", "gz"},   {"application/x-gzip", "gz"},   {"application/zip", "zip"},
      {"application/vnd.sqlite3", "sqlite"}, {"application/x-sqlite3", "sqlite"},
      {"text/plain", "txt"},        {"application/json", "json"},   {"text/xml", "xml"},
      {"application/xml", "xml"},   {"text/html", "html"},          {"audio/mpeg", "mp3"},
      {"video/mp4", "mp4"},         {"audio/x-wav", "wav"},         {"application/x-bzip2", "bz2"},
      {"application/x-xz", "xz"},
  }};
  for (const auto& [type, ext] : known)
    if (type == media_type) return ext;
  return "bin";
}
