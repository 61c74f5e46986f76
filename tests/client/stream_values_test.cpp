// Values of the services before any sample has arrived, the world-frame
// wrench, and the services' behaviour before they are started. No DDS
// traffic is involved.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include "client/lumo_data_rpc.h"
#include "client/lumo_data_stream.h"
#include "client/lumo_log_event.h"
#include "client/motion_commands_pub.h"
#include "client/operations_rpc.h"
#include "client/realtime_states_sub.h"
#include "tests/client/client_test_util.h"

namespace {

using quiral::vek::RobotStates;
using quiral::vek_impl::LUMODataRpc;
using quiral::vek_impl::LUMODataStream;
using quiral::vek_impl::LUMOLogEvent;
using quiral::vek_impl::MotionCommandsPub;
using quiral::vek_impl::OperationsRPC;
using quiral::vek_impl::RealtimeStatesSub;
using quiral_client_test::LogCapture;

void ExpectNear(const std::array<double, 6>& actual, const std::array<double, 6>& expected) {
  for (size_t i = 0; i < 6; ++i) EXPECT_NEAR(actual[i], expected[i], 1e-12) << "element " << i;
}

TEST(StreamValues, EverythingIsZeroBeforeTheFirstSample) {
  LUMODataStream stream;
  EXPECT_EQ(stream.GetSystemState(), qor::SystemState::UNKNOWN);
  EXPECT_EQ(stream.SafetyBoardState(), qor::SafetyBoardState::STARTUP);
  for (bool b : stream.SafetyInputs()) EXPECT_FALSE(b);
  for (bool b : stream.GetDigitalInput()) EXPECT_FALSE(b);
  const RobotStates states = stream.GetRobotStates();
  EXPECT_EQ(states.timestamp[0], 0);
  EXPECT_EQ(states.timestamp[1], 0);
  EXPECT_TRUE(states.link_position.empty());
  EXPECT_TRUE(states.motor_velocity.empty());
  EXPECT_TRUE(states.temperature.empty());
  for (double v : states.tcp_pose) EXPECT_EQ(v, 0.0);
  EXPECT_EQ(states.ext_wrench_in_world, states.ext_wrench_in_tcp);
  const auto actions = stream.GetRobotActions();
  EXPECT_TRUE(actions.position_des.empty());
  EXPECT_TRUE(actions.torque_des.empty());
  for (double v : actions.tcp_pose_des) EXPECT_EQ(v, 0.0);
  EXPECT_TRUE(stream.GetMultiContactForces().empty());
  EXPECT_TRUE(stream.GetMultiContactPos().empty());

  RealtimeStatesSub rt;
  EXPECT_EQ(rt.SampleCount(), 0u);
  EXPECT_EQ(rt.TimelinessFailures(), 0u);
  EXPECT_EQ(rt.CurrExtCtrlMode(), 0);
  EXPECT_FALSE(rt.ProgramRunning());
  const auto gripper = rt.GripperStates();
  EXPECT_EQ(gripper.width, 0.0);
  EXPECT_EQ(gripper.force, 0.0);
  EXPECT_FALSE(gripper.is_moving);

  LUMOLogEvent log_event;
  EXPECT_TRUE(log_event.event_list.empty());
}

TEST(StreamValues, WrenchInWorldRotatesForceAndMomentByTheTcpOrientation) {
  LUMODataStream stream;
  RobotStates states;
  // 90 degrees about z.
  const double h = std::sqrt(0.5);
  states.tcp_pose = {0.3, 0.2, 0.1, h, 0, 0, h};
  states.ext_wrench_in_tcp = {1, 0, 0, 0, 2, 0};
  states.ext_wrench_in_tcp_raw = {0, 1, 5, 3, 0, 0};
  stream.SetExtWrenchInWorld(states);
  ExpectNear(states.ext_wrench_in_world, {0, 1, 0, -2, 0, 0});
  ExpectNear(states.ext_wrench_in_world_raw, {-1, 0, 5, 0, 3, 0});
  // Only the two world wrenches change.
  EXPECT_EQ(states.ext_wrench_in_tcp, (std::array<double, 6>{1, 0, 0, 0, 2, 0}));
  EXPECT_EQ(states.tcp_pose[0], 0.3);

  // A quaternion that is not of unit length is normalised first.
  states.tcp_pose = {0, 0, 0, 2 * h, 0, 0, 2 * h};
  stream.SetExtWrenchInWorld(states);
  ExpectNear(states.ext_wrench_in_world, {0, 1, 0, -2, 0, 0});

  // 180 degrees about x.
  states.tcp_pose = {0, 0, 0, 0, 3, 0, 0};
  states.ext_wrench_in_tcp = {1, 2, 3, 4, 5, 6};
  stream.SetExtWrenchInWorld(states);
  ExpectNear(states.ext_wrench_in_world, {1, -2, -3, 4, -5, -6});

  // The all-zero quaternion leaves the wrench as it is.
  states.tcp_pose = {};
  stream.SetExtWrenchInWorld(states);
  ExpectNear(states.ext_wrench_in_world, {1, 2, 3, 4, 5, 6});
}

TEST(StreamValues, ServicesThatWereNeverStartedFailWithoutHanging) {
  LogCapture log;
  MotionCommandsPub motion;
  EXPECT_EQ(motion.Publish().code, 300000);
  EXPECT_EQ(log.Count("[quiral::vek::Robot] Failed to publish motion commands message",
                      spdlog::level::err), 1u);

  OperationsRPC ops;
  std::vector<std::string> list{"kept"};
  EXPECT_EQ(ops.RequestStringList(23, list).code, 300000);
  EXPECT_EQ(list, std::vector<std::string>{"kept"});
  EXPECT_EQ(log.Count("Failed to send remote call or server reply timeout"), 1u);

  LUMODataRpc data;
  std::string version = "kept";
  EXPECT_EQ(data.RequestLUMOVersion(version).code, 300000);
  EXPECT_EQ(version, "kept");
  EXPECT_EQ(log.Count("Failed to send remote call or server reply timeout"), 2u);
}

}  // namespace
