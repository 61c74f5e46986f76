#include "base/qor_state.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

// Every status value carries the one "General" category, which names only
// the four codes; success is OK alone, failure FAULT and above, so a
// warning (or a negative code) is neither.
TEST(QorState, MessagesAndOutcomesOfEveryCode) {
  const struct {
    int32_t code;
    const char* message;
    bool succeeded, failed;
  } cases[] = {{100000, "OK", true, false},
               {200000, "Warning", false, false},
               {300000, "Fault", false, true},
               {400000, "Critical fault", false, true},
               {123, "(unrecognized)", false, false},
               {-400000, "(unrecognized)", false, false},
               {299999, "(unrecognized)", false, false},
               {INT32_MAX, "(unrecognized)", false, true}};
  for (const auto& c : cases) {
    const QorState state = _MakeQorState(static_cast<QorGeneralState>(c.code));
    EXPECT_EQ(state.code, c.code);
    EXPECT_EQ(state.category, &QorGeneralStateCategory());
    EXPECT_STREQ(state.category->name(), "General");
    EXPECT_STREQ(state.category->message(c.code), c.message) << c.code;
    EXPECT_EQ(QorSucceeded(state), c.succeeded) << c.code;
    EXPECT_EQ(QorFailed(state), c.failed) << c.code;
  }
}

}  // namespace
