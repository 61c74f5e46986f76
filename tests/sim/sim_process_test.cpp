// The test harness and the control channel of the simulator process.
#include <gtest/gtest.h>

#include <signal.h>

#include <cerrno>

#include "tests/support/sim_process.h"

namespace quiral::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

bool ProcessExists(pid_t pid) { return ::kill(pid, 0) == 0 || errno != ESRCH; }

TEST(SimProcessTest, CommandsRepliesAndErrors) {
  const std::string a = UniqueSerial("Varno4");
  const std::string b = UniqueSerial("Varno10");
  SimProcess sim(std::vector<std::string>{a, b}, {"--initial-state", "ready", "--dof", "6"});
  const json s = sim.State(b);
  EXPECT_EQ(s["serial"], b);
  EXPECT_EQ(s["dof"], 6);
  EXPECT_TRUE(s["operational"]);

  // Errors come back as "ok": false with a text, and the process goes on.
  json r = sim.TryCommand("state");
  EXPECT_FALSE(r["ok"]);
  EXPECT_EQ(r["error"], "'serial' is required with more than one controller");
  r = sim.TryCommand("state", {{"serial", "Nope-1"}});
  EXPECT_EQ(r["error"], "unknown serial 'Nope-1'");
  r = sim.TryCommand("dance", {{"serial", a}});
  EXPECT_EQ(r["error"], "unknown command 'dance'");
  EXPECT_THROW(sim.Set(a, {{"joints", {1, 2, 3}}}), SimError);
  EXPECT_THROW(sim.Fault(a, {{"kind", "late_reply"}}), SimError);

  sim.Set(a, {{"estop", true}});
  EXPECT_TRUE(sim.WaitForState(a,
                               [](const json& st) { return st["estop"] == true && !st["operational"]; },
                               2s));
  EXPECT_EQ(sim.State(b)["estop"], false);
  EXPECT_EQ(sim.Quit(), 0);
  EXPECT_FALSE(sim.alive());
  EXPECT_THROW(sim.State(a), SimError);
}

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

TEST(SimProcessTest, BadOptionsFailFast) {
  SimOptions options;
  options.args = {"--initial-state", "sideways"};
  options.ready_timeout = 10s;
  EXPECT_THROW(SimProcess{options}, SimError);
  options.args = {"--rate-hz", "0"};
  EXPECT_THROW(SimProcess{options}, SimError);
}

}  // namespace
}  // namespace quiral::test
