#include "output/render.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "diagnostics/debug.h"
#include "diagnostics/hexdump.h"
#include "shared/progress.h"
#include "output/flush.h"

namespace {

// Decimal integers go through to_chars: the same digits as printf's "%d",
// "%ld" and "%lld", at a fraction of the cost on the per-row path.
void print_integer(int64_t value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  fwrite(digits, 1, static_cast<size_t>(result.ptr - digits), stdout);
}

// Fixed notation with six decimals, as "%LF" writes it. Finite values go
// through to_chars, which rounds exactly as printf does; infinities and NaNs
// keep printf's upper-case spelling.
void print_double(const uint8_t* p) {
  const double value = load_be_real(p);
  if (!std::isfinite(value)) {
    printf("%LF", static_cast<long double>(value));
    return;
  }
  char digits[400];  // the largest double has 309 integer digits
  const auto result =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 6);
  fwrite(digits, 1, static_cast<size_t>(result.ptr - digits), stdout);
}

// The length of the run at the start of data of bytes that a text prints
// as they are: 0x20 to 0x7E without the double quote.
uint32_t plain_run(const uint8_t* data, uint32_t length) {
  uint32_t i = 0;
#if defined(__SSE2__)
  const __m128i below = _mm_set1_epi8(0x1F);
  const __m128i del = _mm_set1_epi8(0x7F);
  const __m128i quote = _mm_set1_epi8('"');
  for (; length - i >= 16; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    // Signed compare: 0x20..0x7F are above 0x1F, 0x80..0xFF are negative.
    const __m128i special = _mm_or_si128(
        _mm_andnot_si128(_mm_cmpgt_epi8(v, below), _mm_set1_epi8(-1)),
        _mm_or_si128(_mm_cmpeq_epi8(v, del), _mm_cmpeq_epi8(v, quote)));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(special));
    if (mask != 0) return i + static_cast<uint32_t>(__builtin_ctz(mask));
  }
#endif
  for (; i < length; ++i) {
    const uint8_t byte = data[i];
    if (byte < 0x20 || byte > 0x7E || byte == '"') break;
  }
  return i;
}

}  // namespace

void hex_encode(char* out, const uint8_t* data, uint32_t length) {
  uint32_t i = 0;
#if defined(__SSE2__)
  const __m128i nibble = _mm_set1_epi8(0x0F);
  const __m128i nine = _mm_set1_epi8(9);
  const __m128i zero = _mm_set1_epi8('0');
  const __m128i letters = _mm_set1_epi8('A' - '0' - 10);
  const auto digits = [&](__m128i n) {
    return _mm_add_epi8(_mm_add_epi8(n, zero), _mm_and_si128(_mm_cmpgt_epi8(n, nine), letters));
  };
  for (; length - i >= 16; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    const __m128i high = digits(_mm_and_si128(_mm_srli_epi16(v, 4), nibble));
    const __m128i low = digits(_mm_and_si128(v, nibble));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), _mm_unpacklo_epi8(high, low));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i + 16), _mm_unpackhi_epi8(high, low));
  }
#endif
  static constexpr char hex[] = "0123456789ABCDEF";
  for (; i < length; ++i) {
    out[2 * i] = hex[data[i] >> 4];
    out[2 * i + 1] = hex[data[i] & 15];
  }
}

namespace {

void print_blob(globals* g, const cell_entry& cell, const uint8_t* data) {
  if (!g->opt.dump_blobs) return;
  if (cell.size < g->opt.blob_size_limit) {
    if (g->opt.debug) printf_at("DEBUG:Not Dumping data to blob file, keeping in CSV\n");
    dump_blob_literal(data, cell.size);
    return;
  }
  if (g->opt.debug)
    printf_at("DEBUG:Dumping data to %d.blob [%d bytes]\n", g->out.blob_count,
              static_cast<int>(cell.size));
  if (write_blob_file(g, data, cell.size) != 0) g->out.blob_failures += 1;
  if (g->opt.debug) printf("\"%d.blob\"", g->out.blob_count);
}

// Writes one cell's field; false for a type that no decoded row can hold.
bool print_cell(globals* g, const cell_entry& cell, const uint8_t* data) {
  switch (cell.type) {
    case 0: fputs("NULL", stdout); break;
    case 1:
      putchar('x');
      print_integer(load_be_signed(data, 1));
      break;
    case 2: print_integer(load_be_signed(data, 2)); break;
    case 3: print_integer(load_be_signed(data, 3)); break;
    case 4: print_integer(load_be_signed(data, 4)); break;
    case 5: print_integer(load_be_signed(data, 6)); break;
    case 6: print_integer(load_be_signed(data, 8)); break;
    case 7: print_double(data); break;
    case 8: putchar('0'); break;
    case 9: putchar('1'); break;
    case 12:
      print_blob(g, cell, data);
      g->out.blob_count += 1;
      break;
    case 13:
      if (g->opt.debug) printf_at("DEBUG: Dumping text-13\n");
      dump_text(data, cell.size);
      break;
    default: return false;
  }
  return true;
}

}  // namespace

int dump_text(const uint8_t* data, uint32_t length) {
  // Runs of bytes that print as themselves go out straight from the image;
  // only the bytes between them (non-printables as '.', a quote doubled)
  // are written one by one.
  putchar('"');
  for (uint32_t i = 0; i < length;) {
    const uint32_t run = plain_run(data + i, length - i);
    if (run != 0) {
      fwrite(data + i, 1, run, stdout);
      i += run;
      continue;
    }
    if (data[i] == '"') {
      fputs("\"\"", stdout);
    } else {
      putchar('.');
    }
    ++i;
  }
  putchar('"');
  return 0;
}

int dump_blob_literal(const uint8_t* data, uint32_t length) {
  char chunk[4096];
  fputs("x'", stdout);
  for (uint32_t done = 0; done < length;) {
    const uint32_t n = length - done < sizeof chunk / 2 ? length - done : sizeof chunk / 2;
    hex_encode(chunk, data + done, n);
    fwrite(chunk, 1, 2 * size_t{n}, stdout);
    done += n;
  }
  putchar('\'');
  return 0;
}

int render_row(globals* g, const uint8_t* position, const row_record* row, int32_t mode) {
  int32_t index = -1;
  if (mode == 1) {
    fputs("-1", stdout);
    index = 0;
  }
  for (; index <= row->last_cell; ++index) {
    if (index < 0) {
      print_integer(row->rowid);
      continue;
    }
    const cell_entry& cell = row->cells[index];
    if (g->opt.debug)
      printf_at("DEBUG: Cell[%d], Type:%d, size:%d, offset:%d\n", index,
                static_cast<int>(cell.type), static_cast<int>(cell.size),
                static_cast<int>(cell.offset));
    putchar(',');
    if (!print_cell(g, cell, row->mapped_data + cell.offset)) {
      progress_erase(&g->out);
      fprintf(stderr, "Invalid cell type '%d'", static_cast<int>(cell.type));
      progress_end_message(&g->out);
      if (g->opt.debug) {
        printf_at("DEBUG: Invalid cell type '%d'", static_cast<int>(cell.type));
        hexdump(position, static_cast<uint16_t>(dump_clip(position, 128, g->db_origin, g->db_end + 1)),
                "Invalid cell type");
      }
      return 0;
    }
  }
  putchar('\n');
  flush_stdout(g);
  return 0;
}
