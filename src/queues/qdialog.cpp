#include "queues/qdialog.h"

#include "error/check.h"

namespace queues {
namespace detail {

childqueue& dialogQueue() {
  childqueue* queue = currentQueue();
  HX_CHECK(queue != nullptr, "No cqueue for qdialog");
  return *queue;
}

EventPtr exchange(childqueue& queue, const event& request, event_t expected,
                  std::string_view end_of_stream_text) {
  queue.send(request);
  EventPtr reply = queue.waitReply(request.inresponse, request.dest);
  if (reply == nullptr) throw error::ESystemError(std::string(end_of_stream_text));
  if (reply->type == expected && !reply->exception) return reply;
  if (auto* ex = dynamic_cast<exevent*>(reply.get()))
    throw errors::remote_error(std::move(ex->text));
  error::assertionFailed("Dialog to " + queueName(request.dest) + ", sent " +
                         eventName(request.type) + " expected " + eventName(expected) + " got " +
                         eventName(reply->type) +
                         " uid=" + std::to_string(static_cast<std::int32_t>(request.inresponse)));
}

}  // namespace detail

control::Server_Configuration_Fields requestServerConfiguration() {
  return qdialog<REQUEST_SERVER_CONFIGURATION, SERVER_CONFIGURATION>(
      QUEUE_MAIN, 0, "Peer MAIN returned EOS when waiting for control::Server_Configuration");
}

dbms::Return_Tql_Forget_Data forgetSubscription(std::uint32_t subscription_uid) {
  return qdialog<TQL_FORGET, RETURN_TQL_FORGET>(
      QUEUE_DBMS, dbms::Tql_Forget_Data{subscription_uid},
      "Peer DBMS returned EOS when waiting for dbms::Return_Tql_Forget");
}

}  // namespace queues
