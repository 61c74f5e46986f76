#include "vek/param_values.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <locale>
#include <sstream>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "tests/vek/param_test_util.h"

namespace quiral::vek {
namespace {

using testing_util::MakeCoord;
using testing_util::SameValue;
using testing_util::ThrowsExactly;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const char kCoordError[] =
    "[quiral::vek::Coord] Struct member [ref_q_m] cannot be empty if [ref_q_e] has values";
const char kNotMultipleError[] =
    "[quiral::vek::Robot::ValuesToCoord] Number of elements is not a mutiple of kElementsPerCoord";

// ---------------------------------------------------------------- writing

TEST(ParamValueToString, NumberFormat) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {2.0, "2"},
      {1.0, "1"},
      {0.5, "0.5"},
      {0.1, "0.1"},
      {0.123456789, "0.123457"},
      {0.1234567, "0.123457"},
      {100000, "100000"},
      {999999, "999999"},
      {999999.5, "1e+06"},
      {1234567, "1.23457e+06"},
      {123456789.0, "1.23457e+08"},
      {0.0001, "0.0001"},
      {0.00001, "1e-05"},
      {-0.000012345, "-1.2345e-05"},
      {1e100, "1e+100"},
      {-1.5, "-1.5"},
      {0.0, "0"},
      {-0.0, "-0"},
      {kInf, "inf"},
      {-kInf, "-inf"},
      {kNaN, "nan"},
      {-kNaN, "nan"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParamValueToString(c.value), c.text) << c.text;
  }
}

TEST(ParamValueToString, IntegerFormat) {
  EXPECT_EQ(ParamValueToString(0), "0");
  EXPECT_EQ(ParamValueToString(5), "5");
  EXPECT_EQ(ParamValueToString(-5), "-5");
  EXPECT_EQ(ParamValueToString(std::numeric_limits<int>::max()), "2147483647");
  EXPECT_EQ(ParamValueToString(std::numeric_limits<int>::min()), "-2147483648");
}

TEST(CoordToString, ReferenceJointsDecideTheItemCount) {
  const Coord none = MakeCoord({1, 2, 3}, {0.1, 0.2, 0.3}, "WORLD", "WORLD_ORIGIN");
  EXPECT_EQ(CoordToString(none), "1 2 3 0.1 0.2 0.3 WORLD WORLD_ORIGIN");

  const Coord q_m_only =
      MakeCoord({1, 2, 3}, {0, 0, 0}, "TRAJ", "START", {0, 0, 0, 0, 0, 0, 1.5});
  EXPECT_EQ(CoordToString(q_m_only), "1 2 3 0 0 0 TRAJ START 0 0 0 0 0 0 1.5");

  const Coord both = MakeCoord({-1, 0.5, 1e-05}, {180, -90, 0}, "WORLD", "WORLD_ORIGIN",
                               {10, 20, 30, 40, 50, 60, 70}, {0, 0, 0, 0, 0, 0.25});
  EXPECT_EQ(CoordToString(both),
            "-1 0.5 1e-05 180 -90 0 WORLD WORLD_ORIGIN 10 20 30 40 50 60 70 0 0 0 0 0 0.25");

  // Negative zeros count as zero.
  const Coord negative_zero = MakeCoord({0, 0, 0}, {0, 0, 0}, "A", "B",
                                        {-0.0, -0.0, -0.0, -0.0, -0.0, -0.0, -0.0},
                                        {-0.0, -0.0, -0.0, -0.0, -0.0, -0.0});
  EXPECT_EQ(CoordToString(negative_zero), "0 0 0 0 0 0 A B");

  // Frame texts are written unchanged, blanks included; empty ones still
  // take their place.
  const Coord odd_frames = MakeCoord({1, 1, 1}, {2, 2, 2}, "my frame", "");
  EXPECT_EQ(CoordToString(odd_frames), "1 1 1 2 2 2 my frame ");
}

TEST(CoordToString, RefQeWithoutRefQmIsRefused) {
  const Coord bad = MakeCoord({1, 2, 3}, {0, 0, 0}, "A", "B", {}, {0, 0, 0, 0, 0, 1});
  EXPECT_TRUE(ThrowsExactly<std::invalid_argument>([&] { CoordToString(bad); }, kCoordError));
  EXPECT_TRUE(ThrowsExactly<std::invalid_argument>(
      [&] { ParamValueToString(ParamVariant(bad)); }, kCoordError));
  const Coord good = MakeCoord({1, 2, 3}, {0, 0, 0}, "A", "B", {0, 0, 0, 0, 0, 0, 1});
  EXPECT_TRUE(ThrowsExactly<std::invalid_argument>(
      [&] { ParamValueToString(ParamVariant(std::vector<Coord>{good, bad})); }, kCoordError));
  const Coord negative_zero_q_m =
      MakeCoord({1, 2, 3}, {0, 0, 0}, "A", "B", {-0.0, 0, 0, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 0});
  EXPECT_TRUE(
      ThrowsExactly<std::invalid_argument>([&] { CoordToString(negative_zero_q_m); }, kCoordError));
}

