// halcyx-relay ID PEER: sibling ID of the process family (started by the
// main process with the smem:: environment values), which passes every
// event from the main process on to sibling PEER and every event from PEER
// back to the main process. A tool that plays the DBMS or the alert process
// inside the main process starts one relay per role, so that the alarm
// process talks to a real sibling of that id, through the messenger alone.
//
// SYS_EXIT from the main process is the relay's own exit order: it starts
// its shutdown and ends once the main process's stream has ended. Events
// for a PEER that is gone are dropped. Exit codes: 0 after an ordered and
// completed shutdown, 1 after an error ("Caught: " and its text on standard
// error, bad arguments included), 2 when the main process went away first.
#include <cstdio>
#include <string>

#include "crash/crash_handler.h"
#include "error/exception.h"
#include "error/parse.h"
#include "io/exceptions.h"
#include "io/sibling_messenger.h"
#include "queues/childqueue.h"
#include "queues/sibling_messenger_adapter.h"
#include "queues/types.h"

namespace {

int relay(int id, queues::queue_t peer) {
  io::SiblingMessenger messenger(id, "smem");
  queues::SiblingMessengerAdapter adapter(messenger);
  queues::childqueue queue(adapter);
  for (;;) {
    const queues::EventPtr ev = queue.receive();
    if (ev == nullptr) {
      if (queue.endOfStream(queues::QUEUE_MAIN)) break;
      continue;  // the peer's stream ended; keep serving the main process
    }
    if (ev->dest == queues::QUEUE_MAIN && ev->type == queues::SYS_EXIT) {
      queue.shutdown();
      continue;
    }
    ev->dest = ev->dest == queues::QUEUE_MAIN ? peer : queues::QUEUE_MAIN;
    try {
      queue.send(*ev);
    } catch (const io::EEndOfStream&) {
      // Its receiver is gone, or writing is over because of the shutdown.
    }
  }
  if (!messenger.shutdownAcknowledged()) return 2;
  messenger.completeShutdown();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    crash::installCrashHandler();
    if (argc != 3) throw error::EFatal("usage: halcyx-relay ID PEER");
    const std::uint32_t id = error::parseUnsigned(argv[1]);
    const std::uint32_t peer = error::parseUnsigned(argv[2]);
    if (id >= queues::kQueueCount || peer >= queues::kQueueCount || id == 0 || peer == id) {
      throw error::EFatal("halcyx-relay: ID and PEER must be distinct sibling numbers below " +
                          std::to_string(queues::kQueueCount) + ", ID not 0");
    }
    return relay(static_cast<int>(id), static_cast<queues::queue_t>(peer));
  } catch (const error::Exception& e) {
    std::fprintf(stderr, "Caught: %s\n", e.text().c_str());
    return 1;
  }
}
