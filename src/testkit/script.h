#pragma once
// Test-only: what the alarm process's peers send it, written down as a
// script that the in-process driver harness, the end-to-end harness, the
// benchmarks and the fuzz targets share.
//
// Replies to the process's own requests (the configuration request, the
// standing select and its patches, the forget at exit) do not carry a uid of
// the script's choosing: each takes the uid of the request the process
// actually sent, when the step is played. Harnesses that see the process's
// output feed it to a RequestUids and resolve each step just before the
// process reads it. Never include from library code; no GoogleTest here.
#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "error/exception.h"
#include "htime/usec_time.h"
#include "queues/devent.h"
#include "testkit/events.h"
#include "testkit/tree.h"

namespace testkit {

// The uid of the latest event of each type that the process sent with one.
class RequestUids {
 public:
  void observe(const queues::event& ev) {
    if (ev.inresponse != 0) last_[ev.type] = ev.inresponse;
  }
  std::optional<std::uint32_t> of(queues::event_t request) const {
    const auto it = last_.find(request);
    if (it == last_.end()) return std::nullopt;
    return it->second;
  }

  // For input encoded before the process runs (benchmark streams, fuzz
  // inputs), where no request can be read: the uids of the two start-up
  // requests. The process's queue hands out uids 1, 2, 3, ... as it asks:
  // the log line "Alarm logic running", the configuration request, the
  // standing select (what it sends in between goes out with uid 0). The
  // end-to-end start-up test checks these against the requests themselves.
  static RequestUids atStartup() {
    RequestUids uids;
    uids.last_[queues::REQUEST_SERVER_CONFIGURATION] = 2;
    uids.last_[queues::TQL_SELECT] = 3;
    return uids;
  }
  std::uint32_t configuration() const { return last_.at(queues::REQUEST_SERVER_CONFIGURATION); }
  std::uint32_t select() const { return last_.at(queues::TQL_SELECT); }

 private:
  std::map<queues::event_t, std::uint32_t> last_;
};

struct Step {
  enum Kind { kEvent, kPause, kEnd } kind = kEvent;
  queues::queue_t from = queues::QUEUE_NONE;  // the peer that sends or ends
  std::vector<std::uint8_t> bytes;            // the event as written, once resolved
  queues::EventPtr reply;                     // a reply still waiting for its uid,
  queues::event_t request{};                  // which is that of this request
  htime::usec_time pause;

  bool resolved() const { return reply == nullptr; }
  // Gives a waiting reply the uid of the process's latest `request`.
  void resolve(const RequestUids& uids) {
    if (resolved()) return;
    const std::optional<std::uint32_t> uid = uids.of(request);
    if (!uid) {
      throw error::EFatal(std::string("The script answers ") + queues::eventName(request) +
                          " before the process asked");
    }
    reply->inresponse = *uid;
    bytes = encode(*reply);
    reply.reset();
  }
};

class Script {
 public:
  // --- Any traffic ---
  // `ev` from the peer its `dest` names.
  Script& send(const queues::event& ev) {
    steps_.push_back(Step{Step::kEvent, ev.dest, encode(ev), nullptr, {}, {}});
    return *this;
  }
  template <queues::event_t N>
  Script& send(queues::queue_t from, std::uint32_t uid, queues::event_data_t<N> data = {}) {
    return send(queues::devent_t<N>(from, uid, std::move(data)));
  }
  // `reply` to the latest `request` the process sent.
  Script& answer(queues::event_t request, const queues::event& reply) {
    steps_.push_back(Step{Step::kEvent, reply.dest, {}, reply.clone(), request, {}});
    return *this;
  }
  template <queues::event_t N>
  Script& answer(queues::event_t request, queues::queue_t from, queues::event_data_t<N> data) {
    return answer(request, queues::devent_t<N>(from, 0, std::move(data)));
  }
  // Time passes before the next step (the in-process harness only).
  Script& pause(std::int32_t seconds) {
    steps_.push_back(
        Step{Step::kPause, queues::QUEUE_NONE, {}, nullptr, {}, htime::usec_time(seconds)});
    return *this;
  }
  // The peer's stream ends (the in-process harness over a messenger only).
  Script& endOf(queues::queue_t peer) {
    steps_.push_back(Step{Step::kEnd, peer, {}, nullptr, {}, {}});
    return *this;
  }

