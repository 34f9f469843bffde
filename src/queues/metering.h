#pragma once
// The event side of metering: starting it, and answering the main process's
// requests to list metrics, describe one and read its value. The metric
// objects themselves live in meter/.
#include "queues/event.h"

namespace queues {

// Puts every metric constructed so far into the tree and tells the main
// process (SUPPORTS_METRICS) that this process answers metric requests.
// Called once, at start-up, with the current queue set.
void startMetering();

// Answers GET_METRIC, LIST_METRICS and GET_METRIC_TYPE through the current
// queue, to the requester and with the request's uid, and returns true;
// returns false for every other event. A path that names no metric gets the
// error reply "Unknown metric".
bool handleMetricEvent(const event& ev);

}  // namespace queues
