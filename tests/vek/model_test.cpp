// What the Model adds to the multibody layer, without a controller: the
// model built from URDF text and tool, the order of links and joints, the
// tool mount, the error texts, Reload's swap and the scores, on a link
// whose answers the test sets.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <limits>
#include <thread>

#include "tests/vek/robot_test_util.h"
#include "vek/model_impl.h"

namespace quiral::vek {
namespace {

using testing_util::Throws;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string RailArm() {
  std::ifstream file(std::string(QUIRAL_MULTIBODY_TEST_DIR) + "/rail_arm.urdf");
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Answers what the test put in; counts the calls.
struct FakeLink : ModelLink {
  std::size_t dof() const override { return joints; }
  std::optional<Tool> ActiveTool() const override { return ++calls, tool; }
  std::optional<std::string> Urdf() const override {
    if (on_urdf) on_urdf();
    return ++calls, urdf;
  }
  std::optional<std::pair<bool, std::vector<double>>> Reachability(const std::array<double, 7>&,
                                                                   const std::vector<double>&,
                                                                   bool) const override {
    return ++calls, std::nullopt;
  }
  std::optional<Manipulability> ManipulabilityFigures() const override { return ++calls, figures; }

  std::size_t joints = 5;
  std::optional<Tool> tool = Tool{"Flange", {}};
  std::optional<std::string> urdf = RailArm();
  std::optional<Manipulability> figures;
  std::function<void()> on_urdf;
  mutable int calls = 0;
};

// A tool whose TCP is turned about x and whose quaternion is not unit.
const ModelLink::Tool kGripper{"Gripper",
                               {0.7,
                                {0.01, 0.02, 0.08},
                                {0.002, 0.003, 0.004, 0.0001, 0.0002, 0.0003},
                                {0.0, 0.01, 0.1, 2 * std::cos(0.2), 2 * std::sin(0.2), 0.0, 0.0}}};

struct Built {
  explicit Built(std::optional<ModelLink::Tool> tool = kGripper) : link(new FakeLink) {
    link->tool = std::move(tool);
    impl = std::make_unique<Model::Impl>(std::unique_ptr<ModelLink>(link),
                                         Eigen::Vector3d(0.0, 0.0, -9.81));
  }
  FakeLink* link;
  std::unique_ptr<Model::Impl> impl;
};

TEST(ModelTest, LinksInTreeOrderToolLastUnderFlangeJointsMoveTheirChildLinks) {
  Built model;
  EXPECT_EQ(model.impl->link_names(),
            (std::vector<std::string>{"rail", "carriage", "lower", "upper", "flange", "sensor",
                                      "tool", "mast", "camera"}));
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [] {
        Built(ModelLink::Tool{"Flange", {}}).impl->T("tool");
      },
      "[quiral::vek::Model::T] The specified link [tool] does not exist"));
  const std::vector<double> zero(5, 0.0);
  model.impl->Update(zero, zero);
  // Robot joint i moves the child link of the i-th moving joint in body
  // order, also those after the tool ("pan").
  const struct {
    const char* child;
    Eigen::Vector3d axis;
    bool prismatic;
  } joints[] = {{"carriage", Eigen::Vector3d::UnitX(), true},
                {"lower", Eigen::Vector3d::UnitZ(), false},
                {"upper", Eigen::Vector3d::UnitY(), false},
                {"flange", Eigen::Vector3d::UnitZ(), true},
                {"camera", Eigen::Vector3d::UnitZ(), false}};
  std::vector<Eigen::Isometry3d> at_zero;
  for (const auto& joint : joints) at_zero.push_back(model.impl->T(joint.child));
  for (std::size_t i = 0; i < 5; ++i) {
    std::vector<double> q = zero;
    q[i] = 0.3;
    model.impl->Update(q, zero);
    Eigen::Isometry3d motion = Eigen::Isometry3d::Identity();
    if (joints[i].prismatic) {
      motion.translate(0.3 * joints[i].axis);
    } else {
      motion.rotate(Eigen::AngleAxisd(0.3, joints[i].axis));
    }
    EXPECT_TRUE(model.impl->T(joints[i].child).isApprox(at_zero[i] * motion, 1e-14)) << i;
  }
}

// The tool's mass, centre of mass and inertia are given in the flange
// frame: mounted at a turned TCP, the arm weighs and moves exactly as one
// whose URDF carries the same mass fixed to the flange.
TEST(ModelTest, ToolMassPropertiesStayInTheFlangeFrame) {
  Built tool;
  std::string urdf = RailArm();
  urdf.insert(urdf.rfind("</robot>"),
              R"(<link name="payload"><inertial><mass value="0.7"/><origin xyz="0.01 0.02 0.08"/>
  <inertia ixx="0.002" iyy="0.003" izz="0.004" ixy="0.0001" ixz="0.0002" iyz="0.0003"/>
  </inertial></link>
<joint name="pj" type="fixed"><parent link="flange"/><child link="payload"/></joint>
<link name="tool"/><joint name="tool_joint" type="fixed"><parent link="flange"/><child link="tool"/>
  <origin xyz="0 0.01 0.1" rpy="0.4 0 0"/></joint>)");
  Built in_urdf(ModelLink::Tool{"Flange", {}});
  in_urdf.link->urdf = urdf;
  in_urdf.impl->Reload();
  const std::vector<double> q{0.2, -0.4, 0.9, 0.05, 1.1}, qdot{0.3, 0.5, -0.7, 0.2, 0.4};
  for (Built* model : {&tool, &in_urdf}) model->impl->Update(q, qdot);
  EXPECT_TRUE(tool.impl->M().isApprox(in_urdf.impl->M(), 1e-12));
  EXPECT_TRUE(tool.impl->GravityForce().isApprox(in_urdf.impl->GravityForce(), 1e-12));
  EXPECT_TRUE(tool.impl->CoriolisForce().isApprox(in_urdf.impl->CoriolisForce(), 1e-12));
  EXPECT_TRUE(tool.impl->T("tool").isApprox(in_urdf.impl->T("tool"), 1e-14));
  EXPECT_TRUE(tool.impl->Jacobian("tool").isApprox(in_urdf.impl->Jacobian("tool"), 1e-14));
}

TEST(ModelTest, GravityTorquesLeaveTheStateBitForBit) {
  Built model;
  model.impl->Update({0.2, -0.4, 0.9, 0.05, 1.1}, {0.3, 0.5, -0.7, 0.2, 0.4});
  const Eigen::MatrixXd j = model.impl->Jacobian("camera"), dj = model.impl->JacobianDot("tool");
  const Eigen::VectorXd c = model.impl->CoriolisForce();
  const Eigen::Matrix4d t = model.impl->T("tool").matrix();
  model.impl->GravityForce();
  EXPECT_EQ(model.impl->Jacobian("camera"), j);
  EXPECT_EQ(model.impl->JacobianDot("tool"), dj);
  EXPECT_EQ(model.impl->CoriolisForce(), c);
  EXPECT_EQ(model.impl->T("tool").matrix(), t);
  model.impl->Update({0.2, -0.4, 0.9, 0.05, 1.1}, std::vector<double>(5, 0.0));
  EXPECT_EQ(model.impl->CoriolisForce(), Eigen::VectorXd::Zero(5));
}

TEST(ModelTest, ErrorTexts) {
  const std::string m = "[quiral::vek::Model] ";
  const Eigen::Vector3d g(0.0, 0.0, -9.81);
  const struct {
    std::function<void(FakeLink&)> set;
    Eigen::Vector3d gravity;
    const std::type_info& type;
    std::string text;
  } builds[] = {
      {[](FakeLink&) {},
       {0, kNaN, 0},
       typeid(std::invalid_argument),
       m + "The gravity vector holds a non-finite value"},
      {[](FakeLink& l) { l.tool.reset(); }, g, typeid(std::runtime_error),
       m + "Failed to sync tool model data from server"},
      {[](FakeLink& l) { l.urdf.reset(); }, g, typeid(std::runtime_error),
       m + "Failed to sync robot model data from server"},
      {[](FakeLink& l) { l.joints = 6; }, g, typeid(std::logic_error),
       m + "Incorrect robot degrees of freedom parsed from URDF: [5], expecting [6]"},
      {[](FakeLink& l) { l.urdf = "<robot><joint name=\"j\" type=\"planar\"/></robot>"; }, g,
       typeid(std::runtime_error),
       m + "Failed to read the URDF obtained from server: <joint [j]> has unsupported type "
           "[planar]"},
      {[](FakeLink& l) {
         l.urdf = R"(<robot name="r"><link name="a"/></robot>)";
         l.tool = kGripper;
       },
       g, typeid(std::runtime_error),
       m + "The URDF has no link [flange] to mount tool [Gripper] on"},
      {[](FakeLink& l) { (l.tool = kGripper)->params.mass = kNaN; }, g, typeid(std::runtime_error),
       m + "Invalid parameters of tool [Gripper] received from server"},
      {[](FakeLink& l) { (l.tool = kGripper)->params.tcp_location = {1, 2, 3, 0, 0, 0, 0}; }, g,
       typeid(std::runtime_error), m + "Invalid parameters of tool [Gripper] received from server"},
  };
  for (const auto& b : builds) {
    auto link = std::make_unique<FakeLink>();
    b.set(*link);
    try {
      Model::Impl impl(std::move(link), b.gravity);
      ADD_FAILURE() << "built: " << b.text;
    } catch (const std::exception& e) {
      EXPECT_EQ(typeid(e), b.type) << b.text;
      EXPECT_EQ(e.what(), b.text);
    }
  }

  Built model;
  Model::Impl& impl = *model.impl;
  const std::vector<double> five(5, 0.0), four(4, 0.0);
  const std::string u = "[quiral::vek::Model::Update] ";
  const std::pair<std::function<void()>, std::string> queries[] = {
      {[&] { impl.T("hand"); }, "[quiral::vek::Model::T] The specified link [hand] does not exist"},
      {[&] { impl.Jacobian("hand"); },
       "[quiral::vek::Model::J] The specified link [hand] does not exist"},
      {[&] { impl.JacobianDot("hand"); },
       "[quiral::vek::Model::dJ] The specified link [hand] does not exist"},
      {[&] { impl.Update(four, four); },
       u + "Size of input vector [positions] does not match robot DoF"},
      {[&] { impl.Update(five, four); },
       u + "Size of input vector [velocities] does not match robot DoF"},
      {[&] {
         impl.Update({0, 0, kNaN, 0, 0}, five);
       },
       u + "Input vector [positions] contains a non-finite value"},
      {[&] {
         impl.Update(five, {0, 0, 0, 0, -HUGE_VAL});
       },
       u + "Input vector [velocities] contains a non-finite value"},
      {[&] { impl.reachable({}, four, true); },
       "[quiral::vek::Model::reachable] Size of input vector [seed_positions] does not match robot "
       "DoF"},
  };
  impl.Update({0.1, 0.2, 0.3, 0.4, 0.5}, five);
  const Eigen::Matrix4d before = impl.T("camera").matrix();
  for (const auto& [call, text] : queries) EXPECT_TRUE(Throws<std::invalid_argument>(call, text));
  EXPECT_EQ(impl.T("camera").matrix(), before) << "a refused Update changes nothing";
  EXPECT_EQ(model.link->calls, 2) << "the seed is checked before any remote call";
  EXPECT_TRUE(
      Throws<std::runtime_error>([&] { impl.reachable({}, five, true); },
                                 "[quiral::vek::Model::reachable] No reply from the robot"));
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { impl.configuration_score(); },
      "[quiral::vek::Model::configuration_score] No reply from the robot"));
}

