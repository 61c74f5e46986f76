// What the Model adds to the multibody layer, on a link whose answers the test sets.
#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <limits>
#include <thread>

#include "tests/vek/robot_test_util.h"
#include "vek/model_impl.h"

namespace quiral::vek {
namespace {

using testing_util::Throws;
using Tool = ModelLink::Tool;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const Tool kFlange{"Flange", {}};
// At a TCP turned about x, its quaternion not of unit length.
const Tool kGripper{"Gripper",
                    {0.7,
                     {0.01, 0.02, 0.08},
                     {0.002, 0.003, 0.004, 0.0001, 0.0002, 0.0003},
                     {0.0, 0.01, 0.1, 2 * std::cos(0.2), 2 * std::sin(0.2), 0.0, 0.0}}};
const std::vector<double> kQ{0.2, -0.4, 0.9, 0.05, 1.1}, kZero(5, 0.0);

// Root not first, an external axis, a side branch after the flange; plus `extra`.
std::string RailArm(const std::string& extra = "") {
  std::stringstream urdf;
  urdf << std::ifstream(std::string(QUIRAL_MULTIBODY_TEST_DIR) + "/rail_arm.urdf").rdbuf();
  return urdf.str().insert(urdf.str().rfind("</robot>"), extra);
}

struct FakeLink : ModelLink {
  explicit FakeLink(std::optional<Tool> tool = kGripper,
                    std::optional<std::string> urdf = RailArm(), std::size_t joints = 5)
      : joints(joints), tool(std::move(tool)), urdf(std::move(urdf)) {}
  std::size_t dof() const override { return joints; }
  std::optional<Tool> ActiveTool() const override { return tool; }
  std::optional<std::string> Urdf() const override { return on_urdf(), urdf; }
  std::optional<Solution> Reachability(const std::array<double, 7>&, const std::vector<double>&,
                                       bool) const override {
    return ++reachability_calls, std::nullopt;
  }
  std::optional<Manipulability> ManipulabilityFigures() const override { return figures; }

