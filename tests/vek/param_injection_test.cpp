// Names and texts that the robot would read as part of a request's
// structure are refused before anything is sent; doubles reach it whole.
#include <gtest/gtest.h>

#include <charconv>
#include <cstring>
#include <limits>

#include "tests/vek/robot_test_util.h"
#include "vek/param_text.h"
#include "vek/param_values.h"

namespace quiral::vek {
namespace {

using namespace testing_util;
using namespace std::string_literals;

Coord Framed(std::string frame) { return Coord{{1, 2, 3}, {4, 5, 6}, {"W", std::move(frame)}}; }
// `what`: the reserved character, or " " for a frame that is not one item.
std::string Refusal(const std::string& op, const std::string& key, const std::string& what,
                    bool is_name = false) {
  return P(op) + (is_name ? " Name [" : " Value of [") + key + "] in input map [" +
         (op == "SetGlobalVariables" ? "global_vars" : "input_params") + "] contains " +
         (what == " " ? "a reference frame that is empty or holds white space"
                      : "a reserved character [" + what + "]");
}

TEST(RequestStructure, IsRefusedInNamesAndTexts) {
  struct Case { std::string key; ParamVariant value; bool is_name; std::string global, primitive; };
  const Case cases[] = {  // what each operation refuses; empty: accepted
      {"label", "idle, counter = 99"s, false, ",", ","},
      {"label", "1), Evil(b=2"s, false, ",", ")"},
      {"label", "a = b"s, false, "=", "="},
      {"label", "f(x)"s, false, "", "("},
      {"label", std::vector<std::string>{"a", "b,c"}, false, ",", ","},
      {"t", Framed("TCP, counter = 9"), false, ",", ","},
      {"t", std::vector<Coord>{Framed("A"), Framed(":")}, false, ":", ":"},
      {"t", std::vector<Coord>{Framed("my frame")}, false, " ", " "},
      {"a, counter", 1, true, ",", ","},
      {"a = b", 1, true, "=", "="}};
  for (const auto& c : cases) {
    const std::map<std::string, ParamVariant> params = {{c.key, c.value}};
    const auto global = [&] { return detail::GlobalVariablesRequestText(params); };
    if (c.global.empty()) {
      EXPECT_EQ(global(), c.key + " = " + ParamValueToString(c.value));
    } else {
      EXPECT_TRUE(Throws<std::invalid_argument>(
          global, Refusal("SetGlobalVariables", c.key, c.global, c.is_name)));
    }
    EXPECT_TRUE(Throws<std::invalid_argument>([&] { detail::PrimitiveCallText("P", params); },
                                              Refusal("ExecutePrimitive", c.key, c.primitive,
                                                      c.is_name)));
  }
}

TEST(DoubleText, IsTheShortestThatReadsBackBitIdentical) {
  const std::pair<double, std::string> cases[] = {
      {0.1234567, "0.1234567"}, {1e-300, "1e-300"}, {123456789.123, "1.23456789123e+08"},
      {2147483648.0, "2.147483648e+09"}, {-0.0, "-0"},
      {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
      {std::numeric_limits<double>::denorm_min(), "5e-324"}};
  for (const auto& [value, expected] : cases) {
    const std::string text = ParamValueToString(value);
    double read = 1.0;
    std::from_chars(text.data(), text.data() + text.size(), read);
    EXPECT_EQ(text, expected);
    EXPECT_EQ(std::memcmp(&read, &value, sizeof read), 0) << text;
    // Digits alone read as an integer, as they always did.
    EXPECT_TRUE(SameValue(StringToParamValue(text), value == 0 ? ParamVariant(0) : value));
  }
}

class ParamInjectionTest : public RobotTest {};

TEST_F(ParamInjectionTest, NothingReachesTheController) {
  env_->sim.Set(env_->serial, {{"global_variables", {{"counter", "0"}, {"label", "idle"}}}});
  const size_t before = env_->OpsTotal();
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] { robot().SetGlobalVariables({{"label", "idle, counter = 99"}}); },
      Refusal("SetGlobalVariables", "label", ",")));
  EXPECT_TRUE(env_->Requests(before, 12).empty());
  // A double travels to the controller and back unchanged.
  robot().SetGlobalVariables({{"counter", 0.1234567}});
  EXPECT_TRUE(SameValue(robot().global_variables().at("counter"), 0.1234567));

  env_->Switch(Mode::NRT_PRIMITIVE_EXECUTION);
  env_->Refused<std::invalid_argument>(
      [&] { robot().ExecutePrimitive("Home", {{"a", "1), Evil(b=2"}}, false); },
      Refusal("ExecutePrimitive", "a", ")"));
  env_->Refused<std::invalid_argument>(
      [&] { robot().ExecutePrimitive("Home(a = 1), Evil", {}, false); },
      P("ExecutePrimitive") +
          " Input parameter [primitive_name] contains a reserved character [(]");
}

}  // namespace
}  // namespace quiral::vek
