#include "io/stacked.h"

#include <algorithm>

#include "error/check.h"
#include "io/selector.h"

namespace io {

StackedSelectableFront::StackedSelectableFront(StackedSelectableBack* back) : back_(back) {
  if (back_ != nullptr) back_->fronts_.push_back(this);
}

StackedSelectableFront::~StackedSelectableFront() {
  // The Selectable destructor would remove us too, but by then this class's
  // removeSelector no longer runs and the back would keep its count.
  while (!selectors().empty()) selectors().front()->remove(this);
  if (back_ != nullptr) std::erase(back_->fronts_, this);
}

void StackedSelectableFront::addSelector(SelectorBase* selector) {
  Selectable::addSelector(selector);
  if (back_ != nullptr) back_->addSelector(selector);
}

void StackedSelectableFront::removeSelector(SelectorBase* selector) {
  if (back_ != nullptr) back_->removeSelector(selector);
  Selectable::removeSelector(selector);
}

StackedSelectableBack::~StackedSelectableBack() {
  // An underlying selectable destroyed before us (a member of the derived
  // class) has already left every selector.
  for (const auto& [selector, count] : selector_counts_) {
    (void)count;
    for (Selectable* u : underlying_) {
      if (selector->contains(u)) selector->remove(u);
    }
  }
  // Fronts that outlive their back must not reach back into it.
  for (StackedSelectableFront* f : fronts_) f->back_ = nullptr;
}

void StackedSelectableBack::addSelector(SelectorBase* selector) {
  if (++selector_counts_[selector] != 1) return;
  for (Selectable* u : underlying_) selector->add(u, this);
}

void StackedSelectableBack::removeSelector(SelectorBase* selector) {
  auto it = selector_counts_.find(selector);
  HX_CHECK(it != selector_counts_.end(),
           "StackedSelectableBack::removeSelector got unknown Selector");
  if (--it->second != 0) return;
  selector_counts_.erase(it);
  for (Selectable* u : underlying_) {
    if (selector->contains(u)) selector->remove(u);
  }
}

void StackedSelectableBack::setUnderlying(Selectable* underlying, bool add) {
  HX_CHECK(underlying != nullptr, "StackedSelectableBack underlying pointer is null");
  auto it = std::find(underlying_.begin(), underlying_.end(), underlying);
  if (add) {
    if (it != underlying_.end()) return;
    underlying_.push_back(underlying);
    for (const auto& [selector, count] : selector_counts_) {
      (void)count;
      selector->add(underlying, this);
    }
    return;
  }
  if (it == underlying_.end()) return;
  underlying_.erase(it);
  for (const auto& [selector, count] : selector_counts_) {
    (void)count;
    selector->remove(underlying);
  }
}

}  // namespace io
