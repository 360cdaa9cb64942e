// A set of 64-bit hashes in one array with linear probing: about 16 bytes
// an entry where a node-based set takes three times that.
#pragma once
#include <cstdint>
#include <vector>

class flat_set {
 public:
  // Adds key; false when it was there already.
  bool insert(uint64_t key) {
    if (2 * (count_ + 1) > slots_.size()) grow();
    return place(key == 0 ? 1 : key);
  }
  bool contains(uint64_t key) const {
    if (slots_.empty()) return false;
    if (key == 0) key = 1;
    const size_t mask = slots_.size() - 1;
    for (size_t i = slot_of(key, mask); slots_[i] != 0; i = (i + 1) & mask)
      if (slots_[i] == key) return true;
    return false;
  }

 private:
  static size_t slot_of(uint64_t key, size_t mask) { return static_cast<size_t>(key ^ (key >> 29)) & mask; }
  bool place(uint64_t key) {
    const size_t mask = slots_.size() - 1;
    size_t i = slot_of(key, mask);
    for (; slots_[i] != 0; i = (i + 1) & mask)
      if (slots_[i] == key) return false;
    slots_[i] = key;
    ++count_;
    return true;
  }
  void grow() {
    std::vector<uint64_t> old = std::move(slots_);
    slots_.assign(old.empty() ? 1024 : old.size() * 2, 0);
    count_ = 0;
    for (const uint64_t k : old)
      if (k != 0) place(k);
  }
  std::vector<uint64_t> slots_;  // 0: empty (a key of 0 is stored as 1)
  size_t count_ = 0;
};
