#include "io/area_table.h"

#include <string>

#include "error/check.h"
#include "error/exception.h"

namespace io {

namespace {

std::string str(std::uint64_t value) { return std::to_string(value); }

}  // namespace

AreaTable::AreaTable(std::uint64_t firstOffset, std::uint64_t mapsize, TraceSink trace)
    : firstOffset_(firstOffset), mapsize_(mapsize), trace_(std::move(trace)) {
  HX_CHECK(firstOffset_ % 8 == 0 && firstOffset_ >= 8,
           "First allocatable offset " + str(firstOffset_) + " is not 8 byte aligned");
}

const WriteAreaEntry* AreaTable::find(int id) const {
  for (const auto& [start, area] : areas_) {
    if (area.id == id) return &area;
  }
  return nullptr;
}

WriteAreaEntry* AreaTable::findMutable(int id) {
  for (auto& [start, area] : areas_) {
    if (area.id == id) return &area;
  }
  return nullptr;
}

const WriteAreaEntry& AreaTable::allocate(int id, std::uint64_t size) {
  HX_CHECK(size % 8 == 0,
           "Slice size for sibling id " + std::to_string(id) + " is not 8 byte aligned!");
  if (id >= 0) {
    if (WriteAreaEntry* old = findMutable(id)) {
      HX_CHECK(!old->in_use, "Found shared memory area for sibling " + std::to_string(id) +
                                 " at offset " + str(old->start) + " of size " + str(old->size) +
                                 " but it is already in use.");
      old->in_use = true;
      trace(" Reused area at " + str(old->start) + " of size " + str(old->size) +
            " for child sibling " + std::to_string(id));
      return *old;
    }
  }
  // First fit: areas are ordered by start and do not overlap, so the
  // candidate only ever moves behind the area it collides with.
  std::uint64_t candidate = firstOffset_;
  for (const auto& [start, area] : areas_) {
    if (size > mapsize_ || candidate > mapsize_ - size) break;
    if (start >= candidate + size) break;
    if (start + area.size > candidate) candidate = start + area.size;
  }
  if (candidate > mapsize_ || size > mapsize_ - candidate) {
    throw error::EFatal("No room for write area for ID " + std::to_string(id));
  }
  const auto [it, inserted] = areas_.emplace(candidate, WriteAreaEntry{id, candidate, size, true});
  HX_CHECK(inserted, "Failed insertion into SiblingMessengerParent::areas");
  trace(" Allocated area at " + str(candidate) + " of size " + str(size) + " for child sibling " +
        std::to_string(id));
  return it->second;
}

void AreaTable::release(int id) {
  WriteAreaEntry* area = findMutable(id);
  HX_CHECK(area != nullptr, "Could not find area for sibling " + std::to_string(id));
  if (id < 0) {
    const std::uint64_t start = area->start;
    areas_.erase(start);
    trace(" Deallocated area at " + str(start) + " for sibling " + std::to_string(id));
    return;
  }
  HX_CHECK(area->in_use, "About to mark shared memory area for sibling " + std::to_string(id) +
                             " at offset " + str(area->start) + " of size " + str(area->size) +
                             " as unused, but it was not marked as used in the first place.");
  area->in_use = false;
}

}  // namespace io
