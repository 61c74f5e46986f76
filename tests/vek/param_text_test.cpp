// The text form of parameter values both ways, the entries of replies and
// the texts of requests: no controller involved.
#include "vek/param_text.h"

#include <gtest/gtest.h>

#include <functional>
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
using testing_util::SameValue;
using testing_util::Throws;
using ParamMap = std::map<std::string, ParamVariant>;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const std::string kSetGlobals = "[quiral::vek::Robot::SetGlobalVariables]";
const std::string kPrimitive = "[quiral::vek::Robot::ExecutePrimitive]";
const char kCoordError[] =
    "[quiral::vek::Coord] Struct member [ref_q_m] cannot be empty if [ref_q_e] has values";
const char kNotMultiple[] =
    "[quiral::vek::Robot::ValuesToCoord] Number of elements is not a mutiple of kElementsPerCoord";

Coord MakeCoord(std::array<double, 3> position, std::string frame0,
                std::array<double, 7> ref_q_m = {}, std::array<double, 6> ref_q_e = {}) {
  return Coord{position, {4, 5, 6}, {std::move(frame0), "O"}, ref_q_m, ref_q_e};
}

TEST(ParamValueToString, NumbersAndEveryAlternative) {
  const struct {
    double value;
    const char* text;
  } numbers[] = {{2.0, "2"},         {0.1, "0.1"},        {0.123456789, "0.123456789"},
                 {999999, "999999"}, {999999.5, "999999.5"}, {1234567, "1.234567e+06"},
                 {0.0001, "0.0001"}, {0.00001, "1e-05"},  {-0.000012345, "-1.2345e-05"},
                 {-0.0, "-0"},       {kInf, "inf"},       {-kNaN, "nan"}};
  for (const auto& c : numbers) EXPECT_EQ(ParamValueToString(c.value), c.text) << c.text;

  JPos jpos;
  jpos.q_m = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7};
  jpos.q_e = {1, 2, 3, 4, 5, 6};
  const std::array<double, 7> minus_zeros = {-0.0, -0.0, -0.0, -0.0, -0.0, -0.0, -0.0};
  const Coord coord8 = MakeCoord({1, 2, 3}, "F", minus_zeros);  // negative zeros count as zero
  const Coord coord15 = MakeCoord({1, 2, 3}, "F", {0, 0, 0, 0, 0, 0, 1.5});
  const Coord coord21 =
      MakeCoord({-1, 0.5, 1e-05}, "my frame", {1, 2, 3, 4, 5, 6, 7}, {0, 0, 0, 0, 0, 0.25});
  const struct {
    ParamVariant value;
    const char* text;
  } cases[] = {
      {std::numeric_limits<int>::min(), "-2147483648"},
      {"a b = c, d"s, "a b = c, d"},
      {jpos, "0.1 0.2 0.3 0.4 0.5 0.6 0.7 1 2 3 4 5 6"},
      {coord8, "1 2 3 4 5 6 F O"},
      {coord15, "1 2 3 4 5 6 F O 0 0 0 0 0 0 1.5"},
      {coord21, "-1 0.5 1e-05 4 5 6 my frame O 1 2 3 4 5 6 7 0 0 0 0 0 0.25"},
      {std::vector<int>{1, -2, 3}, "1 -2 3"},
      {std::vector<double>{1.0, 0.5, 1234567}, "1 0.5 1.234567e+06"},
      {std::vector<std::string>{"a", "", "b"}, "a  b"},
      {std::vector<JPos>{JPos{}, jpos},
       "0 0 0 0 0 0 0 0 0 0 0 0 0 : 0.1 0.2 0.3 0.4 0.5 0.6 0.7 1 2 3 4 5 6"},
      {std::vector<Coord>{coord8, coord15}, "1 2 3 4 5 6 F O : 1 2 3 4 5 6 F O 0 0 0 0 0 0 1.5"},
      {std::vector<Coord>{}, ""}};
  for (const auto& c : cases) {
    EXPECT_EQ(ParamValueToString(c.value), c.text) << "alternative " << c.value.index();
  }
  // Reference external joints need reference arm joints.
  const Coord bad = MakeCoord({1, 2, 3}, "A", minus_zeros, {0, 0, 0, 0, 0, 1});
  EXPECT_TRUE(Throws<std::invalid_argument>([&] { CoordToString(bad); }, kCoordError));
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        ParamValueToString(ParamVariant(std::vector<Coord>{coord8, bad}));
      },
      kCoordError));
}

// A numpunct that writes "," as decimal point and groups thousands, as
// many national locales do.
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
  EXPECT_TRUE(SameValue(read, std::vector<double>{1234.5, 2.25}));
}

