// What the score and count lookups return for an id while keepers of that id
// come and go, including a new keeper built before the old one is destroyed
// (a full result moving an object does that), of the same or another kind.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "keepers/count_keeper.h"
#include "keepers/run_state.h"
#include "keepers/score_keeper.h"
#include "testkit/keepers.h"

namespace keepers {
namespace {

namespace tk = testkit;

const tql::id_t kId{1, 5};
constexpr int kNone = -1;

// A lookup result as the slot of the keeper it found, kNone for null.
struct Seen {
  int score;
  int count;
  bool operator==(const Seen&) const = default;
};

std::string show(const Seen& s) {
  return "score " + std::to_string(s.score) + ", count " + std::to_string(s.count);
}

using Slots = std::array<std::unique_ptr<CountKeeper>, 3>;
// The live keeper of each slot, set by the keeper itself as its constructor
// body starts, so that its probes see it.
using Known = std::array<const CountKeeper*, 3>;

// What the two registries give for kId, as slots.
Seen look(const Known& known) {
  const CountKeeper* score = findKeeper(scoreKeepers, kId);
  const CountKeeper* count = findKeeper(countKeepers, kId);
  Seen seen{kNone, kNone};
  for (int i = 0; i < static_cast<int>(known.size()); ++i) {
    const CountKeeper* k = known[static_cast<std::size_t>(i)];
    if (k == nullptr) continue;
    if (score == k) seen.score = i;
    if (count == k) seen.count = i;
  }
  // A pointer to no live keeper shows as -2.
  if (score != nullptr && seen.score == kNone) seen.score = -2;
  if (count != nullptr && seen.count == kNone) seen.count = -2;
  return seen;
}

// Keepers that look kId up in their most derived constructor and destructor
// bodies: the keeper is complete there, its bases registered and not yet
// withdrawn.
class ProbedScore final : public ScoreKeeper {
 public:
  ProbedScore(EventSink& sink, Known& known, int slot, std::vector<Seen>& probes)
      : ScoreKeeper(nullptr, tk::object(tql::cls::Check, kId), nullptr, false, sink),
        known_(known),
        probes_(probes) {
    known[static_cast<std::size_t>(slot)] = this;
    probes_.push_back(look(known_));
  }
  ~ProbedScore() override { probes_.push_back(look(known_)); }

 private:
  const Known& known_;
  std::vector<Seen>& probes_;
};

class ProbedCount final : public CountKeeper {
 public:
  ProbedCount(Known& known, int slot, std::vector<Seen>& probes)
      : CountKeeper(nullptr, tk::object(tql::cls::CheckGroup, kId)),
        known_(known),
        probes_(probes) {
    known[static_cast<std::size_t>(slot)] = this;
    probes_.push_back(look(known_));
  }
  ~ProbedCount() override { probes_.push_back(look(known_)); }

 private:
  const Known& known_;
  std::vector<Seen>& probes_;
};

struct Step {
  char op;  // 'S' builds a score keeper, 'C' a plain count keeper, 'D' destroys
  int slot;
  Seen during;  // in the keeper's constructor or destructor body
  Seen after;
};

struct Transition {
  std::string name;
  std::vector<Step> steps;
};

class RegistryTest : public tk::KeeperTest {
 protected:
  // Runs `op` on `slot`; returns what the keeper's own probe saw.
  Seen apply(char op, int slot) {
    std::vector<Seen> probes;
    const auto i = static_cast<std::size_t>(slot);
    if (op == 'S') slots[i] = std::make_unique<ProbedScore>(sink, known, slot, probes);
    if (op == 'C') slots[i] = std::make_unique<ProbedCount>(known, slot, probes);
    if (op == 'D') {
      slots[i].reset();
      known[i] = nullptr;
    }
    return probes.size() == 1 ? probes.front() : Seen{-3, -3};
  }