  // --- The usual traffic ---
  Script& configure(std::int32_t logMask = 0) {
    control::Server_Configuration_Fields conf;
    conf.log_mask = logMask;
    return answer<queues::SERVER_CONFIGURATION>(queues::REQUEST_SERVER_CONFIGURATION,
                                                queues::QUEUE_MAIN, conf);
  }
  // The full result of the standing select: `tree`, or nothing for null.
  Script& selectReply(object_ptr tree) {
    dbms::Return_Tql_Select_Data data;
    if (tree != nullptr) data.res.push_back(std::move(tree));
    return selectReply(std::move(data));
  }
  Script& selectReply(dbms::Return_Tql_Select_Data data) {
    return answer<queues::RETURN_TQL_SELECT>(queues::TQL_SELECT, queues::QUEUE_DBMS,
                                             std::move(data));
  }
  // Configuration and the full select reply: the usual start.
  Script& start(object_ptr tree, std::int32_t logMask = 0) {
    return configure(logMask).selectReply(std::move(tree));
  }
  Script& patch(const std::vector<id_t>& path, object_ptr target) {
    return answer<queues::RETURN_TQL_SELECT_PATCH>(queues::TQL_SELECT, queues::QUEUE_DBMS,
                                                   selectPatch(path, std::move(target)));
  }
  Script& remove(const id_t& id) {
    return answer<queues::RETURN_TQL_SELECT_DELETE_PATCH>(queues::TQL_SELECT, queues::QUEUE_DBMS,
                                                          {id, {}});
  }
  Script& state(const id_t& id, std::int32_t s) {
    return send<queues::IMMEDIATE_STATE>(queues::QUEUE_DBMS, 0, {id, s});
  }
  Script& states(std::list<alarms::Immediate_State_Data> list) {
    return send<queues::IMMEDIATE_STATES>(queues::QUEUE_DBMS, 0, {std::move(list)});
  }
  Script& checkin(const id_t& node, std::int64_t time) {
    return send<queues::CHECKIN>(queues::QUEUE_DBMS, 0, {node, time});
  }
  Script& acknowledge(const id_t& object, std::string comment, const id_t& user) {
    return send<queues::ACKNOWLEDGE_ALERT>(queues::QUEUE_DBMS, 0,
                                           {user, std::move(comment), object});
  }
  Script& reset(const id_t& object, std::string comment, const id_t& user, bool recursive) {
    return send<queues::RESET_SCORE>(queues::QUEUE_DBMS, 0,
                                     {user, std::move(comment), object, recursive});
  }
  // A metric request that the process answers at once, after everything
  // sent before it: its reply marks how far the process had come.
  Script& probe(std::uint32_t uid) {
    return send<queues::GET_METRIC>(queues::QUEUE_MAIN, uid, {{"num_objs"}});
  }

  // --- Playing ---
  // The steps so far; the script is empty afterwards.
  std::deque<Step> take() { return std::exchange(steps_, {}); }
  // The events as one input stream, replies resolved with `uids`; pauses
  // and ends have no place in it and are left out.
  std::vector<std::uint8_t> encodeWith(const RequestUids& uids) {
    std::vector<std::uint8_t> out;
    for (Step& step : steps_) {
      if (step.kind != Step::kEvent) continue;
      step.resolve(uids);
      out.insert(out.end(), step.bytes.begin(), step.bytes.end());
    }
    steps_.clear();
    return out;
  }

 private:
  std::deque<Step> steps_;
};

// --- Reading what the process sent ---

// The payloads of the events of type N, in order.
template <queues::event_t N>
std::vector<queues::event_data_t<N>> payloadsOf(const std::vector<queues::EventPtr>& events) {
  std::vector<queues::event_data_t<N>> out;
  for (const queues::EventPtr& ev : events) {
    if (ev->type == N) out.push_back(dynamic_cast<const queues::devent_t<N>&>(*ev).data);
  }
  return out;
}

// The log lines sent to the main process, as "level text".
inline std::vector<std::string> logLines(const std::vector<queues::EventPtr>& events) {
  std::vector<std::string> lines;
  for (const auto& l : payloadsOf<queues::SYSTEM_LOG_REQUEST>(events))
    lines.push_back(std::to_string(l.log_type) + " " + l.msg);
  return lines;
}

}  // namespace testkit
