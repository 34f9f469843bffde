// Receive speed of the child queue in pipe mode: a pipe full of
// IMMEDIATE_STATE events, each taken out as its own heap event, as the main
// loop does. Also the cost of a dialog whose reply is already waiting.
// Both count heap allocations: the only one allowed is the event itself.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "io/fd_stream.h"
#include "io/memory_stream.h"
#include "os/fd.h"
#include "queues/childqueue.h"
#include "queues/devent.h"
#include "queues/ioprim.h"
#include "queues/qdialog.h"

// Every allocation of the program, counted. (GCC takes the free() of memory
// from this operator new for a mismatch when it inlines both.)
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
namespace {
std::size_t allocations = 0;
}  // namespace

void* operator new(std::size_t size) {
  ++allocations;
  if (void* p = std::malloc(size != 0 ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace queues;

// The bytes of `count` IMMEDIATE_STATE events, as a sibling writes them.
std::vector<std::uint8_t> encodedStates(std::size_t count) {
  io::MemoryStreamPair pair;
  queues::ioprim writer(nullptr, &pair.out);
  for (std::size_t i = 0; i < count; ++i) {
    const devent_t<IMMEDIATE_STATE> ev(QUEUE_DBMS, 0,
                                       {tql::id_t{7, static_cast<std::uint32_t>(i)}, 2});
    writer.writeEvent(ev);
  }
  writer.flush();
  std::vector<std::uint8_t> bytes;
  const std::uint8_t* data = nullptr;
  while (std::size_t n = pair.in.readBegin(data)) {
    bytes.insert(bytes.end(), data, data + n);
    pair.in.readCommit(n);
  }
  return bytes;
}

void writeAll(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const os::IoResult r = os::writeSome(fd, bytes.data() + done, bytes.size() - done);
    if (r.error != 0) throw error::ESystemError("bench pipe write failed");
    done += r.bytes;
  }
}

// A child queue reading from one pipe (its output goes to another, unread).
struct PipeQueue {
  PipeQueue() {
    const os::PipeEnds in = os::makePipe();
    const os::PipeEnds out = os::makePipe();
    pipe_bytes = static_cast<std::size_t>(os::setPipeBufferSize(in.writeEnd, 1 << 20));
    os::setPipeBufferSize(out.writeEnd, 1 << 20);
    writer = in.writeEnd;
    reader = out.readEnd;
    queue = std::make_unique<childqueue>(std::make_unique<io::FdIStream>(in.readEnd, "in"),
                                         std::make_unique<io::FdOStream>(out.writeEnd, "out"));
  }
  ~PipeQueue() {
    queue.reset();
    os::closeFdQuietly(writer);
    os::closeFdQuietly(reader);
  }
  std::size_t pipe_bytes = 0;
  int writer = -1;
  int reader = -1;
  ChildQueuePtr queue;
};

void BM_ReceiveImmediateStates(benchmark::State& state) {
  PipeQueue pipe;
  const std::size_t event_bytes = encodedStates(1).size();
  const std::size_t batch = pipe.pipe_bytes / event_bytes;
  const std::vector<std::uint8_t> bytes = encodedStates(batch);
  std::int64_t events = 0;
  std::size_t allocated = 0;
  for (auto _ : state) {
    state.PauseTiming();
    writeAll(pipe.writer, bytes);  // the pipe is full
    const std::size_t before = allocations;
    state.ResumeTiming();
    for (std::size_t i = 0; i < batch; ++i) {
      EventPtr ev = pipe.queue->receive();
      if (ev == nullptr || ev->type != IMMEDIATE_STATE) {
        state.SkipWithError("receive did not return the events written");
        return;
      }
      benchmark::DoNotOptimize(ev.get());
    }
    allocated += allocations - before;
    events += static_cast<std::int64_t>(batch);
  }
  state.SetItemsProcessed(events);
  state.counters["allocs_per_event"] = static_cast<double>(allocated) / static_cast<double>(events);
  state.counters["batch"] = static_cast<double>(batch);
}
BENCHMARK(BM_ReceiveImmediateStates)->Unit(benchmark::kMillisecond)->UseRealTime();

// A dialog whose reply is already remembered: send the request (into a
// pipe that is drained now and then) and take the reply from the list.
void BM_DialogWithWaitingReply(benchmark::State& state) {
  PipeQueue pipe;
  CurrentQueueScope current(*pipe.queue);
  std::vector<std::uint8_t> drain(1 << 20);
  std::size_t sent = 0;
  std::size_t allocated = 0;
  std::uint32_t uid = 0;
  for (auto _ : state) {
    const std::size_t before = allocations;
    // The queue hands out 1, 2, 3... to the dialogs.
    pipe.queue->remember(std::make_unique<devent_t<RETURN_TQL_FORGET>>(QUEUE_DBMS, ++uid));
    benchmark::DoNotOptimize(forgetSubscription(1));
    allocated += allocations - before;
    if (++sent % 4096 == 0) {
      state.PauseTiming();
      while (os::readSome(pipe.reader, drain.data(), drain.size()).bytes == drain.size()) {
      }
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(state.iterations());
  // The reply event, remembered here as if it had arrived earlier.
  state.counters["allocs_per_dialog"] =
      static_cast<double>(allocated) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_DialogWithWaitingReply);

}  // namespace

BENCHMARK_MAIN();
