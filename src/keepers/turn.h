#pragma once
// The work of each turn of the main loop that fans out beyond the object an
// event named, done once per turn rather than once per event:
//
// - settle, before the loop waits: objects that depend on changed counts,
//   or watch a status source whose status class changed, reconsider their
//   status; touched keepers run their deferred processing (which arms their
//   next wake-up); keepers whose DBMS status changed are reported;
// - dispatchBoundary, when the earliest wake-up of `boundaries` came due;
// - expireSubPlans, after each event: one-off downtime elements that have
//   ended are deleted in the DBMS.
//
// However many events arrive for one dependency within a turn, each
// dependent is reconsidered once per pass and each touched keeper processed
// once per turn. While `shuttingDown`, status notifications are dropped
// unsent (the caller also stops waiting for boundaries).
//
// Main thread only.
#include "htime/usec_time.h"
#include "keepers/event_sink.h"
#include "keepers/event_tracker.h"

namespace keepers {

// The start of a turn: perform_delayed_computations, then every queued
// status change is reported (incident, notification, new status) in object
// id order and `notify_queue` emptied.
void settle();

// At most three passes of reconsidering, then the touched owners are
// processed. Ids still queued after the third pass stay queued and are
// taken up by the next turn's pass.
void perform_delayed_computations();

// The record came due: its owner is found by id, a count keeper first, then
// a plan keeper, and told; an owner found in neither is dropped. The record
// goes off the schedule: the woken keeper marks itself touched and arms its
// next wake-up when it is processed in the next settle.
void dispatchBoundary(BoundaryRecord& record);

// Deletes in the DBMS every one-off downtime element of `expiries` whose end
// is at or before `now`, once: each is taken off the schedule, a TQL_DELETE
// sent under a fresh uid, and that uid added to `ignoredReplies`. The keeper
// itself goes when the DBMS's delete patch arrives.
void expireSubPlans(htime::usec_time now, EventSink& sink);

}  // namespace keepers
