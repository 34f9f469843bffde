#pragma once
// Named run-time metrics (gauges, counters, timings) grouped in a tree of named
// groups that a supervising process can list and read.
//
// Metrics are meant to be process-wide objects declared anywhere in the
// program, usually constructed before main. Until `start` is called a new
// object only goes onto a pending list of its kind; `start` puts every pending
// object into its parent group (or the root group) and from then on a new
// object joins its group at once. So the order in which static objects of
// different files are constructed never matters, and the tree is built in one
// place, at start-up.
//
// This layer knows nothing of events: a metric answers a value request by
// calling a `Replier`, which the messaging layer implements.
//
// Single-threaded: metrics are created, updated and read on the main thread.
#include <cstdint>
#include <limits>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "error/exception.h"
#include "htime/usec_time.h"

namespace meter {

class Group;
class Registry;

// A metric that exists but cannot give a value for the instance asked for.
class ENoSuchInstance : public error::MessageException {
 public:
  ENoSuchInstance() : MessageException("No such instance") {}
};

// Type codes reported for each kind of metric.
inline constexpr std::uint32_t kIntegerGaugeType = 0;
inline constexpr std::uint32_t kIntegerCounterType = 2;
inline constexpr std::uint32_t kTimingType = 3;

// The statistics of a timing, in the order they are reported.
struct TimingStats {
  std::uint64_t n = 0;
  std::uint64_t min = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t max = 0;
  std::uint64_t sum = 0;
  std::uint64_t sum_squares = 0;

  friend bool operator==(const TimingStats&, const TimingStats&) = default;
};

// Receives the value of a metric that was asked for; implemented by whoever
// turns the value into a reply to the requester.
class Replier {
 public:
  virtual ~Replier() = default;
  virtual void replyUint64(std::uint64_t value) = 0;
  virtual void replyTiming(const TimingStats& stats) = 0;
};

// A path from some group down to an object: one name per level.
using Path = std::span<const std::string>;

class Object {
 public:
  enum class Kind { kGroup, kTable, kMetric };

  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  virtual ~Object() = default;

  // The object that `rest` designates from here, or null.
  virtual Object* find(Path rest) = 0;

  // The parent group given at construction; null means the root group.
  Group* parent() const { return parent_; }
  const std::string& name() const { return name_; }
  Kind kind() const { return kind_; }
  // The group this object was added to, or null while it is pending.
  Group* group() const { return added_to_; }

 protected:
  Object(Kind kind, Group* parent, std::string name)
      : kind_(kind), parent_(parent), name_(std::move(name)) {}
  // Registration, from the constructor and destructor of each kind (Group,
  // Table, Metric), where the object is of that kind: a group only ever sees
  // objects whose kind part is alive.
  void enlist();
  void delist();

 private:
  friend class Group;
  friend class Registry;
  struct RootTag {};
  explicit Object(RootTag);

  Kind kind_;
  Group* parent_ = nullptr;
  std::string name_;
  Group* added_to_ = nullptr;
};

class Table;
class Metric;

class Group : public Object {
 public:
  // parent null: a top-level group, put into the root group.
  Group(Group* parent, std::string name);
  ~Group() override;

  Object* find(Path rest) override;

  // Inserts the object under its name; a name that is already taken in this
  // group (by a group, table or metric) fails an internal check.
  void add(Object& object);

  const std::vector<Group*>& groups() const { return groups_; }
  const std::vector<Table*>& tables() const { return tables_; }
  const std::vector<Metric*>& metrics() const { return metrics_; }

 private:
  friend class Object;
  friend class Registry;
  explicit Group(RootTag);
  void removeMember(Object& object);
  void detachAll();

