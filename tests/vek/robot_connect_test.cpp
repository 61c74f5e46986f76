// Construction of a Robot against the simulated controller: the serial
// forms, the version checks, the robot's description with its stiffness
// limits, failed replies and the lite instance.
#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/vek/robot_test_util.h"

namespace quiral::vek {
namespace {

using namespace testing_util;

TEST(RobotConnectTest, ConnectsByEitherSerialFormAndDescribesTheRobot) {
  const std::string serial = UniqueSerial("Varno4");
  SimProcess sim({serial}, {"--initial-state", "ready"});
  // The underscore form with blanks in it names the same robot.
  std::string given = serial;
  given[given.find('-')] = '_';
  given.insert(3, " ");
  auto robot = MakeRobot(given);
  EXPECT_TRUE(robot->connected());
  const RobotInfo info = robot->info();
  EXPECT_EQ(info.serial_number + " " + info.model_name, serial + " Varno4");
  EXPECT_EQ(info.DoF_e + 10 * info.DoF_m + 100 * info.DoF, 770u);
  EXPECT_TRUE(
      Throws<std::logic_error>([&] { robot->Brake(true); },
                               P("Brake") + " This function is only available to medical robots"));
  // Server version, then robot information on the operations service; the
  // data-service version on the other.
  std::vector<int> ids;
  const json ops = sim.Requests(serial), data = sim.DataRequests(serial);
  for (const json& r : ops["items"]) ids.push_back(r["procedure_id"]);
  for (const json& r : data["items"]) ids.push_back(-r["request_id"].get<int>());
  EXPECT_EQ(ids, (std::vector<int>{3, 6, -1}));
}

TEST(RobotConnectTest, VersionChecksAndFailedReplies) {
  const std::string serial = UniqueSerial("Varno10");
  SimProcess sim({serial}, {"--initial-state", "ready"});
  // The checks are the same for a lite Robot, which starts faster.
  auto make = [&] { MakeRobot(serial, /*lite=*/true); };
  const std::string incompatible =
      "[quiral::vek::Robot] Version of this client is incompatible with robot [" + serial + "]";
  const struct {
    std::string server, lumo;
    bool accepted;
  } versions[] = {{"v1.9.3 ", "LUMO:v1.4", false},
                  {"v1.9.3", "A:B:v1.4", false},
                  {"v1.9.3", "anything:v1.4", true}};
  for (const auto& c : versions) {
    SCOPED_TRACE(c.server + " / " + c.lumo);
    sim.Set(serial, {{"server_version", c.server}, {"lumo_version", c.lumo}});
    if (c.accepted) {
      EXPECT_NO_THROW(make());
    } else {
      EXPECT_TRUE(Throws<std::logic_error>(make, incompatible));
    }
  }
  const struct {
    json rule;
    std::string text;
  } failures[] = {{{{"procedure_id", 3}, {"kind", "fail"}}, "Failed to sync VEK server version"},
                  {{{"service", "data"}, {"request_id", 1}, {"kind", "fail"}},
                   "Failed to sync LUMO server version"},
                  {{{"procedure_id", 6}, {"kind", "fail"}}, "Failed to obtain robot information"}};
  for (const auto& f : failures) {
    sim.Fault(serial, f.rule);
    EXPECT_TRUE(Throws<std::runtime_error>(make, "[quiral::vek::Robot] " + f.text));
  }
}

TEST(RobotConnectTest, ModelsWithExternalAxesAndWithoutLimits) {
  const std::string starfloat = UniqueSerial("Starfloat");
  const std::string ombrisk_h = UniqueSerial("OmbriskH");
  SimProcess sim({starfloat, ombrisk_h}, {"--initial-state", "ready", "--dof-e", "2"});
  auto robot = MakeRobot(starfloat);
  // Joint modes are refused on this model before anything is read or sent.
  const size_t before = RequestTotal(sim, starfloat);
  for (const Mode mode : {Mode::NRT_JOINT_POSITION, Mode::RT_JOINT_TORQUE}) {
    EXPECT_TRUE(Throws<std::invalid_argument>([&] { robot->SwitchMode(mode); },
                                              P("SwitchMode") + " Control mode [" +
                                                  kModeNames[static_cast<int>(mode)] +
                                                  "] is not yet supported on Starfloat"));
  }
  EXPECT_EQ(RequestTotal(sim, starfloat), before);
  EXPECT_NO_THROW(robot->SwitchMode(Mode::NRT_PLAN_EXECUTION));
  // Found in the table, but without limits: refused after connecting.
  EXPECT_TRUE(Throws<std::logic_error>([&] { MakeRobot(ombrisk_h); },
                                       "[quiral::vek::Robot] Unsupported robot model"));
  EXPECT_EQ(RequestTotal(sim, ombrisk_h), 2u);
}

TEST(RobotConnectTest, LiteInstance) {
  const std::string serial = UniqueSerial("Varno4M");
  SimProcess sim({serial}, {"--initial-state", "fault"});
  auto robot = MakeRobot(serial, /*lite=*/true);
  // No data streams: the status stays that of a robot booting; the
  // real-time states do arrive.
  EXPECT_EQ(robot->operational_status(), OperationalStatus::BOOTING);
  EXPECT_TRUE(WaitUntil([&] { return robot->mode() == Mode::IDLE; }, 2s));

  EXPECT_TRUE(
      Throws<std::logic_error>([&] { robot->Enable(); }, P("Enable") + " Robot is not connected"));
  // The fault cannot be seen gone without data: not a success, and no
  // waiting for what can never be seen.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(robot->ClearFault(3));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_EQ(RequestsOf(sim, serial, 2).size(), 1u);
  // Brakes are never moved without knowing that the arm stands still.
  EXPECT_TRUE(Throws<std::logic_error>([&] { robot->Brake(true); },
                                       P("Brake") + " Robot is not fully stopped"));
  EXPECT_TRUE(RequestsOf(sim, serial, 9).empty());
  EXPECT_NO_THROW(robot->RunAutoRecovery());  // needs the data stream: nothing to be done
  // The operational gate is skipped; the controller itself refuses a
  // robot that is not operational.
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { robot->SwitchMode(Mode::NRT_PLAN_EXECUTION); },
      P("SwitchMode") + " Failed to switch control mode to [NRT_PLAN_EXECUTION]"));
  EXPECT_NO_THROW(robot->SwitchMode(Mode::IDLE));
}

}  // namespace
}  // namespace quiral::vek
