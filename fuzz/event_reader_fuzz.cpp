// Feeds arbitrary bytes to the event reader. The first byte chooses the
// read area size (1 to 256), so that values land across area boundaries;
// the rest is the byte stream. Every event read must print, and must write
// and read back to the same text; anything else the reader meets must end
// in an exception, never in a crash.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "error/exception.h"
#include "io/exceptions.h"
#include "io/memory_stream.h"
#include "queues/devent.h"
#include "queues/ioprim.h"

namespace {

// Writes an event and reads it back through a fresh pipe.
queues::EventPtr reencode(const queues::event& ev) {
  io::MemoryStreamPair streams(4096, 13);
  queues::ioprim writer(nullptr, &streams.out);
  queues::ioprim reader(&streams.in, nullptr);
  writer.writeEvent(ev);
  writer.flush();
  streams.out.close();
  return reader.readEvent();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t area = std::size_t{data[0]} + 1;
  io::MemoryPipe pipe;
  if (size > 1) pipe.deliver(data + 1, size - 1);
  pipe.closeWriter();
  io::MemoryIStream in(pipe, area);
  queues::ioprim reader(&in, nullptr);
  // Unknown type numbers and ordinary events of the exception type are
  // internal checks between siblings; here they must merely stop the read.
  reader.throwOnBadEventForTest(true);
  try {
    for (;;) {
      const queues::EventPtr ev = reader.readEvent();
      const std::string text = ev->toString();
      if (reencode(*ev)->toString() != text) std::abort();
    }
  } catch (const io::EEndOfStream&) {
  } catch (const error::Exception&) {
  }
  return 0;
}
