#pragma once
// The keeper of a Node. The node's own status comes from its check-ins: a
// check-in makes the check-in state good, and a node that has not checked in
// for 2.5 check-in periods plus 30 seconds is reported late to the DBMS once
// (LATE_CHECKIN) until it checks in again. A node without a check-in
// frequency is inactive and has no status. Its levels apply to every check
// below it.
#include <cstdint>
#include <string>
#include <string_view>

#include "keepers/node_like_score_keeper.h"

namespace keepers {

class NodeScoreKeeper final : public NodeLikeScoreKeeper {
 public:
  // Reads the object at once.
  NodeScoreKeeper(CountKeeper* parentKeeper, tql::object_ptr node, EventSink& sink);

  // Check, CheckGroup and Plan children; anything else is EFatal.
  tql::IncrementalSubscriber::ObjectPtr createChild(tql::object_ptr node) override;
  void update(bool top) override;
  // The late check-in test, then a fresh derivation.
  void boundaryReached() override;
  // Arms the threshold and grace wake-ups, and the late one while waiting.
  void process() override;
  // Resets the node and every check below it.
  void resetAllScores(const tql::id_t& user, const std::string& comment) override;
  NodeScoreKeeper* asNode() override { return this; }
  std::string_view label() const override { return "Checkin"; }

  // The node checked in at `time` (seconds since the epoch): its check-in
  // state is good and the wait for the next check-in starts.
  void checkin(std::int64_t time) override;

 private:
  // When the node will count as late: from the last check-in (from now while
  // there was none) 2.5 periods plus 30 seconds.
  htime::usec_time expectedCheckinTime() const;

  BoundaryRecord late_record_{*this};
  std::int64_t last_checkin_ = 0;
  std::uint32_t frequency_ = 0;
  bool late_ = false;
};

}  // namespace keepers
