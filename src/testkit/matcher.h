#pragma once
// Test-only (GoogleTest): checks that code throws an exception of exactly the
// given type from the error::Exception family, with exactly the given text,
// or hands the exception over for checks of its own (a code, say).
// Never include this from library code.
//
//   HX_EXPECT_THROW_TEXT(error::parseUnsigned("12x"), error::EParseError,
//                        "Error parsing: \"12x\"");
//   EXPECT_TRUE(testkit::throwsWithText<error::EFatal>([&] { tree.add(bad); }, "..."));
//   const auto e = testkit::thrown<errors::tql>([&] { getInt(p); });
//   EXPECT_EQ(e->code(), 9);
#include <cxxabi.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <utility>

#include "error/exception.h"

namespace testkit {

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
  static_assert(std::is_base_of_v<error::Exception, E>,
                "E must belong to the error::Exception family");
  const std::string wanted = testing_detail::typeName(typeid(E));
  try {
    std::forward<Fn>(fn)();
  } catch (const error::Exception& e) {
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

// The E that fn() throws; a test failure (and a default E-less nullopt) when
// it throws nothing, or something whose dynamic type is not exactly E.
template <class E, class Fn>
std::optional<E> thrown(Fn&& fn) {
  try {
    fn();
  } catch (const E& e) {
    if (typeid(e) == typeid(E)) return e;
    ADD_FAILURE() << "threw a subclass of the expected type, " << typeid(e).name();
    return std::nullopt;
  } catch (...) {
    ADD_FAILURE() << "threw something other than " << typeid(E).name();
    return std::nullopt;
  }
  ADD_FAILURE() << "threw nothing, expected " << typeid(E).name();
  return std::nullopt;
}

// The text of the E that fn() throws, or "<no E thrown>".
template <class E, class Fn>
std::string thrownText(Fn&& fn) {
  const std::optional<E> e = thrown<E>(fn);
  return e ? e->text() : "<no exception of the expected type>";
}

}  // namespace testkit

// EXPECT/ASSERT-style forms for one expression (its result is discarded, so
// [[nodiscard]] calls need no cast); it runs inside a lambda capturing by
// reference, and failures are reported at the caller's line.
#define HX_EXPECT_THROW_TEXT(expression, ExceptionType, text) \
  EXPECT_TRUE(                                                \
      ::testkit::throwsWithText<ExceptionType>([&] { static_cast<void>(expression); }, text))
#define HX_ASSERT_THROW_TEXT(expression, ExceptionType, text) \
  ASSERT_TRUE(                                                \
      ::testkit::throwsWithText<ExceptionType>([&] { static_cast<void>(expression); }, text))
