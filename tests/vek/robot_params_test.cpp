// Global variables and primitive states of a Robot against the simulated
// controller: read, written and refused, with the text form on the wire.
#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/vek/param_test_util.h"
#include "tests/vek/robot_test_util.h"
#include "vek/robot.h"

namespace quiral::vek {
namespace {

using namespace testing_util;
using testing_util::SameValue;

using Vars = std::map<std::string, ParamVariant>;

class RobotParamsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    serial_ = new std::string(UniqueSerial("Varno4"));
    sim_ = new SimProcess({*serial_}, {"--initial-state", "ready"});
    robot_ = MakeRobot(*serial_).release();
  }
  static void TearDownTestSuite() {
    delete robot_;
    delete sim_;
    delete serial_;
  }
  void SetUp() override {
    sim_->ClearFaults(*serial_);
    sim_->Set(*serial_, {{"global_variables",
                          {{"counter", "0"},
                           {"home", "0 -0.7 0 1.57 0 0.7 0 0 0 0 0 0 0"},
                           {"label", "idle"},
                           {"speed", "0.5"}}},
                         {"primitive_states", nullptr}});
  }

  // Long texts of the set-variables requests since `since`.
  std::vector<std::string> SetRequests(size_t since) {
    std::vector<std::string> texts;
    for (const json& item : RequestsOf(*sim_, *serial_, 12, since)) {
      EXPECT_TRUE(item["int_args"].empty());
      EXPECT_TRUE(item["float_args"].empty());
      EXPECT_TRUE(item["string_args"].empty());
      texts.push_back(item["long_string"].get<std::string>());
    }
    return texts;
  }

  static std::string* serial_;
  static SimProcess* sim_;
  static Robot* robot_;
};

std::string* RobotParamsTest::serial_ = nullptr;
SimProcess* RobotParamsTest::sim_ = nullptr;
Robot* RobotParamsTest::robot_ = nullptr;

