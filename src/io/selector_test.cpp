#include "io/selector.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "io/exceptions.h"
#include "io/memory_stream.h"
#include "io/timer.h"
#include "testkit/matcher.h"

namespace io {
namespace {

using htime::usec_time;

// Thrown by the fake wait when asked to wait for ever with nothing to do.
struct BlocksForever : std::runtime_error {
  BlocksForever() : std::runtime_error("waits for ever") {}
};

// A fake clock and a fake operating-system wait: the wait records what it
// was asked, runs the test's hook if there is one (a stream's I/O
// finishing), and otherwise lets the fake time pass up to the time-out.
class SelectorTest : public ::testing::Test {
 protected:
  SelectorTest() {
    htime::setClockForTesting([this] { return now_; });
  }
  ~SelectorTest() override { htime::setClockForTesting({}); }

  OsWaitFunction fakeWait() {
    return [this](std::span<os::PollSlot> slots, int timeout) {
      timeouts_.push_back(timeout);
      fds_.clear();
      for (const os::PollSlot& s : slots) fds_.push_back(s.fd);
      if (on_wait_) {
        auto hook = std::move(on_wait_);
        on_wait_ = nullptr;
        return hook(slots);
      }
      if (timeout == os::kInfiniteTimeout) throw BlocksForever();
      now_ += usec_time(timeout / 1000, (timeout % 1000) * 1000);
      return os::PollResult{os::PollResult::timedOut, 0};
    };
  }

  usec_time now_{1000, 0};
  std::vector<int> timeouts_;
  std::vector<int> fds_;
  std::function<os::PollResult(std::span<os::PollSlot>)> on_wait_;
  Selector<int> selector_{fakeWait()};
};

// A selectable with a descriptor (never read: the fake wait decides).
class FakeHandle : public virtual Selectable {
 public:
  explicit FakeHandle(int fd) : fd_(fd) {}
  std::string name() const override { return "Fake" + std::to_string(fd_); }
  OsHandle handle() const override { return {fd_, os::kReadable}; }
  bool isReady() override { return ready; }
  bool ignoreSignal() override { return ignore; }
  bool ready = false;
  bool ignore = false;

