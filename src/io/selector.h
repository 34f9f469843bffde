#pragma once
// Selectors multiplex selectables: the main loop registers its streams and
// timers and asks again and again for the next one that is ready.
//
// OsSelector waits on descriptors and deadlines. SelectorBase adds stacked
// selectables (a front is never waited on itself: its back derives its
// readiness from underlying selectables) and a first-in first-out list that
// decides between selectables found ready in the same pass. There is no
// priority: within a pass selectables are visited in registration order.
// Single-threaded.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <span>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "error/check.h"
#include "io/selectable.h"
#include "io/stacked.h"
#include "os/poll.h"

namespace io {

// The operating-system wait: the slots to watch and a time-out in
// milliseconds (os::kInfiniteTimeout: none). Tests substitute a fake to see
// the time-out asked for and to move a fake clock instead of sleeping.
using OsWaitFunction = std::function<os::PollResult(std::span<os::PollSlot>, int timeoutMs)>;

class OsSelector {
 public:
  explicit OsSelector(OsWaitFunction wait = os::pollFor);
  OsSelector(const OsSelector&) = delete;
  OsSelector& operator=(const OsSelector&) = delete;
  ~OsSelector() = default;

  // Registers a selectable that is not a stacked front; one with a handle
  // gets a slot in the wait.
  void add(Selectable* s);
  void remove(Selectable* s);
  // Records a registered selectable as known to be ready.
  void markReady(Selectable* s);
  // Returns one selectable that is ready (or whose handle was signalled),
  // waiting for it unless `nonblocking`, which throws ENotReady instead.
  [[nodiscard]] Selectable* wait(bool nonblocking);

 private:
  struct Entry {
    std::uint64_t order;  // registration sequence: the order of every pass
    int slot;             // index into slots_/owners_, -1 without a handle
  };
  // One drain of the ready set: a selectable to return, or null.
  [[nodiscard]] Selectable* takeReady(const htime::usec_time& now);
  // Visits every selectable; returns the earliest deadline and its owner.
  [[nodiscard]] std::pair<htime::usec_time, Selectable*> visitAll();
  [[nodiscard]] int timeoutMs(const htime::usec_time& earliest, const htime::usec_time& now) const;

  OsWaitFunction wait_;
  std::uint64_t next_order_ = 0;
  std::map<std::uint64_t, Selectable*> avail_;
  std::unordered_map<Selectable*, Entry> os_avail_;
  std::map<std::uint64_t, Selectable*> ready_;
  // Parallel arrays: slot i waits on slots_[i] for owners_[i]. Kept compact
  // so that slots_ goes to the wait as it stands.
  std::vector<os::PollSlot> slots_;
  std::vector<Selectable*> owners_;
  std::vector<std::uint64_t> pass_;     // reused snapshot of avail_ for a pass
  std::vector<Selectable*> signalled_;  // reused: owners signalled by one wait
};

class SelectorBase : public OsSelector {
 public:
  explicit SelectorBase(OsWaitFunction wait = os::pollFor) : OsSelector(std::move(wait)) {}
  // Removes every directly registered selectable still there.
  virtual ~SelectorBase();

  // Registers a selectable, directly (back null) or as an underlying
  // selectable owned by `back`.
  void add(Selectable* s, StackedSelectableBack* back = nullptr);
  virtual void remove(Selectable* s);
  // Returns the next ready directly registered selectable; with
  // `nonblocking` throws ENotReady instead of waiting.
  [[nodiscard]] Selectable* select(bool nonblocking);
  void markReady(Selectable* s);
  [[nodiscard]] bool contains(const Selectable* s) const {
    return registry_.count(const_cast<Selectable*>(s)) != 0;
  }

 private:
  struct Registration {
    StackedSelectableBack* back;    // null: registered directly
    StackedSelectableFront* front;  // non-null when the selectable is a front
    std::uint64_t order;
  };
  void processReady(Selectable* s);

  std::uint64_t next_order_ = 0;
  std::unordered_map<Selectable*, Registration> registry_;
  std::unordered_set<Selectable*> direct_;
  std::map<std::uint64_t, StackedSelectableFront*> fronts_;  // registered fronts in order
  std::deque<Selectable*> ready_list_;
};

class BareSelector : public SelectorBase {
 public:
  using SelectorBase::SelectorBase;
  void remove(Selectable* s) override { SelectorBase::remove(s); }
};

// A selector whose selectables carry a tag that select() hands back with
// them (the main loop's small integers).
template <typename Tag>
class Selector : public SelectorBase {
 public:
  using SelectorBase::SelectorBase;
  ~Selector() override {
    // Remove here, while remove() still erases tags.
    while (!tags_.empty()) remove(tags_.begin()->first);
  }

  void add(Selectable* s, Tag tag) {
    HX_CHECK(tags_.emplace(s, tag).second, "Added selectable " + s->name() + " twice");
    SelectorBase::add(s);
  }
  [[nodiscard]] std::pair<Selectable*, Tag> select(bool nonblocking = false) {
    Selectable* s = SelectorBase::select(nonblocking);
    auto it = tags_.find(s);
    HX_CHECK(it != tags_.end(), "pollImpl gave unknown selectable " + s->name());
    return {s, it->second};
  }
  void remove(Selectable* s) override {
    tags_.erase(s);
    SelectorBase::remove(s);
  }

 private:
  std::unordered_map<Selectable*, Tag> tags_;
};

}  // namespace io