TEST_F(RobotParamsTest, GlobalVariablesAreRead) {
  const Vars vars = robot_->global_variables();
  ASSERT_EQ(vars.size(), 4u);
  EXPECT_TRUE(SameValue(vars.at("counter"), 0));
  EXPECT_TRUE(SameValue(vars.at("home"),
                        std::vector<double>{0, -0.7, 0, 1.57, 0, 0.7, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(SameValue(vars.at("label"), std::string("idle")));
  EXPECT_TRUE(SameValue(vars.at("speed"), 0.5));

  // Replies straight from the wire: the first of equal names stays; a
  // coordinate of 21 items is one Coord.
  const std::string coord = "1 2 3 0.1 0.2 0.3 WORLD WORLD_ORIGIN 1 2 3 4 5 6 7 0 0 0 0 0 0";
  sim_->Fault(
      *serial_,
      {{"procedure_id", 11},
       {"kind", "custom_reply"},
       {"reply", {{"string_container", {"a = 1", "a = 2", "b = x y", "c =", "d = " + coord}}}}});
  const Vars replied = robot_->global_variables();
  ASSERT_EQ(replied.size(), 4u);
  EXPECT_TRUE(SameValue(replied.at("a"), 1));
  EXPECT_TRUE(SameValue(replied.at("b"), std::vector<std::string>{"x", "y"}));
  EXPECT_TRUE(SameValue(replied.at("c"), std::vector<std::string>{}));
  ASSERT_EQ(replied.at("d").index(), 4u);
  EXPECT_EQ(std::get<Coord>(replied.at("d")).ref_frame[1], "WORLD_ORIGIN");

  sim_->Fault(*serial_, {{"procedure_id", 11},
                         {"kind", "custom_reply"},
                         {"reply", {{"string_container", {"a = 1", "novalue"}}}}});
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { robot_->global_variables(); },
      "[quiral::vek::Robot::global_variables] Received a malformed entry from the robot: "
      "[novalue]"));
  // The parser's errors pass unchanged.
  sim_->Fault(*serial_, {{"procedure_id", 11},
                         {"kind", "custom_reply"},
                         {"reply", {{"string_container", {"big = 2147483648"}}}}});
  EXPECT_TRUE(Throws<std::out_of_range>([&] { robot_->global_variables(); }, "stoi"));
  sim_->Fault(*serial_, {{"procedure_id", 11}, {"kind", "fail"}});
  EXPECT_TRUE(
      Throws<std::runtime_error>([&] { robot_->global_variables(); },
                                 "[quiral::vek::Robot::global_variables] No reply from the robot"));
}

TEST_F(RobotParamsTest, GlobalVariablesAreWrittenInNameOrder) {
  const size_t ops = RequestTotal(*sim_, *serial_);
  JPos jpos;
  jpos.q_m = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7};
  robot_->SetGlobalVariables(
      {{"label", std::string("busy")}, {"counter", 5}, {"speed", 0.1234567}, {"home", jpos}});
  EXPECT_EQ(SetRequests(ops),
            (std::vector<std::string>{"counter = 5, home = 0.1 0.2 0.3 0.4 0.5 0.6 0.7 0 0 0 0 0 "
                                      "0, label = busy, speed = 0.123457"}));
  // The names were read first, on the same service.
  const auto reads = RequestsOf(*sim_, *serial_, 11, ops);
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_LT(reads[0]["index"].get<size_t>(),
            RequestsOf(*sim_, *serial_, 12, ops)[0]["index"].get<size_t>());

  const json stored = sim_->State(*serial_)["global_variables"];
  EXPECT_EQ(stored["counter"], "5");
  EXPECT_EQ(stored["label"], "busy");
  const Vars vars = robot_->global_variables();
  EXPECT_TRUE(SameValue(vars.at("counter"), 5));
  EXPECT_TRUE(SameValue(vars.at("speed"), 0.123457));
  EXPECT_TRUE(SameValue(vars.at("label"), std::string("busy")));
  // A JPos reads back as numbers only.
  EXPECT_EQ(vars.at("home").index(), 6u);

  // An empty list is written as nothing after " = ".
  robot_->SetGlobalVariables({{"label", std::vector<std::string>{}}});
  EXPECT_EQ(SetRequests(ops).back(), "label = ");
}

TEST_F(RobotParamsTest, RefusalsSendNothing) {
  const size_t ops = RequestTotal(*sim_, *serial_);
  EXPECT_TRUE(Throws<std::length_error>(
      [&] { robot_->SetGlobalVariables({}); },
      "[quiral::vek::Robot::SetGlobalVariables] Input map [global_vars] is empty"));
  EXPECT_EQ(RequestTotal(*sim_, *serial_), ops);  // not even the read

  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        robot_->SetGlobalVariables({{"counter", 1}, {"nope", 2}, {"zzz", 3}});
      },
      "[quiral::vek::Robot::SetGlobalVariables] The specified global variable [nope] does not "
      "exist"));
  // Texts cut short by a '\0' on the wire would be reported as written.
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        robot_->SetGlobalVariables({{"label", std::string("bu\0sy", 5)}});
      },
      "[quiral::vek::Robot::SetGlobalVariables] Value of [label] in input map [global_vars] "
      "contains a null character"));
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        robot_->SetGlobalVariables(
            {{"label", std::vector<std::string>{"a", std::string("\0", 1)}}});
      },
      "[quiral::vek::Robot::SetGlobalVariables] Value of [label] in input map [global_vars] "
      "contains a null character"));
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        robot_->SetGlobalVariables({{"speed", std::numeric_limits<double>::quiet_NaN()}});
      },
      "[quiral::vek::Robot::SetGlobalVariables] Value of [speed] in input map [global_vars] "
      "contains a non-finite number"));
  Coord coord;
  coord.ref_q_e[0] = 1.0;
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        robot_->SetGlobalVariables({{"home", coord}});
      },
      "[quiral::vek::Coord] Struct member [ref_q_m] cannot be empty if [ref_q_e] has values"));
  EXPECT_TRUE(SetRequests(ops).empty());
  EXPECT_EQ(sim_->State(*serial_)["global_variables"]["label"], "idle");

  // The robot refuses; the read fails.
  sim_->Fault(*serial_, {{"procedure_id", 12}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] {
        robot_->SetGlobalVariables({{"counter", 1}});
      },
      "[quiral::vek::Robot::SetGlobalVariables] Failed to deliver the request"));
  sim_->Fault(*serial_, {{"procedure_id", 11}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] {
        robot_->SetGlobalVariables({{"counter", 1}});
      },
      "[quiral::vek::Robot::global_variables] No reply from the robot"));
}

