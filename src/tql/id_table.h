#pragma once
// A hash table of (not owned) objects found by their id: open addressing over
// buckets of eight 8-byte slots, one bucket to a 64-byte cache line. A slot
// holds only the object's address; the id is read from the object itself
// through `KeyOf`, so the table costs a third of what an array of
// (id, pointer) pairs costs. It indexes every mirrored object and every
// keeper (100k and more), where that difference is megabytes.
//
// An id's hash chooses its home bucket; the id goes into the first bucket
// from there (wrapping at the end) that has a free slot. The production hash
// gives ids that differ only in the low bits of their last component the
// same home, so that neighbouring ids, which tend to be looked up one after
// another, share a cache line.
//
// Addresses of user-space objects on x86-64 and arm64 Linux leave the top 16
// bits zero: a slot keeps 16 bits of the id's hash there (the tag). A lookup
// compares tags first and reads an object's id only when they match, so a
// miss rarely touches an object and a hit reads the object it returns anyway.
// Storing an address that uses the top bits fails a check.
//
// Stored objects are 8-byte aligned, which leaves the low 3 bits of an
// address zero too: the eight slots of a bucket keep there, 3 bits each, the
// bucket's overflow count, the number of stored ids whose home lies before
// the bucket (in probing order) and that sit after it. A lookup stops at the
// first bucket whose overflow count is zero, so a miss reads one line almost
// always. Erasing empties the slot and lowers the counts on the way from the
// id's home: it moves no entry and reads no other id, and there are no
// tombstones, so lookups stay short however many objects come and go. At
// most three quarters of the slots are used; the table doubles beyond that.
//
// Every stored object must stay readable through `KeyOf` while it is in the
// table, and its id must not change then: lookups and insertions read the
// ids of entries whose tag matches, growth reads every id to place it anew.
//
// Iteration yields the stored pointers in slot order (no particular id
// order); any change to the table invalidates iterators.
//
//   KeyOf:  stateless; KeyOf{}(const T&) gives the object's id (by value or
//           by reference).
//   HashOf: stateless; HashOf{}(const id_t&) gives a 64-bit hash: its top
//           bits choose the home bucket, bits 16 to 31 are the tag; the tags
//           of ids with the same home should differ.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <utility>
#include <vector>

#include "error/check.h"
#include "tql/id.h"

namespace tql {

// Fibonacci hashing of the id's components. The home bucket comes from the
// id with the low three bits of its last component cleared, so that the eight
// neighbours 8k .. 8k+7 share a home; the tag comes from the whole id.
struct IdHash {
  static constexpr std::uint32_t kNeighbours = 8;

  std::uint64_t operator()(const id_t& id) const noexcept {
    constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ull;
    constexpr std::uint64_t kTagField = 0xFFFF0000ull;
    const auto finish = [](std::uint64_t h) { return (h ^ (h >> 29)) * kGolden; };
    const std::size_t n = id.size();
    if (n == 0) return finish(0);
    std::uint64_t h = n;
    for (std::size_t i = 0; i + 1 < n; ++i) h = (h ^ id.begin()[i]) * kGolden;
    const std::uint32_t last = id.begin()[n - 1];
    const std::uint64_t home = finish((h ^ (last & ~(kNeighbours - 1))) * kGolden);
    const std::uint64_t own = finish((h ^ last) * kGolden);
    return (home & ~kTagField) | (own & kTagField);
  }
};

// The tag lives in the top 16 bits of a 64-bit address.
static_assert(sizeof(void*) == 8 && sizeof(std::uintptr_t) == 8);

template <class T, class KeyOf, class HashOf = IdHash>
class IdTable {
  static constexpr std::size_t kWidth = 8;  // slots in a bucket
  struct alignas(64) Bucket {
    std::uint64_t slots[kWidth] = {};
  };
  static_assert(sizeof(Bucket) == 64);

 public:
  using value_type = T*;

  class iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = T*;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = T*;

    iterator() = default;
    T* operator*() const { return pointerOf(bucket_->slots[slot_]); }
    iterator& operator++() {
      advance();
      skipFree();
      return *this;
    }
    iterator operator++(int) {
      iterator before = *this;
      ++*this;
      return before;
    }
    friend bool operator==(const iterator&, const iterator&) = default;

   private:
    friend class IdTable;
    iterator(const Bucket* bucket, const Bucket* end) : bucket_(bucket), end_(end) { skipFree(); }
    void advance() {
      if (++slot_ == kWidth) {
        slot_ = 0;
        ++bucket_;
      }
    }
    void skipFree() {
      while (bucket_ != end_ && pointerOf(bucket_->slots[slot_]) == nullptr) advance();
    }
    const Bucket* bucket_ = nullptr;
    const Bucket* end_ = nullptr;
    std::size_t slot_ = 0;
  };
  using const_iterator = iterator;

