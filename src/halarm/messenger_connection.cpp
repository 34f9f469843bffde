#include "halarm/messenger_connection.h"

#include "queues/types.h"

namespace halarm {

MessengerConnection::MessengerConnection(int id, const std::string& envPrefix)
    : messenger_(std::make_unique<io::SiblingMessenger>(id, envPrefix)),
      adapter_(std::make_unique<queues::SiblingMessengerAdapter>(*messenger_)),
      queue_(std::make_unique<queues::childqueue>(*adapter_)) {}

ConnectionPtr MessengerConnection::forAlarmProcess() {
  return std::make_unique<MessengerConnection>(queues::QUEUE_ALRM, "smem");
}

int MessengerConnection::completeShutdown(bool ordered) {
  if (!ordered || !messenger_->shutdownAcknowledged()) return kMainProcessGone;
  messenger_->completeShutdown();
  return 0;
}

}  // namespace halarm
