#include "sim/pairing.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace sim {
namespace {

// Plays a script of words on a pairing and lists what comes out: "I3" an
// incident line for node 3, "S3" object 3's status stored, "C3" a change of
// object 3 (numbered in order of arrival: the second is "C3b"), "F" the
// flush. Each change comes out as its name and, when it has one, its
// incident: "C3b:i3".
std::string play(const std::string& script) {
  ChangePairing pairing;
  std::map<std::uint32_t, char> seen;
  std::string out;
  const auto emit = [&](const std::vector<StatusChange>& changes) {
    for (const StatusChange& c : changes) {
      out += (out.empty() ? "" : " ") + c.path + (c.incident.empty() ? "" : ":" + c.incident);
    }
  };
  std::istringstream words(script);
  for (std::string word; words >> word;) {
    if (word == "F") {
      emit(pairing.flush());
      continue;
    }
    const std::uint32_t n = static_cast<std::uint32_t>(std::stoul(word.substr(1)));
    const tql::id_t id{1, n};
    if (word[0] == 'I') {
      pairing.incident({0, id, "i" + std::to_string(n), 1});
    } else if (word[0] == 'S') {
      pairing.stored(id);
    } else {
      const char nth = seen.contains(n) ? ++seen[n] : (seen[n] = 'a');
      StatusChange c;
      c.object = id;
      c.path = word + (nth == 'a' ? "" : std::string(1, nth));
      pairing.change(c, id);
    }
    emit(pairing.ready());
  }
  return out;
}

TEST(ChangePairing, EveryOrderOfArrivalGivesTheSameChangesInTheirOrder) {
  const struct {
    const char* script;
    const char* out;
  } cases[] = {
      // The alarm's own order, as one process sees it.
      {"I1 C1 S1", "C1:i1"},
      // The change before the DBMS's part, or after it.
      {"C1 I1 S1", "C1:i1"},
      {"I1 S1 C1", "C1:i1"},
      // Without an incident line (a domain export writes none).
      {"C1 S1", "C1"},
      {"S1 C1", "C1"},
      // An incident belongs to the status stored right after it only.
      {"I1 S1 S2 C2 C1", "C2 C1:i1"},
      // A complete change waits behind an earlier one that is not.
      {"C1 C2 I2 S2", ""},
      {"C1 C2 I2 S2 I1 S1", "C1:i1 C2:i2"},
      // One object changing twice: first with first.
      {"C1 C1 S1 I1 S1", "C1 C1b:i1"},
      {"I1 S1 S1 C1 C1", "C1:i1 C1b"},
      // An incident that names another node is not this change's.
      {"I9 C1 S1", "C1"},
      // The DBMS went away: what waits comes out without incidents.
      {"C1 I2 S2 C2 C3 F", "C1 C2:i2 C3"},
  };
  for (const auto& c : cases) EXPECT_EQ(play(c.script), c.out) << c.script;
}

}  // namespace
}  // namespace sim
