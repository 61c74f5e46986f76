// GripperPair against two simulated controllers: the order in which the arms
// are reached, the arms that the commands reach, and each arm's tagged errors.

#include "bivek/gripper_pair.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/vek/robot_test_util.h"

namespace quiral::bivek {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using vek::testing_util::RequestsOf;
using vek::testing_util::Throws;

constexpr int kEnable = 41, kCommand = 42;
constexpr int kDelayMs = 500;
const std::pair<std::string, std::string> kBoth = {"SimGripper", "SimGripper"};

class GripperPairTest : public ::testing::Test {
 protected:
  // Each arm's requests of `procedure` sent by `call`.
  std::pair<std::vector<json>, std::vector<json>> Sent(int procedure,
                                                       const std::function<void()>& call) {
    const size_t since[2] = {RequestsOf(sim_, sn_[0]).size(), RequestsOf(sim_, sn_[1]).size()};
    call();
    return {RequestsOf(sim_, sn_[0], procedure, since[0]),
            RequestsOf(sim_, sn_[1], procedure, since[1])};
  }
  // With the first arm's reply `kDelayMs` late: whether the second arm's
  // request came before that reply (both at once) or after it.
  bool SecondBeforeFirstReply(int procedure, const std::function<void()>& call) {
    sim_.Fault(sn_[0], {{"procedure_id", procedure}, {"kind", "late_reply"}, {"delay_ms", kDelayMs}});
    const auto sent = Sent(procedure, call);
    EXPECT_EQ(sent.first.size(), 1u);
    EXPECT_EQ(sent.second.size(), 1u);
    return sent.second.at(0)["t_ns"].get<int64_t>() <
           sent.first.at(0)["t_ns"].get<int64_t>() + kDelayMs * 1000000LL;
  }

  const std::array<std::string, 2> sn_ = {test::UniqueSerial("Varno4"), test::UniqueSerial("Varno10")};
  test::SimProcess sim_{{sn_[0], sn_[1]}, {"--initial-state", "ready"}};
  RobotPair robots_{{sn_[0], sn_[1]}, {}, {"127.0.0.1"}};
  GripperPair grippers_{robots_};
};

TEST_F(GripperPairTest, EnableAndDisableOneArmAfterTheOtherCommandsBothAtOnce) {
  EXPECT_FALSE(SecondBeforeFirstReply(kEnable, [&] { grippers_.Enable(kBoth); }));
  EXPECT_EQ(grippers_.params().second.name, "SimGripper");
  EXPECT_EQ(grippers_.params().second.max_force, 80.0);
  for (const auto& command : std::vector<std::function<void()>>{
           [&] { grippers_.Init(); }, [&] { grippers_.Grasp({20, 30}); },
           [&] { grippers_.Move({0.05, 0.06}, {0.1, 0.1}, {40, 50}); },
           [&] { grippers_.Stop(); }}) {
    EXPECT_TRUE(SecondBeforeFirstReply(kCommand, command));
  }
  EXPECT_FALSE(SecondBeforeFirstReply(kEnable, [&] { grippers_.Disable({true, true}); }));
  EXPECT_EQ(grippers_.params().first.name, "");
}

TEST_F(GripperPairTest, CommandsReachOnlyTheArmsThisPairEnabled) {
  const auto to_second = [&](const std::function<void()>& call) {
    const auto sent = Sent(kCommand, call);
    return sent.first.empty() && sent.second.size() == 1 ? sent.second[0] : json();
  };
  grippers_.Enable({"", "SimGripper"});
  // The first arm's force is not looked at: NaN would be refused.
  EXPECT_EQ(to_second([&] { grippers_.Grasp({std::nan(""), 30}); })["float_args"][0], 30.0);
  EXPECT_FALSE(to_second([&] { grippers_.Init(); }).is_null());
  EXPECT_TRUE(Sent(kCommand, [&] { grippers_.Stop({true, false}); }).second.empty());
  grippers_.Disable({false, true});
  const auto none = Sent(kCommand, [&] { grippers_.Move({0.05, 0.05}, {0.1, 0.1}, {9, 9}); });
  EXPECT_TRUE(none.first.empty() && none.second.empty());
}

TEST_F(GripperPairTest, ArmErrorsLeaveTaggedWithTheArm) {
  const std::string p = "[quiral::bivek::GripperPair::";
  EXPECT_TRUE(Throws<std::logic_error>([&] { grippers_.Disable({true, true}); },
                                       p + "Disable](first) No gripper enabled"));
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] { grippers_.Enable({"SimGripper", "Nope"}); },
      p + "Enable](second) The specified gripper [Nope] does not exist"));
  EXPECT_EQ(grippers_.params().first.name, "SimGripper");  // no rollback
  grippers_.Enable({"", "SimGripper"});
  // The first arm fails, the second arm's task still runs to its end.
  const auto sent = Sent(kCommand, [&] {
    EXPECT_TRUE(Throws<std::invalid_argument>(
        [&] { grippers_.Grasp({1000, 20}); },
        p + "Grasp](first) Input parameter [force] is outside the valid range"));
  });
  EXPECT_EQ(sent.second.size(), 1u);
  for (const auto& sn : sn_) sim_.Fault(sn, {{"procedure_id", kCommand}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>([&] { grippers_.Init(); },
                                         p + "Init](first) Failed to deliver the request"));
  sim_.Fault(sn_[1], {{"procedure_id", 40}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { GripperPair{robots_}; },
      "[quiral::bivek::GripperPair](second) Failed to initialize device list"));
}

}  // namespace
}  // namespace quiral::bivek
