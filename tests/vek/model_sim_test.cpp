// The Model against the simulated controller, an arm on a carriage and a turntable.
#include <gtest/gtest.h>

#include "tests/vek/robot_test_util.h"
#include "vek/model.h"

namespace quiral::vek {
namespace {

using namespace testing_util;
const Eigen::Vector3d kGravity(0.0, 0.0, -9.81);

// Equal within the 32-bit floats that joint states and poses travel in.
void ExpectReportedPoses(SimRobot& env, Model& model, const char* tcp_link) {
  env.Set({{"joints", {0.4, 0.1, 0.3, -0.5, 0.2, 1.2, -0.1, 0.6, 0.2}}});
  const RobotStates states = env.robot->states();
  model.Update(states.link_position, states.link_velocity);
  for (const auto& [link, p] :
       {std::pair(tcp_link, states.tcp_pose), std::pair("flange", states.flange_pose)}) {
    Eigen::Isometry3d pose(Eigen::Quaterniond(p[3], p[4], p[5], p[6]).normalized());
    pose.translation() << p[0], p[1], p[2];
    EXPECT_TRUE(model.T(link).isApprox(pose, 1e-6)) << link;
  }
}

TEST(ModelSimTest, FetchesToolThenUrdfGivesTheReportedPosesAndAsksTheController) {
  SimRobot env({"--initial-state", "ready", "--dof-e", "2"});
  const json turned = {{"name", "Turned"},
                       {"tcp_location", {0.02, 0, 0.12, 0.92388, 0, 0.38268, 0}}};
  const json flange = {{"name", "Flange"}, {"tcp_location", {0, 0, 0, 1, 0, 0, 0}}};
  env.sim.Set(env.serial, {{"tools", {{"list", json::array({flange, turned})}}}});
  const size_t before = env.OpsTotal();
  Model model(*env.robot, kGravity);
  const std::vector<json> sent = env.Requests(before);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0]["procedure_id"], 34);
  EXPECT_EQ(sent[1]["long_string"], env.serial + ".urdf");
  ExpectReportedPoses(env, model, "flange");
  env.sim.Set(env.serial, {{"tools", {{"active", "Turned"}}}});
  model.Reload();
  ExpectReportedPoses(env, model, "tool");

  const std::vector<double> nine{1, 2, 3, 4, 5, 6, 7, 8, 9};
  env.sim.Set(env.serial, {{"reachability", {{"reachable", true}, {"solution", nine}}},
                           {"manipulability", {9, 9, 0.5, 0.5, 1.0, 0.5, 0.5, 0.0}}});
  EXPECT_EQ(model.reachable({0.4, 0.1, 0.5, 1, 0, 0, 0}, nine, true), std::pair(true, nine));
  EXPECT_EQ(model.configuration_score(), std::pair(100.0, 0.0));
}

}  // namespace
}  // namespace quiral::vek
