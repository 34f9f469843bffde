#pragma once
// A hash table of (not owned) objects found by their id: open addressing with
// linear probing over one array of 8-byte slots. A slot holds only the
// object's address; the id is read from the object itself through `KeyOf`,
// so the table costs a third of what an array of (id, pointer) pairs costs.
// It indexes every mirrored object and every keeper (100k and more), where
// that difference is megabytes.
//
// Addresses of user-space objects on x86-64 and arm64 Linux leave the top 16
// bits zero: a slot keeps 16 bits of the id's hash there (the tag). A lookup
// compares tags first and reads an object's id only when they match, so a
// miss rarely touches an object and a hit reads the object it returns anyway.
// Storing an address that uses the top bits fails a check.
//
// Stored objects are 8-byte aligned, which leaves the low 3 bits of an
// address zero too: there a slot keeps its distance from the entry's home
// slot (7 meaning 7 or more). Erasing moves the following entries of the run
// back by their distances, so it reads an id only for an entry 7 or more
// slots from home, and the entries around an erased one stay untouched.
//
// Every stored object must stay readable through `KeyOf` while it is in the
// table, and its id must not change then: lookups, insertions, erasures and
// growth read the ids of other entries to compare them or to find their home
// slots. Erasing shifts the following entries of a run back, so there are no
// tombstones and lookups stay short however many objects come and go. At
// most three quarters of the slots are used; the table doubles beyond that.
//
// Iteration yields the stored pointers in slot order (no particular id
// order); any change to the table invalidates iterators.
//
//   KeyOf:  stateless; KeyOf{}(const T&) gives the object's id (by value or
//           by reference).
//   HashOf: stateless; HashOf{}(const id_t&) gives a well-mixed 64-bit hash:
//           its top bits choose the home slot, bits 16 to 31 are the tag.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <utility>
#include <vector>

#include "error/check.h"
#include "tql/id.h"

namespace tql {

// The id's own hash spread by Fibonacci hashing: every bit of the product's
// top and middle bits depends on the id.
struct IdHash {
  std::uint64_t operator()(const id_t& id) const noexcept {
    return static_cast<std::uint64_t>(id.hash()) * 0x9E3779B97F4A7C15ull;
  }
};

// The tag lives in the top 16 bits of a 64-bit address.
static_assert(sizeof(void*) == 8 && sizeof(std::uintptr_t) == 8);

template <class T, class KeyOf, class HashOf = IdHash>
class IdTable {
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
    T* operator*() const { return pointerOf(*slot_); }
    iterator& operator++() {
      ++slot_;
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
    iterator(const std::uint64_t* slot, const std::uint64_t* end) : slot_(slot), end_(end) {
      skipFree();
    }
    void skipFree() {
      while (slot_ != end_ && *slot_ == 0) ++slot_;
    }
    const std::uint64_t* slot_ = nullptr;
    const std::uint64_t* end_ = nullptr;
  };
  using const_iterator = iterator;

  [[nodiscard]] std::size_t size() const { return size_; }
  [[nodiscard]] bool empty() const { return size_ == 0; }
  [[nodiscard]] iterator begin() const { return {slots_.data(), slots_.data() + slots_.size()}; }
  [[nodiscard]] iterator end() const {
    return {slots_.data() + slots_.size(), slots_.data() + slots_.size()};
  }

  // The object stored under `id`, or null.
  [[nodiscard]] T* find(const id_t& id) const {
    const std::size_t i = slotOf(id);
    return i == kNone ? nullptr : pointerOf(slots_[i]);
  }
  [[nodiscard]] bool contains(const id_t& id) const { return find(id) != nullptr; }

  // Stores `value` under its id, replacing the object stored there before.
  void insert_or_assign(T* value) {
    const auto address = reinterpret_cast<std::uintptr_t>(value);
    HX_CHECK(value != nullptr, "IdTable cannot store a null pointer");
    HX_CHECK((address & kTagBits) == 0, "IdTable cannot store an address with its top 16 bits set");
    HX_CHECK((address & kDistanceBits) == 0,
             "IdTable cannot store an address that is not 8-byte aligned");
    if ((size_ + 1) * 4 > slots_.size() * 3) grow();
    const auto& id = KeyOf{}(*value);
    const std::uint64_t hash = HashOf{}(id);
    const std::uint64_t tag = tagOf(hash);
    for (std::size_t i = homeOf(hash), distance = 0;; i = next(i), ++distance) {
      std::uint64_t& slot = slots_[i];
      if (slot == 0) {
        ++size_;
      } else if ((slot & kTagBits) != tag || !(KeyOf{}(*pointerOf(slot)) == id)) {
        continue;
      }
      slot = withDistance(tag | address, distance);
      return;
    }
  }

  // Removes the object stored under `id`, if any; true when there was one.
  bool erase(const id_t& id) {
    const std::size_t i = slotOf(id);
    if (i == kNone) return false;
    eraseAt(i);
    return true;
  }

