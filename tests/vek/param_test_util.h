// Comparison and error-checking helpers shared by the parameter-value tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <typeinfo>
#include <variant>
#include <vector>

#include "vek/data_types.h"

namespace quiral::vek::testing_util {

inline bool Equal(const JPos& a, const JPos& b) { return a.q_m == b.q_m && a.q_e == b.q_e; }

inline bool Equal(const Coord& a, const Coord& b) {
  return a.position == b.position && a.orientation == b.orientation &&
         a.ref_frame == b.ref_frame && a.ref_q_m == b.ref_q_m && a.ref_q_e == b.ref_q_e;
}

template <typename T>
bool Equal(const T& a, const T& b) {
  return a == b;
}

template <typename T>
bool Equal(const std::vector<T>& a, const std::vector<T>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!Equal(a[i], b[i])) return false;
  }
  return true;
}

// Same alternative and equal value (doubles compared exactly).
inline ::testing::AssertionResult SameValue(const ParamVariant& actual,
                                            const ParamVariant& expected) {
  if (actual.index() != expected.index()) {
    return ::testing::AssertionFailure()
           << "alternative " << actual.index() << ", expected " << expected.index();
  }
  const bool equal = std::visit(
      [&expected](const auto& value) {
        using T = std::decay_t<decltype(value)>;
        return Equal(value, std::get<T>(expected));
      },
      actual);
  if (!equal) return ::testing::AssertionFailure() << "alternative " << actual.index() << " differs";
  return ::testing::AssertionSuccess();
}

// Runs `call` and checks that it throws exactly the exception type E
// (not a derived one) with exactly the text `text`.
template <typename E, typename F>
::testing::AssertionResult ThrowsExactly(F&& call, const std::string& text) {
  try {
    call();
  } catch (const std::exception& e) {
    if (typeid(e) != typeid(E)) {
      return ::testing::AssertionFailure()
             << "threw " << typeid(e).name() << " (" << e.what() << "), expected "
             << typeid(E).name();
    }
    if (text != e.what()) {
      return ::testing::AssertionFailure() << "text \"" << e.what() << "\", expected \"" << text
                                           << "\"";
    }
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "nothing thrown";
}

inline Coord MakeCoord(std::array<double, 3> position, std::array<double, 3> orientation,
                       std::string frame0, std::string frame1,
                       std::array<double, 7> ref_q_m = {}, std::array<double, 6> ref_q_e = {}) {
  Coord coord;
  coord.position = position;
  coord.orientation = orientation;
  coord.ref_frame = {std::move(frame0), std::move(frame1)};
  coord.ref_q_m = ref_q_m;
  coord.ref_q_e = ref_q_e;
  return coord;
}

}  // namespace quiral::vek::testing_util
