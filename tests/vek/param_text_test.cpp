// The text form of parameter values both ways, the entries of replies and
// the texts of requests, and the name tables: no controller involved.
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
using detail::EntriesToParamMap;
using detail::GlobalVariablesRequestText;
using detail::PrimitiveCallText;
using detail::SplitEntryText;
using testing_util::SameValue;
using testing_util::Throws;
using ParamMap = std::map<std::string, ParamVariant>;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const char kGlobalVariables[] = "[quiral::vek::Robot::global_variables]";
const char kSetGlobalVariables[] = "[quiral::vek::Robot::SetGlobalVariables]";
const char kExecutePrimitive[] = "[quiral::vek::Robot::ExecutePrimitive]";
const char kCoordError[] =
    "[quiral::vek::Coord] Struct member [ref_q_m] cannot be empty if [ref_q_e] has values";
const char kNotMultiple[] =
    "[quiral::vek::Robot::ValuesToCoord] Number of elements is not a mutiple of kElementsPerCoord";

Coord MakeCoord(std::array<double, 3> position, std::array<double, 3> orientation,
                std::string frame0, std::string frame1, std::array<double, 7> ref_q_m = {},
                std::array<double, 6> ref_q_e = {}) {
  return Coord{position, orientation, {std::move(frame0), std::move(frame1)}, ref_q_m, ref_q_e};
}

TEST(ParamValueToString, NumbersAndEveryAlternative) {
  const struct {
    double value;
    const char* text;
  } numbers[] = {{2.0, "2"},         {0.1, "0.1"},        {0.123456789, "0.123457"},
                 {999999, "999999"}, {999999.5, "1e+06"}, {1234567, "1.23457e+06"},
                 {0.0001, "0.0001"}, {0.00001, "1e-05"},  {-0.000012345, "-1.2345e-05"},
                 {1e100, "1e+100"},  {-0.0, "-0"},        {kInf, "inf"},
                 {-kInf, "-inf"},    {-kNaN, "nan"}};
  for (const auto& c : numbers) EXPECT_EQ(ParamValueToString(c.value), c.text) << c.text;
  EXPECT_EQ(ParamValueToString(std::numeric_limits<int>::min()), "-2147483648");

  JPos jpos;
  jpos.q_m = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7};
  jpos.q_e = {1, 2, 3, 4, 5, 6};
  const Coord coord = MakeCoord({1, 2, 3}, {4, 5, 6}, "F", "G");
  const Coord coord15 = MakeCoord({1, 2, 3}, {4, 5, 6}, "F", "G", {1, 0, 0, 0, 0, 0, 0});
  const struct {
    ParamVariant value;
    const char* text;
  } cases[] = {
      {-7, "-7"},
      {0.25, "0.25"},
      {"a b = c, d"s, "a b = c, d"},
      {jpos, "0.1 0.2 0.3 0.4 0.5 0.6 0.7 1 2 3 4 5 6"},
      {JPos{}, "0 0 0 0 0 0 0 0 0 0 0 0 0"},
      {coord, "1 2 3 4 5 6 F G"},
      {std::vector<int>{1, -2, 3}, "1 -2 3"},
      {std::vector<double>{1.0, 0.5, 1234567}, "1 0.5 1.23457e+06"},
      {std::vector<std::string>{"a", "", "b"}, "a  b"},
      {std::vector<JPos>{JPos{}, jpos},
       "0 0 0 0 0 0 0 0 0 0 0 0 0 : 0.1 0.2 0.3 0.4 0.5 0.6 0.7 1 2 3 4 5 6"},
      {std::vector<Coord>{coord, coord15}, "1 2 3 4 5 6 F G : 1 2 3 4 5 6 F G 1 0 0 0 0 0 0"},
      {std::vector<Coord>{}, ""}};
  for (const auto& c : cases) {
    EXPECT_EQ(ParamValueToString(c.value), c.text) << "alternative " << c.value.index();
  }
}

