#pragma once
// The alarm process as the main process runs it: its child queue over the
// sibling messenger, which it builds from the environment the main process
// gave it (the pool, the publication directory).
//
// An orderly end completes the messenger's shutdown. When the main process
// went away without ordering the exit, there is nobody left to acknowledge a
// shutdown: the process ends at once with kMainProcessGone.
#include <memory>
#include <string>

#include "halarm/run.h"
#include "io/sibling_messenger.h"
#include "queues/childqueue.h"
#include "queues/sibling_messenger_adapter.h"

namespace halarm {

// The exit code of a run whose main process went away without SYS_EXIT.
inline constexpr int kMainProcessGone = 2;

class MessengerConnection final : public Connection {
 public:
  // Sibling `id`; the environment values are named envPrefix + "::...".
  MessengerConnection(int id, const std::string& envPrefix);
  // The alarm process: sibling 5, "smem".
  static ConnectionPtr forAlarmProcess();

  queues::childqueue& queue() override { return *queue_; }
  int completeShutdown(bool ordered) override;

 private:
  std::unique_ptr<io::SiblingMessenger> messenger_;
  std::unique_ptr<queues::SiblingMessengerAdapter> adapter_;
  std::unique_ptr<queues::childqueue> queue_;
};

}  // namespace halarm
