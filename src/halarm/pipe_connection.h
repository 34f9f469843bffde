#pragma once
// The alarm process over the parent's pipes instead of the sibling
// messenger: every event it sends goes to one output stream, and it reads
// every peer's events from one input stream, where each event's `dest`
// names its sender. The end of the input is the end of every peer's
// stream. This is how the process runs without the rest of the server:
// driven by a test, a captured session or a fuzzer.
#include "halarm/run.h"
#include "io/stream.h"
#include "queues/childqueue.h"

namespace halarm {

class PipeConnection final : public Connection {
 public:
  explicit PipeConnection(queues::ChildQueuePtr queue) : queue_(std::move(queue)) {}
  PipeConnection(io::IStreamPtr in, io::OStreamPtr out);
  // Over standard input and output.
  static ConnectionPtr overStandardStreams();

  queues::childqueue& queue() override { return *queue_; }
  // Nothing to finish: the pipes belong to the parent.
  int completeShutdown(bool /*ordered*/) override { return 0; }

 private:
  queues::ChildQueuePtr queue_;
};

}  // namespace halarm
