// Runs the whole alarm process (halarm::run in pipe mode, the code path of
// halcyx-alarm-pipe) over arbitrary input: the input is the program's
// standard input, events back to back. A corpus file can be fed to the
// program itself: build/bin/halcyx-alarm-pipe < file.
//
// Every input must end the run normally (exit 0 or 1 with "Caught: ..."):
// never a crash, a sanitizer report or a hang.
//
// Input that is bound to fail an internal check on purpose is not run.
// Between sibling processes of one program family such input means a broken
// peer, and the process stops with "Assertion failed: ..." by design:
// - event framing the reader refuses (an unknown type number, an ordinary
//   event of the exception type): the input is cut before that event;
// - SYS_EXIT: in pipe mode the shutdown after the forget dialog has no
//   messenger; the input is cut after SYS_EXIT, so the dialog meets the end
//   of the input instead (exit 1);
// - a reply to the configuration request of another type than
//   SERVER_CONFIGURATION;
// - select replies and patches inconsistent with the mirror ("More than one
//   result", "Wrong number of children in patch", "Patch does not match",
//   "Algorithm error", "Relocation of the root object", duplicate ids): a
//   model of the mirror follows the replies and skips the input at the
//   first one that would fail. The model is conservative: it also skips
//   input where one object id occurs twice in the mirror. For the model to
//   know which replies the process takes, the uids of the subscription's
//   replies are rewritten to ones the process never drops (see
//   settleSubscriptionUids).
// Any other failed check is a finding.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

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
using tql::id_t;
using tql::object_t;

// Inputs are encoded before the process runs, so their replies carry the
// uids the process gives its start-up requests.
const std::uint32_t kConfigurationUid = testkit::RequestUids::atStartup().configuration();
const std::uint32_t kSelectUid = testkit::RequestUids::atStartup().select();

id_t indexId(const object_t& node) { return tql::IncrementalSubscriber::indexId(node); }

// The mirror as far as the subscriber's checks can tell: which ids are
// mirrored, under which parent, with which children.
class MirrorModel {
 public:
  // False when applying the reply would fail a check of the subscriber.
  bool select(const dbms::Return_Tql_Select_Data& data) {
    if (data.res.size() > 1) return false;
    if (data.res.empty()) {
      clear();
      return true;
    }
    // A full result replaces the whole mirror; objects that stay keep their
    // place, which the model need not know.
    std::set<id_t> ids;
    if (!distinct(*data.res.front(), ids)) return false;
    clear();
    add(*data.res.front(), std::nullopt);
    root_ = indexId(*data.res.front());
    return true;
  }

  bool patch(const dbms::Return_Tql_Select_Patch_Data& data) {
    const object_t* above = nullptr;
    const object_t* target = data.patch.get();
    while (target->id != data.id) {
      if (target->children.size() != 1) return false;
      above = target;
      target = target->children.front().get();
    }
    if (const auto found = parents_.find(data.id); found != parents_.end()) {
      const id_t parent = found->second.value_or(id_t());
      const id_t aboveId = above != nullptr ? indexId(*above) : id_t();
      if (parent == aboveId) return replace(data.id, *target);
      if (!found->second.has_value() || above == nullptr) return false;  // moves the root
      erase(data.id);
    }
    return insert(data.id, *data.patch);
  }

  void deletePatch(const id_t& id) {
    if (parents_.contains(id)) erase(id);
  }

 private:
  // Every id of the subtree once, and at most once in the whole mirror.
  bool distinct(const object_t& node, std::set<id_t>& seen) const {
    if (!seen.insert(indexId(node)).second) return false;
    for (const auto& child : node.children) {
      if (!distinct(*child, seen)) return false;
    }
    return true;
  }
  bool newToTheMirror(const object_t& node) const {
    std::set<id_t> ids;
    if (!distinct(node, ids)) return false;
    for (const id_t& id : ids) {
      if (parents_.contains(id)) return false;
    }
    return true;
  }

