#pragma once
// The child queue's view of the sibling messenger: input from some sibling,
// each sibling's byte streams by queue number, and the shutdown. Sibling ids
// are queue numbers.
#include <map>

#include "io/sibling_messenger.h"
#include "queues/messenger.h"

namespace queues {

class SiblingMessengerAdapter : public Messenger {
 public:
  // The messenger must outlive the adapter.
  explicit SiblingMessengerAdapter(io::SiblingMessenger& messenger) : messenger_(messenger) {}

  io::Selectable& inputSelectable() override { return messenger_.someSibling(); }
  queue_t readySibling() override { return static_cast<queue_t>(messenger_.readySibling()); }
  io::IStream& inputStream(queue_t sibling) override { return ref(sibling).istream(); }
  io::OStream& outputStream(queue_t sibling) override { return ref(sibling).ostream(); }
  void dropEndOfStream(queue_t sibling) override { messenger_.dropEndOfStream(sibling); }
  void initiateShutdown() override { messenger_.initiateShutdown(); }

 private:
  // The adapter holds one reference to every sibling whose streams it handed
  // out, for as long as it lives.
  const io::SiblingMessenger::SiblingRef& ref(queue_t sibling);

  io::SiblingMessenger& messenger_;
  std::map<queue_t, io::SiblingMessenger::SiblingRef> refs_;
};

}  // namespace queues