  std::size_t joints;
  std::optional<Tool> tool;
  std::optional<std::string> urdf;
  std::optional<Manipulability> figures;
  std::function<void()> on_urdf = [] {};
  mutable int reachability_calls = 0;
};

struct Built {
  explicit Built(const FakeLink& fake = FakeLink(), Eigen::Vector3d gravity = {0.0, 0.0, -9.81})
      : link(new FakeLink(fake)),
        impl(std::make_unique<Model::Impl>(std::unique_ptr<ModelLink>(link), gravity)) {}
  FakeLink* link;
  std::unique_ptr<Model::Impl> impl;
};

TEST(ModelTest, LinksInTreeOrderToolLastUnderFlangeJointsMoveTheirChildLinks) {
  Built built, zero;
  Model::Impl& model = *built.impl;
  EXPECT_EQ(model.link_names(),
            (std::vector<std::string>{"rail", "carriage", "lower", "upper", "flange", "sensor",
                                      "tool", "mast", "camera"}));
  // Robot joint i moves the i-th moving joint's child, also after the tool.
  using Eigen::AngleAxisd, Eigen::Isometry3d, Eigen::Translation3d, Eigen::Vector3d;
  const std::tuple<std::size_t, const char*, Isometry3d> moves[] = {
      {0, "carriage", Isometry3d(Translation3d(0.3, 0.0, 0.0))},
      {2, "upper", Isometry3d(AngleAxisd(0.3, Vector3d::UnitY()))},
      {4, "camera", Isometry3d(AngleAxisd(0.3, Vector3d::UnitZ()))}};
  for (const auto& [i, link, motion] : moves) {
    std::vector<double> q = kZero;
    q[i] = 0.3;
    model.Update(q, kZero);
    EXPECT_TRUE(model.T(link).isApprox(zero.impl->T(link) * motion, 1e-14)) << link;
  }
}

// At a turned TCP, as if the URDF fixed the mass to the flange; g() changes no state.
TEST(ModelTest, ToolMassInTheFlangeFrameAndGravityTorquesLeaveTheStateBitForBit) {
  Built tool, in_urdf(FakeLink(kFlange, RailArm(R"(<link name="payload"><inertial>
    <mass value="0.7"/><origin xyz="0.01 0.02 0.08"/><inertia ixx="0.002" iyy="0.003"
    izz="0.004" ixy="0.0001" ixz="0.0002" iyz="0.0003"/></inertial></link><link name="tool"/>
    <joint name="p" type="fixed"><parent link="flange"/><child link="payload"/></joint>
    <joint name="t" type="fixed"><parent link="flange"/><child link="tool"/>
    <origin xyz="0 0.01 0.1" rpy="0.4 0 0"/></joint>)")));
  for (Built* model : {&tool, &in_urdf}) model->impl->Update(kQ, {0.3, 0.5, -0.7, 0.2, 0.4});
  Model::Impl &a = *tool.impl, &b = *in_urdf.impl;
  const Eigen::MatrixXd dj = a.JacobianDot("tool");
  EXPECT_TRUE(a.GravityForce().isApprox(b.GravityForce(), 1e-12));
  EXPECT_EQ(a.JacobianDot("tool"), dj);
  EXPECT_TRUE(a.M().isApprox(b.M(), 1e-12));
  EXPECT_TRUE(a.T("tool").isApprox(b.T("tool"), 1e-14));
}

TEST(ModelTest, ErrorTexts) {
  const std::string m = "[quiral::vek::Model] ", at = "[quiral::vek::Model::";
  EXPECT_TRUE(Throws<std::invalid_argument>([] { Built(FakeLink(), Eigen::Vector3d(0, kNaN, 0)); },
                                            m + "The gravity vector holds a non-finite value"));
  Tool nan_mass = kGripper;
  nan_mass.params.mass = kNaN;
  const std::pair<FakeLink, std::string> builds[] = {
      {FakeLink(std::nullopt), "Failed to sync tool model data from server"},
      {FakeLink(kGripper, std::nullopt), "Failed to sync robot model data from server"},
      {FakeLink(nan_mass), "Invalid parameters of tool [Gripper] received from server"}};
  for (const auto& build : builds) {
    EXPECT_TRUE(Throws<std::runtime_error>([&] { Built{build.first}; }, m + build.second));
  }
  EXPECT_TRUE(Throws<std::logic_error>(
      [] { Built{FakeLink(kGripper, RailArm(), 6)}; },
      m + "Incorrect robot degrees of freedom parsed from URDF: [5], expecting [6]"));

  Built model{FakeLink(kFlange)};
  Model::Impl& impl = *model.impl;
  const std::string missing = "] The specified link [tool] does not exist";
  EXPECT_TRUE(Throws<std::invalid_argument>([&] { impl.T("tool"); }, at + "T" + missing));
  EXPECT_TRUE(Throws<std::invalid_argument>([&] { impl.Jacobian("tool"); }, at + "J" + missing));
  EXPECT_TRUE(
      Throws<std::invalid_argument>([&] { impl.JacobianDot("tool"); }, at + "dJ" + missing));
  const std::vector<double> four(4, 0.0), nan{0, 0, kNaN, 0, 0}, inf{0, 0, 0, 0, -HUGE_VAL};
  const std::tuple<const std::vector<double>&, const std::vector<double>&, const char*> updates[] =
      {{four, four, "Size of input vector [positions] does not match robot DoF"},
       {kZero, four, "Size of input vector [velocities] does not match robot DoF"},
       {nan, kZero, "Input vector [positions] contains a non-finite value"},
       {kZero, inf, "Input vector [velocities] contains a non-finite value"}};
  for (const auto& [positions, velocities, text] : updates) {
    const std::vector<double>& q = positions;
    const std::vector<double>& qdot = velocities;
    EXPECT_TRUE(
        Throws<std::invalid_argument>([&] { impl.Update(q, qdot); }, at + "Update] " + text));
  }
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] { impl.reachable({}, four, true); },
      at + "reachable] Size of input vector [seed_positions] does not match robot DoF"));
  const std::array<double, 7> pose{0.3, 0.0, 0.5, 1.0, 0.0, 0.0, 0.0};
  std::array<double, 7> nan_pose = pose;
  nan_pose[4] = kNaN;
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] { impl.reachable(nan_pose, kZero, false); },
      at + "reachable] Input parameter [pose] contains a non-finite value"));
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] { impl.reachable(pose, inf, false); },
      at + "reachable] Input vector [seed_positions] contains a non-finite value"));
  // Finite, but an infinity once narrowed to the wire's 32-bit float.
  std::array<double, 7> far_pose = pose;
  far_pose[0] = 1e39;
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] { impl.reachable(far_pose, kZero, false); },
      at + "reachable] Input parameter [pose] contains a value outside the 32-bit float range"));
  std::vector<double> far_seed = kZero;
  far_seed.back() = -1e39;
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] { impl.reachable(pose, far_seed, false); },
      at + "reachable] Input vector [seed_positions] contains a value outside the 32-bit float "
           "range"));
  EXPECT_EQ(model.link->reachability_calls, 0);
}

