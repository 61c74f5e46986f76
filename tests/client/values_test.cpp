// Parts of the client that need no controller: the CRC-32 of transferred
// files, the world-frame wrench, and services that were never started.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "client/crc32.h"
#include "client/lumo_data_rpc.h"
#include "client/lumo_data_stream.h"
#include "client/motion_commands_pub.h"
#include "client/operations_rpc.h"
#include "tests/client/client_test_util.h"

namespace quiral_client_test {
namespace {

using quiral::vek_impl::Crc32;

uint32_t CrcOf(const std::string& text) {
  return Crc32(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST(Crc32, KnownValuesAndEveryByteCounts) {
  EXPECT_EQ(CrcOf("123456789"), 0xCBF43926U);
  EXPECT_EQ(CrcOf(""), 0U);
  EXPECT_EQ(Crc32(nullptr, 0), 0U);
  EXPECT_EQ(CrcOf("The quick brown fox jumps over the lazy dog"), 0x414FA339U);
  EXPECT_EQ(Crc32(std::vector<uint8_t>(32, 0xFF)), 0xFF6CAB0BU);
  std::vector<uint8_t> bytes(1000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  for (size_t i : {0, 499, 999}) {
    auto changed = bytes;
    changed[i] ^= 0x01;
    EXPECT_NE(Crc32(changed), Crc32(bytes)) << i;
  }
}

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
