// What the score and count lookups return for an id while keepers of that id
// come and go, including a new keeper built before the old one is destroyed
// (a full result moving an object does that), of the same or another kind.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <sstream>
#include <string>
#include <utility>

#include "keepers/count_keeper.h"
#include "keepers/run_state.h"
#include "keepers/score_keeper.h"
#include "testkit/keepers.h"

namespace keepers {
namespace {

namespace tk = testkit;

const tql::id_t kId{1, 5};

// The live keeper of each slot, set by the keeper as its constructor body
// starts so that its own probe sees it.
using Known = std::array<const CountKeeper*, 3>;

// The score and count lookups of kId as two characters: the slot of the
// keeper found, '-' for none, '?' for a keeper in no slot.
std::string look(const Known& known) {
  std::string seen;
  for (const CountKeeper* found :
       {static_cast<const CountKeeper*>(findKeeper(scoreKeepers, kId)),
        static_cast<const CountKeeper*>(findKeeper(countKeepers, kId))}) {
    char c = found == nullptr ? '-' : '?';
    for (std::size_t i = 0; i < known.size(); ++i)
      if (found != nullptr && known[i] == found) c = static_cast<char>('0' + i);
    seen += c;
  }
  return seen;
}

// Keepers that look kId up in their most derived constructor and destructor
// bodies, where their bases are registered and not yet withdrawn.
template <class Base>
class Probed final : public Base {
 public:
  template <class... Args>
  Probed(Known& known, std::size_t slot, std::string& probe, Args&&... args)
      : Base(nullptr, std::forward<Args>(args)...), known_(known), probe_(probe) {
    known[slot] = this;
    probe_ = look(known_);
  }
  ~Probed() override { probe_ = look(known_); }

 private:
  const Known& known_;
  std::string& probe_;
};

class RegistryTest : public tk::KeeperTest {
 protected:
  // 'S' builds a score keeper in `slot`, 'C' a plain count keeper, 'D'
  // destroys it; returns what the keeper's own probe saw.
  std::string apply(char op, std::size_t slot) {
    std::string probe = "no probe";
    if (op == 'S')
      slots[slot] = std::make_unique<Probed<ScoreKeeper>>(
          known, slot, probe, tk::object(tql::cls::Check, kId), nullptr, false, sink);
    if (op == 'C')
      slots[slot] = std::make_unique<Probed<CountKeeper>>(known, slot, probe,
                                                          tk::object(tql::cls::CheckGroup, kId));
    if (op == 'D') {
      slots[slot].reset();
      known[slot] = nullptr;
    }
    return probe;
  }

  std::array<std::unique_ptr<CountKeeper>, 3> slots;
  Known known{};
};

TEST_F(RegistryTest, LookupsThroughKeeperTransitions) {
  // Each step: the operation and slot, what the lookups give inside the
  // keeper's constructor or destructor body, and what they give after it.
  const std::pair<const char*, const char*> table[] = {
      {"score keeper alone", "S0 00 00  D0 00 --"},
      {"count keeper alone", "C0 -0 -0  D0 -0 --"},
      {"count by count", "C0 -0 -0  C1 -1 -1  D0 -1 -1  D1 -1 --"},
      {"score by score, old goes first", "S0 00 00  S1 11 11  D0 11 11  D1 11 --"},
      {"score by score, new goes first", "S0 00 00  S1 11 11  D1 11 --  D0 -- --"},
      // The old score keeper stays the score keeper of the id until it goes.
      {"score by count, old goes first", "S0 00 00  C1 01 01  D0 01 -1  D1 -1 --"},
      {"score by count, new goes first", "S0 00 00  C1 01 01  D1 01 0-  D0 0- --"},
      {"count by score, old goes first", "C0 -0 -0  S1 11 11  D0 11 11  D1 11 --"},
      {"count by score, new goes first", "C0 -0 -0  S1 11 11  D1 11 --  D0 -- --"},
      {"score by count by score", "S0 00 00  C1 01 01  S2 22 22  D0 22 22  D1 22 22  D2 22 --"},
      {"score by count by score, newest first",
       "S0 00 00  C1 01 01  S2 22 22  D2 22 --  D0 -- --  D1 -- --"},
      {"score by count by count", "S0 00 00  C1 01 01  C2 02 02  D1 02 02  D0 02 -2  D2 -2 --"},
      {"score by count by count, newest first",
       "S0 00 00  C1 01 01  C2 02 02  D2 02 0-  D0 0- --  D1 -- --"},
  };
  for (const auto& [name, steps] : table) {
    std::istringstream in(steps);
    std::string step, during, after;
    while (in >> step >> during >> after) {
      const std::string where = std::string(name) + ", step " + step;
      EXPECT_EQ(apply(step[0], static_cast<std::size_t>(step[1] - '0')), during) << where;
      EXPECT_EQ(look(known), after) << where;
      EXPECT_EQ(scoreKeepers.empty(), after[0] == '-') << where;
      EXPECT_EQ(countKeepers.empty(), after[1] == '-') << where;
    }
  }
}

// A score keeper whose id a count keeper took over, and which outlived it,
// is the only registration left; resetRun drops it like any other.
TEST_F(RegistryTest, ResetRunForgetsAScoreKeeperOutlivingItsSuccessor) {
  apply('S', 0);
  apply('C', 1);
  apply('D', 1);
  ASSERT_EQ(look(known), "0-");
  resetRun();
  EXPECT_EQ(look(known), "--");
  EXPECT_TRUE(scoreKeepers.empty());
  apply('D', 0);
}

}  // namespace
}  // namespace keepers
