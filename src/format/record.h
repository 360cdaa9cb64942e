// Records: the header of serial types and the values they describe.
#pragma once
#include <cstdint>
#include <vector>

#include "format/bytes.h"
#include "format/serial_type.h"
#include "format/value.h"

// The value of serial type `serial` whose bytes begin at data (serial_size
// bytes, all readable). Integers are sign-extended; a NaN real reads as NULL,
// as the library reads it.
value_view decode_value(uint64_t serial, const uint8_t* data, text_encoding encoding);

// Parses the record held in payload: the header-size varint, the serial
// types, then the values. Fills values (cleared first, capacity reused).
// False when the header is malformed, holds a reserved type, or the values
// run past the payload.
bool parse_record(byte_view payload, text_encoding encoding, std::vector<value_view>* values);

// As parse_record for a payload of which only the first bytes could be
// gathered (payload_size in all): values whose bytes lie past what is there
// are unknown. False when the header itself is not all there. Only the
// first `keep` values are put in values; the others are checked alike.
bool parse_record_prefix(byte_view available, uint64_t payload_size, text_encoding encoding,
                         std::vector<value_view>* values, size_t keep = SIZE_MAX);
