#include "tql/schema.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <iterator>

namespace tql {
namespace {

struct Entry {
  std::uint32_t number = 0;
  std::string_view name;
};

// By name, then by number, so that a name carried by two numbers resolves to
// the lower one.
constexpr bool byName(const Entry& a, const Entry& b) {
  if (a.name != b.name) return a.name < b.name;
  return a.number < b.number;
}

#define HX_TQL_ENTRY(number, name) Entry{number, #name},
constexpr Entry kListedClasses[] = {HX_TQL_CLASSES(HX_TQL_ENTRY) Entry{13, "."}};
constexpr Entry kListedProperties[] = {HX_TQL_PROPERTIES(HX_TQL_ENTRY) Entry{915, "capGridConf"},
                                       Entry{prop::public_, "public"}};
#undef HX_TQL_ENTRY

// The state families' names, spelled out at compile time: "stateAction0" to
// "stateAction31" in the first kStateSlots rows, then "stateLabel0" to
// "stateLabel31".
struct StateNames {
  char text[2 * prop::kStateSlots][16] = {};
};

constexpr void spell(char* out, std::string_view prefix, std::uint32_t slot) {
  out = std::copy(prefix.begin(), prefix.end(), out);
  if (slot >= 10) *out++ = static_cast<char>('0' + slot / 10);
  *out = static_cast<char>('0' + slot % 10);
}

constexpr StateNames kStateNames = [] {
  StateNames names;
  for (std::uint32_t slot = 0; slot < prop::kStateSlots; ++slot) {
    spell(names.text[slot], "stateAction", slot);
    spell(names.text[prop::kStateSlots + slot], "stateLabel", slot);
  }
  return names;
}();

constexpr std::size_t kPropertyCount = std::size(kListedProperties) + 2 * prop::kStateSlots;

constexpr std::array<Entry, kPropertyCount> kProperties = [] {
  std::array<Entry, kPropertyCount> all;
  std::size_t n = 0;
  for (const Entry& entry : kListedProperties) all[n++] = entry;
  for (std::uint32_t slot = 0; slot < prop::kStateSlots; ++slot) {
    all[n++] = {prop::stateAction(slot), kStateNames.text[slot]};
    all[n++] = {prop::stateLabel(slot), kStateNames.text[prop::kStateSlots + slot]};
  }
  return all;
}();

// Class names by number; an empty name marks a number without one. A number
// listed twice or out of range stops the compilation (a throw cannot be
// evaluated at compile time).
constexpr std::array<std::string_view, kClassCount> kClassNames = [] {
  std::array<std::string_view, kClassCount> names;
  for (const Entry& entry : kListedClasses) {
    if (entry.number >= kClassCount || !names[entry.number].empty()) throw "bad class number";
    names[entry.number] = entry.name;
  }
  return names;
}();

// Property number -> 1 + its position in kProperties, or 0 without a name.
constexpr std::array<std::uint16_t, kPropertyLimit> kPropertyIndex = [] {
  std::array<std::uint16_t, kPropertyLimit> index{};
  for (std::size_t i = 0; i < kProperties.size(); ++i) {
    const std::uint32_t number = kProperties[i].number;
    if (number >= kPropertyLimit || index[number] != 0) throw "bad property number";
    index[number] = static_cast<std::uint16_t>(i + 1);
  }
  return index;
}();
static_assert(kPropertyIndex.back() != 0, "kPropertyLimit must be one past the highest property");

template <std::size_t N>
constexpr std::array<Entry, N> sortedByName(std::array<Entry, N> entries) {
  std::sort(entries.begin(), entries.end(), byName);
  return entries;
}

template <std::size_t N>
constexpr std::array<Entry, N> toArray(const Entry (&entries)[N]) {
  std::array<Entry, N> all;
  std::copy(std::begin(entries), std::end(entries), all.begin());
  return all;
}

constexpr auto kClassesByName = sortedByName(toArray(kListedClasses));
constexpr auto kPropertiesByName = sortedByName(kProperties);

template <std::size_t N>
std::optional<std::uint32_t> findNumber(const std::array<Entry, N>& byNameTable,
                                        std::string_view name) {
  const auto it = std::lower_bound(byNameTable.begin(), byNameTable.end(), Entry{0, name}, byName);
  if (it == byNameTable.end() || it->name != name) return std::nullopt;
  return it->number;
}

std::string unknown(std::string_view what, std::uint32_t number) {
  return "<unknown " + std::string(what) + ": " +
         std::to_string(static_cast<std::int32_t>(number)) + ">";
}

}  // namespace

std::optional<std::string_view> findClassName(std::uint32_t number) {
  if (number >= kClassCount || kClassNames[number].empty()) return std::nullopt;
  return kClassNames[number];
}

std::optional<std::string_view> findPropertyName(std::uint32_t number) {
  if (number >= kPropertyLimit || kPropertyIndex[number] == 0) return std::nullopt;
  return kProperties[kPropertyIndex[number] - 1].name;
}

std::string className(std::uint32_t number) {
  const auto name = findClassName(number);
  return name ? std::string(*name) : unknown("class", number);
}

std::string propertyName(std::uint32_t number) {
  const auto name = findPropertyName(number);
  return name ? std::string(*name) : unknown("property", number);
}

std::optional<std::uint32_t> findClassNumber(std::string_view name) {
  return findNumber(kClassesByName, name);
}

std::optional<std::uint32_t> findPropertyNumber(std::string_view name) {
  return findNumber(kPropertiesByName, name);
}

}  // namespace tql
