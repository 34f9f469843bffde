// Events between two processes through the sibling messenger: this process
// is the main process of a family and sends IMMEDIATE_STATE events to a
// child (messenger_sink) that reads and acknowledges each one. A batch is
// timed from the first send until every block has come back acknowledged.
// The counters give events per second one way and the write system calls
// this process made per event (control messages are batched: far below
// one).
#include <benchmark/benchmark.h>

#include <memory>

#include "family/family.h"
#include "htime/usec_time.h"
#include "io/selector.h"
#include "io/timer.h"
#include "os/process_info.h"
#include "queues/devent.h"

namespace {

using namespace queues;

constexpr int kSink = 7;

// Serves the family (acknowledgements, introductions) until no message
// of this process is outstanding.
void drain(family::Family& family, io::Selector<int>& selector, io::Timer& timer) {
  while (family.messenger().outstandingCount() != 0) {
    timer.setDeadline(htime::now() + htime::usec_time(0, 1000));
    if (selector.select().first == &timer) continue;
    (void)family.queue().receive();
  }
}

void BM_OneWay(benchmark::State& state) {
  const auto batch = static_cast<std::uint32_t>(state.range(0));
  family::Family family;
  family.start(kSink, MESSENGER_SINK, {std::to_string(kSink)});
  io::Timer timer{htime::never};
  io::Selector<int> selector;
  selector.add(&family.queue().front(), 0);
  selector.add(&timer, 1);
  // The first event waits for the sink to come up; not timed.
  family.queue().send(devent_t<IMMEDIATE_STATE>(static_cast<queue_t>(kSink), 0, {{7, 0}, 0}));
  drain(family, selector, timer);

  const long long writesBefore = os::writeCallCount();
  std::uint64_t events = 0;
  for (auto _ : state) {
    for (std::uint32_t i = 0; i < batch; ++i) {
      family.queue().send(devent_t<IMMEDIATE_STATE>(static_cast<queue_t>(kSink), 0,
                                                    {{7, i}, (i % 4 == 0) ? 3 : 0}));
    }
    drain(family, selector, timer);
    events += batch;
  }
  const long long writes = os::writeCallCount() - writesBefore;
  state.SetItemsProcessed(static_cast<std::int64_t>(events));
  state.counters["events/s"] =
      benchmark::Counter(static_cast<double>(events), benchmark::Counter::kIsRate);
  if (writesBefore >= 0) {
    state.counters["writes/event"] = static_cast<double>(writes) / static_cast<double>(events);
  }
  family.queue().send(devent_t<SYS_EXIT>(static_cast<queue_t>(kSink), 0, {0}));
  while (!family.poll(kSink)) {
    timer.setDeadline(htime::now() + htime::usec_time(0, 10000));
    if (selector.select().first != &timer) (void)family.queue().receive();
  }
}
BENCHMARK(BM_OneWay)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
