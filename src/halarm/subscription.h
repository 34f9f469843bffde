#pragma once
// The alarm process's view of the object database: one standing TQL select
// over the domain tree, and the AlarmSubscriber that mirrors its result as a
// tree of keepers.
//
// The select asks for domains with their nodes, check groups, checks and
// check accumulations, domain exports, node classes, and the downtime plans
// attached to any of them, with exactly the properties the keepers read.
// Checks are selected only while `active` is true. The DBMS answers once
// with the full tree and then with patches; the subscriber applies them and
// every keeper reacts in its hooks.
//
// The namespace is `halarm`: a namespace named `alarm` cannot share the
// global scope with the C library's alarm() function.
#include <cstddef>
#include <memory>

#include "keepers/event_sink.h"
#include "queues/childqueue.h"
#include "queues/dbms.h"
#include "queues/tql_values.h"
#include "tql/id.h"
#include "tql/subscription/incremental_subscriber.h"

namespace halarm {

// The object every select of the monitored tree starts from.
inline constexpr tql::id_t kRootObjectId{0, 1};

// Flags and minimum evaluation interval of the standing select, interpreted
// by the DBMS.
inline constexpr std::int32_t kSubscriptionFlags = 17;
inline constexpr std::int64_t kMinEvalInterval = 15;

// The pattern tree of the standing select.
tql::pattern_t subscriptionPattern();
// The whole request: the root object, the pattern, the flags and interval.
dbms::Tql_Select_Data subscriptionRequest();

// The one subscriber of the process. It builds a DomainKeeper for the root
// object; every keeper below is built by its parent and sends its events
// through the queue given here.
class AlarmSubscriber final : public tql::IncrementalSubscriber {
 public:
  AlarmSubscriber() = default;
  ~AlarmSubscriber() override;

  // The queue every keeper sends through; set before the first reply is
  // handled and cleared (null) once the tree is gone. Not owned.
  void setQueue(queues::childqueue* queue);

 protected:
  ObjectPtr createRoot(tql::object_ptr node) override;
  void treeArriving(std::size_t objects) override;

 private:
  std::unique_ptr<keepers::EventSink> sink_;
};

// The process-wide subscriber.
AlarmSubscriber& alarmSubscriber();

}  // namespace halarm