// A failed Reload leaves the previous model whole; a Reload does not hold
// the model while it waits for the controller.
TEST(ModelTest, ReloadSwapsOnlyAWholeModelAndQueriesDoNotWaitForIt) {
  Built model;
  model.impl->Update({0.1, 0.2, 0.3, 0.4, 0.5}, std::vector<double>(5, 0.0));
  const Eigen::MatrixXd j = model.impl->Jacobian("tool");
  for (const auto& fail : std::vector<std::function<void(FakeLink&)>>{
           [](FakeLink& l) { l.joints = 6; }, [](FakeLink& l) { l.urdf.reset(); },
           [](FakeLink& l) { l.urdf = "<robot/>"; }}) {
    FakeLink changed = *model.link;
    fail(*model.link);
    EXPECT_ANY_THROW(model.impl->Reload());
    EXPECT_EQ(model.impl->Jacobian("tool"), j);
    *model.link = changed;
  }

  std::promise<void> queried;
  std::future<void> done = queried.get_future();
  model.link->tool = ModelLink::Tool{"Flange", {}};
  model.link->on_urdf = [&] {
    EXPECT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  };
  std::thread reload([&] { model.impl->Reload(); });
  EXPECT_EQ(model.impl->link_names().size(), 9u);  // the old model, while the URDF comes
  queried.set_value();
  reload.join();
  EXPECT_EQ(model.impl->link_names().size(), 8u);  // without the tool
  EXPECT_EQ(model.impl->T("camera").matrix(), Built().impl->T("camera").matrix()) << "at zero";
}

TEST(ModelTest, ConfigurationScoreBreakpoints) {
  const struct {
    double value, first, second;
  } cases[] = {{-0.01, 0, 0},
               {kNaN, 0, 0},
               {0.0, 0, 0},
               {0.04, 10, 10},
               {0.08, 20, 20},
               {0.115, 30, 23.181818181818183},
               {0.15, 40, 26.363636363636363},
               {0.22, 100, 32.727272727272734},
               {0.3, 100, 40},
               {0.75, 100, 100},
               {2.0, 100, 100}};
  Built model;
  for (const auto& c : cases) {
    model.link->figures = {{9, 9, c.value}, {9, 9, c.value}};
    const auto [first, second] = model.impl->configuration_score();
    EXPECT_DOUBLE_EQ(first, c.first) << c.value;
    EXPECT_DOUBLE_EQ(second, c.second) << c.value;
  }
}

}  // namespace
}  // namespace quiral::vek
