// Devices against the simulated controller: what reaches the controller
// (type tags), what it reports, and refusals with nothing sent.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "tests/vek/robot_test_util.h"
#include "vek/device.h"

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
  refused([&] { d.enabled("nope"); }, D("enabled") + missing);
  refused([&] { d.params("nope"); }, D("params") + missing);
  refused([&] { d.Enable("nope"); }, D("Enable") + missing);
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

}  // namespace
}  // namespace quiral::vek
