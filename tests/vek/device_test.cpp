// Devices and the gripper against the simulated controller: what reaches
// the controller (type tags, values inside the limits), what the states
// report, and refusals with nothing sent.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "tests/vek/robot_test_util.h"
#include "vek/device.h"
#include "vek/gripper.h"

namespace quiral::vek {
namespace {

using namespace testing_util;

bool SimEnabled(SimRobot& env) { return env.sim.State(env.serial)["devices"][0]["enabled"]; }

const std::string kLongName(10001, 'L');
std::string D(const std::string& operation) { return "[quiral::vek::Device::" + operation + "]"; }

class DeviceTest : public RobotTest {
 protected:
  void SetUp() override {
    RobotTest::SetUp();
    json devices = json::parse(R"([{"name": "Grip", "params": {"i": 3, "d": 0.5, "s": "txt",
        "vd": [1.5, 2.5], "vs": ["a", "b"], "none": [], "refused": null}},
        {"name": "grip", "connected": false}, {"name": "Grip"}])");
    devices.push_back({{"name", kLongName}});
    env_->sim.Set(env_->serial, {{"devices", devices}});
    device_ = std::make_unique<Device>(robot());
  }
  std::unique_ptr<Device> device_;
};

TEST_F(DeviceTest, ListStatusParametersAndCommands) {
  Device& d = *device_;
  EXPECT_EQ(d.list(), (std::vector<std::string>{"Grip", "grip", "Grip", kLongName}));
  EXPECT_TRUE(d.exist("grip") && !d.exist("GRIP") && !d.exist(""));
  EXPECT_TRUE(!d.enabled("Grip") && d.connected("Grip") && !d.connected("grip"));
  const size_t since = env_->OpsTotal();
  d.Enable("Grip");
  EXPECT_TRUE(d.enabled("Grip") && SimEnabled(*env_));
  d.Disable("Grip");
  EXPECT_FALSE(SimEnabled(*env_));
  EXPECT_EQ(env_->IntArgs(41, since), (std::vector<std::vector<int>>{{1}, {0}}));
  EXPECT_EQ(env_->Requests(since, 41)[0]["long_string"], "Grip");
  // Empty and refused values are left out.
  const std::map<std::string, DeviceParamValue> typed = {
      {"d", 0.5}, {"i", 3}, {"s", "txt"}, {"vd", std::vector<double>{1.5, 2.5}},
      {"vs", std::vector<std::string>{"a", "b"}}};
  EXPECT_EQ(d.params("Grip"), typed);
  d.Enable("Grip");
  const json full = env_->SentBy([&] {
    d.Command("Grip", {{"targetWidth", 0.1}, {"on", true}, {"off", false}, {"n", -7}});
  });
  EXPECT_EQ(full["string_args"], json({"n<int>", "off<bool>", "on<bool>", "targetWidth<double>"}));
  EXPECT_EQ(full["int_args"], json({-7, 0, 1, 0}));
  EXPECT_EQ(full["float_args"], json(std::vector<float>{0, 0, 0, 0.1f}));
  const json none = env_->SentBy([&] { d.Command("Grip", {}); });
  EXPECT_EQ(none["string_args"].size() + none["int_args"].size() + none["float_args"].size(), 0u);
}

TEST_F(DeviceTest, RefusalsAndFailures) {
  Device& d = *device_;
  const auto refused = [&](const std::function<void()>& call, const std::string& text) {
    env_->Refused<std::invalid_argument>(call, text);
  };
  const std::string missing = " The specified device [nope] does not exist";
  refused([&] { d.params("nope"); }, D("params") + missing);
  refused([&] { d.Command("nope", {}); }, D("Command") + missing);
  for (const double bad : {std::nan(""), 1e39, -HUGE_VAL}) {
    refused([&] { d.Command("Grip", {{"x", bad}}); },
            D("Command") + " Value of command [x] is not a finite 32-bit float");
  }
  refused([&] { d.Command("Grip", {{std::string("a\0b", 3), 1}}); },
          D("Command") + " Input parameter [commands] contains a name with a null character");
  env_->Refused<std::length_error>(
      [&] { d.Enable(kLongName); },
      D("Enable") + " Input parameter [name] is too long to transmit (10001/10000 characters)");
  const std::string undelivered = " Failed to deliver the request";
  env_->FailsOnce(41, [&] { d.Enable("Grip"); }, D("Enable") + undelivered);
  env_->FailsOnce(45, [&] { d.enabled("Grip"); }, D("enabled") + " No reply from the robot");
  // The controller refuses a command to a disabled device.
  EXPECT_TRUE(
      Throws<std::runtime_error>([&] { d.Command("Grip", {}); }, D("Command") + undelivered));
}

