#include "io/selectable.h"

#include <algorithm>

#include "error/check.h"
#include "io/selector.h"

namespace io {

Selectable::~Selectable() {
  while (!selectors_.empty()) selectors_.front()->remove(this);
}

void Selectable::addSelector(SelectorBase* selector) {
  selectors_.push_back(selector);
  if (isReady()) selector->markReady(this);
}

void Selectable::removeSelector(SelectorBase* selector) {
  auto it = std::find(selectors_.begin(), selectors_.end(), selector);
  HX_CHECK(it != selectors_.end(), "Unable to remove selector in: " + name());
  selectors_.erase(it);
}

void Selectable::waitReady() {
  if (isReady()) return;
  Selector<int> selector;
  selector.add(this, 0);
  Selectable* got = selector.select().first;
  HX_CHECK(got == this, "Got wrong selectable in waitReady: " + name());
}

bool Selectable::maybeReady(const htime::usec_time& now) {
  if (handle().valid()) return true;
  htime::usec_time when;
  if (deadline(when) && (when.sec < now.sec || (when.sec == now.sec && when.usec <= now.usec))) {
    return true;
  }
  return isReady();
}

}  // namespace io