  void add(const object_t& node, std::optional<id_t> parent) {
    const id_t id = indexId(node);
    parents_[id] = parent;
    if (parent) children_[*parent].insert(id);
    for (const auto& child : node.children) add(*child, id);
  }
  void erase(const id_t& id) {
    const std::set<id_t> children = children_[id];
    for (const id_t& child : children) erase(child);
    children_.erase(id);
    if (const auto& parent = parents_[id]) children_[*parent].erase(id);
    parents_.erase(id);
    if (root_ == id) root_.reset();
  }
  void clear() {
    parents_.clear();
    children_.clear();
    root_.reset();
  }

  bool replace(const id_t& id, const object_t& node) {
    const std::optional<id_t> parent = parents_[id];
    std::set<id_t> ids;
    if (!distinct(node, ids)) return false;
    // The new subtree may reuse ids of the old one, nothing else.
    std::set<id_t> old;
    collect(id, old);
    for (const id_t& i : ids) {
      if (parents_.contains(i) && !old.contains(i)) return false;
    }
    erase(id);
    add(node, parent);
    if (!parent) root_ = indexId(node);
    return true;
  }
  void collect(const id_t& id, std::set<id_t>& out) {
    out.insert(id);
    for (const id_t& child : children_[id]) collect(child, out);
  }

  bool insert(const id_t& id, const object_t& chain) {
    if (!root_) {
      if (!newToTheMirror(chain)) return false;
      add(chain, std::nullopt);
      root_ = indexId(chain);
      return true;
    }
    id_t r = *root_;
    const object_t* t = &chain;
    for (;;) {
      if (r != indexId(*t)) return false;  // "Patch does not match"
      if (t->id == id) return false;       // "Algorithm error"
      if (t->children.size() != 1) return false;
      const object_t* k = t->children.front().get();
      if (!children_[r].contains(indexId(*k))) {
        if (!newToTheMirror(*k)) return false;
        add(*k, r);
        return true;
      }
      r = indexId(*k);
      t = k;
    }
  }

  std::map<id_t, std::optional<id_t>> parents_;
  std::map<id_t, std::set<id_t>> children_;
  std::optional<id_t> root_;
};

bool isBadEventText(const std::string& text) {
  return text.starts_with("fdio >> event: unknown type index") ||
         text.starts_with("Found exevent with .exception == 0") ||
         text.starts_with("spawn[] hash failure!");
}

// The events the program reads from the input, with the offset where each
// ends, and how much of the input to run at most: up to the first event
// whose framing the reader refuses (the program reads events strictly in
// order, so cutting there never changes what happens before).
struct Scan {
  std::vector<EventPtr> events;
  std::vector<std::size_t> starts;
  std::vector<std::size_t> ends;
  std::size_t length = 0;
};

Scan scan(const std::uint8_t* data, std::size_t size) {
  io::MemoryPipe pipe;
  pipe.deliver(data, size);
  pipe.closeWriter();
  io::MemoryIStream in(pipe, 1);  // every byte is released as it is read
  queues::ioprim reader(&in, nullptr);
  reader.throwOnBadEventForTest(true);
  Scan s;
  s.length = size;
  for (;;) {
    const std::size_t start = size - pipe.unread();
    try {
      s.events.push_back(reader.readEvent());
      s.starts.push_back(start);
      s.ends.push_back(size - pipe.unread());
    } catch (const io::EEndOfStream&) {
      return s;
    } catch (const error::Exception& e) {
      // Any other malformed event ends the run with an exception.
      if (isBadEventText(e.text())) s.length = start;
      return s;
    }
  }
}

