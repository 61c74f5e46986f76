// The text form of parameter values both ways, the entries of replies and
// the texts of requests: no controller involved.
#include "vek/param_text.h"

#include <gtest/gtest.h>

#include <limits>
#include <locale>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/vek/robot_test_util.h"
#include "vek/param_values.h"

namespace quiral::vek {
namespace {

using namespace std::string_literals;
using detail::GlobalVariablesRequestText;
using detail::PrimitiveCallText;
using testing_util::Throws;
using ParamMap = std::map<std::string, ParamVariant>;
using SV = std::vector<std::string>;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const std::string kSetGlobals = "[quiral::vek::Robot::SetGlobalVariables]";
const std::string kPrimitive = "[quiral::vek::Robot::ExecutePrimitive]";

Coord MakeCoord(std::string frame0, std::array<double, 7> ref_q_m = {},
                std::array<double, 6> ref_q_e = {}) {
  return Coord{{1, 2, 3}, {4, 5, 6}, {std::move(frame0), "O"}, ref_q_m, ref_q_e};
}

// One row per rule: the fewest digits that read back exactly, exponents
// where shorter, ints, texts as they are, a Coord's references only when
// not all zero (negative zeros count as zero), sequences of composites
// joined by " : ".
TEST(ParamValueToString, NumbersAndEveryAlternative) {
  JPos jpos;
  jpos.q_m = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7};
  jpos.q_e = {1, 2, 3, 4, 5, 6};
  const Coord coord8 = MakeCoord("F", {-0.0, -0.0, -0.0});
  const Coord coord21 = MakeCoord("my frame", {1, 2, 3, 4, 5, 6, 7}, {0, 0, 0, 0, 0, 0.25});
  // clang-format off
  const std::pair<ParamVariant, const char*> cases[] = {
      {0.123456789, "0.123456789"}, {0.00001, "1e-05"}, {-kNaN, "nan"},
      {std::numeric_limits<int>::min(), "-2147483648"}, {"a b = c, d"s, "a b = c, d"},
      {jpos, "0.1 0.2 0.3 0.4 0.5 0.6 0.7 1 2 3 4 5 6"}, {coord8, "1 2 3 4 5 6 F O"},
      {coord21, "1 2 3 4 5 6 my frame O 1 2 3 4 5 6 7 0 0 0 0 0 0.25"},
      {std::vector<double>{0.5, 1234567}, "0.5 1.234567e+06"}, {SV{"a", "", "b"}, "a  b"},
      {std::vector<Coord>{coord8, coord8}, "1 2 3 4 5 6 F O : 1 2 3 4 5 6 F O"}};
  // clang-format on
  for (const auto& [value, text] : cases) EXPECT_EQ(ParamValueToString(value), text);
}

// A numpunct that writes "," as decimal point and groups thousands.
struct CommaNumpunct : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};

TEST(ParamValueText, IndependentOfTheGlobalLocale) {
  const std::locale previous =
      std::locale::global(std::locale(std::locale::classic(), new CommaNumpunct));
  std::ostringstream probe;
  probe << 1234.5;
  const std::string localised = probe.str();
  const std::string written = ParamValueToString(std::vector<double>{1234.5, 100000, 0.5});
  const ParamVariant read = StringToParamValue("1234.5 2.25");
  std::locale::global(previous);
  EXPECT_EQ(localised, "1.234,5");  // the locale is in effect for streams
  EXPECT_EQ(written, "1234.5 100000 0.5");
  EXPECT_EQ(read, ParamVariant(std::vector<double>{1234.5, 2.25}));
}