TEST(StringToParamValue, ChoosesTheAlternativeFromTheTokens) {
  const struct {
    const char* text;
    ParamVariant expected;
  } cases[] = {{"-5", -5},
               {"5.0", 5.0},
               {"5 6", std::vector<int>{5, 6}},
               {"5 6.5", std::vector<double>{5, 6.5}},
               {"abc", "abc"s},
               {"a b", std::vector<std::string>{"a", "b"}},
               {" \t\n ", std::vector<std::string>{}},
               {" 0.5", 0.5},  // the leading blank of a reply's value text
               {"  1\t2\n\n3  ", std::vector<int>{1, 2, 3}},
               {"-2147483648", std::numeric_limits<int>::min()},
               {"1e3", 1000.0},
               {"+7", 7.0},
               {"-.5", -0.5},
               {"1e-310", 1e-310},
               {"0x10", "0x10"s},
               {"inf", "inf"s},
               {"1,5", "1,5"s},
               {"1.2.3", "1.2.3"s},
               {"on off :", std::vector<std::string>{"on", "off", ":"}}};
  for (const auto& c : cases) {
    EXPECT_TRUE(SameValue(StringToParamValue(c.text), c.expected)) << "text \"" << c.text << "\"";
  }
  // Numbers that do not fit; every token is converted.
  for (const char* text : {"2147483648", "-2147483649", "abc 1 2147483648"}) {
    EXPECT_TRUE(Throws<std::out_of_range>([&] { StringToParamValue(text); }, "stoi")) << text;
  }
  EXPECT_TRUE(Throws<std::invalid_argument>([&] { StringToParamValue("1 - 2"); }, "stoi"));
  for (const char* text : {"1e400", "1e-400", "1 2.5 -1e999"}) {
    EXPECT_TRUE(Throws<std::out_of_range>([&] { StringToParamValue(text); }, "stod")) << text;
  }
}

// Six numbers, two names, thirteen numbers; and the Coord they describe.
std::string CoordText(int seed) {
  std::string text;
  for (int i = 0; i < 6; ++i) text += std::to_string(seed + i) + ".5 ";
  text += "WORLD WORLD_ORIGIN";
  for (int i = 0; i < 13; ++i) text += " " + std::to_string(i % 2 == 0 ? i : -i);
  return text;
}
Coord ExpectedCoord(int seed) {
  Coord coord{{seed + 0.5, seed + 1.5, seed + 2.5},
              {seed + 3.5, seed + 4.5, seed + 5.5},
              {"WORLD", "WORLD_ORIGIN"}};
  for (int i = 0; i < 13; ++i) (i < 7 ? coord.ref_q_m[i] : coord.ref_q_e[i - 7]) = i % 2 ? -i : i;
  return coord;
}

TEST(StringToParamValue, CoordinatesAndWhatReadsBack) {
  EXPECT_TRUE(SameValue(StringToParamValue(" " + CoordText(1) + "\n"), ExpectedCoord(1)));
  EXPECT_TRUE(SameValue(StringToParamValue(CoordText(0) + " " + CoordText(10)),
                        std::vector<Coord>{ExpectedCoord(0), ExpectedCoord(10)}));
  std::string seventh_is_number = CoordText(0);
  seventh_is_number.replace(seventh_is_number.find("WORLD "), 5, "42");
  const struct {
    std::string text;
    bool map_at;  // else not a multiple of 21 items
  } malformed[] = {
      {ParamValueToString(MakeCoord({1, 2, 3}, "A")), false},  // 8 items
      {CoordText(0) + " : " + CoordText(3), false},            // two joined by " : "
      {seventh_is_number, true},
      {"X" + CoordText(0).substr(3), true},  // the first is a name
  };
  for (const auto& c : malformed) {
    const auto call = [&] { StringToParamValue(c.text); };
    EXPECT_TRUE(c.map_at ? Throws<std::out_of_range>(call, "map::at")
                         : Throws<std::logic_error>(call, kNotMultiple))
        << c.text;
  }
  const struct {
    ParamVariant written, read;
  } round_trips[] = {{2.0, 2},  // an integral double reads back as an integer
                     {0.1234567, 0.1234567},
                     {JPos{}, std::vector<int>(13, 0)},
                     {ExpectedCoord(3), ExpectedCoord(3)},
                     {std::vector<Coord>{}, std::vector<std::string>{}}};
  for (const auto& c : round_trips) {
    EXPECT_TRUE(SameValue(StringToParamValue(ParamValueToString(c.written)), c.read))
        << ParamValueToString(c.written);
  }
}