TEST(ParamValueToString, EveryAlternative) {
  JPos jpos;
  jpos.q_m = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7};
  jpos.q_e = {1, 2, 3, 4, 5, 6};
  JPos zeros;
  const Coord coord = MakeCoord({1, 2, 3}, {4, 5, 6}, "F", "G");
  const Coord coord15 = MakeCoord({1, 2, 3}, {4, 5, 6}, "F", "G", {1, 0, 0, 0, 0, 0, 0});

  const struct {
    ParamVariant value;
    const char* text;
  } cases[] = {
      {ParamVariant(42), "42"},
      {ParamVariant(-7), "-7"},
      {ParamVariant(2.0), "2"},
      {ParamVariant(0.25), "0.25"},
      {ParamVariant(std::string("hello")), "hello"},
      {ParamVariant(std::string("")), ""},
      {ParamVariant(std::string("a b = c, d")), "a b = c, d"},
      {ParamVariant(jpos), "0.1 0.2 0.3 0.4 0.5 0.6 0.7 1 2 3 4 5 6"},
      {ParamVariant(zeros), "0 0 0 0 0 0 0 0 0 0 0 0 0"},
      {ParamVariant(coord), "1 2 3 4 5 6 F G"},
      {ParamVariant(std::vector<int>{1, -2, 3}), "1 -2 3"},
      {ParamVariant(std::vector<int>{}), ""},
      {ParamVariant(std::vector<double>{1.0, 0.5, 1234567}), "1 0.5 1.23457e+06"},
      {ParamVariant(std::vector<double>{}), ""},
      {ParamVariant(std::vector<std::string>{"a", "", "b"}), "a  b"},
      {ParamVariant(std::vector<std::string>{"only"}), "only"},
      {ParamVariant(std::vector<std::string>{}), ""},
      {ParamVariant(std::vector<JPos>{zeros, jpos}),
       "0 0 0 0 0 0 0 0 0 0 0 0 0 : 0.1 0.2 0.3 0.4 0.5 0.6 0.7 1 2 3 4 5 6"},
      {ParamVariant(std::vector<JPos>{}), ""},
      {ParamVariant(std::vector<Coord>{coord, coord15}),
       "1 2 3 4 5 6 F G : 1 2 3 4 5 6 F G 1 0 0 0 0 0 0"},
      {ParamVariant(std::vector<Coord>{coord}), "1 2 3 4 5 6 F G"},
      {ParamVariant(std::vector<Coord>{}), ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParamValueToString(c.value), c.text) << "alternative " << c.value.index();
  }
  // The per-alternative overloads give the same texts as the variant.
  EXPECT_EQ(ParamValueToString(jpos), ParamValueToString(ParamVariant(jpos)));
  EXPECT_EQ(ParamValueToString(coord15), CoordToString(coord15));
  EXPECT_EQ(ParamValueToString(std::vector<double>{0.1}), "0.1");
}

struct ThrowsOnConversion {
  operator Coord() const { throw std::runtime_error("conversion failed"); }
};

TEST(ParamValueToString, ValuelessVariantIsBadVariantAccess) {
  ParamVariant value(std::string("x"));
  EXPECT_THROW(value.emplace<Coord>(ThrowsOnConversion{}), std::runtime_error);
  ASSERT_TRUE(value.valueless_by_exception());
  EXPECT_THROW(ParamValueToString(value), std::bad_variant_access);
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
  const ParamVariant read = StringToParamValue(" 0.5");
  const ParamVariant read_many = StringToParamValue("1234.5 2.25");
  std::locale::global(previous);

  EXPECT_EQ(localised, "1.234,5");  // the locale is in effect for streams
  EXPECT_EQ(written, "1234.5 100000 0.5");
  EXPECT_TRUE(SameValue(read, 0.5));
  EXPECT_TRUE(SameValue(read_many, std::vector<double>{1234.5, 2.25}));
}

// ---------------------------------------------------------------- reading

