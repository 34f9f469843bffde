// Writing and reading whole events, and the factory table that builds the
// event class of each type number.
#include <array>
#include <utility>

#include "error/check.h"
#include "queues/devent.h"
#include "queues/ioprim.h"

namespace queues {

namespace {

using EventReader = queues::EventPtr (*)(ioprim&);

// Reads the rest of an event of type N after its type word: the header, then
// the payload or, for an exception reply, the exception text.
template <std::size_t N>
queues::EventPtr readRest(ioprim& io) {
  const auto dest = static_cast<queues::queue_t>(io.get<std::int32_t>());
  const auto inresponse = io.get<std::uint32_t>();
  const bool exception = io.get<std::uint32_t>() != 0;
  if (exception) {
    auto ev = std::make_unique<queues::exevent>(dest, inresponse, std::string());
    io.getString(ev->text);
    return ev;
  }
  if constexpr (N == queues::MESSAGE_EXCEPTION) {
    io.badEvent("Found exevent with .exception == 0");
  } else {
    auto ev = std::make_unique<queues::devent_t<queues::event_t(N)>>(dest, inresponse);
    queues::read(io, ev->data);
    return ev;
  }
}

template <std::size_t N>
constexpr EventReader factoryEntry() {
  if constexpr (queues::isEventType(static_cast<std::int32_t>(N))) {
    return &readRest<N>;
  } else {
    return nullptr;
  }
}

template <std::size_t... N>
constexpr auto makeFactory(std::index_sequence<N...>) {
  return std::array<EventReader, sizeof...(N)>{factoryEntry<N>()...};
}

// Indexed by type number; entry 0 is empty.
constexpr auto kFactory = makeFactory(std::make_index_sequence<queues::kLastEventType + 1>());

}  // namespace

void ioprim::writeEvent(const queues::event& ev) {
  HX_CHECK(queues::isEventType(ev.type),
           "fdio << event: unknown type index: " + std::to_string(ev.type));
  put<std::int32_t>(ev.type);
  put<std::int32_t>(ev.dest);
  put<std::uint32_t>(ev.inresponse);
  put<std::uint32_t>(ev.exception ? 1 : 0);
  ev.writeData(*this);
}

queues::EventPtr ioprim::readEvent() {
  const auto type = get<std::int32_t>();
  if (!queues::isEventType(type)) {
    badEvent("fdio >> event: unknown type index: " + std::to_string(type) + " old was " +
             std::to_string(last_read_type_) + " dest " + std::to_string(last_read_dest_));
  }
  queues::EventPtr ev = kFactory[type](*this);
  HX_CHECK(ev->exception || ev->type == type, "spawn[] hash failure!");
  last_read_type_ = type;
  last_read_dest_ = ev->dest;
  return ev;
}

}  // namespace queues
