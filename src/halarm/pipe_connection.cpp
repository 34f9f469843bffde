#include "halarm/pipe_connection.h"

#include <memory>
#include <utility>

namespace halarm {

PipeConnection::PipeConnection(io::IStreamPtr in, io::OStreamPtr out)
    : queue_(std::make_unique<queues::childqueue>(std::move(in), std::move(out))) {}

ConnectionPtr PipeConnection::overStandardStreams() {
  return std::make_unique<PipeConnection>(queues::childqueue::overStandardStreams());
}

}  // namespace halarm
