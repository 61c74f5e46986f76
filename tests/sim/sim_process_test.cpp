// The lifetime of the simulator process behind the test harness.
#include <gtest/gtest.h>

#include <signal.h>

#include <cerrno>

#include "tests/support/sim_process.h"

namespace quiral::test {
namespace {

bool ProcessExists(pid_t pid) { return ::kill(pid, 0) == 0 || errno != ESRCH; }

TEST(SimProcessTest, NoOrphanAfterTheHandleIsGone) {
  pid_t pid = -1;
  {
    SimProcess sim;
    pid = sim.pid();
    ASSERT_GT(pid, 0);
    // A simulator that stops reading is killed by the destructor.
    ::kill(pid, SIGSTOP);
  }
  EXPECT_FALSE(ProcessExists(pid));
}

}  // namespace
}  // namespace quiral::test