const double m = Gripper::kMargin;
std::string G(const std::string& operation) { return "[quiral::vek::Gripper::" + operation + "]"; }

class GripperTest : public RobotTest {
 protected:
  void SetUp() override {
    RobotTest::SetUp();
    Ranges();
    gripper_ = std::make_unique<Gripper>(robot());
  }
  // The simulator's gripper device with some range parameters replaced.
  void Ranges(const json& replaced = json::object()) {
    json params = json::parse(R"({"maxWidth": 0.1, "minWidth": 0.0, "maxForce": 80.0,
                                  "minForce": 5.0, "maxVel": 0.2, "minVel": 0.01})");
    params.update(replaced);
    env_->sim.Set(env_->serial, {{"devices", {{{"name", "SimGripper"}, {"params", params}}}}});
  }
  std::unique_ptr<Gripper> gripper_;
};

TEST_F(GripperTest, FailedEnableLeavesItDisabled) {
  Gripper& g = *gripper_;
  Ranges({{"maxVel", 1}});  // an integer, not a range
  EXPECT_TRUE(Throws<std::runtime_error>([&] { g.Enable("SimGripper"); },
                                         G("Enable") + " Failed to parse gripper parameters"));
  EXPECT_FALSE(SimEnabled(*env_));
  EXPECT_EQ(g.params().max_width, 0.0);
  env_->Refused<std::logic_error>([&] { g.Init(); }, G("Init") + " No gripper enabled");
  Ranges();
  g.Enable("SimGripper");
  env_->Refused<std::logic_error>([&] { g.Enable("SimGripper"); },
                                  G("Enable") + " Gripper [SimGripper] is currently enabled and "
                                                "needs to be disabled before another gripper "
                                                "can be enabled");
  g.Disable();
  EXPECT_TRUE(g.params().name.empty() && !SimEnabled(*env_));
}

TEST_F(GripperTest, ValuesSentInsideTheLimits) {
  Gripper& g = *gripper_;
  g.Enable("SimGripper");
  const GripperParams p = g.params();
  const auto sends = [&](const std::function<void()>& call, const std::vector<double>& values) {
    EXPECT_EQ(env_->SentBy(call)["float_args"], json(AsFloats(values)));
  };
  sends([&] { g.Grasp(p.min_force); }, {p.min_force + m});
  sends([&] { g.Grasp(p.max_force); }, {p.max_force - m});
  // In key order: targetForce, targetVel, targetWidth.
  sends([&] { g.Move(p.min_width, p.max_vel, 10); }, {10, p.max_vel - m, p.min_width + m});
  sends([&] { g.Move(p.max_width, p.min_vel, p.max_force); },
        {p.max_force - m, p.min_vel + m, p.max_width - m});
  const auto outside = [&](const std::function<void()>& call, const std::string& operation,
                           const std::string& argument) {
    env_->Refused<std::invalid_argument>(
        call, G(operation) + " Input parameter [" + argument + "] is outside the valid range");
  };
  for (const double bad :
       {double{NAN}, std::nextafter(p.min_force, 0.0), std::nextafter(80.0, 99.0)}) {
    outside([&] { g.Grasp(bad); }, "Grasp", "force");
  }
  outside([&] { g.Move(NAN, NAN, NAN); }, "Move", "width");
  outside([&] { g.Move(0.05, NAN, 10); }, "Move", "velocity");
  outside([&] { g.Move(0.05, 0.1, NAN); }, "Move", "force_limit");
  // A range narrower than two margins: a value inside, never one below.
  g.Disable();
  Ranges({{"minForce", 10.0}, {"maxForce", 10.0001}});
  g.Enable("SimGripper");
  const float sent = env_->SentBy([&] { g.Grasp(10.0001); })["float_args"][0];
  EXPECT_TRUE(sent > 10.0f && sent < static_cast<float>(g.params().max_force)) << sent;
}

TEST_F(GripperTest, StopHoldsTheMeasuredWidth) {
  Gripper& g = *gripper_;
  env_->sim.Command("stop_states", {{"serial", env_->serial}});
  g.Enable("SimGripper");
  env_->Refused<std::logic_error>(
      [&] { g.Stop(); },
      G("Stop") + " No gripper width has been measured since the gripper was enabled");
  env_->sim.Command("start_states", {{"serial", env_->serial}});
  const GripperParams p = g.params();
  for (const auto& [measured, held] :
       std::vector<std::pair<double, double>>{{0.042, 0.042}, {0.15, p.max_width}}) {
    env_->Set({{"gripper", {{"width", measured}}}});
    const json sent = env_->SentBy([&] { g.Stop(); });
    EXPECT_EQ(sent["float_args"], json(AsFloats(std::vector<double>{p.min_vel + m, held})));
  }
}

}  // namespace
}  // namespace quiral::vek
