#include "graph/name_index.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

#include "hash.hpp"

namespace torvex {

namespace {
constexpr std::uint32_t kLengthBits = 0xFF;
constexpr std::size_t kHugePage = std::size_t{2} << 20;
}  // namespace

void NameIndex::Free::operator()(Entry* p) const noexcept {
  std::free(p);
}

NameIndex::Key NameIndex::key(std::string_view name) const noexcept {
  Key k;
  k.hash = hash_bytes(name, seed_);
  k.prefix = 0;
  std::memcpy(&k.prefix, name.data(), std::min<std::size_t>(8, name.size()));
  // The low hash bits: the position takes the high ones.
  k.check = (static_cast<std::uint32_t>(k.hash) & ~kLengthBits) |
            static_cast<std::uint32_t>(std::min<std::size_t>(name.size(), kLengthBits));
  return k;
}

std::optional<NodeIndex> NameIndex::find(std::string_view name) const noexcept {
  if (size_ == 0)
    return std::nullopt;
  const Key k = key(name);
  const bool whole = name.size() <= 8;  // prefix and length decide
  for (std::size_t i = home(k.hash);; i = (i + 1) & mask_) {
    const Entry& e = table_[i];
    if (e.slot == kEnd)
      return std::nullopt;
    if (e.check == k.check && e.prefix == k.prefix && (whole || graph_.name(e.slot) == name)) {
      return e.slot;
    }
  }
}

void NameIndex::place(const Entry& entry, std::uint64_t hash) noexcept {
  std::size_t i = home(hash);
  while (table_[i].slot != kEnd)
    i = (i + 1) & mask_;
  table_[i] = entry;
}

void NameIndex::reserve(std::size_t names) {
  // At most half full: short probe runs keep a lookup within one or two cache lines.
  if (names <= capacity_ / 2)
    return;
  std::size_t capacity = 16;
  while (capacity / 2 < names)
    capacity *= 2;
  // Lookups land anywhere in the table: large ones ask for huge pages, so that each costs a
  // cache miss and not a page-table walk as well.
  const std::size_t bytes = capacity * sizeof(Entry);
  void* memory = bytes >= kHugePage ? std::aligned_alloc(kHugePage, bytes) : std::malloc(bytes);
  if (!memory)
    throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  if (bytes >= kHugePage)
    (void)madvise(memory, bytes, MADV_HUGEPAGE);
#endif
  std::unique_ptr<Entry[], Free> old = std::move(table_);
  const std::size_t old_capacity = capacity_;
  table_.reset(static_cast<Entry*>(memory));
  std::fill_n(table_.get(), capacity, Entry{0, kEnd, 0});
  capacity_ = capacity;
  mask_ = capacity - 1;
  shift_ = 64 - std::countr_zero(capacity);
  for (std::size_t i = 0; i < old_capacity; ++i) {
    if (old[i].slot != kEnd)
      place(old[i], hash_bytes(graph_.name(old[i].slot), seed_));
  }
}

void NameIndex::insert(NodeIndex n) noexcept {
  const Key k = key(graph_.name(n));
  place(Entry{k.prefix, n, k.check}, k.hash);
  ++size_;
}

void NameIndex::erase(NodeIndex n) noexcept {
  std::size_t i = home(key(graph_.name(n)).hash);
  while (table_[i].slot != n)
    i = (i + 1) & mask_;
  // Backward shift: later entries of the run move up wherever their home allows, so lookups
  // never need markers for removed entries.
  for (std::size_t j = (i + 1) & mask_; table_[j].slot != kEnd; j = (j + 1) & mask_) {
    const std::size_t h = home(hash_bytes(graph_.name(table_[j].slot), seed_));
    // Entry j may fill the hole at i unless its home lies cyclically in (i, j].
    const bool stays = i <= j ? (i < h && h <= j) : (i < h || h <= j);
    if (stays)
      continue;
    table_[i] = table_[j];
    i = j;
  }
  table_[i].slot = kEnd;
  --size_;
}

}  // namespace torvex
