#pragma once
// The driver's process-wide state besides the keepers' structures: the
// configuration, the standing select's uid, the shutdown flag, and the
// events remembered for objects that have no keeper yet.
//
// Main thread only.
#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "queues/control.h"
#include "tql/id.h"

namespace halarm {

// The server configuration as the main process sent it at start-up.
extern control::Server_Configuration_Fields configuration;

// The uid of the standing TQL_SELECT; a select reply with any other uid is
// a protocol violation.
extern std::uint32_t subscriptionUid;

// Set once the main process ordered the exit: status notifications and
// boundary wake-ups stop, events are still applied.
extern bool shuttingDown;

// Events naming an object that had no score keeper when they arrived,
// applied (or reported and dropped) at the next full select reply. A later
// state or check-in replaces an earlier one; a later acknowledgement is
// dropped in favour of the first.
extern std::map<tql::id_t, std::int32_t> remembered_states;
extern std::map<tql::id_t, std::pair<tql::id_t, std::string>> remembered_acknowledges;
extern std::map<tql::id_t, std::int64_t> remembered_checkins;

// Everything above back to its start-of-process value.
void resetDriverState();

}  // namespace halarm
