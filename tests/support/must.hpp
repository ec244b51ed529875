// Unwrapping results that a test's set-up relies on.
#pragma once

#include <cstdlib>
#include <utility>

#include <gtest/gtest.h>

namespace valdori::testing {

// The value of `result`. An error fails the test and stops the program at once: set-up runs in
// static initialisers and on other threads too, where an exception would be lost or terminate
// without saying why.
template <class Result>
auto must(Result&& result) {
  if (!result) {
    ADD_FAILURE() << "unexpected error in test setup";
    std::abort();
  }
  return *std::forward<Result>(result);
}

}  // namespace valdori::testing
