// Speed of the whole alarm process: a select reply of 10,000 nodes with 10
// checks each, then 1,000,000 IMMEDIATE_STATE events, either half of them
// changing a status (each change sends its incident, notification and new
// status) or none of them.
//
// Run without arguments, the benchmarks run halarm::run in this process
// over in-memory streams (the load alone, and the states with the load's
// time taken off). With --write the program instead writes a stream to a
// file, to be piped through halcyx-alarm-pipe:
//
//   driver_bench --write load   /tmp/load.bin      # configuration + select
//   driver_bench --write mixed  /tmp/mixed.bin     # + 1,000,000 states, half changing
//   driver_bench --write steady /tmp/steady.bin    # + 1,000,000 states, none changing
//   cat /tmp/mixed.bin | /usr/bin/time -v build/bin/halcyx-alarm-pipe > /dev/null
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "halarm/pipe_connection.h"
#include "halarm/run.h"
#include "io/memory_stream.h"
#include "keepers/run_state.h"
#include "queues/devent.h"
#include "queues/ioprim.h"
#include "testkit/script.h"
#include "workload.h"

namespace {

using namespace queues;
using tql::id_t;
using tql::object_ptr;

constexpr std::uint32_t kNodes = 10000;
constexpr std::uint32_t kChecks = kNodes * workload::kChecksPerNode;
constexpr std::uint32_t kEvents = 1000000;

enum class Stream { load, mixed, steady };

using workload::checkId;

// The wire form of the stream, as the peers would write it.
std::vector<std::uint8_t> encode(Stream kind) {
  // Encoded before the process runs: the replies carry the uids that the
  // process gives its start-up requests.
  std::vector<std::uint8_t> bytes = testkit::Script()
                                        .start(workload::tree(kChecks))
                                        .encodeWith(testkit::RequestUids::atStartup());
  io::MemoryStreamPair streams(1 << 16);
  queues::ioprim out(nullptr, &streams.out);
  if (kind != Stream::load) {
    // Mixed: each check in turn gets a state that changes its status (alert
    // and good alternately, starting from uninitialized) and then the same
    // state again. Steady: unknown again and again, which keeps a check
    // uninitialized during its first minute.
    std::vector<std::int32_t> last(kChecks, 0);
    for (std::uint32_t i = 0; i < kEvents; ++i) {
      const std::uint32_t c = (i / 2) % kChecks;
      std::int32_t state = 1;
      if (kind == Stream::mixed) {
        if (i % 2 == 0) last[c] = last[c] == 3 ? 0 : 3;
        state = last[c];
      }
      out.writeEvent(devent_t<IMMEDIATE_STATE>(QUEUE_DBMS, 0, {checkId(c), state}));
    }
  }
  out.flush();
  streams.out.close();
  while (streams.pipe.unread() > 0) {
    const std::uint8_t* data = nullptr;
    const std::size_t n = streams.in.readBegin(data);
    bytes.insert(bytes.end(), data, data + n);
    streams.in.readCommit(n);
  }
  return bytes;
}

const std::vector<std::uint8_t>& stream(Stream kind) {
  static std::vector<std::uint8_t> cache[3];
  auto& bytes = cache[static_cast<int>(kind)];
  if (bytes.empty()) bytes = encode(kind);
  return bytes;
}

// One whole run over the stream; seconds.
double runOver(const std::vector<std::uint8_t>& bytes) {
  keepers::resetRun();
  io::MemoryPipe input;
  input.deliver(bytes.data(), bytes.size());
  input.closeWriter();
  const auto start = std::chrono::steady_clock::now();
  const int code = halarm::run([&input] {
    return std::make_unique<halarm::PipeConnection>(std::make_unique<io::MemoryIStream>(input),
                                                    std::make_unique<testkit::Discard>());
  });
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  if (code != 0) std::abort();
  return elapsed.count();
}

void BM_LoadTree(benchmark::State& state) {
  const auto& bytes = stream(Stream::load);
  for (auto _ : state) state.SetIterationTime(runOver(bytes));
  state.SetItemsProcessed(state.iterations() * (kNodes + kChecks));
}
BENCHMARK(BM_LoadTree)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// The states alone: a run with them minus a run without.
void BM_States(benchmark::State& state, Stream kind) {
  const auto& load = stream(Stream::load);
  const auto& bytes = stream(kind);
  for (auto _ : state) {
    const double base = runOver(load);
    state.SetIterationTime(runOver(bytes) - base);
  }
  state.SetItemsProcessed(state.iterations() * kEvents);
}
BENCHMARK_CAPTURE(BM_States, half_changing, Stream::mixed)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);
BENCHMARK_CAPTURE(BM_States, none_changing, Stream::steady)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);

int writeStream(const std::string& kind, const std::string& path) {
  Stream s;
  if (kind == "load") {
    s = Stream::load;
  } else if (kind == "mixed") {
    s = Stream::mixed;
  } else if (kind == "steady") {
    s = Stream::steady;
  } else {
    std::fprintf(stderr, "driver_bench: unknown stream %s (load, mixed or steady)\n", kind.c_str());
    return 2;
  }
  const std::vector<std::uint8_t> bytes = encode(s);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "driver_bench: cannot write %s\n", path.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--write") == 0) return writeStream(argv[2], argv[3]);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
