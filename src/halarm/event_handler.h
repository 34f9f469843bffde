#pragma once
// What the alarm process does with each event it receives: metric requests
// are answered, the standing select's replies go to the mirror, check
// states, check-ins, acknowledgements and score resets go to the keeper of
// the object they name, and SYS_EXIT starts the shutdown. Events naming an
// object that has no keeper yet are remembered until the next full select
// reply. Anything else ends the run with error::EFatal.
#include "queues/childqueue.h"
#include "queues/event.h"

namespace halarm {

// Handles one received event; the caller keeps it. Throws error::EFatal for
// an unexpected event, a select reply that is not ours or reports an error,
// and an object tree the keepers refuse; the shutdown's dialog can throw
// errors::remote_error and error::ESystemError.
void handleEvent(queues::event& ev, queues::childqueue& queue);

}  // namespace halarm
