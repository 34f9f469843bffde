#pragma once
// Test-only (GoogleTest): catches the exception a call throws so that a test
// can check its exact type, text and code. Never include from library code.
//
//   const auto e = tql::testutil::thrown<errors::tql>([&] { getInt(p); });
//   EXPECT_EQ(e.code(), 9);
#include <gtest/gtest.h>

#include <optional>
#include <typeinfo>

namespace tql::testutil {

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

}  // namespace tql::testutil
