#pragma once
// A downcast that must succeed: used where the event type number fixes the
// payload class, so a mismatch is a bug in this program and stops it.
//
//   const auto& state = checked_cast<const queues::devent_t<queues::IMMEDIATE_STATE>&>(ev);
//
// A failure stops the process with "checked_cast failed, " + the run-time
// class of the object + " should have been " + the target class, both as
// C++ names.
#include <type_traits>
#include <typeinfo>

#include "error/check.h"

namespace halarm {

[[noreturn]] void checkedCastFailed(const std::type_info& actual, const std::type_info& target);

template <class To, class From>
requires std::is_reference_v<To> To checked_cast(From& from) {
  using Target = std::remove_reference_t<To>;
  auto* to = dynamic_cast<Target*>(&from);
  if (to == nullptr) checkedCastFailed(typeid(from), typeid(Target));
  return *to;
}

}  // namespace halarm
