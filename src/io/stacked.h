#pragma once
// Stacked selectables: a group of fronts whose readiness is derived by their
// back from underlying selectables that the back owns (for example several
// logical streams multiplexed over a few real ones). The user registers the
// fronts; the underlying selectables join a selector together with the first
// front of their back and leave it with the last.
#include <map>
#include <vector>

#include "io/selectable.h"

namespace io {

class StackedSelectableBack;

class StackedSelectableFront : public virtual Selectable {
 public:
  // Joins the back's fronts; the back must outlive the front.
  explicit StackedSelectableFront(StackedSelectableBack* back);
  // Leaves every selector (while still a front, so the back sees it go) and
  // the back's fronts.
  ~StackedSelectableFront() override;

  [[nodiscard]] bool isReady() override { return ready_; }
  void addSelector(SelectorBase* selector) override;
  void removeSelector(SelectorBase* selector) override;

  // Set and cleared by the back.
  void setReady(bool ready) { ready_ = ready; }
  [[nodiscard]] StackedSelectableBack* back() const { return back_; }

 private:
  friend class StackedSelectableBack;
  StackedSelectableBack* back_;
  bool ready_ = false;
};

class StackedSelectableBack {
 public:
  StackedSelectableBack() = default;
  StackedSelectableBack(const StackedSelectableBack&) = delete;
  StackedSelectableBack& operator=(const StackedSelectableBack&) = delete;
  // Takes every underlying selectable off every selector it stands on.
  virtual ~StackedSelectableBack();

  // Called by a selector when one of the underlying selectables is ready;
  // the back updates the ready flags of its fronts.
  virtual void underlyingIsReady(Selectable* underlying) = 0;

  // A front of this back was registered on / removed from `selector`.
  void addSelector(SelectorBase* selector);
  void removeSelector(SelectorBase* selector);
  // Adds (add true) or removes an underlying selectable, on every selector
  // where a front of this back stands.
  void setUnderlying(Selectable* underlying, bool add);

  // In the order they joined.
  [[nodiscard]] const std::vector<StackedSelectableFront*>& fronts() const { return fronts_; }
  [[nodiscard]] const std::vector<Selectable*>& underlying() const { return underlying_; }

 private:
  friend class StackedSelectableFront;
  std::vector<StackedSelectableFront*> fronts_;
  std::vector<Selectable*> underlying_;
  // How many fronts stand on each selector.
  std::map<SelectorBase*, int> selector_counts_;
};

}  // namespace io
