// The Model against the simulated controller: what it fetches and asks,
// and the poses it computes from the controller's joint states against
// those the controller reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include <yaml-cpp/yaml.h>

#include "tests/vek/robot_test_util.h"
#include "vek/model.h"

namespace quiral::vek {
namespace {

using namespace testing_util;

Eigen::Isometry3d Pose(const std::array<double, 7>& p) {
  Eigen::Isometry3d pose(Eigen::Quaterniond(p[3], p[4], p[5], p[6]).normalized());
  pose.translation() << p[0], p[1], p[2];
  return pose;
}

// The flange and TCP poses from the controller's joint states equal those it
// reports, within the 32-bit floats they travel in.
void ExpectPosesOfStates(SimRobot& env, Model& model) {
  const std::vector<double> q{0.3, -0.5, 0.2, 1.2, -0.1, 0.6, 0.2, 0.4, 0.1};
  env.Set({{"joints", std::vector<double>(q.begin(), q.begin() + env.robot->info().DoF)}});
  const RobotStates states = env.robot->states();
  model.Update(states.link_position, states.link_velocity);
  EXPECT_TRUE(model.T("flange").isApprox(Pose(states.flange_pose), 1e-6));
  const std::vector<std::string> links = model.link_names();
  const bool tool = std::find(links.begin(), links.end(), "tool") != links.end();
  EXPECT_TRUE(model.T(tool ? "tool" : "flange").isApprox(Pose(states.tcp_pose), 1e-6));
}

TEST(ModelSimTest, FetchesToolThenUrdfAndComputesTheReportedPoses) {
  SimRobot env;
  const json turned_tool = {{"name", "Turned"},
                            {"mass", 0.5},
                            {"CoM", {0, 0, 0.05}},
                            {"inertia", {0.001, 0.001, 0.0005, 0, 0, 0}},
                            {"tcp_location", {0.02, 0, 0.12, 0.9238795, 0, 0.3826834, 0}}};
  const json flange = {{"name", "Flange"}, {"tcp_location", {0, 0, 0, 1, 0, 0, 0}}};
  env.sim.Set(env.serial, {{"tools", {{"list", json::array({flange, turned_tool})}}}});
  const size_t before = env.OpsTotal();
  Model model(*env.robot, {0.0, 0.0, -9.81});
  const std::vector<json> sent = env.Requests(before);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0]["procedure_id"], 34);
  EXPECT_EQ(sent[1]["procedure_id"], 5);
  EXPECT_EQ(sent[1]["long_string"], env.serial + ".urdf");
  EXPECT_EQ(model.link_names().back(), "flange");
  ExpectPosesOfStates(env, model);

  env.sim.Set(env.serial, {{"tools", {{"active", "Turned"}}}});
  model.Reload();
  EXPECT_EQ(model.link_names().back(), "tool");
  ExpectPosesOfStates(env, model);

  env.sim.Fault(env.serial, {{"procedure_id", 5}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { model.Reload(); }, "[quiral::vek::Model] Failed to sync robot model data from server"));
  EXPECT_EQ(model.link_names().back(), "tool");
}

TEST(ModelSimTest, ArmWithExternalAxes) {
  SimRobot env({"--initial-state", "ready", "--dof-e", "2"});
  Model model(*env.robot, {0.0, 0.0, -9.81});
  EXPECT_EQ(model.J("flange").cols(), 9);
  ExpectPosesOfStates(env, model);
}

TEST(ModelSimTest, StarfloatIsRefusedBeforeAnyRequest) {
  SimRobot env({"--initial-state", "ready"}, "Starfloat");
  const size_t before = env.OpsTotal();
  EXPECT_TRUE(Throws<std::logic_error>([&] { Model(*env.robot, {0.0, 0.0, -9.81}); },
                                       "[quiral::vek::Model] Starfloat is not supported"));
  EXPECT_EQ(env.OpsTotal(), before);
}

TEST(ModelSimTest, ControllerAnsweredQueriesAndYamlSync) {
  SimRobot env;
  Model model(*env.robot, {0.0, 0.0, -9.81});
  env.sim.Set(env.serial,
              {{"reachability", {{"reachable", true}, {"solution", {1, 2, 3, 4, 5, 6, 7}}}},
               {"manipulability", {9, 9, 0.5, 0.5, 1.0, 0.5, 0.5, 0.0}}});
  const std::array<double, 7> pose{0.4, 0.1, 0.5, 1, 0, 0, 0};
  const json sent = env.SentBy([&] {
    EXPECT_EQ(model.reachable(pose, std::vector<double>(7, 0.5), true),
              std::make_pair(true, std::vector<double>{1, 2, 3, 4, 5, 6, 7}));
  });
  EXPECT_EQ(sent["procedure_id"], 10);
  EXPECT_EQ(sent["int_args"].get<std::vector<int>>(), std::vector<int>{1});
  EXPECT_EQ(
      sent["float_args"].get<std::vector<float>>(),
      (std::vector<float>{0.4f, 0.1f, 0.5f, 1, 0, 0, 0, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f}));
  EXPECT_EQ(model.configuration_score(), std::make_pair(100.0, 0.0));

  const std::string path = ::testing::TempDir() + "model_sim_kinematics.yaml";
  std::ofstream(path) << "kinematics: {joint1: {x: 9}, joint4: {x: 9}, flange_joint: {}}\n";
  EXPECT_EQ(model.SyncKinematicsYAML(path), 3u);
  const YAML::Node done = YAML::LoadFile(path);
  std::remove(path.c_str());
  EXPECT_EQ(done["kinematics"]["joint1"]["z"].as<double>(), 0.155);
  EXPECT_EQ(done["kinematics"]["joint4"]["z"].as<double>(), 0.195);
  EXPECT_EQ(done["kinematics"]["flange_joint"]["z"].as<double>(), 0.08);
}

}  // namespace
}  // namespace quiral::vek
