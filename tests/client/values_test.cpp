// Parts of the client that need no controller: the world-frame wrench, and
// services that were never started.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "client/lumo_data_rpc.h"
#include "client/lumo_data_stream.h"
#include "client/motion_commands_pub.h"
#include "client/operations_rpc.h"
#include "tests/client/client_test_util.h"

namespace quiral_client_test {
namespace {

void ExpectNear(const std::array<double, 6>& actual, const std::array<double, 6>& expected) {
  for (size_t i = 0; i < 6; ++i) EXPECT_NEAR(actual[i], expected[i], 1e-12) << "element " << i;
}

TEST(StreamValues, WrenchInWorldRotatesForceAndMomentByTheTcpOrientation) {
  quiral::vek_impl::LUMODataStream stream;
  quiral::vek::RobotStates states;
  // 90 degrees about z (w, x, y, z).
  const double h = std::sqrt(0.5);
  states.tcp_pose = {0.3, 0.2, 0.1, h, 0, 0, h};
  states.ext_wrench_in_tcp = {1, 0, 0, 0, 2, 0};
  states.ext_wrench_in_tcp_raw = {0, 1, 5, 3, 0, 0};
  stream.SetExtWrenchInWorld(states);
  ExpectNear(states.ext_wrench_in_world, {0, 1, 0, -2, 0, 0});
  ExpectNear(states.ext_wrench_in_world_raw, {-1, 0, 5, 0, 3, 0});
  EXPECT_EQ(states.ext_wrench_in_tcp, (std::array<double, 6>{1, 0, 0, 0, 2, 0}));
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
  quiral::vek_impl::MotionCommandsPub motion;
  EXPECT_EQ(motion.Publish().code, 300000);
  EXPECT_EQ(log.Count(spdlog::level::err,
                      "[quiral::vek::Robot] Failed to publish motion commands message"),
            1);
  quiral::vek_impl::OperationsRPC ops;
  std::vector<std::string> list{"kept"};
  EXPECT_EQ(ops.RequestStringList(Proc(23), list).code, 300000);
  EXPECT_EQ(list, std::vector<std::string>{"kept"});
  quiral::vek_impl::LUMODataRpc data;
  std::string version = "kept";
  EXPECT_EQ(data.RequestLUMOVersion(version).code, 300000);
  EXPECT_EQ(version, "kept");
  EXPECT_EQ(log.Count("Failed to send remote call or server reply timeout"), 2);
}

}  // namespace
}  // namespace quiral_client_test
