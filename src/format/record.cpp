#include "format/record.h"

#include <cmath>
#include <algorithm>
#include <cstring>

value_view decode_value(uint64_t serial, const uint8_t* data, text_encoding encoding) {
  value_view v{};
  if (serial >= 12) {
    v.kind = serial & 1 ? value_kind::text : value_kind::blob;
    v.encoding = encoding;
    v.bytes = byte_view(data, serial_size(serial));
    return v;
  }
  switch (serial) {
    case 8: return integer_value(0);
    case 9: return integer_value(1);
    case 7: {
      const double d = load_be_real(data);
      return std::isnan(d) ? null_value() : real_value(d);
    }
    case 0:
    case 10:
    case 11: return null_value();
    default: return integer_value(load_be_signed(data, static_cast<uint32_t>(serial_size(serial))));
  }
}

bool parse_record_prefix(byte_view available, uint64_t payload_size, text_encoding encoding,
                         std::vector<value_view>* values, size_t keep) {
  values->clear();
  uint64_t at = 0;
  uint64_t header_size = 0;
  if (!read_varint(available, &at, &header_size)) return false;
  if (header_size < at || header_size > available.size() || available.size() > payload_size)
    return false;
  const byte_view header = available.first(header_size);
  uint64_t body = header_size;
  while (at < header_size) {
    uint64_t serial = 0;
    if (!read_varint(header, &at, &serial)) return false;
    if (serial_reserved(serial)) return false;
    const uint64_t size = serial_size(serial);
    if (size > payload_size - body) return false;
    if (values->size() < keep) {
      const bool there = body <= available.size() && size <= available.size() - body;
      values->push_back(there ? decode_value(serial, available.data() + body, encoding) : unknown_value());
    }
    body += size;
  }
  return true;
}

bool parse_record(byte_view payload, text_encoding encoding, std::vector<value_view>* values) {
  return parse_record_prefix(payload, payload.size(), encoding, values);
}