// The process drops DBMS replies whose uid it gave to a delete of an
// expired downtime event, and those uids depend on everything it sent
// before. So that the model knows which replies count, the uids of the
// subscription's replies are made ones no delete ever gets: patches carry
// the select's uid, a select reply that is not ours carries 0 (never a
// uid) and still ends the run as unsolicited.
void settleSubscriptionUids(Scan& s, std::vector<std::uint8_t>& input) {
  for (std::size_t i = 0; i < s.events.size(); ++i) {
    event& ev = *s.events[i];
    if (ev.dest != QUEUE_DBMS || ev.exception) continue;
    if (ev.type == RETURN_TQL_SELECT_PATCH || ev.type == RETURN_TQL_SELECT_DELETE_PATCH) {
      ev.inresponse = kSelectUid;
    } else if (ev.type == RETURN_TQL_SELECT && ev.inresponse != kSelectUid) {
      ev.inresponse = 0;
    } else {
      continue;
    }
    std::memcpy(input.data() + s.starts[i] + 8, &ev.inresponse, sizeof ev.inresponse);
  }
}

// The input to run, possibly cut or with uids settled, or nothing when the
// input is to be skipped. Events are considered in the order the program
// handles them: the configuration dialog sets aside everything before its
// reply, which the main loop then takes first.
std::optional<std::vector<std::uint8_t>> acceptedInput(const std::uint8_t* data, std::size_t size) {
  Scan s = scan(data, size);
  std::vector<std::uint8_t> input(data, data + size);
  settleSubscriptionUids(s, input);
  const auto upTo = [&input](std::size_t length) {
    input.resize(length);
    return std::optional<std::vector<std::uint8_t>>(std::move(input));
  };

  std::size_t reply = 0;
  while (reply < s.events.size() &&
         !(s.events[reply]->dest == QUEUE_MAIN && s.events[reply]->inresponse == kConfigurationUid))
    ++reply;
  if (reply == s.events.size()) return upTo(s.length);    // the dialog meets the end: exit 1
  if (s.events[reply]->exception) return upTo(s.length);  // remote_error: exit 1
  if (s.events[reply]->type != SERVER_CONFIGURATION) return std::nullopt;  // "Dialog to main"

  MirrorModel mirror;
  for (std::size_t i = 0; i < s.events.size(); ++i) {
    if (i == reply) continue;
    event& ev = *s.events[i];
    switch (ev.type) {
      case SYS_EXIT:
        return upTo(std::min(s.length, s.ends[i]));
      case RETURN_TQL_SELECT: {
        if (ev.inresponse != kSelectUid) return upTo(s.length);  // unsolicited: the run ends
        const auto& select = static_cast<devent_t<RETURN_TQL_SELECT>&>(ev).data;
        if (select.status != 0) return upTo(s.length);
        if (!mirror.select(select)) return std::nullopt;
        break;
      }
      case RETURN_TQL_SELECT_PATCH:
        if (!mirror.patch(static_cast<devent_t<RETURN_TQL_SELECT_PATCH>&>(ev).data))
          return std::nullopt;
        break;
      case RETURN_TQL_SELECT_DELETE_PATCH:
        mirror.deletePatch(static_cast<devent_t<RETURN_TQL_SELECT_DELETE_PATCH>&>(ev).data.id);
        break;
      default:
        break;
    }
  }
  return upTo(s.length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::optional<std::vector<std::uint8_t>> accepted = acceptedInput(data, size);
  if (!accepted) return 0;

  // A clock that moves 100 ms whenever it is read, so that boundaries come
  // due as the input is worked through, the same way on every replay.
  htime::usec_time now(1700000000);
  htime::setClockForTesting([&now] {
    now += htime::usec_time(0, 100000);
    return now;
  });
  keepers::resetRun();

  io::MemoryPipe input;
  input.deliver(accepted->data(), accepted->size());
  input.closeWriter();
  halarm::RunOptions options;
  options.wait = [](std::span<os::PollSlot>, int) {
    return os::PollResult{os::PollResult::timedOut, 0};
  };
  options.reportError = [](std::string_view line) {
    if (!line.starts_with("Caught: ")) std::abort();
  };
  const int code = halarm::run(
      [&input] {
        return std::make_unique<halarm::PipeConnection>(std::make_unique<io::MemoryIStream>(input),
                                                        std::make_unique<testkit::Discard>());
      },
      options);
  if (code != 0 && code != 1) std::abort();

  htime::setClockForTesting({});
  keepers::resetRun();
  return 0;
}
