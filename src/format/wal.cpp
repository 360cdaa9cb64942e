#include "format/wal.h"

#include <algorithm>

namespace {

inline uint32_t word_at(const uint8_t* p, bool big_endian) {
  if (big_endian) return load_be32(p);
  return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | uint32_t{p[0]};
}

wal_header read_header_fields(byte_view wal) {
  wal_header h{};
  h.magic = be32_or_zero(wal, 0);
  h.version = be32_or_zero(wal, 4);
  h.page_size = be32_or_zero(wal, 8);
  h.checkpoint_sequence = be32_or_zero(wal, 12);
  h.salt1 = be32_or_zero(wal, 16);
  h.salt2 = be32_or_zero(wal, 20);
  h.checksum1 = be32_or_zero(wal, 24);
  h.checksum2 = be32_or_zero(wal, 28);
  h.big_endian_checksums = h.magic == wal_magic_be;
  return h;
}

// Checks the header; returns whether its frames can be valid at all, and
// sets the page size the frames are laid out with.
bool check_header(wal_log* log, const page_store& store) {
  const wal_header& h = log->header;
  bool ok = true;
  if (h.magic != wal_magic_le && h.magic != wal_magic_be) {
    log->conditions |= wal_bad_magic;
    ok = false;
  }
  if (h.version != wal_format_version) {
    log->conditions |= wal_bad_version;
    ok = false;
  }
  if (store.page_size == 0) log->conditions |= wal_no_database_page_size;
  if (page_size_valid(h.page_size)) {
    log->frame_page_size = h.page_size;
    if (store.page_size != 0 && h.page_size != store.page_size)
      log->conditions |= wal_page_size_differs;
  } else {
    log->conditions |= wal_bad_page_size;
    log->frame_page_size = store.page_size;
    ok = false;
  }
  uint32_t s0 = 0, s1 = 0;
  wal_checksum(log->file.first(24), h.big_endian_checksums, &s0, &s1);
  if (ok && (s0 != h.checksum1 || s1 != h.checksum2)) {
    log->conditions |= wal_bad_header_checksum;
    ok = false;
  }
  return ok;
}

wal_frame frame_at(byte_view wal, uint64_t offset, uint32_t page_size, uint32_t index) {
  wal_frame f{};
  f.index = index;
  f.offset = offset;
  f.page = be32_or_zero(wal, offset);
  f.commit_size = be32_or_zero(wal, offset + 4);
  f.salt1 = be32_or_zero(wal, offset + 8);
  f.salt2 = be32_or_zero(wal, offset + 12);
  f.checksum1 = be32_or_zero(wal, offset + 16);
  f.checksum2 = be32_or_zero(wal, offset + 20);
  f.image = wal.subspan(offset + wal_frame_header_size, page_size);
  return f;
}

// Judges one frame against the header and the chain (s0, s1), which it
// continues when the frame is valid.
wal_frame_fault judge_frame(const wal_log& log, const wal_frame& f, uint32_t* s0, uint32_t* s1) {
  if (f.salt1 != log.header.salt1 || f.salt2 != log.header.salt2) return wal_frame_fault::salt;
  if (f.page == 0) return wal_frame_fault::zero_page;
  uint32_t t0 = *s0, t1 = *s1;
  const bool big = log.header.big_endian_checksums;
  wal_checksum(log.file.subspan(f.offset, 8), big, &t0, &t1);
  wal_checksum(f.image, big, &t0, &t1);
  if (t0 != f.checksum1 || t1 != f.checksum2) return wal_frame_fault::checksum;
  *s0 = t0;
  *s1 = t1;
  return wal_frame_fault::none;
}

void read_frames(wal_log* log, bool header_ok, uint32_t limit) {
  const byte_view wal = log->file;
  const uint64_t frame_size = uint64_t{wal_frame_header_size} + log->frame_page_size;
  const uint64_t count = (wal.size() - wal_header_size) / frame_size;
  log->frames.reserve(count);
  uint32_t s0 = log->header.checksum1, s1 = log->header.checksum2;
  bool broken = !header_ok;
  for (uint64_t i = 0; i < count; ++i) {
    wal_frame f = frame_at(wal, wal_header_size + i * frame_size, log->frame_page_size,
                           static_cast<uint32_t>(i + 1));
    f.page_known = f.page >= 1 && f.page <= limit;
    if (!header_ok) {
      f.fault = wal_frame_fault::bad_header;
    } else if (broken) {
      f.fault = wal_frame_fault::after_break;
    } else {
      f.fault = judge_frame(*log, f, &s0, &s1);
      if (f.fault != wal_frame_fault::none) {
        broken = true;
        log->conditions |= wal_chain_broken;
      }
    }
    f.valid = f.fault == wal_frame_fault::none;
    if (f.valid) {
      log->valid_frames = f.index;
      if (f.commit_size != 0) {
        log->committed_frames = f.index;
        log->committed_pages = f.commit_size;
      }
    }
    log->frames.push_back(f);
  }
  log->tail_offset = wal_header_size + count * frame_size;
  log->tail = wal.subspan(log->tail_offset);
  if (!log->tail.empty()) log->conditions |= wal_truncated_frame;
  if (log->valid_frames > log->committed_frames) log->conditions |= wal_uncommitted;
}

// Numbers the commits of the valid frames.
void number_commits(wal_log* log) {
  uint32_t first = 0;
  for (uint32_t i = 0; i < log->valid_frames; ++i) {
    if (log->frames[i].commit_size == 0) continue;
    log->commit_frames.push_back(i + 1);
    for (uint32_t j = first; j <= i; ++j) log->frames[j].commit = static_cast<uint32_t>(log->commit_frames.size());
    first = i + 1;
  }
}

// Cuts the committed state back to commit `as_of`: the frames after it are
// the future of that state.
void cut_at_commit(wal_log* log, uint32_t as_of) {
  const uint32_t last = as_of == 0 ? 0 : log->commit_frames[as_of - 1];
  log->committed_frames = last;
  log->committed_pages = last == 0 ? 0 : log->frames[last - 1].commit_size;
  for (uint32_t i = last; i < log->frames.size(); ++i) log->frames[i].future = true;
}

// Marks the committed frames, and among them the one the committed state
// reads for each page: the newest, within the committed size and the limit.
void mark_used(wal_log* log, uint32_t limit, bool applicable) {
  if (log->committed_pages > limit) {
    log->conditions |= wal_page_out_of_range;
    log->committed_pages = limit;
  }
  std::vector<uint32_t> order;
  order.reserve(log->committed_frames);
  for (uint32_t i = 0; i < log->committed_frames; ++i) {
    wal_frame& f = log->frames[i];
    f.committed = true;
    if (f.page > limit) log->conditions |= wal_page_out_of_range;
    if (f.page_known && f.page <= log->committed_pages) order.push_back(i);
  }
  if (!applicable) return;
  std::stable_sort(order.begin(), order.end(), [log](uint32_t a, uint32_t b) {
    return log->frames[a].page < log->frames[b].page;
  });
  for (size_t k = 0; k < order.size(); ++k)
    if (k + 1 == order.size() || log->frames[order[k + 1]].page != log->frames[order[k]].page)
      log->frames[order[k]].used = true;
}

}  // namespace

