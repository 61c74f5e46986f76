// The simulated robot without DDS: a refused request. What the robot answers
// to each procedure, how it moves and how fault rules are chosen is covered
// end to end by the client's and the API's tests.
#include <gtest/gtest.h>

#include <string>

#include "msgs/quiral_lumo_msgs/rpc_reply.h"
#include "msgs/quiral_lumo_msgs/rpc_request.h"
#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"
#include "sim/robot_sim.h"

namespace quiral::sim {
namespace {

vek_msgs::msg::RPCReply Call(RobotSim& robot, uint16_t id, std::vector<int32_t> ints = {},
                             const std::string& text = "", std::vector<uint8_t> bytes = {}) {
  vek_msgs::msg::RPCRequest r;
  r.procedure_id(id);
  r.int_args(ints);
  r.long_string_arg(text);
  r.raw_bytes_arg(bytes);
  vek_msgs::msg::RPCReply reply;
  robot.HandleOps(r, reply);
  EXPECT_EQ(reply.procedure_id(), id);
  return reply;
}

TEST(RobotSimTest, ARefusedRequestCarriesOnlyItsIdAndChangesNothing) {
  RobotSim robot(RobotConfig{"Varno4-SIM001", 7, 0, "disabled", 0, 0});
  // A project upload outside IDLE: the checksum is right, the mode is not.
  const std::vector<uint8_t> digits{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  const auto checksum = static_cast<int32_t>(0xCBF43926u);
  robot.Set({{"mode", 5}});
  for (const auto& reply : {Call(robot, 4), Call(robot, 99), Call(robot, 10, {1, 2}),
                            Call(robot, 64, {checksum}, "P.proj", digits)}) {
    SCOPED_TRACE(reply.procedure_id());
    EXPECT_FALSE(reply.success());
    EXPECT_TRUE(reply.int_container().empty() && reply.float_container().empty() &&
                reply.string_container().empty() && reply.raw_bytes_container().empty());
  }
  EXPECT_EQ(robot.FilesJson("project", false).size(), 2u) << "the refused project is not stored";
  robot.Set({{"mode", 1}});
  EXPECT_TRUE(Call(robot, 64, {checksum}, "P.proj", digits).success());
  EXPECT_EQ(robot.FilesJson("project", false)[0]["name"], "P.proj");

  quiral_lumo_msgs::msg::RPCRequest data;
  data.request_id(4);
  quiral_lumo_msgs::msg::RPCReply data_reply;
  robot.HandleData(data, data_reply);
  EXPECT_EQ(data_reply.request_id(), 4);
  EXPECT_FALSE(data_reply.success());
}

}  // namespace
}  // namespace quiral::sim
