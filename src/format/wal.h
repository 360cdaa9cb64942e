// The write-ahead log (-wal): its header, its frames, the checksum chain
// that decides which frames are valid, and the committed state laid over a
// page store.
//
// Reading never allocates beyond the vector of frames, and every read is
// checked against the log's bytes: a log cut off, damaged or made up by
// hand yields conditions (below) and invalid frames, never a read outside.
#pragma once
#include <cstdint>
#include <vector>

#include "format/bytes.h"
#include "format/page_store.h"

constexpr uint32_t wal_header_size = 32;
constexpr uint32_t wal_frame_header_size = 24;
constexpr uint32_t wal_magic_le = 0x377f0682;  // checksums read little-endian words
constexpr uint32_t wal_magic_be = 0x377f0683;  // checksums read big-endian words
constexpr uint32_t wal_format_version = 3007000;

// What is wrong with, or worth noting about, a log: bits of wal_log::conditions.
enum wal_condition : uint32_t {
  wal_empty = 1u << 0,               // shorter than its 32-byte header (0 bytes: no log)
  wal_bad_magic = 1u << 1,           // neither magic: no frame is valid
  wal_bad_version = 1u << 2,         // not 3007000: no frame is valid
  wal_bad_page_size = 1u << 3,       // the header's page size is not a valid one;
                                     // frames are laid out with the database's
  wal_page_size_differs = 1u << 4,   // valid, but not the database's: not applied
  wal_bad_header_checksum = 1u << 5, // no frame is valid
  wal_truncated_frame = 1u << 6,     // the log ends inside a frame (see wal_log::tail)
  wal_chain_broken = 1u << 7,        // a whole frame failed its salts, page number or
                                     // checksum: it and every frame after it are invalid
  wal_uncommitted = 1u << 8,         // valid frames follow the last commit frame
  wal_page_out_of_range = 1u << 9,   // a committed frame's page number, or the committed
                                     // size, exceeds wal_page_limit(): left out, or cut down
  wal_no_database_page_size = 1u << 10,  // the database has no valid page size: not applied
};

// Why a whole frame is not valid.
enum class wal_frame_fault : uint8_t {
  none,         // valid
  bad_header,   // the log's header is not trustworthy (magic, version, checksum)
  salt,         // salts differ from the header's: an older generation of the log
  zero_page,    // page number 0
  checksum,     // the cumulative checksum does not continue the chain (also
                // where the library rewrote a page of a still open transaction
                // in place: it fixes the chain only when it commits)
  after_break,  // an earlier frame broke the chain
};

struct wal_header {
  uint32_t magic;
  uint32_t version;
  uint32_t page_size;          // as stored
  uint32_t checkpoint_sequence;
  uint32_t salt1, salt2;
  uint32_t checksum1, checksum2;
  bool big_endian_checksums;   // magic 0x377f0683
};

struct wal_frame {
  uint32_t index;              // 1-based, in file order
  uint64_t offset;             // of the 24-byte frame header in the log
  uint32_t page;
  uint32_t commit_size;        // database size in pages after a commit frame, else 0
  uint32_t salt1, salt2;
  uint32_t checksum1, checksum2;
  wal_frame_fault fault;
  bool valid;                  // fault == none
  bool committed;              // valid and at or before the last valid commit frame
  // The committed state reads this image: the newest committed frame of its
  // page, the page inside the committed size and wal_page_limit(), and the
  // log applicable to the database (same page size).
  bool used;
  // The page number lies in 1..wal_log::page_limit. A frame that names page
  // 0 or a page past the limit belongs to no page: it is never applied, and
  // its image is only searched as free space.
  bool page_known;
  // The commit the frame belongs to: 1 for the frames up to the first
  // commit frame of this generation, 2 up to the second, ...; 0 for a frame
  // after the last commit, of an older generation, or otherwise invalid.
  uint32_t commit;
  // After the commit the state is read as of (--as-of): not read at all.
  bool future;
  byte_view image;             // the page image, frame_page_size bytes
};

struct wal_log {
  byte_view file;
  wal_header header{};
  uint32_t conditions = 0;           // wal_condition bits
  uint32_t frame_page_size = 0;      // page size the frames are laid out with; 0: no frames
  std::vector<wal_frame> frames;     // every whole frame, in file order
  uint32_t valid_frames = 0;         // frames[0, valid_frames) are valid
  uint32_t committed_frames = 0;     // frames[0, committed_frames) form the committed state
  uint32_t page_limit = 0;           // wal_page_limit() of the database and this log
  // The frame number of each commit frame: commit k ends at frame
  // commit_frames[k - 1]. Commit 0 is the database file itself.
  std::vector<uint32_t> commit_frames;
  // Database size the last valid commit frame gives (cut down to
  // wal_page_limit()); 0: no commit.
  uint32_t committed_pages = 0;
  // The bytes after the last whole frame (a torn frame); after the header
  // when no frame can be laid out; the whole log when shorter than a header.
  uint64_t tail_offset = 0;
  byte_view tail;
};

// Continues the checksum (*s0, *s1) over data, whose size must be a multiple
// of 8: s0 += x + s1; s1 += y + s0 for each pair of 32-bit words (x, y), read
// big- or little-endian.
void wal_checksum(byte_view data, bool big_endian, uint32_t* s0, uint32_t* s1);

// The largest page number the committed state may use over this database
// and log: the overlay costs sizeof(page_ref) per page, and the limit keeps it
// no larger than the two files together (at least 2^20 pages). A genuine log
// stays far below it; a made-up one cannot make the reader allocate without
// bound.
uint32_t wal_page_limit(byte_view db, byte_view wal);

// Reads the log beside the database that `store` reads (before any log is
// applied: its page size and file bound the committed state). With as_of
// (0 .. the number of commits), the committed state is the database as it
// stood after that commit, and the frames after it are marked future; a
// larger as_of is taken as the last commit (the caller checks it).
wal_log read_wal(byte_view wal, const page_store& store, int64_t as_of = -1);

// Lays the committed state over the store: for every page a used frame
// holds, overlay[page - 1] is that frame's image (origin wal, file_offset the
// image's offset in the log); page_count becomes the committed size. False,
// and the store unchanged, when the log has no committed state or cannot be
// applied to this database (page sizes differ, or the database has none).
bool apply_wal(const wal_log& log, page_store* store);