void wal_checksum(byte_view data, bool big_endian, uint32_t* s0, uint32_t* s1) {
  uint32_t a = *s0, b = *s1;
  const uint8_t* p = data.data();
  const uint8_t* end = p + (data.size() & ~size_t{7});
  for (; p != end; p += 8) {
    a += word_at(p, big_endian) + b;
    b += word_at(p + 4, big_endian) + a;
  }
  *s0 = a;
  *s1 = b;
}

uint32_t wal_page_limit(byte_view db, byte_view wal) {
  const uint64_t pages = (uint64_t{db.size()} + wal.size()) / sizeof(page_ref);
  return static_cast<uint32_t>(std::clamp<uint64_t>(pages, uint64_t{1} << 20, UINT32_MAX));
}

wal_log read_wal(byte_view wal, const page_store& store, int64_t as_of) {
  wal_log log;
  log.file = wal;
  if (wal.size() < wal_header_size) {
    log.conditions |= wal_empty;
    log.tail = wal;
    return log;
  }
  log.header = read_header_fields(wal);
  const bool header_ok = check_header(&log, store);
  if (log.frame_page_size == 0) {
    log.tail_offset = wal_header_size;
    log.tail = wal.subspan(wal_header_size);
    return log;
  }
  log.page_limit = wal_page_limit(store.db, wal);
  read_frames(&log, header_ok, log.page_limit);
  number_commits(&log);
  if (as_of >= 0 && static_cast<uint64_t>(as_of) < log.commit_frames.size())
    cut_at_commit(&log, static_cast<uint32_t>(as_of));
  const bool applicable = store.page_size != 0 && log.frame_page_size == store.page_size;
  mark_used(&log, log.page_limit, applicable);
  return log;
}

bool apply_wal(const wal_log& log, page_store* store) {
  if (log.committed_frames == 0 || store->page_size == 0 ||
      log.frame_page_size != store->page_size)
    return false;
  uint32_t last_page = 0;
  for (uint32_t i = 0; i < log.committed_frames; ++i)
    if (log.frames[i].used) last_page = std::max(last_page, log.frames[i].page);
  store->overlay.assign(last_page, page_ref{{}, page_origin::db, 0});
  for (uint32_t i = 0; i < log.committed_frames; ++i) {
    const wal_frame& f = log.frames[i];
    if (f.used && f.page_known)
      store->overlay[f.page - 1] = {f.image, page_origin::wal, f.offset + wal_frame_header_size};
  }
  store->page_count = log.committed_pages;
  return true;
}
