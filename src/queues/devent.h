#pragma once
// The concrete events: devent<N, Data>, one class per event type N holding
// the payload `data`, and exevent, an exception reply holding a text.
//
//   queues::devent<queues::IMMEDIATE_STATE, alarms::Immediate_State_Data> ev(
//       queues::QUEUE_ALRM, uid, {id, state});
//   queues::devent_t<queues::SET_STATUS> same_thing_shorter(queues::QUEUE_DBMS, 0);
//
// Data must be the payload type the type table gives for N (event_data_t<N>),
// so that what a reader builds for N is the class a receiver casts to.
#include <memory>
#include <ostream>
#include <string>
#include <type_traits>
#include <utility>

#include "queues/codec.h"
#include "queues/event.h"
#include "queues/event_data.h"

namespace queues {

template <event_t N, class Data>
class devent final : public event {
  static_assert(std::is_same_v<Data, event_data_t<N>>,
                "devent<N, Data>: Data is not the payload type of event type N");

 public:
  using data_type = Data;
  static constexpr event_t kType = N;

  Data data;

  explicit devent(queue_t dest_ = QUEUE_NONE, std::uint32_t inresponse_ = 0, Data data_ = {})
      : event(N, dest_, inresponse_, false), data(std::move(data_)) {}
  devent(const devent&) = default;
  devent& operator=(const devent&) = default;

  EventPtr clone() const override { return std::make_unique<devent>(*this); }
  void writeData(queues::ioprim& out) const override {
    if (exception) return;
    queues::write(out, data);
  }
  void printData(std::ostream& out, int depth) const override {
    queues::printPayload(out, data, depth);
  }
};

template <event_t N>
using devent_t = devent<N, event_data_t<N>>;

// An exception reply: the text of the exception a request ended in. Its type
// is always MESSAGE_EXCEPTION.
class exevent final : public event {
 public:
  std::string text;

  exevent(queue_t dest_, std::uint32_t inresponse_, std::string text_)
      : event(MESSAGE_EXCEPTION, dest_, inresponse_, true), text(std::move(text_)) {}
  exevent(const exevent&) = default;
  exevent& operator=(const exevent&) = default;

  EventPtr clone() const override { return std::make_unique<exevent>(*this); }
  void writeData(queues::ioprim& out) const override { queues::write(out, text); }
  // "Exception: " + the text.
  void printData(std::ostream& out, int depth) const override {
    queues::indent(out, depth);
    out << "Exception: " << text << '\n';
  }
};

}  // namespace queues
