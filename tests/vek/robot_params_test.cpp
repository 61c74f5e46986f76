// Global variables and primitive states of a Robot against the simulated
// controller: read, written and refused, with the text form on the wire.
#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/vek/robot_test_util.h"

namespace quiral::vek {
namespace {

using namespace testing_util;
using Vars = std::map<std::string, ParamVariant>;

class RobotParamsTest : public RobotTest {
 protected:
  void SetUp() override {
    RobotTest::SetUp();
    env_->sim.Set(env_->serial, {{"global_variables",
                                  {{"counter", "0"},
                                   {"home", "0 -0.7 0 1.57 0 0.7 0 0 0 0 0 0 0"},
                                   {"label", "idle"},
                                   {"speed", "0.5"}}},
                                 {"primitive_states", nullptr}});
  }
  void Reply(int procedure, const json& texts, const std::string& service = "ops") {
    env_->sim.Fault(env_->serial, {{"service", service},
                                   {service == "ops" ? "procedure_id" : "request_id", procedure},
                                   {"kind", "custom_reply"},
                                   {"reply", {{"string_container", texts}}}});
  }
  // Long texts of the set-variables requests since `since`, which carry
  // nothing else.
  std::vector<std::string> SetRequests(size_t since) {
    std::vector<std::string> texts;
    for (const json& item : env_->Requests(12, since)) {
      EXPECT_TRUE(item["int_args"].empty() && item["float_args"].empty() &&
                  item["string_args"].empty());
      texts.push_back(item["long_string"].get<std::string>());
    }
    return texts;
  }
  json Stored(const std::string& name) {
    return env_->sim.State(env_->serial)["global_variables"][name];
  }
};

TEST_F(RobotParamsTest, GlobalVariablesAreRead) {
  const Vars vars = robot().global_variables();
  ASSERT_EQ(vars.size(), 4u);
  EXPECT_TRUE(SameValue(vars.at("counter"), 0));
  EXPECT_TRUE(SameValue(vars.at("home"),
                        std::vector<double>{0, -0.7, 0, 1.57, 0, 0.7, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(SameValue(vars.at("label"), std::string("idle")));
  EXPECT_TRUE(SameValue(vars.at("speed"), 0.5));

  // Replies straight from the wire: the first of equal names stays; a
  // coordinate of 21 items is one Coord.
  Reply(11, {"a = 1", "a = 2",
             "c =", "d = 1 2 3 0.1 0.2 0.3 WORLD WORLD_ORIGIN 1 2 3 4 5 6 7 0 0 0 0 0 0"});
  const Vars replied = robot().global_variables();
  ASSERT_EQ(replied.size(), 3u);
  EXPECT_TRUE(SameValue(replied.at("a"), 1));
  EXPECT_TRUE(SameValue(replied.at("c"), std::vector<std::string>{}));
  EXPECT_EQ(std::get<Coord>(replied.at("d")).ref_frame[1], "WORLD_ORIGIN");

  Reply(11, {"a = 1", "novalue"});
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] { robot().global_variables(); },
      P("global_variables") + " Received a malformed entry from the robot: [novalue]"));
  // The parser's errors pass unchanged.
  Reply(11, {"big = 2147483648"});
  EXPECT_TRUE(Throws<std::out_of_range>([&] { robot().global_variables(); }, "stoi"));
  env_->FailsOnce(
      11, [&] { robot().global_variables(); }, P("global_variables") + " No reply from the robot");
}

TEST_F(RobotParamsTest, GlobalVariablesAreWrittenInNameOrderUpToTheTransportLimit) {
  size_t ops = env_->OpsTotal();
  JPos jpos;
  jpos.q_m = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7};
  robot().SetGlobalVariables(
      {{"label", std::string("busy")}, {"counter", 5}, {"speed", 0.1234567}, {"home", jpos}});
  EXPECT_EQ(SetRequests(ops), (std::vector<std::string>{"counter = 5, home = 0.1 0.2 0.3 0.4 0.5 "
                                                        "0.6 0.7 0 0 0 0 0 0, label = busy, "
                                                        "speed = 0.123457"}));
  // The names were read first, on the same service.
  const std::vector<json> sent = env_->OpsSince(ops);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0]["procedure_id"], 11);
  EXPECT_EQ(Stored("counter"), "5");
  const Vars vars = robot().global_variables();
  EXPECT_TRUE(SameValue(vars.at("speed"), 0.123457));
  EXPECT_EQ(vars.at("home").index(), 6u);  // a JPos reads back as numbers only
  // An empty list is written as nothing after " = ".
  robot().SetGlobalVariables({{"label", std::vector<std::string>{}}});
  EXPECT_EQ(SetRequests(ops).back(), "label = ");

  // "label = " + value: exactly 10000 characters travel whole; one more is
  // refused.
  ops = env_->OpsTotal();
  const std::string value(10000 - 8, 'x');
  robot().SetGlobalVariables({{"label", value}});
  EXPECT_EQ(SetRequests(ops), std::vector<std::string>{"label = " + value});
  EXPECT_EQ(Stored("label"), value);
  EXPECT_TRUE(Throws<std::length_error>(
      [&] {
        robot().SetGlobalVariables({{"label", value + "y"}});
      },
      P("SetGlobalVariables") +
          " Input map [global_vars] is too long to transmit (requires 10001/10000 bytes of "
          "bandwidth)"));
  EXPECT_EQ(SetRequests(ops).size(), 1u);
}

