#include "queues/sibling_messenger_adapter.h"

namespace queues {

const io::SiblingMessenger::SiblingRef& SiblingMessengerAdapter::ref(queue_t sibling) {
  auto it = refs_.find(sibling);
  if (it == refs_.end()) it = refs_.emplace(sibling, messenger_.getSibling(sibling)).first;
  return it->second;
}

}  // namespace queues