TEST(CoordToString, ReferenceJointsDecideTheItemCount) {
  EXPECT_EQ(CoordToString(MakeCoord({1, 2, 3}, {0.1, 0.2, 0.3}, "WORLD", "WORLD_ORIGIN")),
            "1 2 3 0.1 0.2 0.3 WORLD WORLD_ORIGIN");
  EXPECT_EQ(
      CoordToString(MakeCoord({1, 2, 3}, {0, 0, 0}, "TRAJ", "START", {0, 0, 0, 0, 0, 0, 1.5})),
      "1 2 3 0 0 0 TRAJ START 0 0 0 0 0 0 1.5");
  EXPECT_EQ(CoordToString(MakeCoord({-1, 0.5, 1e-05}, {180, -90, 0}, "W", "O",
                                    {10, 20, 30, 40, 50, 60, 70}, {0, 0, 0, 0, 0, 0.25})),
            "-1 0.5 1e-05 180 -90 0 W O 10 20 30 40 50 60 70 0 0 0 0 0 0.25");
  // Negative zeros count as zero; frame texts are written unchanged.
  const std::array<double, 7> minus_zeros = {-0.0, -0.0, -0.0, -0.0, -0.0, -0.0, -0.0};
  EXPECT_EQ(CoordToString(MakeCoord({0, 0, 0}, {0, 0, 0}, "my frame", "", minus_zeros)),
            "0 0 0 0 0 0 my frame ");
  // Reference external joints need reference arm joints.
  const Coord bad = MakeCoord({1, 2, 3}, {0, 0, 0}, "A", "B", minus_zeros, {0, 0, 0, 0, 0, 1});
  EXPECT_TRUE(Throws<std::invalid_argument>([&] { CoordToString(bad); }, kCoordError));
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        ParamValueToString(ParamVariant(std::vector<Coord>{MakeCoord({}, {}, "", ""), bad}));
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
               // The leading blank of a reply's value text, runs of white space.
               {" 0.5", 0.5},
               {"  1\t2\n\n3  ", std::vector<int>{1, 2, 3}},
               {"-0", 0},
               {"007", 7},
               {"-2147483648", std::numeric_limits<int>::min()},
               // Doubles as a stream reads them.
               {"1e3", 1000.0},
               {"+7", 7.0},
               {"-.5", -0.5},
               {"5.", 5.0},
               {"1e-310", 1e-310},
               // Not numbers.
               {"0x10", "0x10"s},
               {"inf", "inf"s},
               {"nan", "nan"s},
               {"1,5", "1,5"s},
               {"1e", "1e"s},
               {"--1", "--1"s},
               {"1.2.3", "1.2.3"s},
               {"on off :", std::vector<std::string>{"on", "off", ":"}}};
  for (const auto& c : cases) {
    EXPECT_TRUE(SameValue(StringToParamValue(c.text), c.expected)) << "text \"" << c.text << "\"";
  }
  // Numbers that do not fit; every token is converted.
  for (const char* text : {"2147483648", "-2147483649", "1 2 2147483648", "abc 2147483648"}) {
    EXPECT_TRUE(Throws<std::out_of_range>([&] { StringToParamValue(text); }, "stoi")) << text;
  }
  for (const char* text : {"-", "1 - 2"}) {
    EXPECT_TRUE(Throws<std::invalid_argument>([&] { StringToParamValue(text); }, "stoi")) << text;
  }
  for (const char* text : {"1e400", "-1e400", "1e-400", "1 2.5 1e999"}) {
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
  Coord coord = MakeCoord({seed + 0.5, seed + 1.5, seed + 2.5},
                          {seed + 3.5, seed + 4.5, seed + 5.5}, "WORLD", "WORLD_ORIGIN");
  for (int i = 0; i < 13; ++i) (i < 7 ? coord.ref_q_m[i] : coord.ref_q_e[i - 7]) = i % 2 ? -i : i;
  return coord;
}

