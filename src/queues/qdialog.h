#pragma once
// Dialogs: send one request to a peer and block until the reply to exactly
// that request arrives. Whatever else arrives meanwhile is set aside in the
// current child queue, in order, for the main loop to receive later.
//
// A dialog is fixed by its request type, its expected reply type and its
// peer. The reply's payload is returned; an exception reply throws
// errors::remote_error with the peer's text; the end of the peer's stream
// throws error::ESystemError with the dialog's end-of-stream text. A reply of
// any other type is a broken peer and stops the process.
//
//   control::Server_Configuration_Fields conf = queues::requestServerConfiguration();
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "error/exception.h"
#include "queues/childqueue.h"
#include "queues/devent.h"
#include "queues/event.h"

namespace errors {

// A peer answered a request with an exception reply; the text is the peer's.
class remote_error : public error::MessageException {
 public:
  using MessageException::MessageException;
};

}  // namespace errors

namespace queues {

namespace detail {

// The current queue; stops the process when there is none.
childqueue& dialogQueue();

// Sends the request, waits for the reply with its uid from `peer` and returns
// it when it has the expected type; throws or stops the process otherwise.
EventPtr exchange(childqueue& queue, const event& request, event_t expected,
                  std::string_view end_of_stream_text);

}  // namespace detail

template <event_t Request, event_t Reply>
event_data_t<Reply> qdialog(queue_t peer, event_data_t<Request> payload,
                            std::string_view end_of_stream_text) {
  childqueue& queue = detail::dialogQueue();
  const devent_t<Request> request(peer, queue.nextUid(), std::move(payload));
  EventPtr reply = detail::exchange(queue, request, Reply, end_of_stream_text);
  return std::move(static_cast<devent_t<Reply>&>(*reply).data);
}

// The server configuration from the main process.
control::Server_Configuration_Fields requestServerConfiguration();

// Withdraws the subscription made by the request with this uid from the DBMS.
dbms::Return_Tql_Forget_Data forgetSubscription(std::uint32_t subscription_uid);

}  // namespace queues