  Slots slots;
  Known known{};
};

TEST_F(RegistryTest, LookupsThroughKeeperTransitions) {
  constexpr int N = kNone;
  const std::vector<Transition> table = {
      {"score keeper alone", {{'S', 0, {0, 0}, {0, 0}}, {'D', 0, {0, 0}, {N, N}}}},
      {"count keeper alone", {{'C', 0, {N, 0}, {N, 0}}, {'D', 0, {N, 0}, {N, N}}}},
      {"count by count",
       {{'C', 0, {N, 0}, {N, 0}},
        {'C', 1, {N, 1}, {N, 1}},
        {'D', 0, {N, 1}, {N, 1}},
        {'D', 1, {N, 1}, {N, N}}}},
      {"score by score, old goes first",
       {{'S', 0, {0, 0}, {0, 0}},
        {'S', 1, {1, 1}, {1, 1}},
        {'D', 0, {1, 1}, {1, 1}},
        {'D', 1, {1, 1}, {N, N}}}},
      {"score by score, new goes first",
       {{'S', 0, {0, 0}, {0, 0}},
        {'S', 1, {1, 1}, {1, 1}},
        {'D', 1, {1, 1}, {N, N}},
        {'D', 0, {N, N}, {N, N}}}},
      // The old score keeper stays the score keeper of the id until it goes.
      {"score by count, old goes first",
       {{'S', 0, {0, 0}, {0, 0}},
        {'C', 1, {0, 1}, {0, 1}},
        {'D', 0, {0, 1}, {N, 1}},
        {'D', 1, {N, 1}, {N, N}}}},
      {"score by count, new goes first",
       {{'S', 0, {0, 0}, {0, 0}},
        {'C', 1, {0, 1}, {0, 1}},
        {'D', 1, {0, 1}, {0, N}},
        {'D', 0, {0, N}, {N, N}}}},
      {"count by score, old goes first",
       {{'C', 0, {N, 0}, {N, 0}},
        {'S', 1, {1, 1}, {1, 1}},
        {'D', 0, {1, 1}, {1, 1}},
        {'D', 1, {1, 1}, {N, N}}}},
      {"count by score, new goes first",
       {{'C', 0, {N, 0}, {N, 0}},
        {'S', 1, {1, 1}, {1, 1}},
        {'D', 1, {1, 1}, {N, N}},
        {'D', 0, {N, N}, {N, N}}}},
      {"score by count by score",
       {{'S', 0, {0, 0}, {0, 0}},
        {'C', 1, {0, 1}, {0, 1}},
        {'S', 2, {2, 2}, {2, 2}},
        {'D', 0, {2, 2}, {2, 2}},
        {'D', 1, {2, 2}, {2, 2}},
        {'D', 2, {2, 2}, {N, N}}}},
      {"score by count by score, newest goes first",
       {{'S', 0, {0, 0}, {0, 0}},
        {'C', 1, {0, 1}, {0, 1}},
        {'S', 2, {2, 2}, {2, 2}},
        {'D', 2, {2, 2}, {N, N}},
        {'D', 0, {N, N}, {N, N}},
        {'D', 1, {N, N}, {N, N}}}},
      {"score by count by count",
       {{'S', 0, {0, 0}, {0, 0}},
        {'C', 1, {0, 1}, {0, 1}},
        {'C', 2, {0, 2}, {0, 2}},
        {'D', 1, {0, 2}, {0, 2}},
        {'D', 0, {0, 2}, {N, 2}},
        {'D', 2, {N, 2}, {N, N}}}},
      {"score by count by count, newest goes first",
       {{'S', 0, {0, 0}, {0, 0}},
        {'C', 1, {0, 1}, {0, 1}},
        {'C', 2, {0, 2}, {0, 2}},
        {'D', 2, {0, 2}, {0, N}},
        {'D', 0, {0, N}, {N, N}},
        {'D', 1, {N, N}, {N, N}}}},
  };
  for (const Transition& t : table) {
    for (std::size_t i = 0; i < t.steps.size(); ++i) {
      const Step& s = t.steps[i];
      const std::string where =
          t.name + ", step " + std::to_string(i) + " " + s.op + std::to_string(s.slot);
      const Seen during = apply(s.op, s.slot);
      EXPECT_EQ(during, s.during) << where << ": saw " << show(during);
      const Seen after = look(known);
      EXPECT_EQ(after, s.after) << where << ": then " << show(after);
      EXPECT_EQ(scoreKeepers.empty(), s.after.score == kNone) << where;
      EXPECT_EQ(countKeepers.empty(), s.after.count == kNone) << where;
    }
  }
}

// A score keeper whose id a count keeper took over, and which outlived it,
// is the only registration left; resetRun drops it like any other.
TEST_F(RegistryTest, ResetRunForgetsAScoreKeeperOutlivingItsSuccessor) {
  apply('S', 0);
  apply('C', 1);
  apply('D', 1);
  ASSERT_EQ(look(known), (Seen{0, kNone}));
  resetRun();
  EXPECT_EQ(look(known), (Seen{kNone, kNone}));
  EXPECT_TRUE(scoreKeepers.empty());
  apply('D', 0);
  EXPECT_EQ(look(known), (Seen{kNone, kNone}));
}

}  // namespace
}  // namespace keepers
