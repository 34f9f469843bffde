// halcyx-alarm end to end in its process family, on the workload of the
// pipe-mode benchmark (workload.h): this program is the main process; the
// states reach the alarm from the DBMS's relay, and the notifications come
// back through the relays of the DBMS and the alert process. Every event
// crosses the messenger twice (main to relay to alarm, alarm to relay to
// main), so this measures the transport as much as the alarm.
//
//   family_workload_bench                      # 10,000 checks, 1,000,000 results
//   family_workload_bench --checks N --results N
//
// Results are sent in chunks; after each chunk a metric request travels the
// same way (through the DBMS relay, so it is handled after the chunk) and
// the benchmark reads everything up to its answer. So the main process never
// sends far ahead of what it reads, and the figure is the rate at which the
// whole family turns results into notifications.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "queues/devent.h"
#include "testkit/family_alarm.h"
#include "workload.h"

namespace {

using namespace queues;
using namespace workload;

constexpr std::uint32_t kChunk = 10000;

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Asks the alarm for a metric through the DBMS relay and reads everything up
// to the answer; adds what was read to `counts`.
void probe(testkit::FamilyAlarm& alarm, std::uint32_t uid,
           std::map<event_t, std::uint64_t>& counts) {
  devent_t<GET_METRIC> request(QUEUE_DBMS, uid, {{"num_objs"}});
  alarm.relayed().send(request);
  for (const EventPtr& ev : alarm.readUntil([uid](const event& e) {
         return e.type == RETURN_METRIC_UINT64 && e.inresponse == uid;
       })) {
    ++counts[ev->type];
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::uint32_t checks = 10000;
  std::uint64_t results = 1000000;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--checks") {
      checks = static_cast<std::uint32_t>(std::stoul(argv[i + 1]));
    } else if (flag == "--results") {
      results = std::stoull(argv[i + 1]);
    } else {
      std::fprintf(stderr, "usage: family_workload_bench [--checks N] [--results N]\n");
      return 2;
    }
  }
  testkit::FamilyAlarm alarm(HX_ALARM_PROGRAM, HX_RELAY_PROGRAM);
  std::map<event_t, std::uint64_t> counts;
  std::uint32_t uid = 1000;

  const auto loadStart = std::chrono::steady_clock::now();
  testkit::Script script;
  script.start(tree(checks));
  alarm.play(script);
  probe(alarm, ++uid, counts);
  const double load = secondsSince(loadStart);
  const double objects = checks + checks / kChecksPerNode + 1.0;
  std::printf("halcyx-alarm in a family, %u checks, %llu results\n", checks,
              static_cast<unsigned long long>(results));
  std::printf("  tree load        %8.3f s  %10.0f objects/s (with the first notifications)\n", load,
              objects / load);

  counts.clear();
  const auto start = std::chrono::steady_clock::now();
  for (std::uint64_t i = 0; i < results; ++i) {
    const auto c = static_cast<std::uint32_t>(i % checks);
    devent_t<IMMEDIATE_STATE> state(QUEUE_DBMS, 0,
                                    {checkId(c), stateOf(Results::changing, checks, i)});
    alarm.relayed().send(state);
    if ((i + 1) % kChunk == 0 || i + 1 == results) probe(alarm, ++uid, counts);
  }
  const double took = secondsSince(start);
  std::printf("  changing results %8.3f s  %10.0f results/s  %6.0f ns/result\n", took,
              static_cast<double>(results) / took, took * 1e9 / static_cast<double>(results));
  std::printf(
      "    received: %llu SET_STATUS, %llu PUT_INCIDENTLOG, %llu OBJECT_STATUS_CHANGE"
      " (status changes made: %llu checks, plus their nodes and domain)\n",
      static_cast<unsigned long long>(counts[SET_STATUS]),
      static_cast<unsigned long long>(counts[PUT_INCIDENTLOG]),
      static_cast<unsigned long long>(counts[OBJECT_STATUS_CHANGE]),
      static_cast<unsigned long long>(expectedChanges(checks, results)));

  (void)alarm.exitInOrder();
  const os::ChildStatus status = alarm.waitForExit(QUEUE_ALRM);
  const bool relaysClean = alarm.endRelays();
  if (status.signalled || status.exitCode != 0 || !relaysClean) {
    std::fprintf(stderr, "family_workload_bench: the family did not end in order\n");
    return 1;
  }
  return 0;
}
