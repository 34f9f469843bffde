#include "io/selector.h"

#include <algorithm>
#include <limits>

#include "error/system_error.h"
#include "io/exceptions.h"

namespace io {

namespace {

bool isFront(Selectable* s) { return dynamic_cast<StackedSelectableFront*>(s) != nullptr; }

}  // namespace

// ---- OsSelector ----

OsSelector::OsSelector(OsWaitFunction wait) : wait_(std::move(wait)) {}

void OsSelector::add(Selectable* s) {
  HX_CHECK(!isFront(s), "Tried to add StackedSelectableFront to OsSelector");
  HX_CHECK(!os_avail_.contains(s), "Selectable allready added to selector: " + s->name());
  Entry entry{next_order_++, -1};
  const OsHandle h = s->handle();
  if (h.valid()) {
    entry.slot = static_cast<int>(slots_.size());
    slots_.push_back(os::PollSlot{h.fd, h.events, 0});
    owners_.push_back(s);
  }
  avail_.emplace(entry.order, s);
  os_avail_.emplace(s, entry);
}

void OsSelector::remove(Selectable* s) {
  auto it = os_avail_.find(s);
  HX_CHECK(it != os_avail_.end(), "Selectable to remove not on selector");
  const Entry entry = it->second;
  os_avail_.erase(it);
  avail_.erase(entry.order);
  ready_.erase(entry.order);
  if (entry.slot < 0) return;
  // Keep the arrays compact: the last slot moves into the hole.
  const auto last = slots_.size() - 1;
  if (static_cast<std::size_t>(entry.slot) != last) {
    slots_[entry.slot] = slots_[last];
    owners_[entry.slot] = owners_[last];
    os_avail_.at(owners_[entry.slot]).slot = entry.slot;
  }
  slots_.pop_back();
  owners_.pop_back();
}

void OsSelector::markReady(Selectable* s) {
  auto it = os_avail_.find(s);
  HX_CHECK(it != os_avail_.end(), s->name() + " not found on os_avail!");
  ready_.emplace(it->second.order, s);
}

Selectable* OsSelector::takeReady(const htime::usec_time& now) {
  while (!ready_.empty()) {
    Selectable* s = ready_.begin()->second;
    ready_.erase(ready_.begin());
    if (!s->maybeReady(now)) continue;
    htime::usec_time when;
    // Timers are returned only when the wait for their deadline ends.
    if (s->deadline(when)) continue;
    return s;
  }
  return nullptr;
}

std::pair<htime::usec_time, Selectable*> OsSelector::visitAll() {
  htime::usec_time earliest = htime::never;
  Selectable* earliest_owner = nullptr;
  // A snapshot: poll() may add or remove selectables.
  pass_.clear();
  for (const auto& [order, s] : avail_) pass_.push_back(order);
  for (std::uint64_t order : pass_) {
    auto it = avail_.find(order);
    if (it == avail_.end()) continue;
    Selectable* s = it->second;
    htime::usec_time when;
    if (s->deadline(when)) {
      if (when < earliest) {
        earliest = when;
        earliest_owner = s;
      }
      s->poll();
      continue;
    }
    s->poll();
    if (avail_.contains(order) && s->isReady()) ready_.emplace(order, s);
  }
  return {earliest, earliest_owner};
}

int OsSelector::timeoutMs(const htime::usec_time& earliest, const htime::usec_time& now) const {
  if (earliest == htime::never) return os::kInfiniteTimeout;
  // In whole microseconds: 7 ms must wait 7 ms, but 0.007 * 1000.0 is
  // 7.000000000000001 in floating point and would round up to 8.
  const std::int64_t micros =
      (static_cast<std::int64_t>(earliest.sec) - now.sec) * 1000000 + (earliest.usec - now.usec);
  if (micros <= 0) return 0;
  const std::int64_t ms = (micros + 999) / 1000;
  // A deadline further off than the wait can express ends the wait early;
  // the next pass waits again.
  return static_cast<int>(std::min<std::int64_t>(ms, std::numeric_limits<int>::max()));
}

Selectable* OsSelector::wait(bool nonblocking) {
  for (;;) {
    const htime::usec_time now = htime::now();
    if (Selectable* s = takeReady(now)) return s;
    const auto [earliest, earliest_owner] = visitAll();
    if (!ready_.empty()) continue;

    int timeout = timeoutMs(earliest, now);
    bool would_block = false;
    if (timeout != 0 && nonblocking) {
      timeout = 0;
      would_block = true;
    }
    // The events a descriptor waits for can change between waits (an output
    // stream waits for room only while it holds bytes).
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      const OsHandle h = owners_[i]->handle();
      slots_[i].fd = h.events != 0 ? h.fd : -1;
      slots_[i].events = h.events;
      slots_[i].revents = 0;
    }
    const os::PollResult result = wait_(slots_, timeout);
    switch (result.outcome) {
      case os::PollResult::interrupted:
        continue;
      case os::PollResult::failed:
        error::throwSystemError("WaitForMultipleEvents returned error", result.error);
      case os::PollResult::timedOut:
        if (would_block) throw ENotReady();
        if (earliest_owner != nullptr && earliest_owner->isReady()) return earliest_owner;
        continue;
      case os::PollResult::ready:
        break;
    }
    // Several descriptors can be signalled by one wait; the first owner that
    // does not ignore its signal is returned, the others are seen by the next
    // pass (the wait reports them again).
    signalled_.clear();
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      if (slots_[i].revents != 0) signalled_.push_back(owners_[i]);
    }
    for (Selectable* owner : signalled_) {
      if (os_avail_.contains(owner) && !owner->ignoreSignal()) return owner;
    }
  }
}

