#pragma once
// What the child queue needs from the sibling messenger: which sibling has
// input, each sibling's input and output byte streams, and the shutdown of
// the whole messaging. The messenger proper implements this through a thin
// adapter, and tests through a fake.
#include "io/selectable.h"
#include "io/stream.h"
#include "queues/types.h"

namespace queues {

class Messenger {
 public:
  virtual ~Messenger() = default;

  // Ready while some sibling has input waiting, its end of stream included.
  // The child queue waits on it.
  virtual io::Selectable& inputSelectable() = 0;
  // The sibling whose input is first in line; asked only while
  // inputSelectable() is ready.
  virtual queue_t readySibling() = 0;
  // The byte streams from and to one sibling, valid as long as the
  // messenger. Sibling numbers are queue numbers.
  virtual io::IStream& inputStream(queue_t sibling) = 0;
  virtual io::OStream& outputStream(queue_t sibling) = 0;
  // Called once the sibling's input stream reported its end, so that input
  // from other siblings is no longer held up behind it.
  virtual void dropEndOfStream(queue_t sibling) = 0;
  // Starts the orderly shutdown of the messaging.
  virtual void initiateShutdown() = 0;
};

}  // namespace queues