TEST(StringToParamValue, Coordinates) {
  EXPECT_TRUE(SameValue(StringToParamValue(" " + CoordText(1) + "\n"), ExpectedCoord(1)));
  EXPECT_TRUE(SameValue(StringToParamValue(CoordText(0) + " " + CoordText(10)),
                        std::vector<Coord>{ExpectedCoord(0), ExpectedCoord(10)}));
  // A parsed coordinate is not checked for its reference joints.
  const ParamVariant parsed = StringToParamValue("1 2 3 4 5 6 A B 0 0 0 0 0 0 0 1 2 3 4 5 6");
  ASSERT_EQ(parsed.index(), 4u);
  EXPECT_EQ(std::get<Coord>(parsed).ref_q_e[5], 6.0);

  const std::string one = CoordText(0);
  std::string seventh_is_number = one;
  seventh_is_number.replace(seventh_is_number.find("WORLD "), 5, "42");
  const std::string first_is_name = "X" + one.substr(3);
  const struct {
    std::string text;
    bool map_at;  // else not a multiple of 21 items
  } malformed[] = {
      {"1 2 3 4 5 6 A B", false},           // a Coord as written without reference joints
      {one + " : " + CoordText(3), false},  // two joined by " : "
      {one + " extra", false},
      {seventh_is_number, true},
      {first_is_name, true},
      {"1 2 3 4 5 6 A B C 0 0 0 0 0 0 0 0 0 0 0 0", true},  // a name among ref_q_m
  };
  for (const auto& c : malformed) {
    const auto call = [&] { StringToParamValue(c.text); };
    EXPECT_TRUE(c.map_at ? Throws<std::out_of_range>(call, "map::at")
                         : Throws<std::logic_error>(call, kNotMultiple))
        << c.text;
  }
}

TEST(ParamValueText, WrittenTextReadBack) {
  const struct {
    ParamVariant written, read;
  } cases[] = {{2.0, 2},  // an integral double reads back as an integer
               {0.1234567, 0.123457},
               {JPos{}, std::vector<int>(13, 0)},
               {std::vector<double>{0.5, 1.5}, std::vector<double>{0.5, 1.5}},
               {std::vector<std::string>{"x", "y"}, std::vector<std::string>{"x", "y"}},
               {ExpectedCoord(3), ExpectedCoord(3)},
               {std::vector<int>{}, std::vector<std::string>{}}};
  for (const auto& c : cases) {
    EXPECT_TRUE(SameValue(StringToParamValue(ParamValueToString(c.written)), c.read))
        << ParamValueToString(c.written);
  }
  // Without reference joints a Coord has 8 items; two full ones joined by
  // " : " are 43: neither reads back.
  for (const ParamVariant& value :
       {ParamVariant(MakeCoord({1, 2, 3}, {4, 5, 6}, "A", "B")),
        ParamVariant(std::vector<Coord>{ExpectedCoord(0), ExpectedCoord(0)})}) {
    EXPECT_TRUE(Throws<std::logic_error>([&] { StringToParamValue(ParamValueToString(value)); },
                                         kNotMultiple));
  }
}