 private:
  int fd_;
};

void feed(MemoryStreamPair& s, const std::string& text) {
  std::uint8_t* data = nullptr;
  ASSERT_GE(s.out.writeBegin(data), text.size());
  std::copy(text.begin(), text.end(), data);
  s.out.writeCommit(text.size());
  ASSERT_TRUE(s.out.flush());
}

TEST_F(SelectorTest, TimersOnlySleepUntilTheEarliestDeadlineRoundedUp) {
  Timer late(usec_time(1001, 0));
  Timer early(usec_time(1000, 2500));
  selector_.add(&late, 1);
  selector_.add(&early, 2);
  EXPECT_EQ(selector_.select(), std::make_pair<Selectable*>(&early, 2));
  EXPECT_EQ(timeouts_, (std::vector<int>{3}));  // 2.5 ms waits 3 ms
  EXPECT_TRUE(fds_.empty());
  early.setDeadline(usec_time(1000, 3001));  // 1 us later than the clock now
  EXPECT_EQ(selector_.select().second, 2);
  early.setDeadline(usec_time(1000, 11000));  // exactly 7 ms: no rounding up
  EXPECT_EQ(selector_.select().second, 2);
  early.setDeadline(htime::never);
  EXPECT_EQ(selector_.select().second, 1);
  EXPECT_EQ(timeouts_, (std::vector<int>{3, 1, 7, 989}));
  EXPECT_EQ(now_, usec_time(1001, 0));
}

TEST_F(SelectorTest, EqualDeadlinesGoInRegistrationOrder) {
  Timer second(usec_time(1000, 0));
  Timer first(usec_time(1000, 0));
  selector_.add(&first, 1);
  selector_.add(&second, 2);
  EXPECT_EQ(selector_.select().second, 1);
  EXPECT_EQ(selector_.select().second, 1);  // not re-armed: still ready
  first.setDeadline(usec_time(1005, 0));
  EXPECT_EQ(selector_.select().second, 2);
  EXPECT_EQ(timeouts_, (std::vector<int>{0, 0, 0}));
}

TEST_F(SelectorTest, NothingDueWaitsForEverOrThrowsWhenNonblocking) {
  MemoryStreamPair s;
  Timer timer;  // deadline never
  selector_.add(&s.in, 1);
  selector_.add(&timer, 2);
  EXPECT_THROW((void)selector_.select(), BlocksForever);
  timer.setDeadline(usec_time(1000, 500));  // not due yet: no waiting for it
  HX_EXPECT_THROW_TEXT(selector_.select(true), ENotReady, "Selectable <unknown> not ready");
  EXPECT_EQ(timeouts_, (std::vector<int>{os::kInfiniteTimeout, 0}));
  now_ = usec_time(1000, 500);
  EXPECT_EQ(selector_.select(true).second, 2);
  timer.setDeadline(htime::never);
  feed(s, "x");
  EXPECT_EQ(selector_.select(true).second, 1);
}

TEST_F(SelectorTest, ReadyAtRegistrationOrBetweenCallsIsReturnedWithoutWaiting) {
  MemoryStreamPair a, b;
  feed(a, "x");
  selector_.add(&b.in, 2);
  selector_.add(&a.in, 1);
  EXPECT_EQ(selector_.select().second, 1);
  a.in.close();
  selector_.remove(&a.in);
  feed(b, "y");
  EXPECT_EQ(selector_.select().second, 2);
  EXPECT_TRUE(timeouts_.empty());
}

TEST_F(SelectorTest, IoDuringTheWaitStartsANewPass) {
  MemoryStreamPair s;
  Timer timer(usec_time(1002, 0));
  selector_.add(&s.in, 1);
  selector_.add(&timer, 2);
  on_wait_ = [&](std::span<os::PollSlot>) {
    feed(s, "x");
    now_ = usec_time(1000, 400000);
    return os::PollResult{os::PollResult::interrupted, 0};
  };
  EXPECT_EQ(selector_.select().second, 1);
  EXPECT_EQ(timeouts_, (std::vector<int>{2000}));
}

TEST_F(SelectorTest, AFailedWaitIsASystemError) {
  Timer timer(usec_time(1002, 0));
  selector_.add(&timer, 1);
  on_wait_ = [](std::span<os::PollSlot>) { return os::PollResult{os::PollResult::failed, EBADF}; };
  HX_EXPECT_THROW_TEXT(selector_.select(), error::ESystemError,
                       "WaitForMultipleEvents returned error: Bad file descriptor");
}

TEST_F(SelectorTest, HandleSlotsStayCompactAndSignalsFindTheirOwners) {
  FakeHandle h3(3), h4(4), h5(5);
  Timer timer;
  selector_.add(&h3, 3);
  selector_.add(&timer, 0);
  selector_.add(&h4, 4);
  selector_.add(&h5, 5);
  selector_.remove(&h3);  // h5 moves into the first slot
  auto signal = [this](int index) {
    on_wait_ = [index](std::span<os::PollSlot> slots) {
      slots[index].revents = os::kReadable;
      return os::PollResult{os::PollResult::ready, 0};
    };
  };
  signal(0);
  EXPECT_EQ(selector_.select().second, 5);
  EXPECT_EQ(fds_, (std::vector<int>{5, 4}));
  // An ignored signal goes on waiting.
  h4.ignore = true;
  signal(1);
  EXPECT_THROW((void)selector_.select(), BlocksForever);
  EXPECT_EQ(timeouts_.size(), 3u);
}

// ---- Stacked selectables: two logical streams fed by two memory streams.

class FakeBack : public StackedSelectableBack {
 public:
  class Front : public StackedSelectableFront {
   public:
    Front(FakeBack* back, int n) : StackedSelectableFront(back), n_(n) {}
    std::string name() const override { return "Front" + std::to_string(n_); }

   private:
    int n_;
  };

  FakeBack() {
    setUnderlying(&pipes[0].in, true);
    setUnderlying(&pipes[1].in, true);
  }
  void underlyingIsReady(Selectable* underlying) override {
    calls.push_back(underlying);
    for (int i = 0; i < 2; ++i) {
      if (underlying == &pipes[i].in) owned[i]->setReady(true);
    }
  }