TEST(StringToParamValue, ChoosesTheAlternativeFromTheTokens) {
  const std::string coord = "1.5 2 3 4 5 6 WORLD WORLD_ORIGIN 1 0 0 0 0 0 0 0 0 0 0 0 -7";
  Coord expected{{1.5, 2, 3}, {4, 5, 6}, {"WORLD", "WORLD_ORIGIN"}, {1}, {0, 0, 0, 0, 0, -7}};
  // clang-format off
  const std::pair<std::string, ParamVariant> cases[] = {
      {"-5", -5}, {"5.0", 5.0}, {"5 6", std::vector<int>{5, 6}},
      {"5 6.5", std::vector<double>{5, 6.5}}, {"a b", SV{"a", "b"}}, {" \t\n ", SV{}},
      {"0x10", "0x10"s}, {"inf", "inf"s}, {coord + " " + coord, std::vector<Coord>{expected,
       expected}}};
  // clang-format on
  for (const auto& [text, value] : cases) EXPECT_EQ(StringToParamValue(text), value) << text;
  EXPECT_TRUE(Throws<std::out_of_range>([&] { StringToParamValue("abc 1 2147483648"); }, "stoi"));
  EXPECT_TRUE(Throws<std::out_of_range>([&] { StringToParamValue("1 2.5 -1e999"); }, "stod"));
}

TEST(ReplyEntries, SplitIntoNamesAndValues) {
  // The name ends at the one character before the first "="; the first of
  // equal names is kept.
  const ParamMap map = detail::EntriesToParamMap(
      {"speed = 0.5", "x = y = z", "ab=1", "my var = a b", "speed = 9", "empty ="}, "[p]");
  EXPECT_EQ(map, (ParamMap{{"speed", 0.5},
                           {"x", SV{"y", "=", "z"}},
                           {"a", 1},
                           {"my var", SV{"a", "b"}},
                           {"empty", SV{}}}));
  EXPECT_TRUE(Throws<std::runtime_error>(
      [&] {
        detail::EntriesToParamMap({"b = 2", " = 1"}, "[p]");
      },
      "[p] Received a malformed entry from the robot: [ = 1]"));
}

// Name order and at most 10000 bytes; a '\0' would cut the text short on
// the wire and a non-finite number has no text the robot reads.
TEST(RequestTexts, NameOrderAndTenThousandBytesAtMost) {
  EXPECT_EQ(GlobalVariablesRequestText({{"b", "on"s}, {"a", 1}, {"c", std::vector<int>{}}}),
            "a = 1, b = on, c = ");
  EXPECT_EQ(PrimitiveCallText("MoveL", {{"vel", 0.25}, {"target", MakeCoord("W")}}),
            "MoveL(target = 1 2 3 4 5 6 W O, vel = 0.25)");
  EXPECT_EQ(PrimitiveCallText("P", {{"a", std::string(9993, 'x')}}).size(), 10000u);
  std::string two_byte;  // counted in bytes
  for (int i = 0; i < 4999; ++i) two_byte += "\xC3\xA9";
  EXPECT_TRUE(Throws<std::length_error>(
      [&] {
        GlobalVariablesRequestText({{"a", two_byte}});
      },
      kSetGlobals + " Input map [global_vars] is too long to "
                    "transmit (requires 10002/10000 bytes of bandwidth)"));
  EXPECT_TRUE(Throws<std::length_error>([] { GlobalVariablesRequestText({}); },
                                        kSetGlobals + " Input map [global_vars] is empty"));
}

TEST(RequestTexts, NulAndNonFiniteValuesAreRefused) {
  JPos jpos;
  jpos.q_e[5] = kNaN;
  const std::string value = " Value of [var] in input map [global_vars] contains ";
  // clang-format off
  const std::pair<ParamVariant, std::string> cases[] = {
      {std::vector<Coord>{MakeCoord("W\0D"s)}, "a null character"}, {jpos, "a non-finite number"},
      {MakeCoord("A", {1}, {0, 0, -kInf}), "a non-finite number"}};
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_TRUE(Throws<std::invalid_argument>(
        [&] {
          GlobalVariablesRequestText({{"ok", 1}, {"var", c.first}});
        },
        kSetGlobals + value + c.second));
  }
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [] {
        GlobalVariablesRequestText({{"v\0ar"s, 1}});
      },
      kSetGlobals + " Input map [global_vars] contains a name with a null character"));
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [] {
        PrimitiveCallText("Mo\0ve"s, {{"a", 1}});
      },
      kPrimitive + " Input parameter [primitive_name] contains a null character"));
}

}  // namespace
}  // namespace quiral::vek