// ---- SelectorBase ----

SelectorBase::~SelectorBase() {
  while (!direct_.empty()) SelectorBase::remove(*direct_.begin());
  HX_CHECK(registry_.empty(), "avail not empty in ~SelectorBase");
}

void SelectorBase::add(Selectable* s, StackedSelectableBack* back) {
  StackedSelectableFront* front = dynamic_cast<StackedSelectableFront*>(s);
  const bool inserted = registry_.emplace(s, Registration{back, front, next_order_}).second;
  HX_CHECK(inserted, s->name() + " added twice to Selector");
  if (back == nullptr) direct_.insert(s);
  if (front != nullptr) {
    fronts_.emplace(next_order_, front);
  } else {
    OsSelector::add(s);
  }
  ++next_order_;
  s->addSelector(this);
}

void SelectorBase::remove(Selectable* s) {
  auto it = registry_.find(s);
  HX_CHECK(it != registry_.end(), "Unknown " + s->name() + " removed twice from Selector");
  const Registration reg = it->second;
  registry_.erase(it);
  direct_.erase(s);
  std::erase(ready_list_, s);
  if (reg.front != nullptr) fronts_.erase(reg.order);
  s->removeSelector(this);
  if (reg.front == nullptr) OsSelector::remove(s);
}

void SelectorBase::markReady(Selectable* s) {
  auto it = registry_.find(s);
  HX_CHECK(it != registry_.end(), s->name() + " not found on avail map");
  if (it->second.front != nullptr) {
    ready_list_.push_back(s);
    return;
  }
  OsSelector::markReady(s);
}

Selectable* SelectorBase::select(bool nonblocking) {
  std::vector<StackedSelectableFront*> candidates;
  for (;;) {
    while (!ready_list_.empty()) {
      Selectable* s = ready_list_.front();
      ready_list_.pop_front();
      if (direct_.contains(s) && s->maybeReady(htime::now())) return s;
    }
    const htime::usec_time now = htime::now();
    candidates.clear();
    for (const auto& [order, front] : fronts_) {
      if (front->maybeReady(now)) candidates.push_back(front);
    }
    for (StackedSelectableFront* front : candidates) {
      if (registry_.contains(front)) processReady(front);
    }
    if (!ready_list_.empty()) continue;
    processReady(OsSelector::wait(nonblocking));
  }
}

void SelectorBase::processReady(Selectable* s) {
  auto it = registry_.find(s);
  HX_CHECK(it != registry_.end(), "SelectorBase::processReady got unknown Selectable " + s->name());
  StackedSelectableBack* back = it->second.back;
  if (back == nullptr) {
    ready_list_.push_back(s);
    return;
  }
  back->underlyingIsReady(s);
  // A snapshot: the back may change its fronts while we recurse.
  const std::vector<StackedSelectableFront*> fronts = back->fronts();
  for (StackedSelectableFront* front : fronts) {
    if (front->isReady() && registry_.contains(front)) processReady(front);
  }
}

}  // namespace io
