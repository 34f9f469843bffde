#pragma once
// Test-only (GoogleTest): checks that code throws an exception of exactly the
// given type from the error::Exception family, with exactly the given text.
// Never include this from library code.
//
//   HX_EXPECT_THROW_TEXT(error::parseUnsigned("12x"), error::EParseError,
//                        "Error parsing: \"12x\"");
//   EXPECT_TRUE(error::throwsWithText<error::EFatal>([&] { tree.add(bad); }, "..."));
#include <cxxabi.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <utility>

#include "error/exception.h"

namespace error {

namespace testing_detail {

inline std::string typeName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> name(
      abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), &std::free);
  return status == 0 && name ? std::string(name.get()) : std::string(type.name());
}

}  // namespace testing_detail

// Success when fn() throws an E whose dynamic type is E itself (a subclass
// does not count) and whose text() equals `text`; otherwise a failure that
// says what happened instead.
template <class E, class Fn>
::testing::AssertionResult throwsWithText(Fn&& fn, std::string_view text) {
  static_assert(std::is_base_of_v<Exception, E>, "E must belong to the error::Exception family");
  const std::string wanted = testing_detail::typeName(typeid(E));
  try {
    std::forward<Fn>(fn)();
  } catch (const Exception& e) {
    const std::string thrown = testing_detail::typeName(typeid(e));
    if (typeid(e) != typeid(E)) {
      return ::testing::AssertionFailure() << "expected " << wanted << ", threw " << thrown
                                           << " with text \"" << e.text() << "\"";
    }
    if (e.text() != text) {
      return ::testing::AssertionFailure() << thrown << " text is \"" << e.text()
                                           << "\"\n            expected \"" << text << "\"";
    }
    return ::testing::AssertionSuccess();
  } catch (const std::exception& e) {
    return ::testing::AssertionFailure() << "expected " << wanted << ", threw "
                                         << testing_detail::typeName(typeid(e)) << ": " << e.what();
  } catch (...) {
    return ::testing::AssertionFailure() << "expected " << wanted << ", threw something else";
  }
  return ::testing::AssertionFailure() << "expected " << wanted << ", nothing was thrown";
}

}  // namespace error

// EXPECT/ASSERT-style forms for one expression (its result is discarded, so
// [[nodiscard]] calls need no cast); it runs inside a lambda capturing by
// reference, and failures are reported at the caller's line.
#define HX_EXPECT_THROW_TEXT(expression, ExceptionType, text) \
  EXPECT_TRUE(::error::throwsWithText<ExceptionType>([&] { static_cast<void>(expression); }, text))
#define HX_ASSERT_THROW_TEXT(expression, ExceptionType, text) \
  ASSERT_TRUE(::error::throwsWithText<ExceptionType>([&] { static_cast<void>(expression); }, text))
