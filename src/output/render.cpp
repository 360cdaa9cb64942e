#include "output/render.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "diagnostics/debug.h"
#include "diagnostics/hexdump.h"

namespace {

// The big-endian two's-complement integer of `bytes` bytes at p.
int64_t read_signed(const uint8_t* p, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value = value << 8 | p[i];
  const int unused = 64 - 8 * bytes;
  return static_cast<int64_t>(value << unused) >> unused;
}

void print_double(const uint8_t* p) {
  const uint64_t bits = static_cast<uint64_t>(read_signed(p, 8));
  double value;
  memcpy(&value, &bits, sizeof value);
  printf("%LF", static_cast<long double>(value));
}

void print_blob(globals* g, const cell_entry& cell, const uint8_t* data) {
  if (!g->dump_blobs) return;
  if (cell.size < g->blob_size_limit) {
    if (g->debug) printf_at("DEBUG:Not Dumping data to blob file, keeping in CSV\n");
    dump_blob_literal(data, cell.size);
    return;
  }
  if (g->debug)
    printf_at("DEBUG:Dumping data to %d.blob [%d bytes]\n", g->blob_count,
              static_cast<int>(cell.size));
  write_blob_file(g, data, cell.size);
  if (g->debug) printf("\"%d.blob\"", g->blob_count);
}

// Writes one cell's field; false for a type that no decoded row can hold.
bool print_cell(globals* g, const cell_entry& cell, const uint8_t* data) {
  switch (cell.type) {
    case 0: fputs("NULL", stdout); break;
    case 1: printf("x%d", static_cast<int>(read_signed(data, 1))); break;
    case 2: printf("%d", static_cast<int>(read_signed(data, 2))); break;
    case 3: printf("%ld", static_cast<long>(read_signed(data, 3))); break;
    case 4: printf("%ld", static_cast<long>(read_signed(data, 4))); break;
    case 5: printf("%" PRId64, read_signed(data, 6)); break;
    case 6: printf("%" PRId64, read_signed(data, 8)); break;
    case 7: print_double(data); break;
    case 8: putchar('0'); break;
    case 9: putchar('1'); break;
    case 12:
      print_blob(g, cell, data);
      g->blob_count += 1;
      break;
    case 13:
      if (g->debug) printf_at("DEBUG: Dumping text-13\n");
      dump_text(data, cell.size);
      break;
    default: return false;
  }
  return true;
}

}  // namespace

int dump_text(const uint8_t* data, uint32_t length) {
  putchar('"');
  const uint8_t* run = data;  // start of the bytes that print as themselves
  const uint8_t* end = data + length;
  for (const uint8_t* p = data; p < end; ++p) {
    const uint8_t byte = *p;
    if (byte >= 0x20 && byte <= 0x7E && byte != '"') continue;
    fwrite(run, 1, static_cast<size_t>(p - run), stdout);
    fputs(byte == '"' ? "\"\"" : ".", stdout);
    run = p + 1;
  }
  fwrite(run, 1, static_cast<size_t>(end - run), stdout);
  putchar('"');
  return 0;
}

int dump_blob_literal(const uint8_t* data, uint32_t length) {
  static const char digits[] = "0123456789ABCDEF";
  char chunk[4096];
  fputs("x'", stdout);
  for (uint32_t done = 0; done < length;) {
    uint32_t n = 0;
    for (; n + 2 <= sizeof chunk && done < length; ++done) {
      chunk[n++] = digits[data[done] >> 4];
      chunk[n++] = digits[data[done] & 15];
    }
    fwrite(chunk, 1, n, stdout);
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
      printf("%" PRId64, row->rowid);
      continue;
    }
    const cell_entry& cell = row->cells[index];
    if (g->debug)
      printf_at("DEBUG: Cell[%d], Type:%d, size:%d, offset:%d\n", index,
                static_cast<int>(cell.type), static_cast<int>(cell.size),
                static_cast<int>(cell.offset));
    putchar(',');
    if (!print_cell(g, cell, row->mapped_data + cell.offset)) {
      fprintf(stderr, "Invalid cell type '%d'", static_cast<int>(cell.type));
      if (g->debug) {
        printf_at("DEBUG: Invalid cell type '%d'", static_cast<int>(cell.type));
        hexdump(position, static_cast<uint16_t>(dump_clip(position, 128, g->db_origin, g->db_end + 1)),
                "Invalid cell type");
      }
      return 0;
    }
  }
  putchar('\n');
  fflush(stdout);
  return 0;
}