TEST(StringToParamValue, ChoosesTheAlternativeFromTheTokens) {
  const struct {
    const char* text;
    ParamVariant expected;
  } cases[] = {
      {"5", ParamVariant(5)},
      {"-5", ParamVariant(-5)},
      {"5.0", ParamVariant(5.0)},
      {"5 6", ParamVariant(std::vector<int>{5, 6})},
      {"5 6.5", ParamVariant(std::vector<double>{5, 6.5})},
      {"abc", ParamVariant(std::string("abc"))},
      {"a b", ParamVariant(std::vector<std::string>{"a", "b"})},
      {"", ParamVariant(std::vector<std::string>{})},
      {" \t\n ", ParamVariant(std::vector<std::string>{})},
      // leading blank of a reply's value text, runs of white space
      {" 0.5", ParamVariant(0.5)},
      {"  1\t2\n\n3  ", ParamVariant(std::vector<int>{1, 2, 3})},
      {"1.5 2 -3", ParamVariant(std::vector<double>{1.5, 2, -3})},
      {"-0", ParamVariant(0)},
      {"007", ParamVariant(7)},
      {"2147483647", ParamVariant(2147483647)},
      {"-2147483648", ParamVariant(std::numeric_limits<int>::min())},
      // doubles as a stream reads them
      {"1e3", ParamVariant(1000.0)},
      {"+7", ParamVariant(7.0)},
      {".5", ParamVariant(0.5)},
      {"-.5", ParamVariant(-0.5)},
      {"5.", ParamVariant(5.0)},
      {"1.e2", ParamVariant(100.0)},
      {"2.5E-3", ParamVariant(0.0025)},
      {"1e-310", ParamVariant(1e-310)},
      // not numbers
      {"0x10", ParamVariant(std::string("0x10"))},
      {"inf", ParamVariant(std::string("inf"))},
      {"-inf", ParamVariant(std::string("-inf"))},
      {"nan", ParamVariant(std::string("nan"))},
      {"1,5", ParamVariant(std::string("1,5"))},
      {"1e", ParamVariant(std::string("1e"))},
      {".", ParamVariant(std::string("."))},
      {"+", ParamVariant(std::string("+"))},
      {"--1", ParamVariant(std::string("--1"))},
      {"1.2.3", ParamVariant(std::string("1.2.3"))},
      {":", ParamVariant(std::string(":"))},
      {"on off :", ParamVariant(std::vector<std::string>{"on", "off", ":"})},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(SameValue(StringToParamValue(c.text), c.expected)) << "text \"" << c.text << "\"";
  }
}

TEST(StringToParamValue, NumberErrors) {
  const struct {
    const char* text;
    bool out_of_range;  // else invalid_argument
    const char* message;
  } cases[] = {
      {"2147483648", true, "stoi"},
      {"-2147483649", true, "stoi"},
      {"99999999999999999999999", true, "stoi"},
      {"1 2 2147483648", true, "stoi"},
      {"abc 2147483648", true, "stoi"},  // every token is converted
      {"-", false, "stoi"},
      {"1 - 2", false, "stoi"},
      {"1e400", true, "stod"},
      {"-1e400", true, "stod"},
      {"1e-400", true, "stod"},
      {"1 2.5 1e999", true, "stod"},
  };
  for (const auto& c : cases) {
    const auto call = [&] { StringToParamValue(c.text); };
    if (c.out_of_range) {
      EXPECT_TRUE(ThrowsExactly<std::out_of_range>(call, c.message)) << c.text;
    } else {
      EXPECT_TRUE(ThrowsExactly<std::invalid_argument>(call, c.message)) << c.text;
    }
  }
}

// Six numbers, two names, thirteen numbers.
std::string CoordText(int seed) {
  std::string text;
  for (int i = 0; i < 6; ++i) text += std::to_string(seed + i) + ".5 ";
  text += "WORLD WORLD_ORIGIN";
  for (int i = 0; i < 13; ++i) text += " " + std::to_string(i % 2 == 0 ? i : -i);
  return text;
}

Coord ExpectedCoord(int seed) {
  Coord coord;
  for (int i = 0; i < 3; ++i) coord.position[i] = seed + i + 0.5;
  for (int i = 0; i < 3; ++i) coord.orientation[i] = seed + 3 + i + 0.5;
  coord.ref_frame = {"WORLD", "WORLD_ORIGIN"};
  for (int i = 0; i < 7; ++i) coord.ref_q_m[i] = i % 2 == 0 ? i : -i;
  for (int i = 7; i < 13; ++i) coord.ref_q_e[i - 7] = i % 2 == 0 ? i : -i;
  return coord;
}

