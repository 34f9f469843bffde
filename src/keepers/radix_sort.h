#pragma once
// Sorting by a key of two 64-bit words (high word first), by bytes from the
// least significant up: each pass is stable, so after the last one the order
// is that of the whole key. Bytes that every item shares take no pass, which
// is most of them for object ids (few classes, numbers far below 2^32); a
// full select's hundred thousand ids sort in four passes over memory
// instead of the n log n comparisons of std::sort. Small ranges, such as
// the few ids of a usual turn, are sorted by comparison.
//
// Needs room for a second copy of the items while it runs. Items of equal
// keys come out in no particular order.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tql/id.h"

namespace keepers {

struct RadixKey {
  std::uint64_t high = 0;
  std::uint64_t low = 0;
};

// The key of an object id: its two words, in the order of ids.
inline RadixKey idKey(const tql::id_t& id) { return {id.orderHigh(), id.orderLow()}; }

// Below this many items std::sort is used: at the sizes of a usual turn the
// passes' counters and the second copy cost more than they save.
inline constexpr std::size_t kRadixSortMinimum = 4096;

// Sorts `items` by keyOf(item), a RadixKey. `less` must order items as
// their keys do; std::sort uses it for small ranges, where building two
// keys for each comparison made a turn's sort about twice as dear.
template <class T, class KeyOf, class Less>
void radixSort(std::vector<T>& items, KeyOf keyOf, Less less) {
  const std::size_t n = items.size();
  if (n < kRadixSortMinimum) {
    std::sort(items.begin(), items.end(), less);
    return;
  }
  constexpr int kBytes = 16;
  const auto byteOf = [](const RadixKey& key, int b) {
    const std::uint64_t word = b < 8 ? key.low : key.high;
    return static_cast<std::size_t>((word >> (8 * (b % 8))) & 0xff);
  };
  // One pass over the items counts every byte position at once.
  std::vector<std::array<std::size_t, 256>> counts(kBytes);
  for (const T& item : items) {
    const RadixKey key = keyOf(item);
    for (int b = 0; b < kBytes; ++b) ++counts[b][byteOf(key, b)];
  }
  std::vector<T> other(n);
  for (int b = 0; b < kBytes; ++b) {
    std::array<std::size_t, 256>& count = counts[b];
    // A byte all items share leaves the order as it is.
    if (std::find(count.begin(), count.end(), n) != count.end()) continue;
    std::size_t start = 0;
    for (std::size_t& c : count) {
      const std::size_t here = c;
      c = start;
      start += here;
    }
    for (T& item : items) other[count[byteOf(keyOf(item), b)]++] = std::move(item);
    items.swap(other);
  }
}

}  // namespace keepers
