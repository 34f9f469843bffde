// The alarm process end to end: the Release build of halcyx-alarm-pipe reads a
// generated input file and writes its events to an output file. Figures:
// results per second with statuses changing, results per second with none
// changing, objects per second for the tree load, and resident memory per
// check (the difference between two tree sizes).
//
// The workload (workload.h): the configuration reply and the select reply
// of nodes of 10 checks each, then one IMMEDIATE_STATE per result.
//
//   pipe_workload_bench                  # 10,000 and 100,000 checks
//   pipe_workload_bench --checks 1000000 --results 2000000
//   pipe_workload_bench --keep DIR       # leave the input files in DIR
//
// Every run is timed as a whole process (start to exit), by the wall clock
// and by the CPU time the kernel counted for it (user plus system). Results
// per second take a run of the same tree without results off the time, so
// start-up and tree load are not counted; objects per second take a run with
// an empty tree off the load. The CPU figures hold still while other work
// shares the machine, the wall figures do not; the process never waits for
// its input (a file), so on a quiet machine the two agree.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "io/exceptions.h"
#include "io/memory_stream.h"
#include "os/process_info.h"
#include "os/spawn.h"
#include "queues/devent.h"
#include "queues/ioprim.h"
#include "testkit/script.h"
#include "workload.h"

namespace {

using namespace queues;
using tql::id_t;
using tql::object_ptr;

using namespace workload;

void writeBytes(std::ofstream& out, const std::uint8_t* data, std::size_t n) {
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(n));
}

// Moves what the stream pair holds into the file.
void drain(io::MemoryStreamPair& streams, std::ofstream& out) {
  while (streams.pipe.unread() > 0) {
    const std::uint8_t* data = nullptr;
    const std::size_t n = streams.in.readBegin(data);
    writeBytes(out, data, n);
    streams.in.readCommit(n);
  }
}

void writeInput(const std::string& path, std::uint32_t checks, Results kind, std::uint64_t count) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  {
    // Encoded before the process runs: the replies carry the uids that the
    // process gives its start-up requests.
    const std::vector<std::uint8_t> start =
        testkit::Script().start(tree(checks)).encodeWith(testkit::RequestUids::atStartup());
    writeBytes(out, start.data(), start.size());
  }
  io::MemoryStreamPair streams(1 << 16);
  queues::ioprim io(nullptr, &streams.out);
  for (std::uint64_t i = 0; kind != Results::none && i < count; ++i) {
    const auto c = static_cast<std::uint32_t>(i % checks);
    const std::int32_t state = stateOf(kind, checks, i);
    io.writeEvent(devent_t<IMMEDIATE_STATE>(QUEUE_DBMS, 0, {checkId(c), state}));
    if (c + 1 == checks || i + 1 == count) {
      io.flush();
      drain(streams, out);
    }
  }
  if (!out) {
    std::fprintf(stderr, "pipe_workload_bench: cannot write %s\n", path.c_str());
    std::exit(1);
  }
}

std::string program() {
  const char* fromEnv = std::getenv("HX_ALARM_PIPE");
  return fromEnv != nullptr ? fromEnv : HX_ALARM_PIPE_PROGRAM;
}

struct Run {
  double seconds = 0;
  double cpuSeconds = 0;
  std::uint64_t peakKiB = 0;  // VmHWM, last seen while the process ran
  std::uint64_t rssKiB = 0;   // VmRSS, largest seen
};

std::uint64_t statusField(const std::string& status, const char* field) {
  const std::size_t at = status.find(field);
  if (at == std::string::npos) return 0;
  return std::strtoull(status.c_str() + at + std::strlen(field), nullptr, 10);
}