TEST_F(RobotParamsTest, RefusedVariablesSendNothing) {
  const size_t ops = env_->OpsTotal();
  env_->Refused<std::length_error>([&] { robot().SetGlobalVariables({}); },
                                   P("SetGlobalVariables") + " Input map [global_vars] is empty");
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        robot().SetGlobalVariables({{"counter", 1}, {"nope", 2}, {"zzz", 3}});
      },
      P("SetGlobalVariables") + " The specified global variable [nope] does not exist"));
  // Texts cut short by a '\0' on the wire would be reported as written.
  Coord coord;
  coord.ref_q_e[0] = 1.0;
  const struct {
    Vars vars;
    std::string text;
  } refused[] = {{{{"label", std::string("bu\0sy", 5)}},
                  " Value of [label] in input map [global_vars] contains a null character"},
                 {{{"label", std::vector<std::string>{"a", std::string("\0", 1)}}},
                  " Value of [label] in input map [global_vars] contains a null character"},
                 {{{"speed", std::numeric_limits<double>::quiet_NaN()}},
                  " Value of [speed] in input map [global_vars] contains a non-finite number"}};
  for (const auto& r : refused) {
    EXPECT_TRUE(Throws<std::invalid_argument>([&] { robot().SetGlobalVariables(r.vars); },
                                              P("SetGlobalVariables") + r.text));
  }
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        robot().SetGlobalVariables({{"home", coord}});
      },
      "[quiral::vek::Coord] Struct member [ref_q_m] cannot be empty if [ref_q_e] has values"));
  EXPECT_TRUE(SetRequests(ops).empty());
  EXPECT_EQ(Stored("label"), "idle");
  // The robot refuses; the read fails.
  env_->sim.Fault(env_->serial, {{"procedure_id", 12}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] {
        robot().SetGlobalVariables({{"counter", 1}});
      },
      P("SetGlobalVariables") + " Failed to deliver the request"));
  env_->sim.Fault(env_->serial, {{"procedure_id", 11}, {"kind", "fail"}});
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] {
        robot().SetGlobalVariables({{"counter", 1}});
      },
      P("global_variables") + " No reply from the robot"));
}

TEST_F(RobotParamsTest, PrimitiveStates) {
  auto requests = [&] {
    return env_->sim
        .Command("data_requests", {{"serial", env_->serial}, {"request_id", 2}})["total"]
        .get<size_t>();
  };
  size_t before = requests();
  // No primitive has run: no states, one request.
  EXPECT_TRUE(robot().primitive_states().empty());
  EXPECT_EQ(requests(), before + 1);
  env_->sim.Set(env_->serial,
                {{"primitive_states",
                  {"reachedTarget = 1", "timePeriod = 0.5", "name = Home", "reachedTarget = 0"}}});
  Vars states = robot().primitive_states();
  ASSERT_EQ(states.size(), 3u);
  EXPECT_TRUE(SameValue(states.at("reachedTarget"), 1));
  EXPECT_TRUE(SameValue(states.at("name"), std::string("Home")));

  // A reply holding an empty text is asked for again, up to six times.
  for (const int corrupted : {5, 6}) {
    env_->sim.Fault(env_->serial, {{"service", "data"},
                                   {"request_id", 2},
                                   {"kind", "custom_reply"},
                                   {"count", corrupted},
                                   {"reply", {{"string_container", {"reachedTarget = 0", ""}}}}});
    before = requests();
    if (corrupted == 5) {
      EXPECT_TRUE(SameValue(robot().primitive_states().at("reachedTarget"), 1));
    } else {
      EXPECT_TRUE(Throws<std::runtime_error>(
          [&] { robot().primitive_states(); },
          P("primitive_states") + " Still received corrupted data after several attempts"));
    }
    EXPECT_EQ(requests(), before + 6);
  }
  env_->sim.Fault(env_->serial, {{"service", "data"}, {"request_id", 2}, {"kind", "fail"}});
  before = requests();
  EXPECT_TRUE(Throws<std::runtime_error>([&] { robot().primitive_states(); },
                                         P("primitive_states") + " No reply from the robot"));
  EXPECT_EQ(requests(), before + 1);
}

}  // namespace
}  // namespace quiral::vek
