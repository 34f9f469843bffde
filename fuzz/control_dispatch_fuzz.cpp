// Feeds arbitrary control messages, from any claimed sender, into the pipes
// of a parent and two child messengers running in this process, between
// reads and writes of their streams. A family is set up fresh for every
// input: the parent, children 1 and 2, a message from 1 to the parent and
// one from the parent to 2 in flight.
//
// The input is a sequence of 9-byte records: an operation byte and, for
// the operations that need one, an 8-byte control message:
//   op % 8 == 0, 1, 2  the message goes into the pipe of the parent, child
//                      1 or child 2
//   op % 8 == 3, 4, 5  that member reads one message of whatever input it
//                      has (or meets the end of a stream and drops it)
//   op % 8 == 6        child 1 writes a small message to the sibling named
//                      by the record's sender field
//   op % 8 == 7        child 1 starts its shutdown, or completes it once
//                      acknowledged
// After each record every member does its I/O.
//
// Every input must end normally, with an exception of the error family,
// or with one of the failed checks that a lying peer is meant to cause
// (they end the run here through an assertion hook). Anything else (another
// failed check, a read outside the pool, a sanitizer report, a hang) is a
// finding. The message bytes a member hands out always lie inside the pool.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "error/check.h"
#include "error/exception.h"
#include "io/control_message.h"
#include "io/exceptions.h"
#include "io/fifo.h"
#include "os/fd.h"
#include "testkit/sibling_family.h"

namespace {

struct DesignedFailure {};

void endDesignedFailures(std::string_view text) {
  static constexpr std::string_view kDesigned[] = {
      "Got MT_Undefined",
      "Too big a stack: ",
      "Stack size is ",
      "No ExtraOffset on SiblingAt",
      "No ExtraSize on SiblingAt",
      "Failed insertion in into write_areas",
      "Write area ",
      "block_header init error",
      "Got RequestPeer but we're a child",
      "Got IAmUp but we're a child",
      "MT_SiblingDied not valid to parent",
      "Protocol violation; got AckShutdown unexpectedly",
      "si is end",
      "Not one of my messages: ",
      "MessageAt from sibling ",
      "Message offset ",
      "Message at ",
      "Offset out of range: ",
      "Found shared memory area for sibling ",
      "Slice size for sibling id ",
      "Acknowledgement of ",
      "Control message from out of range sibling id: ",
  };
  for (const std::string_view designed : kDesigned) {
    if (text.starts_with(designed)) throw DesignedFailure();
  }
}

constexpr std::size_t kRecord = 1 + io::ControlMessage::kSize;
constexpr std::size_t kMaxRecords = 256;

void writeInto(const testkit::SiblingFamily& family, int to, const std::uint8_t* bytes) {
  io::SiblingFifo fifo = io::openFifo(family.conf().fifoprefix, to);
  (void)os::writeSome(fifo.writeEnd.get(), bytes, io::ControlMessage::kSize);
}

void readOne(io::SiblingMessenger& m) {
  if (!m.someSibling().isReady()) return;
  const int from = m.readySibling();
  io::IStream& in = m.inputStream(from);
  if (!in.isReady()) return;
  const std::uint8_t* data = nullptr;
  try {
    const std::size_t n = in.readBegin(data);
    const auto pool = m.pool();
    if (n > 0 && (data < pool.data() || data + n > pool.data() + pool.size())) {
      std::abort();
    }
    in.readCommit(n);
  } catch (const io::EEndOfStream&) {
    m.dropEndOfStream(from);
  }
}

void writeSmall(io::SiblingMessenger& m, int to) {
  io::OStream& out = m.outputStream(to);
  if (!out.isReady()) return;
  std::uint8_t* data = nullptr;
  if (out.writeBegin(data) < 4) return;
  data[0] = 'f';
  data[1] = 'u';
  data[2] = 'z';
  data[3] = 'z';
  out.writeCommit(4);
}

void run(const std::uint8_t* data, std::size_t size) {
  testkit::SiblingFamily family;
  family.areaSizes[1] = 4096;
  family.areaSizes[2] = 4096;
  family.grant = false;
  io::SiblingMessenger* members[] = {&family.parent(), &family.startChild(1),
                                     &family.startChild(2)};
  writeSmall(*members[1], 0);
  writeSmall(*members[0], 2);
  family.pump();

  for (std::size_t i = 0; i + kRecord <= size && i / kRecord < kMaxRecords; i += kRecord) {
    const std::uint8_t op = data[i] % 8;
    const std::uint8_t* msg = data + i + 1;
    if (op <= 2) {
      writeInto(family, op, msg);
    } else if (op <= 5) {
      readOne(*members[op - 3]);
    } else if (op == 6) {
      const auto to = io::ControlMessage::decode(msg).sender();
      if (to >= -127 && to <= 128) writeSmall(*members[1], to);
    } else {
      io::SiblingMessenger& one = *members[1];
      if (!one.shutdownInitiated()) {
        one.initiateShutdown();
      } else if (one.shutdownAcknowledged() && !one.shutdownCompleted()) {
        one.completeShutdown();
      }
    }
    family.pump();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  error::setAssertionHookForFuzzing(endDesignedFailures);
  try {
    run(data, size);
  } catch (const DesignedFailure&) {
    // The member would have aborted here.
  } catch (const error::Exception&) {
    // An error the messengers report to their callers.
  }
  return 0;
}