  [[nodiscard]] std::size_t size() const { return size_; }
  [[nodiscard]] bool empty() const { return size_ == 0; }
  [[nodiscard]] iterator begin() const {
    return {buckets_.data(), buckets_.data() + buckets_.size()};
  }
  [[nodiscard]] iterator end() const {
    return {buckets_.data() + buckets_.size(), buckets_.data() + buckets_.size()};
  }

  // The object stored under `id`, or null.
  [[nodiscard]] T* find(const id_t& id) const {
    const Place p = placeOf(id);
    return p.found() ? pointerOf(buckets_[p.bucket].slots[p.slot]) : nullptr;
  }
  [[nodiscard]] bool contains(const id_t& id) const { return find(id) != nullptr; }

  // Stores `value` under its id, replacing the object stored there before.
  void insert_or_assign(T* value) {
    const auto address = reinterpret_cast<std::uintptr_t>(value);
    HX_CHECK(value != nullptr, "IdTable cannot store a null pointer");
    HX_CHECK((address & kTagBits) == 0, "IdTable cannot store an address with its top 16 bits set");
    HX_CHECK((address & kCountBits) == 0,
             "IdTable cannot store an address that is not 8-byte aligned");
    if ((size_ + 1) * 4 > capacity() * 3) grow();
    const auto& id = KeyOf{}(*value);
    const std::uint64_t hash = HashOf{}(id);
    const std::uint64_t entry = tagOf(hash) | address;
    if (const Place p = placeOf(id, hash); p.found()) {
      std::uint64_t& slot = buckets_[p.bucket].slots[p.slot];
      slot = (slot & kCountBits) | entry;
      return;
    }
    place(homeOf(hash), entry);
    ++size_;
  }

  // Removes the object stored under `id`, if any; true when there was one.
  bool erase(const id_t& id) {
    const std::uint64_t hash = HashOf{}(id);
    const Place p = placeOf(id, hash);
    if (!p.found()) return false;
    eraseAt(homeOf(hash), p);
    return true;
  }

  // Removes `value` when it is the object stored under `id`; true when it
  // was. Finds the slot by address: `value` itself is not read, so it may be
  // partly destroyed (its id must still be `id`'s for the others' sake).
  bool eraseIf(const id_t& id, const T* value) {
    if (size_ == 0 || value == nullptr) return false;
    const std::uint64_t hash = HashOf{}(id);
    const std::uint64_t wanted = tagOf(hash) | reinterpret_cast<std::uintptr_t>(value);
    const std::size_t home = homeOf(hash);
    for (std::size_t b = home, n = 0; n < buckets_.size(); b = next(b), ++n) {
      const Bucket& bucket = buckets_[b];
      for (std::size_t s = 0; s < kWidth; ++s) {
        if ((bucket.slots[s] & ~kCountBits) == wanted) {
          eraseAt(home, {b, s});
          return true;
        }
      }
      if (!overflows(bucket)) return false;
    }
    return false;
  }

  // Makes room for `n` objects without growing again; never shrinks.
  void reserve(std::size_t n) {
    std::size_t buckets = buckets_.empty() ? kMinBuckets : buckets_.size();
    while (n * 4 > buckets * kWidth * 3) buckets *= 2;
    if (buckets != buckets_.size()) rehash(buckets);
  }

  // Empties the table and gives its storage back.
  void clear() {
    buckets_ = {};
    shift_ = 64;
    size_ = 0;
  }

 private:
  static constexpr std::size_t kMinBuckets = 2;
  static constexpr std::size_t kNoSlot = SIZE_MAX;
  static constexpr std::uint64_t kTagBits = 0xFFFFull << 48;
  static constexpr std::uint64_t kCountBits = 7;
  static constexpr std::uint64_t kAddressBits = ~(kTagBits | kCountBits);
  // The overflow count is 3 bits of each of the eight slots. It sticks at
  // its largest value, which only growth then corrects: a lookup goes on
  // past such a bucket, which is slower but never wrong.
  static constexpr std::uint32_t kStuck = (1u << (3 * kWidth)) - 1;

  // Where an id sits: bucket and slot, or slot == kNoSlot.
  struct Place {
    std::size_t bucket;
    std::size_t slot;
    [[nodiscard]] bool found() const { return slot != kNoSlot; }
  };

