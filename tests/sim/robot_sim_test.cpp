// The simulated robot without DDS: the enabling and mode rules, refused
// requests, the fault rules, and the helpers under file transfer and
// Cartesian motion. What the robot answers to each procedure, and how it
// moves, is covered end to end by the client's and the API's tests.
#include <gtest/gtest.h>

#include <string>

#include "msgs/quiral_lumo_msgs/all_basic_stream_data.h"
#include "msgs/quiral_lumo_msgs/all_extra_stream_data.h"
#include "msgs/quiral_lumo_msgs/rpc_reply.h"
#include "msgs/quiral_lumo_msgs/rpc_request.h"
#include "msgs/vek_msgs/realtime_states.h"
#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"
#include "sim/base64.h"
#include "sim/faults.h"
#include "sim/kinematics.h"
#include "sim/robot_sim.h"

namespace quiral::sim {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

TEST(SimHelpersTest, Base64AndInverseKinematics) {
  const std::vector<uint8_t> bytes{0, 1, 2, 250, 255, 10};
  for (size_t n = 0; n <= bytes.size(); ++n) {
    EXPECT_EQ(Base64Decode(Base64Encode(bytes.data(), n)),
              std::vector<uint8_t>(bytes.begin(), bytes.begin() + n));
  }
  EXPECT_EQ(Base64Encode(reinterpret_cast<const uint8_t*>("Man"), 3), "TWFu");
  EXPECT_THROW(Base64Decode("TWF"), std::invalid_argument);
  EXPECT_THROW(Base64Decode("T!Fu"), std::invalid_argument);

  ArmKinematics kin(0, 7);
  const Eigen::Isometry3d up = kin.Flange(std::vector<double>(7, 0.0));
  EXPECT_NEAR(up.translation().head<2>().norm(), 0.0, 1e-12) << "all zero: straight up";
  const std::vector<double> goal{0.3, -0.5, 0.2, 1.2, -0.1, 0.6, 0.2};
  std::vector<double> solved{0.1, -0.6, 0.1, 1.4, 0.1, 0.8, 0.1};
  const std::vector<double> lo(7, -3.0), hi(7, 3.0);
  ASSERT_TRUE(
      kin.SolveIk(kin.Flange(goal), Eigen::Isometry3d::Identity(), lo, hi, false, 300, solved));
  EXPECT_TRUE(kin.Flange(solved).isApprox(kin.Flange(goal), 1e-3));
}

class RobotSimTest : public ::testing::Test {
 protected:
  // Disabled, enabling and fault clearing without delay.
  RobotSimTest() : robot_(RobotConfig{"Varno4-SIM001", 7, 0, "disabled", 0, 0}) {
    robot_.Step(now_, rt_, basic_, extra_);
  }

  vek_msgs::msg::RPCReply Call(uint16_t id, std::vector<int32_t> ints = {},
                               const std::string& text = "", std::vector<uint8_t> bytes = {}) {
    vek_msgs::msg::RPCRequest r;
    r.procedure_id(id);
    r.int_args(ints);
    r.long_string_arg(text);
    r.raw_bytes_arg(bytes);
    vek_msgs::msg::RPCReply reply;
    robot_.HandleOps(r, reply);
    EXPECT_EQ(reply.procedure_id(), id);
    return reply;
  }
  bool Ops(uint16_t id, std::vector<int32_t> ints = {}) { return Call(id, ints).success(); }

  // Advances the simulation by `total` in steps of 4 ms.
  void Run(std::chrono::milliseconds total) {
    for (int64_t i = 0; i <= total / 4ms; ++i) {
      now_ += 4ms;
      robot_.Step(now_, rt_, basic_, extra_);
    }
  }

