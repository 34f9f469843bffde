// Runs the whole alarm process (halarm::run in pipe mode, the code path of
// halcyx-alarm-pipe) over arbitrary input: the input is the program's
// standard input, events back to back. A corpus file can be fed to the
// program itself: build/bin/halcyx-alarm-pipe < file.
//
// Every input must end the run normally (exit 0 or 1 with "Caught: ..."),
// or with one of the failed checks that bad input from a sibling is meant
// to cause: event framing the reader refuses, a reply of the wrong type in
// a dialog, SYS_EXIT without a messenger (pipe mode), select replies and
// patches that do not fit the mirror. Those end the run here through an
// assertion hook instead of aborting. Any other failed check, a crash, a
// sanitizer report or a hang is a finding.
//
// One designed failure is not run: an id twice among the children of one
// object. That check fires halfway through building or merging a subtree,
// where nothing is meant to unwind, so the input is skipped.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "error/check.h"
#include "error/exception.h"
#include "halarm/pipe_connection.h"
#include "halarm/run.h"
#include "htime/usec_time.h"
#include "io/exceptions.h"
#include "io/memory_stream.h"
#include "keepers/run_state.h"
#include "queues/devent.h"
#include "queues/ioprim.h"
#include "testkit/script.h"
#include "tql/subscription/incremental_subscriber.h"

namespace {

using namespace queues;
using tql::object_t;

// A designed failure: the run ends here, as the process would abort.
struct DesignedFailure {};

void endDesignedFailures(std::string_view text) {
  static constexpr std::string_view kDesigned[] = {
      "fdio >> event: unknown type index",
      "Found exevent with .exception == 0",
      "spawn[] hash failure!",
      "Dialog to ",
      "Queue shutdown with no messenger",
      "More than one result",
      "Missing object in result",
      "Missing object in patch",
      "Wrong number of children in patch",
      "Patch does not match",
      "Algorithm error",
      "Relocation of the root object",
  };
  for (const std::string_view designed : kDesigned) {
    if (text.starts_with(designed)) throw DesignedFailure();
  }
}

bool childIdsRepeat(const object_t& node) {
  std::set<tql::id_t> ids;
  for (const auto& child : node.children) {
    if (child == nullptr) continue;
    if (!ids.insert(tql::IncrementalSubscriber::indexId(*child)).second) return true;
    if (childIdsRepeat(*child)) return true;
  }
  return false;
}

// True when a select reply or patch that the reader can frame names an id
// twice among the children of one object.
bool repeatsAChildId(const std::uint8_t* data, std::size_t size) {
  io::MemoryPipe pipe;
  pipe.deliver(data, size);
  pipe.closeWriter();
  io::MemoryIStream in(pipe, 1);
  ioprim reader(&in, nullptr);
  reader.throwOnBadEventForTest(true);
  try {
    for (;;) {
      const EventPtr ev = reader.readEvent();
      if (ev->exception) continue;
      const object_t* tree = nullptr;
      if (ev->type == RETURN_TQL_SELECT) {
        for (const auto& res : static_cast<devent_t<RETURN_TQL_SELECT>&>(*ev).data.res) {
          if (res != nullptr && childIdsRepeat(*res)) return true;
        }
      } else if (ev->type == RETURN_TQL_SELECT_PATCH) {
        tree = static_cast<devent_t<RETURN_TQL_SELECT_PATCH>&>(*ev).data.patch.get();
      }
      if (tree != nullptr && childIdsRepeat(*tree)) return true;
    }
  } catch (const io::EEndOfStream&) {
  } catch (const error::Exception&) {
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (repeatsAChildId(data, size)) return 0;
  error::setAssertionHookForFuzzing(endDesignedFailures);

  // A clock that moves 100 ms whenever it is read, so that boundaries come
  // due as the input is worked through, the same way on every replay.
  htime::usec_time now(1700000000);
  htime::setClockForTesting([&now] {
    now += htime::usec_time(0, 100000);
    return now;
  });
  keepers::resetRun();

  io::MemoryPipe input;
  input.deliver(data, size);
  input.closeWriter();
  halarm::RunOptions options;
  options.wait = [](std::span<os::PollSlot>, int) {
    return os::PollResult{os::PollResult::timedOut, 0};
  };
  options.reportError = [](std::string_view line) {
    if (!line.starts_with("Caught: ")) std::abort();
  };
  try {
    const int code = halarm::run(
        [&input] {
          return std::make_unique<halarm::PipeConnection>(
              std::make_unique<io::MemoryIStream>(input), std::make_unique<testkit::Discard>());
        },
        options);
    if (code != 0 && code != 1) std::abort();
  } catch (const DesignedFailure&) {
    // The run unwound as an exception would have ended it.
  }

  htime::setClockForTesting({});
  keepers::resetRun();
  return 0;
}