  // One namespace for subgroups, tables and metrics.
  std::map<std::string, Object*, std::less<>> members_;
  std::vector<Group*> groups_;
  std::vector<Table*> tables_;
  std::vector<Metric*> metrics_;
};

// A table of per-instance values. This process defines none; the class exists
// so that groups can list the tables of programs that do.
class Table : public Object {
 public:
  Table(Group* parent, std::string name);
  ~Table() override;
  // A table is not a metric: a path ending here designates nothing.
  Object* find(Path) override { return nullptr; }
};

class Metric : public Object {
 public:
  ~Metric() override;
  Object* find(Path rest) override { return rest.empty() ? this : nullptr; }

  const std::string& unit() const { return unit_; }
  const std::string& description() const { return description_; }
  virtual std::uint32_t type() const = 0;
  // Hands the current value to the replier; may throw ENoSuchInstance.
  virtual void reply(Replier& replier) const = 0;

 protected:
  Metric(Group* parent, std::string name, std::string unit, std::string description);

 private:
  std::string unit_;
  std::string description_;
};

// A value that goes up and down.
class IntegerGauge : public Metric {
 public:
  IntegerGauge(Group* parent, std::string name, std::string unit, std::string description)
      : Metric(parent, std::move(name), std::move(unit), std::move(description)) {}

  std::uint32_t type() const override { return kIntegerGaugeType; }
  void reply(Replier& replier) const override { replier.replyUint64(value_); }

  std::uint64_t value() const { return value_; }
  void set(std::uint64_t value) { value_ = value; }
  IntegerGauge& operator++() {
    ++value_;
    return *this;
  }
  IntegerGauge& operator--() {
    --value_;
    return *this;
  }

 private:
  std::uint64_t value_ = 0;
};

// A value that only goes up.
class IntegerCounter : public Metric {
 public:
  IntegerCounter(Group* parent, std::string name, std::string unit, std::string description)
      : Metric(parent, std::move(name), std::move(unit), std::move(description)) {}

  std::uint32_t type() const override { return kIntegerCounterType; }
  void reply(Replier& replier) const override { replier.replyUint64(value_); }

  std::uint64_t value() const { return value_; }
  IntegerCounter& operator++() {
    ++value_;
    return *this;
  }
  IntegerCounter& operator+=(std::uint64_t n) {
    value_ += n;
    return *this;
  }

 private:
  std::uint64_t value_ = 0;
};

// Count, extremes, sum and sum of squares of samples.
class Timing : public Metric {
 public:
  Timing(Group* parent, std::string name, std::string unit, std::string description)
      : Metric(parent, std::move(name), std::move(unit), std::move(description)) {}

  std::uint32_t type() const override { return kTimingType; }
  void reply(Replier& replier) const override { replier.replyTiming(stats_); }

  void add(std::uint64_t sample) {
    ++stats_.n;
    stats_.sum += sample;
    stats_.sum_squares += sample * sample;
    if (sample < stats_.min) stats_.min = sample;
    if (sample > stats_.max) stats_.max = sample;
  }
  const TimingStats& stats() const { return stats_; }

 private:
  TimingStats stats_;
};

// A timing whose samples are durations in microseconds.
class MicroSecondTiming : public Timing {
 public:
  MicroSecondTiming(Group* parent, std::string name, std::string description)
      : Timing(parent, std::move(name), "us", std::move(description)) {}

  // Adds end - start in microseconds; a clock that went backwards counts as 0.
  void addElapsed(htime::usec_time start, htime::usec_time end) {
    const std::int64_t us = (static_cast<std::int64_t>(end.sec) - start.sec) * 1000000 +
                            (static_cast<std::int64_t>(end.usec) - start.usec);
    add(us > 0 ? static_cast<std::uint64_t>(us) : 0);
  }
};

// The root group: no name, no parent.
Group& root();

// Puts every pending group, then table, then metric into its parent group (or
// the root), most recently constructed first, and makes later objects join
// their group at once. Called once at start-up.
void start();
bool started();

// The object at `path` from the root group, or null (also for an empty path).
Object* find(Path path);

// Takes every object out of the tree, back onto the pending lists, as if
// `start` had never been called, so that a test can run registration again.
void resetForTest();

}  // namespace meter