TEST(ReplyEntries, SplitIntoNameAndValue) {
  const struct {
    const char *entry, *name, *value_text;
  } splits[] = {{"speed = 0.5", "speed", " 0.5"},
                {"name =", "name", ""},
                {"x = y = z", "x", " y = z"},
                {"ab=1", "a", "1"},  // the one character before "=" is the separator
                {"my var = a b", "my var", " a b"}};
  for (const auto& c : splits) {
    const detail::EntryText split = SplitEntryText(c.entry, kGlobalVariables);
    EXPECT_EQ(split.name + "|" + split.value_text, std::string(c.name) + "|" + c.value_text);
  }
  for (const char* entry : {"", "no separator", "= 1", " = 1", "a=1"}) {
    EXPECT_TRUE(Throws<std::runtime_error>(
        [&] { SplitEntryText(entry, "[quiral::vek::Robot::primitive_states]"); },
        "[quiral::vek::Robot::primitive_states] Received a malformed entry from the robot: [" +
            std::string(entry) + "]"));
  }

  // The first of equal names is kept, but every value is read.
  const ParamMap map = EntriesToParamMap(
      {"speed = 0.5", "count = 3", "speed = 9", "joints = 1 2 3", "empty = "}, kGlobalVariables);
  ASSERT_EQ(map.size(), 4u);
  EXPECT_TRUE(SameValue(map.at("speed"), 0.5));
  EXPECT_TRUE(SameValue(map.at("joints"), std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(SameValue(map.at("empty"), std::vector<std::string>{}));
  EXPECT_TRUE(Throws<std::out_of_range>(
      [] {
        EntriesToParamMap({"a = 1", "a = 2147483648"}, kGlobalVariables);
      },
      "stoi"));
  EXPECT_TRUE(Throws<std::runtime_error>(
      [] {
        EntriesToParamMap({"a = 1", "broken"}, kGlobalVariables);
      },
      std::string(kGlobalVariables) + " Received a malformed entry from the robot: [broken]"));
}

TEST(RequestTexts, NameOrderAndEveryAlternative) {
  JPos jpos;
  jpos.q_m = {1, 2, 3, 4, 5, 6, 7};
  const Coord coord = MakeCoord({1, 2, 3}, {4, 5, 6}, "W", "O");
  EXPECT_EQ(GlobalVariablesRequestText({{"b", "on"s}, {"a", 1}, {"c", std::vector<int>{}}}),
            "a = 1, b = on, c = ");
  EXPECT_EQ(GlobalVariablesRequestText({{"j", std::vector<JPos>{JPos{}, jpos}}, {"c", coord}}),
            "c = 1 2 3 4 5 6 W O, j = 0 0 0 0 0 0 0 0 0 0 0 0 0 : 1 2 3 4 5 6 7 0 0 0 0 0 0");
  EXPECT_EQ(PrimitiveCallText("Home", {}), "Home()");
  EXPECT_EQ(PrimitiveCallText("MoveL", {{"vel", 0.25}, {"target", coord}, {"n", 3}}),
            "MoveL(n = 3, target = 1 2 3 4 5 6 W O, vel = 0.25)");
  // Extreme finite values still travel.
  EXPECT_EQ(GlobalVariablesRequestText({{"x", std::numeric_limits<double>::max()}}),
            "x = 1.79769e+308");
  EXPECT_TRUE(Throws<std::length_error>(
      [] { GlobalVariablesRequestText({}); },
      std::string(kSetGlobalVariables) + " Input map [global_vars] is empty"));
}

TEST(RequestTexts, TenThousandBytesAtMost) {
  const auto too_long = [](const char* prefix, const char* map_name, std::size_t length) {
    return std::string(prefix) + " Input map [" + map_name +
           "] is too long to transmit (requires " + std::to_string(length) +
           "/10000 bytes of bandwidth)";
  };
  // "a = " + value: 4 characters more than the value.
  EXPECT_EQ(GlobalVariablesRequestText({{"a", std::string(9996, 'x')}}).size(), 10000u);
  EXPECT_TRUE(Throws<std::length_error>(
      [] {
        GlobalVariablesRequestText({{"a", std::string(9997, 'x')}});
      },
      too_long(kSetGlobalVariables, "global_vars", 10001)));
  // Counted in bytes: 4999 two-byte characters and "a = ".
  std::string two_byte;
  for (int i = 0; i < 4999; ++i) two_byte += "\xC3\xA9";
  EXPECT_TRUE(Throws<std::length_error>(
      [&] {
        GlobalVariablesRequestText({{"a", two_byte}});
      },
      too_long(kSetGlobalVariables, "global_vars", 10002)));
  // "P(a = " + value + ")": 7 characters more than the value; the name
  // counts too.
  EXPECT_EQ(PrimitiveCallText("P", {{"a", std::string(9993, 'x')}}).size(), 10000u);
  EXPECT_TRUE(Throws<std::length_error>(
      [] {
        PrimitiveCallText("P", {{"a", std::string(9994, 'x')}});
      },
      too_long(kExecutePrimitive, "input_params", 10001)));
  EXPECT_TRUE(Throws<std::length_error>([] { PrimitiveCallText(std::string(9999, 'P'), {}); },
                                        too_long(kExecutePrimitive, "input_params", 10001)));
}

TEST(RequestTexts, NulNonFiniteAndUnwritableValuesAreRefused) {
  const Coord frame_with_nul = MakeCoord({1, 2, 3}, {4, 5, 6}, "WOR\0LD"s, "B");
  for (const ParamVariant& value :
       {ParamVariant("on\0off"s), ParamVariant(std::vector<std::string>{"a", "b\0"s}),
        ParamVariant(frame_with_nul), ParamVariant(std::vector<Coord>{frame_with_nul})}) {
    EXPECT_TRUE(Throws<std::invalid_argument>(
        [&] {
          GlobalVariablesRequestText({{"ok", 1}, {"var", value}});
        },
        std::string(kSetGlobalVariables) +
            " Value of [var] in input map [global_vars] contains a null character"));
    EXPECT_TRUE(Throws<std::invalid_argument>(
        [&] {
          PrimitiveCallText("P", {{"var", value}});
        },
        std::string(kExecutePrimitive) +
            " Value of [var] in input map [input_params] contains a null character"));
  }
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [] {
        GlobalVariablesRequestText({{"v\0ar"s, 1}});
      },
      std::string(kSetGlobalVariables) +
          " Input map [global_vars] contains a name with a null character"));
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [] {
        PrimitiveCallText("Mo\0ve"s, {{"a", 1}});
      },
      std::string(kExecutePrimitive) +
          " Input parameter [primitive_name] contains a null character"));

  JPos jpos;
  jpos.q_e[5] = kNaN;
  const Coord coord_ref =
      MakeCoord({1, 2, 3}, {4, 5, 6}, "A", "B", {1, 0, 0, 0, 0, 0, 0}, {0, 0, -kInf, 0, 0, 0});
  for (const ParamVariant& value :
       {ParamVariant(kInf), ParamVariant(kNaN), ParamVariant(jpos),
        ParamVariant(MakeCoord({1, kInf, 3}, {4, 5, 6}, "A", "B")), ParamVariant(coord_ref),
        ParamVariant(std::vector<double>{1.0, kNaN}), ParamVariant(std::vector<JPos>{jpos})}) {
    EXPECT_TRUE(Throws<std::invalid_argument>(
        [&] {
          GlobalVariablesRequestText({{"x", value}});
        },
        std::string(kSetGlobalVariables) +
            " Value of [x] in input map [global_vars] contains a non-finite number"))
        << value.index();
    EXPECT_TRUE(Throws<std::invalid_argument>(
        [&] {
          PrimitiveCallText("P", {{"x", value}});
        },
        std::string(kExecutePrimitive) +
            " Value of [x] in input map [input_params] contains a non-finite number"))
        << value.index();
  }
  const Coord no_ref_q_m = MakeCoord({1, 2, 3}, {0, 0, 0}, "A", "B", {}, {1, 0, 0, 0, 0, 0});
  EXPECT_TRUE(Throws<std::invalid_argument>(
      [&] {
        PrimitiveCallText("P", {{"c", std::vector<Coord>{no_ref_q_m}}});
      },
      kCoordError));

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

TEST(NameTables, ModeNamesFollowBothEnumerations) {
  ASSERT_EQ(kModeNames.size(), 13u);
  EXPECT_EQ(kModeNames[static_cast<int>(Mode::AUTO_RECOVERY)], "AUTO_RECOVERY");
  for (std::size_t i = 0; i < kModeNamesWithoutRecovery.size(); ++i) {
    EXPECT_EQ(kModeNamesWithoutRecovery[i], kModeNames[i]);
  }
  // The link's mode enumeration carries the same values.
  EXPECT_EQ(static_cast<int>(qor::ExtCtrlMode::AUTO_RECOVERY),
            static_cast<int>(Mode::AUTO_RECOVERY));
}

}  // namespace
}  // namespace quiral::vek
