#pragma once
// The main process's table of write areas in the shared pool: which slice
// of the pool each sibling writes its messages into. A sibling with an id
// of 0 or more gets its old area back when it restarts; a sibling with a
// negative id gets a fresh area each time, which is dropped when it goes.
// New areas are placed first-fit from the first allocatable offset.
#include <cstdint>
#include <functional>
#include <map>
#include <string_view>

namespace io {

struct WriteAreaEntry {
  int id = 0;
  std::uint64_t start = 0;
  std::uint64_t size = 0;
  bool in_use = false;
};

class AreaTable {
 public:
  using TraceSink = std::function<void(std::string_view)>;

  // Areas are placed in [firstOffset, mapsize); firstOffset lies behind the
  // pool header and on an 8-byte boundary. Trace lines go to `trace` when
  // it is set.
  AreaTable(std::uint64_t firstOffset, std::uint64_t mapsize, TraceSink trace = {});

  // The area for sibling `id`, `size` bytes (a multiple of 8), marked in
  // use. Throws error::EFatal when the pool has no room left.
  const WriteAreaEntry& allocate(int id, std::uint64_t size);
  // The sibling is gone: its area is dropped (id below 0) or kept unused
  // for its restart.
  void release(int id);

  // Sibling id's area, or nullptr.
  [[nodiscard]] const WriteAreaEntry* find(int id) const;
  // By start offset.
  [[nodiscard]] const std::map<std::uint64_t, WriteAreaEntry>& areas() const { return areas_; }

 private:
  WriteAreaEntry* findMutable(int id);
  void trace(std::string_view line) const {
    if (trace_) trace_(line);
  }

  std::uint64_t firstOffset_;
  std::uint64_t mapsize_;
  TraceSink trace_;
  std::map<std::uint64_t, WriteAreaEntry> areas_;
};

}  // namespace io
