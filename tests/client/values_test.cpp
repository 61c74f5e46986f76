// Parts of the client that need no controller: the world-frame wrench, and
// services that were never started.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/client/client_test_util.h"

namespace quiral_client_test {
namespace {

TEST(StreamValues, WrenchInWorldRotatesForceAndMomentByTheNormalisedTcpOrientation) {
  const double h = std::sqrt(0.5);
  using W = std::array<double, 6>;
  const struct {
    std::array<double, 4> q;  // w, x, y, z
    W tcp, world;
  } cases[] = {
      {{h, 0, 0, h}, {1, 0, 0, 0, 2, 0}, {0, 1, 0, -2, 0, 0}},      // 90 degrees about z
      {{0, 3, 0, 0}, {1, 2, 3, 4, 5, 6}, {1, -2, -3, 4, -5, -6}},  // 180 degrees about x, length 3
      {{0, 0, 0, 0}, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}},       // all zero: unchanged
  };
  for (const auto& c : cases) {
    quiral::vek::RobotStates states;
    states.tcp_pose = {0.3, 0.2, 0.1, c.q[0], c.q[1], c.q[2], c.q[3]};
    states.ext_wrench_in_tcp = c.tcp;
    states.ext_wrench_in_tcp_raw = c.tcp;
    quiral::vek_impl::LUMODataStream().SetExtWrenchInWorld(states);
    for (size_t i = 0; i < 6; ++i) {
      EXPECT_NEAR(states.ext_wrench_in_world[i], c.world[i], 1e-12) << i;
      EXPECT_NEAR(states.ext_wrench_in_world_raw[i], c.world[i], 1e-12) << i;
    }
    EXPECT_EQ(states.ext_wrench_in_tcp, c.tcp);
  }
}

TEST(StreamValues, ServicesThatWereNeverStartedFailWithoutHanging) {
  LogCapture log;
  EXPECT_EQ(quiral::vek_impl::MotionCommandsPub().Publish().code, kFault);
  std::vector<std::string> list{"kept"};
  EXPECT_EQ(quiral::vek_impl::OperationsRPC().RequestStringList(Proc(23), list).code, kFault);
  std::string version = "kept";
  EXPECT_EQ(quiral::vek_impl::LUMODataRpc().RequestLUMOVersion(version).code, kFault);
  EXPECT_EQ(list, std::vector<std::string>{"kept"});
  EXPECT_EQ(version, "kept");
  EXPECT_EQ(log.Count("Failed to send remote call or server reply timeout"), 2);
}

}  // namespace
}  // namespace quiral_client_test
