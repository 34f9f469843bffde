#pragma once
// The DBMS or the alert process of a simulation as a process of its own: a
// sibling of the process family whose main process is the simulator
// (halcyx-sim --role dbms|alert, started with the family's environment). It
// talks to the alarm process through the messenger alone.
//
// The DBMS plays the scenario's DbmsRole: it answers the alarm's select,
// deletes and forgets, stores what the alarm writes and sends the timeline's
// states, check-ins, acknowledgements, resets and tree changes when the main
// process orders them (perform records, see role_record.h). The alert
// process takes the status changes. Both report to the main process: their
// actions and problems as records, the moment of the first select as the
// start record, and a copy of every event the alarm sent them, so that the
// main process can keep its own account of what the DBMS holds and show
// every status change.
//
// SYS_EXIT from the main process starts the shutdown; the process ends once
// the main process's stream has ended. Returns the exit code: 0 after an
// ordered and completed shutdown, 2 when the main process went away first.
#include "sim/scenario.h"

namespace sim {

int runRoleProcess(Sibling role, const Scenario& scenario);

}  // namespace sim