  Clock::time_point now_ = Clock::now();
  RobotSim robot_;
  vek_msgs::msg::RealtimeStates rt_;
  quiral_lumo_msgs::msg::AllBasicStreamData basic_;
  quiral_lumo_msgs::msg::AllExtraStreamData extra_;
};

TEST_F(RobotSimTest, EnableReleasesTheBrakesThenBecomesReady) {
  EXPECT_FALSE(Ops(7, {5})) << "not operational yet";
  robot_.Set({{"estop", true}});
  EXPECT_FALSE(Ops(1)) << "e-stop engaged";
  robot_.Set({{"estop", false}});
  EXPECT_EQ(robot_.StateJson()["safety_board_state"], 72);

  ASSERT_TRUE(Ops(1));
  EXPECT_EQ(robot_.StateJson()["safety_board_state"], 24);
  Run(8ms);
  const json s = robot_.StateJson();
  EXPECT_EQ(s["safety_board_state"], 12);
  EXPECT_EQ(s["system_state"], 4);
  EXPECT_TRUE(s["operational"]);
  EXPECT_EQ(basic_.system_status().safety_state(), 12);

  ASSERT_TRUE(Ops(7, {5}));
  Run(4ms);
  EXPECT_EQ(rt_.system_status().ctrl_mode(), 5);
  EXPECT_FALSE(Ops(7, {12})) << "automatic recovery only in the recovery state";
  EXPECT_FALSE(Ops(7, {13}));
  EXPECT_FALSE(Ops(7, {}));

  EXPECT_THROW(robot_.Set({{"nonsense", 1}}), std::invalid_argument);
  EXPECT_THROW(robot_.Set({{"fault", "bad"}}), std::invalid_argument);
  EXPECT_ANY_THROW(robot_.Set({{"mode", "five"}}));
}

TEST_F(RobotSimTest, ARefusedRequestCarriesOnlyItsIdAndChangesNothing) {
  // A project upload outside IDLE: the checksum is right, the mode is not.
  const std::vector<uint8_t> digits{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  robot_.Set({{"mode", 5}});
  for (const auto& reply : {Call(4), Call(99), Call(10, {1, 2}),
                            Call(64, {static_cast<int32_t>(0xCBF43926u)}, "P.proj", digits)}) {
    SCOPED_TRACE(reply.procedure_id());
    EXPECT_FALSE(reply.success());
    EXPECT_TRUE(reply.int_container().empty() && reply.float_container().empty() &&
                reply.string_container().empty() && reply.raw_bytes_container().empty());
  }
  EXPECT_EQ(robot_.FilesJson("project", false).size(), 2u) << "the refused project is not stored";
  robot_.Set({{"mode", 1}});
  EXPECT_TRUE(Call(64, {static_cast<int32_t>(0xCBF43926u)}, "P.proj", digits).success());
  EXPECT_EQ(robot_.FilesJson("project", false)[0]["name"], "P.proj");

  quiral_lumo_msgs::msg::RPCRequest data;
  data.request_id(4);
  quiral_lumo_msgs::msg::RPCReply data_reply;
  robot_.HandleData(data, data_reply);
  EXPECT_EQ(data_reply.request_id(), 4);
  EXPECT_FALSE(data_reply.success());
}

// How rules are chosen; what each kind does to a reply is seen on the wire
// (sim_dds_test) and by the client's decoders.
TEST(FaultTableTest, RulesMatchByServiceAndIdAndAreUsedUp) {
  FaultTable table;
  table.Add({{"service", "ops"}, {"procedure_id", 6}, {"kind", "short_lists"}, {"count", 2}});
  table.Add({{"service", "data"}, {"kind", "fail"}, {"count", -1}});
  EXPECT_FALSE(table.Take(Service::kOps, 7));
  EXPECT_TRUE(table.Take(Service::kOps, 6));
  EXPECT_TRUE(table.Take(Service::kOps, 6));
  EXPECT_FALSE(table.Take(Service::kOps, 6));
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(table.Take(Service::kData, 1));
  table.Clear(Service::kData);
  EXPECT_FALSE(table.Take(Service::kData, 1));
  EXPECT_THROW(table.Add({{"kind", "nope"}}), std::invalid_argument);
  EXPECT_THROW(table.Add({{"kind", "fail"}, {"service", "x"}}), std::invalid_argument);
}

}  // namespace
}  // namespace quiral::sim