  MemoryStreamPair pipes[2];
  // Destroyed before the pipes: fronts leave their selectors through the back.
  std::vector<std::unique_ptr<Front>> owned;
  std::vector<Selectable*> calls;
};

class StackedSelectorTest : public SelectorTest {
 protected:
  StackedSelectorTest() {
    back_.owned.push_back(std::make_unique<FakeBack::Front>(&back_, 0));
    back_.owned.push_back(std::make_unique<FakeBack::Front>(&back_, 1));
  }
  FakeBack::Front& front(int i) { return *back_.owned[i]; }
  FakeBack back_;
};

TEST_F(StackedSelectorTest, UnderlyingJoinWithTheFirstFrontAndLeaveWithTheLast) {
  selector_.add(&front(0), 10);
  EXPECT_TRUE(selector_.contains(&back_.pipes[0].in));
  // An underlying added later joins every selector of the back.
  MemoryStreamPair extra;
  back_.setUnderlying(&extra.in, true);
  EXPECT_TRUE(selector_.contains(&extra.in));
  back_.setUnderlying(&extra.in, false);
  EXPECT_FALSE(selector_.contains(&extra.in));
  selector_.add(&front(1), 11);
  selector_.remove(&front(0));
  EXPECT_TRUE(selector_.contains(&back_.pipes[1].in));
  back_.owned.clear();  // a destroyed front leaves its selectors
  EXPECT_FALSE(selector_.contains(&back_.pipes[0].in));
  EXPECT_FALSE(selector_.contains(&back_.pipes[1].in));
  // A destroyed selector leaves its selectables.
  Timer t;
  {
    Selector<int> other(fakeWait());
    other.add(&t, 1);
  }
  selector_.add(&t, 1);
}

TEST_F(StackedSelectorTest, FrontsAreDrivenByTheirBackInArrivalOrder) {
  selector_.add(&front(0), 10);
  selector_.add(&front(1), 11);
  feed(back_.pipes[1], "b");
  EXPECT_EQ(selector_.select().second, 11);
  EXPECT_EQ(back_.calls, (std::vector<Selectable*>{&back_.pipes[1].in}));
  // A ready front keeps being returned until its back clears it.
  EXPECT_EQ(selector_.select().second, 11);
  front(1).setReady(false);
  feed(back_.pipes[0], "a");
  EXPECT_EQ(selector_.select().second, 10);
  EXPECT_TRUE(timeouts_.empty());
}

// ---- Misuse ends the process with the checks' texts.

using SelectorDeathTest = SelectorTest;

TEST_F(SelectorDeathTest, DoubleRegistrationAndRemovalAbort) {
  Timer timer;
  selector_.add(&timer, 1);
  EXPECT_DEATH(selector_.add(&timer, 1), "Assertion failed: Added selectable Timer twice");
  BareSelector bare(fakeWait());
  bare.add(&timer);
  EXPECT_DEATH(bare.add(&timer), "Assertion failed: Timer added twice to Selector");
  bare.remove(&timer);
  EXPECT_DEATH(bare.remove(&timer), "Assertion failed: Unknown Timer removed twice from Selector");
  EXPECT_DEATH(timer.removeSelector(&bare),
               "Assertion failed: Unable to remove selector in: Timer");
}

TEST_F(SelectorDeathTest, OsSelectorMisuseAborts) {
  OsSelector os(fakeWait());
  Timer timer;
  os.add(&timer);
  EXPECT_DEATH(os.add(&timer), "Assertion failed: Selectable allready added to selector: Timer");
  Timer stranger;
  EXPECT_DEATH(os.markReady(&stranger), "Assertion failed: Timer not found on os_avail!");
  FakeBack back;
  FakeBack::Front front(&back, 0);
  EXPECT_DEATH(os.add(&front),
               "Assertion failed: Tried to add StackedSelectableFront to OsSelector");
  os.remove(&timer);
  EXPECT_DEATH(os.remove(&timer), "Assertion failed: Selectable to remove not on selector");
  EXPECT_DEATH(back.removeSelector(&selector_),
               "Assertion failed: StackedSelectableBack::removeSelector got unknown Selector");
  EXPECT_DEATH(back.setUnderlying(nullptr, true),
               "Assertion failed: StackedSelectableBack underlying pointer is null");
}

}  // namespace
}  // namespace io