  // Removes `value` when it is the object stored under `id`; true when it
  // was. Finds the slot by address: `value` itself is not read, so it may be
  // partly destroyed (its id must still be `id`'s for the others' sake).
  bool eraseIf(const id_t& id, const T* value) {
    if (size_ == 0 || value == nullptr) return false;
    const std::uint64_t hash = HashOf{}(id);
    const std::uint64_t wanted = tagOf(hash) | reinterpret_cast<std::uintptr_t>(value);
    for (std::size_t i = homeOf(hash);; i = next(i)) {
      const std::uint64_t slot = slots_[i];
      if (slot == 0) return false;
      if ((slot & ~kDistanceBits) == wanted) {
        eraseAt(i);
        return true;
      }
    }
  }

  // Makes room for `n` objects without growing again; never shrinks.
  void reserve(std::size_t n) {
    std::size_t capacity = slots_.empty() ? kMinSlots : slots_.size();
    while (n * 4 > capacity * 3) capacity *= 2;
    if (capacity != slots_.size()) rehash(capacity);
  }

  // Empties the table and gives its storage back.
  void clear() {
    slots_ = {};
    mask_ = 0;
    shift_ = 64;
    size_ = 0;
  }

 private:
  static constexpr std::size_t kMinSlots = 16;
  static constexpr std::size_t kNone = SIZE_MAX;
  static constexpr std::uint64_t kTagBits = 0xFFFFull << 48;
  static constexpr std::uint64_t kDistanceBits = 7;
  static constexpr std::uint64_t kFar = 7;

  static T* pointerOf(std::uint64_t slot) {
    return reinterpret_cast<T*>(static_cast<std::uintptr_t>(slot & ~(kTagBits | kDistanceBits)));
  }
  static std::uint64_t withDistance(std::uint64_t slot, std::size_t distance) {
    return (slot & ~kDistanceBits) | std::min<std::uint64_t>(distance, kFar);
  }
  static std::uint64_t tagOf(std::uint64_t hash) { return ((hash >> 16) & 0xFFFF) << 48; }
  std::size_t homeOf(std::uint64_t hash) const { return static_cast<std::size_t>(hash >> shift_); }
  // The home slot of a stored entry: reads the object's id.
  std::size_t homeOfSlot(std::uint64_t slot) const {
    return homeOf(HashOf{}(KeyOf{}(*pointerOf(slot))));
  }
  // How far the entry in slot `i` is from its home; reads the object's id
  // only when the slot keeps no exact distance.
  std::size_t distanceOf(std::uint64_t slot, std::size_t i) const {
    const std::uint64_t kept = slot & kDistanceBits;
    if (kept < kFar) return static_cast<std::size_t>(kept);
    return (i - homeOfSlot(slot)) & mask_;
  }
  std::size_t next(std::size_t i) const { return (i + 1) & mask_; }

  // The slot holding the object stored under `id`, or kNone. Reads the ids
  // of entries whose tag matches only.
  std::size_t slotOf(const id_t& id) const {
    if (size_ == 0) return kNone;
    const std::uint64_t hash = HashOf{}(id);
    const std::uint64_t tag = tagOf(hash);
    for (std::size_t i = homeOf(hash);; i = next(i)) {
      const std::uint64_t slot = slots_[i];
      if (slot == 0) return kNone;
      if ((slot & kTagBits) == tag && KeyOf{}(*pointerOf(slot)) == id) return i;
    }
  }

  void grow() { rehash(slots_.empty() ? kMinSlots : slots_.size() * 2); }

  // Moves every entry to a table of `capacity` slots. The ids are distinct,
  // so each entry goes to the first free slot from its home, tag unchanged.
  void rehash(std::size_t capacity) {
    std::vector<std::uint64_t> old = std::exchange(slots_, std::vector<std::uint64_t>(capacity));
    mask_ = capacity - 1;
    shift_ = 64 - std::countr_zero(capacity);
    for (const std::uint64_t slot : old) {
      if (slot == 0) continue;
      std::size_t i = homeOfSlot(slot);
      std::size_t distance = 0;
      for (; slots_[i] != 0; i = next(i)) ++distance;
      slots_[i] = withDistance(slot, distance);
    }
  }

  // Backward shift: every later entry of the run whose home is not
  // cyclically within (hole, its slot] moves into the hole, so that it stays
  // reachable from its home without a tombstone.
  void eraseAt(std::size_t hole) {
    for (std::size_t i = next(hole); slots_[i] != 0; i = next(i)) {
      const std::size_t distance = distanceOf(slots_[i], i);
      const std::size_t gap = (i - hole) & mask_;
      if (distance >= gap) {
        slots_[hole] = withDistance(slots_[i], distance - gap);
        hole = i;
      }
    }
    slots_[hole] = 0;
    --size_;
  }

  std::vector<std::uint64_t> slots_;
  std::size_t mask_ = 0;
  int shift_ = 64;
  std::size_t size_ = 0;
};

}  // namespace tql