// Runs the program over the input file, its output going to `output`.
// With `sample`, reads the process's memory figures every few milliseconds
// (which costs the measured time a little; timed runs do not sample).
Run runProgram(const std::string& input, const std::string& output, bool sample) {
  const auto start = std::chrono::steady_clock::now();
  os::SpawnedChild child = os::spawnWithPipes(
      "/bin/sh", {"-c", "exec \"$0\" <\"$1\" >\"$2\" 2>\"$2.err\"", program(), input, output});
  Run run;
  const std::string statusPath = "/proc/" + std::to_string(child.pid) + "/status";
  std::optional<os::ChildStatus> status;
  if (sample) {
    while (!(status = os::reapIfEnded(child.pid))) {
      std::ifstream in(statusPath);
      std::stringstream text;
      text << in.rdbuf();
      const std::string s = text.str();
      // The shell has become the program once its name shows.
      if (s.find("halcyx-alarm") != std::string::npos) {
        run.peakKiB = std::max(run.peakKiB, statusField(s, "VmHWM:"));
        run.rssKiB = std::max(run.rssKiB, statusField(s, "VmRSS:"));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  } else {
    status = os::waitForExit(child.pid);
  }
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.cpuSeconds = status->cpuSeconds;
  if (status->signalled || status->exitCode != 0) {
    std::fprintf(stderr, "pipe_workload_bench: %s ended with %s (see %s.err)\n", program().c_str(),
                 os::describeExit(*status).c_str(), output.c_str());
    std::exit(1);
  }
  return run;
}

// Wall and CPU seconds, each the best of `repeat` timed runs.
struct Timing {
  double wall = 1e300;
  double cpu = 1e300;
  Timing operator-(const Timing& base) const { return {wall - base.wall, cpu - base.cpu}; }
};

Timing bestOf(int repeat, const std::string& input, const std::string& output) {
  Timing best;
  for (int i = 0; i < repeat; ++i) {
    const Run run = runProgram(input, output, false);
    best.wall = std::min(best.wall, run.seconds);
    best.cpu = std::min(best.cpu, run.cpuSeconds);
  }
  return best;
}

// Counts the events of each type in a file of the process's output.
std::map<event_t, std::uint64_t> countEvents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  io::MemoryPipe pipe;
  pipe.deliver(bytes.data(), bytes.size());
  pipe.closeWriter();
  io::MemoryIStream stream(pipe);
  queues::ioprim io(&stream, nullptr);
  std::map<event_t, std::uint64_t> counts;
  try {
    for (;;) ++counts[static_cast<event_t>(io.readEvent()->type)];
  } catch (const io::EEndOfStream&) {
  }
  return counts;
}

struct Options {
  std::vector<std::uint32_t> checks{10000, 100000};
  std::uint64_t results = 0;  // 0: 1,000,000, or two rounds when more
  int repeat = 3;
  std::string keep;
};

struct SizeFigures {
  std::uint32_t checks;
  std::uint64_t peakKiB;
  std::uint64_t rssKiB;
  double changingCpuNs;  // CPU time per changing result
};

SizeFigures measure(std::uint32_t checks, const Options& options, const std::string& dir) {
  const std::uint64_t results =
      options.results != 0 ? options.results : std::max<std::uint64_t>(1000000, 2ULL * checks);
  const std::string base = dir + "/n" + std::to_string(checks);
  const std::string out = base + ".out";
  std::printf("\n%u checks (%u nodes), %llu results\n", checks, checks / kChecksPerNode,
              static_cast<unsigned long long>(results));
  writeInput(base + ".empty", kChecksPerNode, Results::none, 0);
  writeInput(base + ".load", checks, Results::none, 0);
  writeInput(base + ".changing", checks, Results::changing, results);
  writeInput(base + ".steady", checks, Results::steady, results);

  const Timing empty = bestOf(options.repeat, base + ".empty", out);
  const Timing load = bestOf(options.repeat, base + ".load", out);
  const double objects = checks + checks / kChecksPerNode + 1.0;
  const Timing loading = load - empty;
  std::printf("  tree load        %8.3f s  %10.0f objects/s      CPU %.3f s  %10.0f objects/s\n",
              loading.wall, objects / loading.wall, loading.cpu, objects / loading.cpu);

  const Timing changing = bestOf(options.repeat, base + ".changing", out) - load;
  const double n = static_cast<double>(results);
  const std::map<event_t, std::uint64_t> sent = countEvents(out);
  const auto count = [&sent](event_t t) {
    const auto it = sent.find(t);
    return it == sent.end() ? std::uint64_t{0} : it->second;
  };
  std::printf(
      "  changing results %8.3f s  %10.0f results/s  %6.0f ns/result"
      "   CPU %.3f s  %6.0f ns/result\n",
      changing.wall, n / changing.wall, changing.wall * 1e9 / n, changing.cpu,
      changing.cpu * 1e9 / n);
  std::printf(
      "    sent: %llu SET_STATUS, %llu PUT_INCIDENTLOG, %llu OBJECT_STATUS_CHANGE"
      " (status changes made: %llu checks, plus their nodes and domain)\n",
      static_cast<unsigned long long>(count(SET_STATUS)),
      static_cast<unsigned long long>(count(PUT_INCIDENTLOG)),
      static_cast<unsigned long long>(count(OBJECT_STATUS_CHANGE)),
      static_cast<unsigned long long>(expectedChanges(checks, results)));

  const Timing steady = bestOf(options.repeat, base + ".steady", out) - load;
  std::printf(
      "  steady results   %8.3f s  %10.0f results/s  (%llu SET_STATUS)"
      "   CPU %.3f s  %10.0f results/s\n",
      steady.wall, n / steady.wall, static_cast<unsigned long long>(countEvents(out)[SET_STATUS]),
      steady.cpu, n / steady.cpu);

  // Memory while the steady results run: the tree is loaded and stays.
  const Run sampled = runProgram(base + ".steady", out, true);
  std::printf("  memory           VmHWM %llu KiB, VmRSS %llu KiB\n",
              static_cast<unsigned long long>(sampled.peakKiB),
              static_cast<unsigned long long>(sampled.rssKiB));
  if (options.keep.empty()) {
    for (const char* suffix : {".empty", ".load", ".changing", ".steady", ".out", ".out.err"}) {
      std::remove((base + suffix).c_str());
    }
  }
  return {checks, sampled.peakKiB, sampled.rssKiB, changing.cpu * 1e9 / n};
}

Options parse(int argc, char** argv) {
  Options options;
  bool checksGiven = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    const std::string value = argv[i + 1];
    if (flag == "--checks") {
      if (!checksGiven) options.checks.clear();
      checksGiven = true;
      options.checks.push_back(static_cast<std::uint32_t>(std::stoul(value)));
    } else if (flag == "--results") {
      options.results = std::stoull(value);
    } else if (flag == "--repeat") {
      options.repeat = std::stoi(value);
    } else if (flag == "--keep") {
      options.keep = value;
    } else {
      std::fprintf(stderr, "pipe_workload_bench: unknown option %s\n", flag.c_str());
      std::exit(2);
    }
  }
  if (argc % 2 == 0) {
    std::fprintf(stderr,
                 "usage: pipe_workload_bench [--checks N]... [--results N] [--repeat N]"
                 " [--keep DIR]\n");
    std::exit(2);
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parse(argc, argv);
  const std::string dir = options.keep.empty()
                              ? (std::filesystem::temp_directory_path() /
                                 ("pipe_workload_bench." + std::to_string(os::currentProcessId())))
                                    .string()
                              : options.keep;
  std::filesystem::create_directories(dir);
  std::printf("halcyx-alarm-pipe: %s\n", program().c_str());
  std::vector<SizeFigures> sizes;
  for (std::uint32_t checks : options.checks) sizes.push_back(measure(checks, options, dir));
  for (std::size_t i = 1; i < sizes.size(); ++i) {
    const double more = sizes[i].checks - sizes[i - 1].checks;
    std::printf(
        "\nmemory per check between %u and %u checks: VmHWM %.0f B, VmRSS %.0f B\n",
        sizes[i - 1].checks, sizes[i].checks,
        (static_cast<double>(sizes[i].peakKiB) - static_cast<double>(sizes[i - 1].peakKiB)) * 1024 /
            more,
        (static_cast<double>(sizes[i].rssKiB) - static_cast<double>(sizes[i - 1].rssKiB)) * 1024 /
            more);
  }
  // How the cost of a changing result grows with the tree, by CPU time.
  for (std::size_t i = 1; i < sizes.size(); ++i) {
    std::printf("CPU per changing result at %u checks: %.2fx of %u checks\n", sizes[i].checks,
                sizes[i].changingCpuNs / sizes[0].changingCpuNs, sizes[0].checks);
  }
  if (options.keep.empty()) std::remove(dir.c_str());
  return 0;
}