  static T* pointerOf(std::uint64_t slot) {
    return reinterpret_cast<T*>(static_cast<std::uintptr_t>(slot & kAddressBits));
  }
  static bool isFree(std::uint64_t slot) { return (slot & kAddressBits) == 0; }
  static std::uint64_t tagOf(std::uint64_t hash) { return ((hash >> 16) & 0xFFFF) << 48; }

  static std::uint32_t overflowOf(const Bucket& bucket) {
    std::uint32_t count = 0;
    for (std::size_t s = 0; s < kWidth; ++s) {
      count |= static_cast<std::uint32_t>(bucket.slots[s] & kCountBits) << (3 * s);
    }
    return count;
  }
  // overflowOf(bucket) != 0, without assembling the count.
  static bool overflows(const Bucket& bucket) {
    std::uint64_t bits = 0;
    for (const std::uint64_t slot : bucket.slots) bits |= slot;
    return (bits & kCountBits) != 0;
  }
  static void setOverflow(Bucket& bucket, std::uint32_t count) {
    for (std::size_t s = 0; s < kWidth; ++s) {
      bucket.slots[s] = (bucket.slots[s] & ~kCountBits) | ((count >> (3 * s)) & kCountBits);
    }
  }
  static void raiseOverflow(Bucket& bucket) {
    const std::uint32_t count = overflowOf(bucket);
    if (count != kStuck) setOverflow(bucket, count + 1);
  }
  static void lowerOverflow(Bucket& bucket) {
    const std::uint32_t count = overflowOf(bucket);
    HX_CHECK(count != 0, "IdTable overflow count below zero");
    if (count != kStuck) setOverflow(bucket, count - 1);
  }

  std::size_t capacity() const { return buckets_.size() * kWidth; }
  std::size_t homeOf(std::uint64_t hash) const { return static_cast<std::size_t>(hash >> shift_); }
  std::size_t next(std::size_t b) const { return (b + 1) & (buckets_.size() - 1); }

  Place placeOf(const id_t& id) const {
    if (size_ == 0) return {0, kNoSlot};
    return placeOf(id, HashOf{}(id));
  }
  // The slot of `id` (whose hash is `hash`), reading the ids of entries
  // whose tag matches only; stops at the first bucket without overflow.
  Place placeOf(const id_t& id, std::uint64_t hash) const {
    if (size_ == 0) return {0, kNoSlot};
    const std::uint64_t tag = tagOf(hash);
    for (std::size_t b = homeOf(hash), n = 0; n < buckets_.size(); b = next(b), ++n) {
      const Bucket& bucket = buckets_[b];
      for (std::size_t s = 0; s < kWidth; ++s) {
        const std::uint64_t slot = bucket.slots[s];
        if ((slot & kTagBits) == tag && !isFree(slot) && KeyOf{}(*pointerOf(slot)) == id) {
          return {b, s};
        }
      }
      if (!overflows(bucket)) break;
    }
    return {0, kNoSlot};
  }

  // Puts `entry` (tag and address) into the first free slot from bucket
  // `home` on, counting it in the overflow of every full bucket it passes.
  // There is a free slot: the table is at most three quarters full.
  void place(std::size_t home, std::uint64_t entry) {
    for (std::size_t b = home;; b = next(b)) {
      Bucket& bucket = buckets_[b];
      for (std::uint64_t& slot : bucket.slots) {
        if (isFree(slot)) {
          slot |= entry;
          return;
        }
      }
      raiseOverflow(bucket);
    }
  }

  // Empties the slot at `p` and takes its entry out of the overflow counts
  // of the buckets between its home and its own.
  void eraseAt(std::size_t home, Place p) {
    std::uint64_t& slot = buckets_[p.bucket].slots[p.slot];
    slot &= kCountBits;
    for (std::size_t b = home; b != p.bucket; b = next(b)) lowerOverflow(buckets_[b]);
    --size_;
  }

  void grow() { rehash(buckets_.empty() ? kMinBuckets : buckets_.size() * 2); }

  // Moves every entry to a table of `buckets` buckets, reading each id once
  // for its new home. Overflow counts start anew (exact again).
  void rehash(std::size_t buckets) {
    std::vector<Bucket> old = std::exchange(buckets_, std::vector<Bucket>(buckets));
    shift_ = 64 - std::countr_zero(buckets);
    for (const Bucket& bucket : old) {
      for (const std::uint64_t slot : bucket.slots) {
        if (isFree(slot)) continue;
        place(homeOf(HashOf{}(KeyOf{}(*pointerOf(slot)))), slot & ~kCountBits);
      }
    }
  }

  std::vector<Bucket> buckets_;
  int shift_ = 64;
  std::size_t size_ = 0;
};

}  // namespace tql
