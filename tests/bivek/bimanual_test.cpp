// GripperPair, and MoveTensioned with a spring held between the TCPs, on two simulated arms.

#include <gtest/gtest.h>

#include <Eigen/Geometry>
#include <cmath>

#include "bivek/bimanual_primitives.h"
#include "bivek/gripper_pair.h"
#include "tests/vek/robot_test_util.h"

namespace quiral::bivek {
namespace {

using namespace std::chrono_literals;
using Call = std::function<void()>;
using Limits = std::array<float, 4>;
using Pose = std::array<double, 7>;
using nlohmann::json;
using vek::testing_util::RequestTotal;

const std::array<double, 3> kBases[2] = {{0.1, 0.45, 0.2}, {-0.1, -0.35, 0.0}};
constexpr int kEnable = 41, kCommand = 42;
const std::string kTag = "[quiral::bivek::GripperPair::";
// The reference arm's limits, apart from those of every other command.
const Limits kReference = {0.3f, 0.8f, 1.5f, 4}, kFollower = {0.3f, 0.8f, 2, 5},
             kTension = {0.5, 1, 2, 5};
constexpr double kStep = 3e-5;

template <class E>
void Fails(const std::string& text, const Call& call) {
  EXPECT_TRUE(vek::testing_util::Throws<E>(call, text));
}
template <class V>
Eigen::Vector3d At(const V& v) { return Eigen::Vector3d(double(v[0]), double(v[1]), double(v[2])); }
Eigen::Quaterniond Turn(const Pose& p) { return {p[3], p[4], p[5], p[6]}; }

// Two ready controllers in one simulator and a pair connected to them.
class TwoArms : public ::testing::Test {
 protected:
  const std::string sn_[2] = {test::UniqueSerial("Varno4"), test::UniqueSerial("Varno10")};
  test::SimProcess sim_{{sn_[0], sn_[1]}, {"--initial-state", "ready"}};
  RobotPair pair_{{sn_[0], sn_[1]}, {kBases[0], kBases[1]}, {"127.0.0.1"}};
};

class GripperPairTest : public TwoArms {
 protected:
  // Each arm's requests of `procedure` that `call` sent.
  std::array<std::vector<json>, 2> Sent(int procedure, const Call& call) {
    const size_t since[2] = {RequestTotal(sim_, sn_[0]), RequestTotal(sim_, sn_[1])};
    call();
    return {vek::testing_util::RequestsOf(sim_, sn_[0], procedure, since[0]),
            vek::testing_util::RequestsOf(sim_, sn_[1], procedure, since[1])};
  }
  // The first value of each of an arm's device commands.
  static std::vector<double> FirstValues(const std::vector<json>& commands) {
    std::vector<double> values;
    for (const json& command : commands) values.push_back(command["float_args"][0]);
    return values;
  }
  // Whether the second arm's request came before the first arm's reply, sent 0.5 s late.
  bool AtOnce(int procedure, const Call& call) {
    sim_.Fault(sn_[0], {{"procedure_id", procedure}, {"kind", "late_reply"}, {"delay_ms", 500}});
    const auto sent = Sent(procedure, call);
    return sent[1].at(0)["t_ns"] < sent[0].at(0)["t_ns"].get<int64_t>() + 500000000;
  }
  GripperPair grippers_{pair_};
};

TEST_F(GripperPairTest, EnableAndDisableOneArmAfterTheOtherTheCommandsAtOnce) {
  EXPECT_FALSE(AtOnce(kEnable, [&] { grippers_.Enable({"SimGripper", "SimGripper"}); }));
  for (const Call& command : {Call([&] { grippers_.Init(); }), Call([&] { grippers_.Stop(); }),
                              Call([&] { grippers_.Grasp({20, 30}); }),
                              Call([&] { grippers_.Move({0.05, 0.06}, {0.1, 0.1}, {40, 50}); })}) {
    EXPECT_TRUE(AtOnce(kCommand, command));
  }
  EXPECT_FALSE(AtOnce(kEnable, [&] { grippers_.Disable({true, true}); }));
  EXPECT_EQ(grippers_.params().first.name, "");
}

TEST_F(GripperPairTest, CommandsReachOnlyEnabledArmsErrorsTaggedWithTheArm) {
  Fails<std::logic_error>(kTag + "Disable](first) No gripper enabled",
                          [&] { grippers_.Disable({true, true}); });
  Fails<std::invalid_argument>(kTag + "Enable](second) The specified gripper [X] does not exist",
                               [&] { grippers_.Enable({"", "X"}); });
  grippers_.Enable({"", "SimGripper"});
  // The first arm's force is not looked at: NaN would be refused.
  const auto sent = Sent(kCommand, [&] { grippers_.Grasp({NAN, 30}); });
  EXPECT_TRUE(sent[0].empty() && sent[1].at(0)["float_args"][0] == 30.0);
  EXPECT_TRUE(Sent(kCommand, [&] { grippers_.Stop({true, false}); })[1].empty());
  grippers_.Enable({"SimGripper", ""});
  Fails<std::invalid_argument>(kTag + "Grasp](first) Input parameter [force] is outside the valid "
                                      "range",
                               [&] { grippers_.Grasp({1000, 20}); });
  for (const auto& sn : sn_) sim_.Fault(sn, {{"procedure_id", kCommand}, {"kind", "fail"}});
  Fails<std::runtime_error>(kTag + "Init](first) Failed to deliver the request",
                            [&] { grippers_.Init(); });
  sim_.Fault(sn_[1], {{"procedure_id", 40}, {"kind", "fail"}});
  Fails<std::runtime_error>("[quiral::bivek::GripperPair](second) Failed to initialize device list",
                            [&] { GripperPair{pair_}; });
}

// Every enabled arm's values are checked before either gripper is commanded.
TEST_F(GripperPairTest, AValueOneArmRefusesCommandsNeitherGripper) {
  grippers_.Enable({"SimGripper", "SimGripper"});
  const std::string range = "] is outside the valid range";
  const std::pair<Call, std::string> refused[] = {
      {[&] { grippers_.Grasp({20, NAN}); }, "Grasp](second) Input parameter [force" + range},
      {[&] { grippers_.Move({0.05, 0.06}, {0.1, 0.1}, {40, 1000}); },
       "Move](second) Input parameter [force_limit" + range},
      {[&] { grippers_.Move({0.05, 0.06}, {0.1, 0.5}, {40, 50}); },
       "Move](second) Input parameter [velocity" + range},
      {[&] { grippers_.Move({-1, 0.06}, {0.1, 0.1}, {40, 50}); },
       "Move](first) Input parameter [width" + range},
      {[&] { grippers_.Grasp({1000, NAN}); }, "Grasp](first) Input parameter [force" + range}};
  for (const auto& row : refused) {
    // The grasp that follows is the only command either controller records.
    const auto sent = Sent(kCommand, [&] {
      Fails<std::invalid_argument>(kTag + row.second, row.first);
      grippers_.Grasp({20, 30});
    });
    EXPECT_EQ(FirstValues(sent[0]), std::vector<double>{20}) << row.second;
    EXPECT_EQ(FirstValues(sent[1]), std::vector<double>{30}) << row.second;
  }
  // An arm left out is not checked: its values would be refused.
  grippers_.Disable({true, false});
  const auto sent = Sent(kCommand, [&] { grippers_.Move({NAN, 0.06}, {0.1, 0.1}, {-1, 50}); });
  EXPECT_TRUE(sent[0].empty());
  EXPECT_EQ(sent[1].size(), 1u);
}

class MoveTensionedTest : public TwoArms {
 protected:
  void Move(ReferenceArm ref, const Pose& target, double tension, const Limits& l = kReference) {
    primitives_.MoveTensioned(ref, target, tension, l[0], l[1], l[2], l[3]);
  }
  Pose Tcp(int arm) { return arm ? pair_.states().second.tcp_pose : pair_.states().first.tcp_pose; }
  double Pull(Eigen::Vector3d u) { return At(pair_.states().first.ext_wrench_in_world).dot(u); }
  uint64_t Counter(int arm) {  // motion commands sent since the arm's last mode switch
    const auto arms = pair_.instances();
    return vek::detail::RobotAccess::impl(arm ? *arms.second : *arms.first)->MotionCommandCounter();
  }
  // The world-frame poses an arm was sent with `limits`, once all have come.
  std::vector<Pose> Sent(int arm, const Limits& limits) {
    json items;
    const auto all = [&] { return (items = sim_.MotionCommands(sn_[arm])["items"]).size(); };
    EXPECT_TRUE(test::WaitUntil([&] { return all() == Counter(arm); }, 3s));
    std::vector<Pose> poses;
    for (const json& c : items) {
      const json& m = c["cartesian"];
      if (Limits{m["max_linear_vel"], m["max_angular_vel"], m["max_linear_acc"],
                 m["max_angular_acc"]} == limits) {
        poses.push_back(m["pose"]);
        for (int i = 0; i < 3; ++i) poses.back()[i] += kBases[arm][i];
      }
    }
    return poses;
  }
  // A spring pulling the first TCP towards the second with `force`; the line between them.
  Eigen::Vector3d Hold(double stiffness, double force) {
    const Eigen::Vector3d d = At(Tcp(1)) - At(Tcp(0)), partner = At(kBases[1]) - At(kBases[0]);
    sim_.Set(sn_[0], {{"held_object",
                       {{"partner", sn_[1]}, {"stiffness", stiffness},
                        {"partner_base", {partner.x(), partner.y(), partner.z()}},
                        {"rest_length", d.norm() - force / stiffness}}}});
    EXPECT_TRUE(test::WaitUntil([&] { return std::abs(Pull(d.normalized()) - force) < 1e-3; }, 3s));
    return d.normalized();
  }
  BimanualPrimitives primitives_{pair_};
};

struct Case {
  const char* name;
  ReferenceArm ref;
  double stiffness, start;  // the spring, and its force before the motion
};
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }
class Converges : public MoveTensionedTest, public ::testing::WithParamInterface<Case> {};

TEST_P(Converges, ToTheTensionThenCarriesTheObjectToTheTarget) {
  const double tension = 10, k = GetParam().stiffness, apart = tension > GetParam().start ? 1 : -1;
  const int r = GetParam().ref == ReferenceArm::LEFT ? 0 : 1;
  const Eigen::Vector3d u = Hold(k, GetParam().start), a0 = At(Tcp(0)), b0 = At(Tcp(1));
  // 3 cm across the line between the TCPs, 5 degrees about it.
  const Eigen::Vector3d to = At(Tcp(r)) + 0.03 * u.unitOrthogonal();
  const Eigen::Quaterniond turn = Eigen::AngleAxisd(5 * M_PI / 180, u) * Turn(Tcp(r));
  const Pose target = {to.x(), to.y(), to.z(), turn.w(), turn.x(), turn.y(), turn.z()};
  Move(GetParam().ref, target, tension);
  EXPECT_LT((At(Tcp(r)) - to).norm(), 0.005);
  EXPECT_LT(Turn(Tcp(r)).angularDistance(turn), M_PI / 180);

  // Tension: both TCPs stepped along the line until the spring measured it.
  const std::vector<Pose> a = Sent(0, kTension), b = Sent(1, kTension);
  ASSERT_TRUE(!a.empty() && a.size() == b.size());
  EXPECT_NEAR(GetParam().start + apart * k * 2 * kStep * a.size(), tension, 0.5 + k * 4 * kStep);
  const Eigen::Vector3d moved = apart * kStep * a.size() * u;
  EXPECT_LT((At(a.back()) - a0 + moved).norm() + (At(b.back()) - b0 - moved).norm(), 2e-6);
  // Follow: the reference arm to the target, the follower kept at its offset.
  const std::vector<Pose> reference = Sent(r, kReference), follower = Sent(1 - r, kFollower);
  ASSERT_TRUE(!reference.empty() && !follower.empty());
  for (const Pose& sent : reference) {
    for (size_t i = 0; i < 7; ++i) EXPECT_NEAR(sent[i], target[i], 1e-6);
  }
  const Eigen::Vector3d offset = (At(b.back()) - At(a.back())) * (r == 0 ? 1 : -1);
  // The reference arm stops within 5 mm and one degree of its target; the
  // degree turns the offset as well.
  EXPECT_LT((At(follower.back()) - to - offset).norm(), 0.0051 + offset.norm() * M_PI / 180);
}

INSTANTIATE_TEST_SUITE_P(Springs, Converges,
                         ::testing::Values(Case{"StiffLeftPulls", ReferenceArm::LEFT, 5000, 7},
                                           Case{"SoftRightPushes", ReferenceArm::RIGHT, 1000, 13}));

// The tension already holds, so the reference arm's first command is its
// target: that one is lost, and the target is sent again.
TEST_F(MoveTensionedTest, ALostTargetIsSentAgain) {
  Hold(5000, 10);
  sim_.Set(sn_[0], {{"lose_motion_commands", 1}});
  Pose target = Tcp(0);
  target[2] += 0.01;
  Move(ReferenceArm::LEFT, target, 10);
  EXPECT_LT((At(Tcp(0)) - At(target)).norm(), 0.005);
  const json items = sim_.MotionCommands(sn_[0])["items"];
  ASSERT_GE(items.size(), 2u);
  EXPECT_FALSE(items[0]["applied"].get<bool>());
  EXPECT_TRUE(items[1]["applied"].get<bool>());
}

TEST_F(MoveTensionedTest, EveryInputIsCheckedBeforeAnythingIsSent) {
  const std::string mine = "[quiral::bivek::MoveTensioned] Input parameter ",
                    arms = "[quiral::vek::Robot::SendCartesianMotionForce] Input parameter";
  const auto L = ReferenceArm::LEFT;
  const Pose at = Tcp(0), zero = {at[0], at[1], at[2]};
  const std::pair<Call, std::string> refused[] = {
      {[&] { Move(ReferenceArm::UNKOWN, at, 1); }, mine + "[ref_arm] is not set"},
      {[&] { Move(L, at, NAN); }, mine + "[tension_force] is not a finite number"},
      {[&] { Move(L, zero, 1); }, arms + " [pose] contains an invalid quaternion"},
      {[&] { Move(L, at, 1, {1, 1, 1, NAN}); },
       arms + "s [max_linear_vel, max_angular_vel, max_linear_acc, max_angular_acc] must be "
              "greater than 0"}};
  // Refused before any request, so before any motion (the arms are in IDLE).
  for (const auto& [call, text] : refused) {
    const size_t requests = RequestTotal(sim_, sn_[0]) + RequestTotal(sim_, sn_[1]);
    Fails<std::invalid_argument>(text, call);
    EXPECT_EQ(RequestTotal(sim_, sn_[0]) + RequestTotal(sim_, sn_[1]), requests) << text;
  }
  // Stepping on a force that is not finite would never end.
  sim_.Set(sn_[0], {{"ext_wrench", {1e39, 0, 0, 0, 0, 0}}});  // infinite as a float
  ASSERT_TRUE(test::WaitUntil([&] { return !std::isfinite(Pull({1, 0, 0})); }, 3s));
  Fails<std::runtime_error>("[quiral::bivek::MoveTensioned] Measured external force is not a "
                            "finite number", [&] { Move(L, at, 1); });
  EXPECT_EQ(Counter(0) + Counter(1), 0u);
}

}  // namespace
}  // namespace quiral::bivek