// A TCP quaternion of all zeros means no rotation: the tool frame is the
// flange's, moved by the TCP offset.
TEST(ModelTest, ToolWithAnAllZeroQuaternionSitsAtTheOffsetWithTheFlangesAxes) {
  Tool unturned = kGripper;
  unturned.params.tcp_location = {0.0, 0.01, 0.1, 0.0, 0.0, 0.0, 0.0};
  Built built{FakeLink(unturned)};
  Model::Impl& model = *built.impl;
  model.Update(kQ, kZero);
  const Eigen::Isometry3d flange = model.T("flange"), tool = model.T("tool");
  EXPECT_TRUE(tool.linear().isApprox(flange.linear(), 1e-14));
  EXPECT_TRUE(tool.translation().isApprox(flange * Eigen::Vector3d(0.0, 0.01, 0.1), 1e-14));
}

// A failed Reload keeps the previous model; no lock is held for the controller.
TEST(ModelTest, ReloadSwapsOnlyAWholeModelAndQueriesDoNotWaitForIt) {
  Built model;
  model.impl->Update(kQ, kZero);
  const Eigen::MatrixXd j = model.impl->Jacobian("tool");
  model.link->joints = 6;
  EXPECT_ANY_THROW(model.impl->Reload());
  EXPECT_EQ(model.impl->Jacobian("tool"), j);
  std::promise<void> fetching, queried;
  *model.link = FakeLink(kFlange);
  model.link->on_urdf = [&fetching, done = queried.get_future().share()] {
    fetching.set_value();
    EXPECT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  };
  std::thread reload([&] { model.impl->Reload(); });
  EXPECT_EQ(fetching.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(model.impl->link_names().size(), 9u);  // the old model while the URDF comes
  queried.set_value();
  reload.join();
  EXPECT_EQ(model.impl->link_names().size(), 8u);  // the new one, without the tool
}

TEST(ModelTest, ConfigurationScoreBreakpoints) {
  // clang-format off
  const double cases[][3] = {{-0.01, 0, 0}, {kNaN, 0, 0}, {0.04, 10, 10}, {0.08, 20, 20},
      {0.15, 40, 26.363636363636363}, {0.22, 100, 32.727272727272734}, {0.3, 100, 40},
      {0.75, 100, 100}};
  // clang-format on
  Built model;
  for (const auto& [value, first, second] : cases) {
    model.link->figures = {{9, 9, value}, {9, 9, value}};
    EXPECT_EQ(model.impl->configuration_score(), std::pair(first, second)) << value;
  }
}

}  // namespace
}  // namespace quiral::vek