TEST(ReplyEntries, SplitIntoNamesAndValues) {
  // The name ends at the one character before the first "="; the first of
  // equal names is kept, but every value is read.
  const ParamMap map = detail::EntriesToParamMap(
      {"speed = 0.5", "x = y = z", "ab=1", "my var = a b", "speed = 9", "empty ="}, "[p]");
  ASSERT_EQ(map.size(), 5u);
  EXPECT_TRUE(SameValue(map.at("speed"), 0.5));
  EXPECT_TRUE(SameValue(map.at("x"), std::vector<std::string>{"y", "=", "z"}));
  EXPECT_TRUE(SameValue(map.at("a"), 1));
  EXPECT_TRUE(SameValue(map.at("my var"), std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(SameValue(map.at("empty"), std::vector<std::string>{}));
  for (const char* entry : {"", "no separator", "= 1", " = 1", "a=1"}) {
    EXPECT_TRUE(Throws<std::runtime_error>(
        [&] {
          detail::EntriesToParamMap({"b = 2", entry}, "[p]");
        },
        "[p] Received a malformed entry from the robot: [" + std::string(entry) + "]"));
  }
  EXPECT_TRUE(Throws<std::out_of_range>(
      [] {
        detail::EntriesToParamMap({"a = 1", "a = 2147483648"}, "[p]");
      },
      "stoi"));
}

TEST(RequestTexts, NameOrderAndTenThousandBytesAtMost) {
  EXPECT_EQ(GlobalVariablesRequestText({{"b", "on"s}, {"a", 1}, {"c", std::vector<int>{}}}),
            "a = 1, b = on, c = ");
  EXPECT_EQ(PrimitiveCallText("Home", {}), "Home()");
  EXPECT_EQ(PrimitiveCallText("MoveL", {{"vel", 0.25}, {"target", MakeCoord({1, 2, 3}, "W")}}),
            "MoveL(target = 1 2 3 4 5 6 W O, vel = 0.25)");
  EXPECT_TRUE(Throws<std::length_error>([] { GlobalVariablesRequestText({}); },
                                        kSetGlobals + " Input map [global_vars] is empty"));
  const auto too_long = [](const std::string& prefix, const char* map_name, int length) {
    return prefix + " Input map [" + map_name + "] is too long to transmit (requires " +
           std::to_string(length) + "/10000 bytes of bandwidth)";
  };
  // "a = " + value; "P(a = " + value + ")"; counted in bytes.
  std::string two_byte;
  for (int i = 0; i < 4999; ++i) two_byte += "\xC3\xA9";
  EXPECT_EQ(GlobalVariablesRequestText({{"a", std::string(9996, 'x')}}).size(), 10000u);
  EXPECT_EQ(PrimitiveCallText("P", {{"a", std::string(9993, 'x')}}).size(), 10000u);
  const struct {
    std::function<void()> call;
    std::string text;
  } refused[] = {{[] {
                    GlobalVariablesRequestText({{"a", std::string(9997, 'x')}});
                  },
                  too_long(kSetGlobals, "global_vars", 10001)},
                 {[&] {
                    GlobalVariablesRequestText({{"a", two_byte}});
                  },
                  too_long(kSetGlobals, "global_vars", 10002)},
                 {[] {
                    PrimitiveCallText("P", {{"a", std::string(9994, 'x')}});
                  },
                  too_long(kPrimitive, "input_params", 10001)},
                 {[] { PrimitiveCallText(std::string(9999, 'P'), {}); },
                  too_long(kPrimitive, "input_params", 10001)}};
  for (const auto& r : refused) EXPECT_TRUE(Throws<std::length_error>(r.call, r.text));
}

// A '\0' would cut the text short on the wire, and a non-finite number has
// no text the robot reads: either is refused, in both request texts.
TEST(RequestTexts, NulAndNonFiniteValuesAreRefused) {
  const Coord frame_with_nul = MakeCoord({1, 2, 3}, "WOR\0LD"s);
  JPos jpos;
  jpos.q_e[5] = kNaN;
  const Coord ref_inf = MakeCoord({1, 2, 3}, "A", {1, 0, 0, 0, 0, 0, 0}, {0, 0, -kInf, 0, 0, 0});
  const struct {
    ParamVariant value;
    const char* what;
  } cases[] = {{"on\0off"s, "a null character"},
               {std::vector<std::string>{"a", "b\0"s}, "a null character"},
               {std::vector<Coord>{frame_with_nul}, "a null character"},
               {kInf, "a non-finite number"},
               {jpos, "a non-finite number"},
               {MakeCoord({1, kNaN, 3}, "A"), "a non-finite number"},
               {ref_inf, "a non-finite number"},
               {std::vector<double>{1.0, kNaN}, "a non-finite number"},
               {std::vector<JPos>{jpos}, "a non-finite number"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value.index());
    EXPECT_TRUE(Throws<std::invalid_argument>(
        [&] {
          GlobalVariablesRequestText({{"ok", 1}, {"var", c.value}});
        },
        kSetGlobals + " Value of [var] in input map [global_vars] contains " + c.what));
    EXPECT_TRUE(Throws<std::invalid_argument>(
        [&] {
          PrimitiveCallText("P", {{"var", c.value}});
        },
        kPrimitive + " Value of [var] in input map [input_params] contains " + c.what));
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
      kPrimitive + " Input parameter [primitive_name] contains a "
                   "null character"));

  // A variant left valueless by a failed assignment.
  struct ThrowsOnConversion {
    operator Coord() const { throw std::runtime_error("conversion failed"); }
  };
  ParamMap params;
  EXPECT_THROW(params["a"].emplace<Coord>(ThrowsOnConversion{}), std::runtime_error);
  ASSERT_TRUE(params["a"].valueless_by_exception());
  EXPECT_THROW(PrimitiveCallText("P", params), std::bad_variant_access);
  EXPECT_THROW(ParamValueToString(params["a"]), std::bad_variant_access);
}

}  // namespace
}  // namespace quiral::vek