TEST_F(RobotParamsTest, TextsUpToTheTransportLimitTravelWhole) {
  const size_t ops = RequestTotal(*sim_, *serial_);
  // "label = " + value: exactly 10000 characters.
  const std::string value(10000 - 8, 'x');
  robot_->SetGlobalVariables({{"label", value}});
  const auto sent = SetRequests(ops);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].size(), 10000u);
  EXPECT_EQ(sent[0], "label = " + value);
  EXPECT_EQ(sim_->State(*serial_)["global_variables"]["label"], value);

  EXPECT_TRUE(Throws<std::length_error>(
      [&] {
        robot_->SetGlobalVariables({{"label", value + "y"}});
      },
      "[quiral::vek::Robot::SetGlobalVariables] Input map [global_vars] is too long to transmit "
      "(requires 10001/10000 bytes of bandwidth)"));
  EXPECT_EQ(SetRequests(ops).size(), 1u);
}

TEST_F(RobotParamsTest, PrimitiveStates) {
  auto data_requests = [&] {
    return sim_->Command("data_requests", {{"serial", *serial_}, {"request_id", 2}})["total"]
        .get<size_t>();
  };
  size_t before = data_requests();
  // No primitive has run: no states, one request.
  EXPECT_TRUE(robot_->primitive_states().empty());
  EXPECT_EQ(data_requests(), before + 1);

  sim_->Set(*serial_,
            {{"primitive_states",
              {"reachedTarget = 1", "timePeriod = 0.5", "name = Home", "reachedTarget = 0"}}});
  Vars states = robot_->primitive_states();
  ASSERT_EQ(states.size(), 3u);
  EXPECT_TRUE(SameValue(states.at("reachedTarget"), 1));
  EXPECT_TRUE(SameValue(states.at("timePeriod"), 0.5));
  EXPECT_TRUE(SameValue(states.at("name"), std::string("Home")));

  // A reply holding an empty text is asked for again, up to six times.
  const json corrupted = {{"service", "data"},
                          {"request_id", 2},
                          {"kind", "custom_reply"},
                          {"reply", {{"string_container", {"reachedTarget = 0", ""}}}}};
  json rule = corrupted;
  rule["count"] = 5;
  sim_->Fault(*serial_, rule);
  before = data_requests();
  states = robot_->primitive_states();
  EXPECT_EQ(data_requests(), before + 6);
  EXPECT_TRUE(SameValue(states.at("reachedTarget"), 1));

  rule["count"] = 6;
  sim_->Fault(*serial_, rule);
  before = data_requests();
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { robot_->primitive_states(); },
      "[quiral::vek::Robot::primitive_states] Still received corrupted data after several "
      "attempts"));
  EXPECT_EQ(data_requests(), before + 6);

  sim_->Fault(*serial_, {{"service", "data"}, {"request_id", 2}, {"kind", "fail"}});
  before = data_requests();
  EXPECT_TRUE(
      Throws<std::runtime_error>([&] { robot_->primitive_states(); },
                                 "[quiral::vek::Robot::primitive_states] No reply from the robot"));
  EXPECT_EQ(data_requests(), before + 1);
}

}  // namespace
}  // namespace quiral::vek