TEST(StringToParamValue, Coordinates) {
  EXPECT_TRUE(SameValue(StringToParamValue(CoordText(0)), ExpectedCoord(0)));
  EXPECT_TRUE(SameValue(StringToParamValue(" " + CoordText(1) + "\n"), ExpectedCoord(1)));
  EXPECT_TRUE(SameValue(StringToParamValue(CoordText(0) + " " + CoordText(10)),
                        std::vector<Coord>{ExpectedCoord(0), ExpectedCoord(10)}));

  // A parsed coordinate is not checked for its reference joints.
  const std::string q_e_only = "1 2 3 4 5 6 A B 0 0 0 0 0 0 0 1 2 3 4 5 6";
  const ParamVariant parsed = StringToParamValue(q_e_only);
  ASSERT_EQ(parsed.index(), 4u);
  EXPECT_EQ(std::get<Coord>(parsed).ref_q_e[5], 6.0);
}

TEST(StringToParamValue, MalformedCoordinates) {
  const std::string one = CoordText(0);
  std::string seventh_is_number = one;
  seventh_is_number.replace(seventh_is_number.find("WORLD "), 5, "42");
  std::string first_is_name = one;
  first_is_name.replace(0, 3, "X");

  const struct {
    std::string text;
    bool map_at;  // else not a multiple of 21
  } cases[] = {
      {"1 2 3 4 5 6 A B", false},          // a Coord without reference joints
      {one + " : " + CoordText(3), false},  // two joined by " : "
      {one + " extra", false},
      {"a 1", false},
      {seventh_is_number, true},
      {first_is_name, true},
      {one + " " + first_is_name, true},
      {"1 2 3 4 5 6 A B C 0 0 0 0 0 0 0 0 0 0 0 0", true},  // a name among ref_q_m
  };
  for (const auto& c : cases) {
    const auto call = [&] { StringToParamValue(c.text); };
    if (c.map_at) {
      EXPECT_TRUE(ThrowsExactly<std::out_of_range>(call, "map::at")) << c.text;
    } else {
      EXPECT_TRUE(ThrowsExactly<std::logic_error>(call, kNotMultipleError)) << c.text;
    }
  }
}

// ------------------------------------------------------------ both ways

TEST(ParamValueText, WrittenTextReadBack) {
  // A double with an integral value reads back as an integer.
  EXPECT_TRUE(SameValue(StringToParamValue(ParamValueToString(2.0)), 2));
  // Six significant digits survive.
  EXPECT_TRUE(SameValue(StringToParamValue(ParamValueToString(0.1234567)), 0.123457));
  EXPECT_TRUE(SameValue(StringToParamValue(ParamValueToString(1234567.0)), 1.23457e+06));
  EXPECT_TRUE(SameValue(StringToParamValue(ParamValueToString(-7)), -7));
  // A JPos of zeros reads back as thirteen integers.
  EXPECT_TRUE(SameValue(StringToParamValue(ParamValueToString(JPos{})),
                        std::vector<int>(13, 0)));
  EXPECT_TRUE(SameValue(StringToParamValue(ParamValueToString(std::vector<double>{0.5, 1.5})),
                        std::vector<double>{0.5, 1.5}));
  EXPECT_TRUE(
      SameValue(StringToParamValue(ParamValueToString(std::vector<std::string>{"x", "y"})),
                std::vector<std::string>{"x", "y"}));

  // A Coord with all three parts reads back unchanged.
  const Coord full = MakeCoord({0.5, -1, 2}, {90, 0, -45.5}, "WORLD", "WORLD_ORIGIN",
                               {1, 2, 3, 4, 5, 6, 7.25}, {0.5, 0, 0, 0, 0, 1});
  EXPECT_TRUE(SameValue(StringToParamValue(CoordToString(full)), full));

  // Without reference joints a Coord has 8 items and cannot be read back.
  const Coord short_coord = MakeCoord({1, 2, 3}, {4, 5, 6}, "A", "B");
  EXPECT_TRUE(ThrowsExactly<std::logic_error>(
      [&] { StringToParamValue(CoordToString(short_coord)); }, kNotMultipleError));

  // Two full Coords joined by " : " are 43 tokens.
  EXPECT_TRUE(ThrowsExactly<std::logic_error>(
      [&] { StringToParamValue(ParamValueToString(std::vector<Coord>{full, full})); },
      kNotMultipleError));

  // Empty vectors of any kind read back as an empty vector of strings.
  EXPECT_TRUE(SameValue(StringToParamValue(ParamValueToString(std::vector<Coord>{})),
                        std::vector<std::string>{}));
  EXPECT_TRUE(SameValue(StringToParamValue(ParamValueToString(std::vector<int>{})),
                        std::vector<std::string>{}));
}

}  // namespace
}  // namespace quiral::vek
