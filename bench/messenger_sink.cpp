// messenger_sink ID: a member of a process family that reads every event
// sent to it and drops it (each one acknowledged as it is consumed), for
// the messenger benchmark. SYS_EXIT from the main process starts its
// shutdown; it ends with the main process's stream.
#include <cstdio>
#include <string>

#include "error/exception.h"
#include "io/sibling_messenger.h"
#include "queues/childqueue.h"
#include "queues/sibling_messenger_adapter.h"

int main(int argc, char** argv) {
  try {
    if (argc != 2) throw error::EFatal("usage: messenger_sink ID");
    io::SiblingMessenger messenger(std::stoi(argv[1]), "smem");
    queues::SiblingMessengerAdapter adapter(messenger);
    queues::childqueue queue(adapter);
    for (;;) {
      const queues::EventPtr ev = queue.receive();
      if (ev == nullptr) {
        if (queue.endOfStream(queues::QUEUE_MAIN)) break;
      } else if (ev->type == queues::SYS_EXIT) {
        queue.shutdown();
      }
    }
    if (!messenger.shutdownAcknowledged()) return 2;
    messenger.completeShutdown();
    return 0;
  } catch (const error::Exception& e) {
    std::fprintf(stderr, "Caught: %s\n", e.text().c_str());
    return 1;
  }
}
