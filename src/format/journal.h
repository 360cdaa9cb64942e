// The rollback journal (-journal): header-led segments of page records, each
// record an image of a page as it was before the transaction.
//
// What the library leaves in the file decides how a segment is read:
// - a synced header holds the magic and the record count; a count of
//   0xFFFFFFFF (no-sync mode) means records up to the end of the file;
// - a header written but not yet synced (a transaction still open, nothing
//   spilled) has its magic and count still zero, its other fields written;
// - a transaction committed in persist mode zeroes the first 28 bytes:
//   magic, count, nonce, original size, sector and page size;
// - syncing zeroes the first byte of a header left by an earlier transaction
//   where the next header would go (a stale segment).
// Each header has a nonce of its own. Where the count is not known (0,
// 0xFFFFFFFF, unsynced, zeroed) records are read to the end of the file (the
// library replays none under a count of 0 in a hot journal, but the images
// are earlier pages all the same). Any segment ends early at a record with
// page number 0 or the lock-byte page's number (where the library writes a
// super-journal name), or at a header on a sector boundary that names the
// same sector and page size, as every header the library writes does; a
// counted segment that ends early is flagged.
//
// A zeroed header keeps neither sector size nor nonce (nor, in a header
// with a bad sector or page size, are those known). The reader then tries
// every sector size from 512 to 65536 (and every page size when the
// database's is unknown too): a layout fits by the later records that agree
// with the nonce taken from the first record, and by a header naming it
// where the first segment ends. The best fit wins; with none, 512-byte
// sectors and the database's page size are assumed (journal_unverified).
// The nonce counts as known only when a second record confirms it; records
// whose segment has no known nonce are reported with checksum_ok false.
// Whatever no segment describes is left in `tail`, to be searched as carved
// space.
#pragma once
#include <cstdint>
#include <vector>

#include "format/bytes.h"

constexpr uint8_t journal_magic[8] = {0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7};
constexpr uint32_t journal_header_fields = 28;  // the bytes a persist-mode commit zeroes
constexpr uint32_t journal_count_to_end = 0xFFFFFFFF;

// Bits of journal_file::conditions.
enum journal_condition : uint32_t {
  journal_empty = 1u << 0,             // shorter than the 28 header bytes (truncate mode: 0)
  journal_bad_magic = 1u << 1,         // the first header is none of the states below: no records
  journal_zeroed_header = 1u << 2,     // committed in persist mode
  journal_unsynced_header = 1u << 3,   // a transaction still open, header not yet synced
  journal_bad_sector_size = 1u << 4,   // not a power of two from 32 to 65536: laid out as if zeroed
  journal_bad_page_size = 1u << 5,     // not valid: the database's page size is used
  journal_page_size_differs = 1u << 6, // valid, but not the database's
  journal_unverified = 1u << 7,        // no layout fits the records: 512-byte sectors assumed
  journal_truncated = 1u << 8,         // the file ends inside a record
  journal_count_exceeds_records = 1u << 9,  // a header counts more records than follow it
  journal_bad_checksum = 1u << 10,     // some record fails its checksum
  journal_stale_segment = 1u << 11,    // a segment of an earlier transaction follows
  journal_page_out_of_range = 1u << 12,  // a record names a page past the reader's limit
};

enum class journal_header_state : uint8_t { synced, unsynced, zeroed, stale };

struct journal_segment {
  uint64_t offset;              // of its header
  journal_header_state state;
  uint32_t count;               // the record count as stored (0 for unsynced and zeroed)
  bool counted_to_end;          // records were read until the file or segment ends
  uint32_t nonce;
  bool nonce_known;             // stored, or recovered from two records that agree
  uint32_t original_pages;      // database size in pages before the transaction (0 if zeroed)
  uint32_t first_record;        // records[first_record, first_record + record_count)
  uint32_t record_count;
};

struct journal_record {
  uint32_t segment;             // index into journal_file::segments
  uint32_t page;
  uint64_t offset;              // of the page image in the journal
  byte_view image;              // page_size bytes
  bool checksum_ok;             // matches the segment's nonce (false when it is unknown)
  // The page number lies within the reader's limit. A record past it belongs
  // to no page: it is never rolled back, and its image is only searched as
  // free space. (Page 0 ends the records, as for the library.)
  bool page_known;
};

struct journal_file {
  byte_view file;
  uint32_t conditions = 0;      // journal_condition bits
  uint32_t sector_size = 0;     // header size and segment alignment; 0: nothing laid out
  uint32_t page_size = 0;       // size of the images
  std::vector<journal_segment> segments;
  std::vector<journal_record> records;
  uint64_t tail_offset = 0;     // the bytes after the last record that a segment describes
  byte_view tail;
};

// The record checksum: nonce plus image[i] for i = page size - 200,
// page size - 400, ... while i > 0.
uint32_t journal_checksum(byte_view image, uint32_t nonce);

// Reads the journal of a database whose page size is db_page_size (0 when
// unknown: a zeroed header is then tried with every page size). Records of
// pages past page_limit (wal_page_limit() of the database and the journal)
// are marked as of no known page.
journal_file read_journal(byte_view journal, uint32_t db_page_size, uint32_t page_limit);
