// SHA-256 of the input files, for the export's record of the run.
#pragma once
#include <string>

#include "format/bytes.h"

// The SHA-256 of the bytes as 64 lower-case hex digits, through libcrypto.
// Views of any size (the bytes are fed in chunks). Empty when libcrypto
// fails.
std::string sha256_hex(byte_view bytes);
