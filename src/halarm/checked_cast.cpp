#include "halarm/checked_cast.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>

namespace halarm {
namespace {

// The readable C++ name of a type.
std::string typeName(const std::type_info& type) {
  int status = 0;
  const std::unique_ptr<char, decltype(&std::free)> name(
      abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), &std::free);
  return status == 0 && name != nullptr ? std::string(name.get()) : std::string(type.name());
}

}  // namespace

void checkedCastFailed(const std::type_info& actual, const std::type_info& target) {
  error::assertionFailed("checked_cast failed, " + typeName(actual) + " should have been " +
                         typeName(target));
}

}  // namespace halarm
