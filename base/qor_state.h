// Status value returned by every operation of the robot link.
//
// A status value pairs a numeric code with the category that gives it its
// meaning. There is exactly one category, "General". Callers test the code
// only: 100000 is success, 300000 and above are errors.
#pragma once

#include <cstdint>

enum class QorGeneralState : int32_t {
  OK = 100000,
  WARNING = 200000,
  FAULT = 300000,
  CRITICAL_FAULT = 400000,
};

class QorStateCategory {
 public:
  virtual ~QorStateCategory() = default;
  // Static, zero-terminated name of the category.
  virtual const char* name() const = 0;
  // Static, zero-terminated text of a code of this category.
  virtual const char* message(int32_t code) const = 0;
};

// The "General" category singleton; every call returns the same object.
const QorStateCategory& QorGeneralStateCategory();

struct QorState {
  int32_t code;
  const QorStateCategory* category;
};

// Makes a status value of the "General" category. The code is stored as
// given, without checking it against the enumeration.
QorState _MakeQorState(QorGeneralState code);

// Success test used by the single-robot API: the code is exactly OK.
inline bool QorSucceeded(const QorState& state) {
  return state.code == static_cast<int32_t>(QorGeneralState::OK);
}

// Error test used by the link's start-up: FAULT or above.
inline bool QorFailed(const QorState& state) {
  return state.code >= static_cast<int32_t>(QorGeneralState::FAULT);
}
