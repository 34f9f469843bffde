#include "queues/metering.h"

#include <list>
#include <string>
#include <vector>

#include "error/check.h"
#include "htime/usec_time.h"
#include "meter/metric.h"
#include "meter/process_metrics.h"
#include "queues/childqueue.h"
#include "queues/devent.h"

namespace queues {
namespace {

childqueue& meteringQueue() {
  childqueue* queue = currentQueue();
  HX_CHECK(queue != nullptr, "No cqueue for metering");
  return *queue;
}

// Sends each answer back to whoever asked, under the request's uid.
class RequestReplier final : public meter::Replier {
 public:
  RequestReplier(childqueue& queue, const event& request) : queue_(queue), request_(request) {}

  template <event_t N>
  void reply(event_data_t<N> data) {
    queue_.send(devent_t<N>(request_.dest, request_.inresponse, std::move(data)));
  }

  void replyUint64(std::uint64_t value) override { reply<RETURN_METRIC_UINT64>(value); }
  void replyTiming(const meter::TimingStats& s) override {
    reply<RETURN_METRIC_TIMING>({s.n, s.min, s.max, s.sum, s.sum_squares});
  }
  void replyError(std::string text) { reply<RETURN_METRIC_ERROR>(std::move(text)); }

 private:
  childqueue& queue_;
  const event& request_;
};

// The metric at a path from the root group, or null: groups and tables are
// not metrics.
meter::Metric* findMetric(const std::list<std::string>& id) {
  const std::vector<std::string> path(id.begin(), id.end());
  meter::Object* object = meter::find(path);
  if (object == nullptr || object->kind() != meter::Object::Kind::kMetric) return nullptr;
  return static_cast<meter::Metric*>(object);
}

control::Metric describe(const meter::Metric& metric) {
  return {metric.name(), metric.unit(), metric.description(), metric.type()};
}

control::Metric_Group describe(const meter::Group& group) {
  control::Metric_Group out;
  out.name = group.name();
  for (const meter::Group* sub : group.groups()) out.groups.push_back(describe(*sub));
  for (const meter::Table* table : group.tables()) out.tables.push_back(table->name());
  for (const meter::Metric* metric : group.metrics()) out.metrics.push_back(describe(*metric));
  return out;
}

void answerGetMetric(RequestReplier& replier, const devent_t<GET_METRIC>& request) {
  const htime::usec_time start = htime::now();
  if (meter::Metric* metric = findMetric(request.data.id)) {
    try {
      metric->reply(replier);
    } catch (const meter::ENoSuchInstance&) {
      replier.replyError("No such instance");
    }
  } else {
    replier.replyError("Unknown metric");
  }
  // Counted after the reply: a request for this timing sees the earlier ones.
  meter::meteringTime().addElapsed(start, htime::now());
}

void answerGetMetricType(RequestReplier& replier, const devent_t<GET_METRIC_TYPE>& request) {
  if (meter::Metric* metric = findMetric(request.data.id)) {
    replier.reply<RETURN_GET_METRIC_TYPE>(describe(*metric));
  } else {
    replier.replyError("Unknown metric");
  }
}

}  // namespace

void startMetering() {
  childqueue& queue = meteringQueue();
  meter::start();
  queue.send(devent_t<SUPPORTS_METRICS>(QUEUE_MAIN, 0, 0));
}

bool handleMetricEvent(const event& ev) {
  if (ev.exception) return false;
  switch (ev.type) {
    case GET_METRIC: {
      RequestReplier replier(meteringQueue(), ev);
      answerGetMetric(replier, static_cast<const devent_t<GET_METRIC>&>(ev));
      return true;
    }
    case LIST_METRICS: {
      RequestReplier replier(meteringQueue(), ev);
      replier.reply<RETURN_LIST_METRICS>(describe(meter::root()));
      return true;
    }
    case GET_METRIC_TYPE: {
      RequestReplier replier(meteringQueue(), ev);
      answerGetMetricType(replier, static_cast<const devent_t<GET_METRIC_TYPE>&>(ev));
      return true;
    }
    default:
      return false;
  }
}

}  // namespace queues
