// Names and texts that the robot would read as part of a request's
// structure are refused before anything is sent; doubles reach it whole.
#include <gtest/gtest.h>

#include <charconv>
#include <cstring>
#include <limits>
#include <tuple>

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
  // Key, value, whether the name is at fault, what each operation refuses.
  const std::tuple<std::string, ParamVariant, bool, std::string, std::string> cases[] = {
      {"label", "idle, counter = 99"s, false, ",", ","},
      {"label", "1), Evil(b=2"s, false, ",", ")"},
      {"label", std::vector<std::string>{"a", "b=c"}, false, "=", "="},
      {"t", std::vector<Coord>{Framed("A"), Framed(":")}, false, ":", ":"},
      {"t", std::vector<Coord>{Framed("my frame")}, false, " ", " "},
      {"a, counter", 1, true, ",", ","},
      {"a = b", 1, true, "=", "="}};
  for (const auto& [key, value, is_name, set, call] : cases) {
    const std::map<std::string, ParamVariant> params = {{key, value}};
    EXPECT_TRUE(Throws<std::invalid_argument>([&] { detail::GlobalVariablesRequestText(params); },
                                              Refusal("SetGlobalVariables", key, set, is_name)));
    EXPECT_TRUE(Throws<std::invalid_argument>([&] { detail::PrimitiveCallText("P", params); },
                                              Refusal("ExecutePrimitive", key, call, is_name)));
  }
  // Brackets mean nothing outside a primitive call.
  EXPECT_EQ(detail::GlobalVariablesRequestText({{"f(x)", "g(y)"s}}), "f(x) = g(y)");
  EXPECT_TRUE(Throws<std::invalid_argument>([] { detail::PrimitiveCallText("P", {{"a", "g()"s}}); },
                                            Refusal("ExecutePrimitive", "a", "(")));
}

TEST(DoubleText, IsTheShortestThatReadsBackBitIdentical) {
  using Limits = std::numeric_limits<double>;
  const std::vector<double> values = {0.1234567, 1e-300, 123456789.123, 2147483648.0,
                                      -0.0, Limits::max(), Limits::denorm_min()};
  const std::string text = ParamValueToString(values);
  EXPECT_EQ(text, "0.1234567 1e-300 1.23456789123e+08 2.147483648e+09 -0 "
                  "1.7976931348623157e+308 5e-324");
  const char* next = text.data();
  for (const double value : values) {
    double read = 1.0;
    next = std::from_chars(next, text.data() + text.size(), read).ptr + 1;
    EXPECT_EQ(std::memcmp(&read, &value, sizeof read), 0) << read;
  }
}

}  // namespace
}  // namespace quiral::vek
