#pragma once
// The work of each turn that fans out beyond the object an event named:
// objects that depend on changed counts, or watch a status source whose
// status class changed, reconsider their status; touched keepers run their
// deferred processing (which arms their next wake-up); keepers whose DBMS
// status changed are reported; expired one-off downtime elements are deleted
// in the DBMS.
//
// However many events arrive for one dependency within a turn, each
// dependent is reconsidered once per pass and each touched keeper processed
// once per turn.
//
// Main thread only.
#include <cstdint>
#include <map>
#include <set>

#include "keepers/count_keeper.h"
#include "keepers/run_state.h"
#include "queues/childqueue.h"
#include "queues/devent.h"
#include "time/usec_time.h"

namespace halarm {

// Settles the tree: at most three passes of reconsidering, then
// processTouched. Ids still queued after the third pass stay queued and are
// taken up by the next turn's pass.
void perform_delayed_computations();

// Adds the keeper's id and those of every count keeper below it to `ids`;
// a subtree already there is not walked again. Nothing for null.
void addSubtree(std::set<tql::id_t>& ids, keepers::CountKeeper* keeper);

// Runs `process` of every touched owner once and empties `touched`.
void processTouched();

// Reports every queued status change (incident, notification, new status)
// and empties `notify_queue`. Keepers are visited in id order.
void sendStatusNotifications();

// Deletes in the DBMS every expiring downtime element whose end time is at
// or before `now`, once, and drops the DBMS's reply to that delete.
void expireSubPlans(htime::usec_time now, queues::childqueue& queue);

// The driver's side of expiry, for any keeper type that is a mirrored
// object with `void expiryTaken()` (told that its entry left the schedule,
// so it must not erase it itself). Each due entry is taken out, the element
// deleted with a TQL_DELETE under a fresh uid, and that uid added to
// `ignoredReplies`.
template <class Keeper, class Compare>
void expireDue(std::multimap<htime::usec_time, Keeper*, Compare>& due, htime::usec_time now,
               queues::childqueue& queue) {
  while (!due.empty() && !Compare{}(now, due.begin()->first)) {
    Keeper* element = due.begin()->second;
    due.erase(due.begin());
    element->expiryTaken();
    const std::uint32_t uid = queue.nextUid();
    queue.send(queues::devent_t<queues::TQL_DELETE>(
        queues::QUEUE_DBMS, uid,
        dbms::Tql_Delete_Data{element->object->id, element->object->version, tql::id_t(), false}));
    keepers::ignoredReplies.insert(uid);
  }
}

}  // namespace halarm
