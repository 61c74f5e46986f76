#include "vek/param_text.h"

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/vek/param_test_util.h"
#include "vek/param_values.h"

namespace quiral::vek::detail {
namespace {

using testing_util::MakeCoord;
using testing_util::SameValue;
using testing_util::ThrowsExactly;
using ParamMap = std::map<std::string, ParamVariant>;

const char kGlobalVariables[] = "[quiral::vek::Robot::global_variables]";
const char kPrimitiveStates[] = "[quiral::vek::Robot::primitive_states]";
const char kSetGlobalVariables[] = "[quiral::vek::Robot::SetGlobalVariables]";
const char kExecutePrimitive[] = "[quiral::vek::Robot::ExecutePrimitive]";

// ------------------------------------------------------------ replies

TEST(SplitEntryText, NameBeforeTheSeparatorValueAfterTheFirstEquals) {
  const struct {
    const char* entry;
    const char* name;
    const char* value_text;
  } cases[] = {
      {"speed = 0.5", "speed", " 0.5"},
      {"name = ", "name", " "},
      {"name =", "name", ""},
      {"my var = a b", "my var", " a b"},
      {"x = y = z", "x", " y = z"},
      {"ab=1", "a", "1"},  // the one character before "=" is the separator
      {"a\t=\t1", "a", "\t1"},
  };
  for (const auto& c : cases) {
    const EntryText split = SplitEntryText(c.entry, kGlobalVariables);
    EXPECT_EQ(split.name, c.name) << c.entry;
    EXPECT_EQ(split.value_text, c.value_text) << c.entry;
  }
}

TEST(SplitEntryText, MalformedEntriesAreRefused) {
  for (const char* entry : {"", "no separator", "= 1", " = 1", "a=1"}) {
    EXPECT_TRUE(ThrowsExactly<std::runtime_error>(
        [&] { SplitEntryText(entry, kPrimitiveStates); },
        std::string("[quiral::vek::Robot::primitive_states] Received a malformed entry from the "
                    "robot: [") +
            entry + "]"))
        << entry;
  }
}

TEST(EntriesToParamMap, FirstOfEqualNamesIsKept) {
  const ParamMap map =
      EntriesToParamMap({"speed = 0.5", "count = 3", "speed = 9", "tool = gripper_A",
                         "joints = 1 2 3", "empty = "},
                        kGlobalVariables);
  ASSERT_EQ(map.size(), 5u);
  EXPECT_TRUE(SameValue(map.at("speed"), 0.5));
  EXPECT_TRUE(SameValue(map.at("count"), 3));
  EXPECT_TRUE(SameValue(map.at("tool"), std::string("gripper_A")));
  EXPECT_TRUE(SameValue(map.at("joints"), std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(SameValue(map.at("empty"), std::vector<std::string>{}));
  EXPECT_EQ(map.begin()->first, "count");  // ordered by name

  EXPECT_TRUE(EntriesToParamMap({}, kGlobalVariables).empty());
}

TEST(EntriesToParamMap, ErrorsPassThroughUnchanged) {
  // Every value is read, also one under a name already taken.
  EXPECT_TRUE(ThrowsExactly<std::out_of_range>(
      [] { EntriesToParamMap({"a = 1", "a = 2147483648"}, kGlobalVariables); }, "stoi"));
  EXPECT_TRUE(ThrowsExactly<std::invalid_argument>(
      [] { EntriesToParamMap({"a = -"}, kGlobalVariables); }, "stoi"));
  EXPECT_TRUE(ThrowsExactly<std::logic_error>(
      [] { EntriesToParamMap({"p = 1 2 3 4 5 6 A B"}, kPrimitiveStates); },
      "[quiral::vek::Robot::ValuesToCoord] Number of elements is not a mutiple of "
      "kElementsPerCoord"));
  EXPECT_TRUE(ThrowsExactly<std::runtime_error>(
      [] { EntriesToParamMap({"a = 1", "broken"}, kGlobalVariables); },
      "[quiral::vek::Robot::global_variables] Received a malformed entry from the robot: "
      "[broken]"));
}

TEST(ValuesToCoord, GroupsOfTwentyOneTokens) {
  std::map<std::size_t, double> numbers;
  std::map<std::size_t, std::string> strings;
  for (std::size_t group = 0; group < 2; ++group) {
    const std::size_t base = group * kElementsPerCoord;
    for (std::size_t i = 0; i < kElementsPerCoord; ++i) {
      if (i == 6 || i == 7) {
        strings[base + i] = "F" + std::to_string(base + i);
      } else {
        numbers[base + i] = static_cast<double>(base + i);
      }
    }
  }
  const std::vector<Coord> coords = ValuesToCoord(numbers, strings);
  ASSERT_EQ(coords.size(), 2u);
  const Coord& second = coords[1];
  EXPECT_EQ(second.position, (std::array<double, 3>{21, 22, 23}));
  EXPECT_EQ(second.orientation, (std::array<double, 3>{24, 25, 26}));
  EXPECT_EQ(second.ref_frame, (std::array<std::string, 2>{"F27", "F28"}));
  EXPECT_EQ(second.ref_q_m, (std::array<double, 7>{29, 30, 31, 32, 33, 34, 35}));
  EXPECT_EQ(second.ref_q_e, (std::array<double, 6>{36, 37, 38, 39, 40, 41}));

  EXPECT_TRUE(ValuesToCoord({}, {}).empty());
}

TEST(ValuesToCoord, MalformedInput) {
  std::map<std::size_t, double> numbers;
  std::map<std::size_t, std::string> strings;
  for (std::size_t i = 0; i < kElementsPerCoord; ++i) {
    if (i == 6 || i == 7) {
      strings[i] = "F";
    } else {
      numbers[i] = 1.0;
    }
  }
  auto duplicate = strings;
  duplicate[0] = "X";  // index 0 is also a number
  EXPECT_TRUE(ThrowsExactly<std::logic_error>(
      [&] { ValuesToCoord(numbers, duplicate); },
      "[quiral::vek::Robot::ValuesToCoord] Duplicate index keys exist"));

  auto too_many = numbers;
  too_many[21] = 1.0;
  EXPECT_TRUE(ThrowsExactly<std::logic_error>(
      [&] { ValuesToCoord(too_many, strings); },
      "[quiral::vek::Robot::ValuesToCoord] Number of elements is not a mutiple of "
      "kElementsPerCoord"));

  // Twenty-one tokens whose indices leave a gap.
  auto gap = numbers;
  gap.erase(20);
  gap[25] = 1.0;
  EXPECT_TRUE(ThrowsExactly<std::out_of_range>([&] { ValuesToCoord(gap, strings); }, "map::at"));

  // A number where a frame text belongs, and the reverse.
  auto swapped_numbers = numbers;
  auto swapped_strings = strings;
  swapped_numbers.erase(2);
  swapped_strings[2] = "Y";
  swapped_strings.erase(7);
  swapped_numbers[7] = 1.0;
  EXPECT_TRUE(ThrowsExactly<std::out_of_range>(
      [&] { ValuesToCoord(swapped_numbers, swapped_strings); }, "map::at"));
}

// ------------------------------------------------------------ requests

TEST(GlobalVariablesRequestText, EntriesInNameOrder) {
  ParamMap vars;
  vars["b"] = std::string("on");
  vars["a"] = 1;
  EXPECT_EQ(GlobalVariablesRequestText(vars), "a = 1, b = on");

  JPos jpos;
  jpos.q_m = {1, 2, 3, 4, 5, 6, 7};
  const Coord coord = MakeCoord({1, 2, 3}, {4, 5, 6}, "W", "O");
  const Coord coord15 = MakeCoord({0.5, 0, 0}, {0, 0, 0}, "W", "O", {1, 0, 0, 0, 0, 0, 0});
  const ParamMap all = {
      {"v0", 7},
      {"v1", 123456789.0},
      {"v2", std::string("text with blanks")},
      {"v3", jpos},
      {"v4", coord},
      {"v5", std::vector<int>{1, 2}},
      {"v6", std::vector<double>{0.1, -0.000012345}},
      {"v7", std::vector<std::string>{"x", "", "y"}},
      {"v8", std::vector<JPos>{JPos{}, jpos}},
      {"v9", std::vector<Coord>{coord, coord15}},
  };
  EXPECT_EQ(GlobalVariablesRequestText(all),
            "v0 = 7, v1 = 1.23457e+08, v2 = text with blanks, "
            "v3 = 1 2 3 4 5 6 7 0 0 0 0 0 0, v4 = 1 2 3 4 5 6 W O, v5 = 1 2, "
            "v6 = 0.1 -1.2345e-05, v7 = x  y, "
            "v8 = 0 0 0 0 0 0 0 0 0 0 0 0 0 : 1 2 3 4 5 6 7 0 0 0 0 0 0, "
            "v9 = 1 2 3 4 5 6 W O : 0.5 0 0 0 0 0 W O 1 0 0 0 0 0 0");

  // Empty vectors leave nothing after " = ".
  const ParamMap empties = {{"a", std::vector<int>{}}, {"b", std::vector<Coord>{}}};
  EXPECT_EQ(GlobalVariablesRequestText(empties), "a = , b = ");
}

TEST(PrimitiveCallText, NameAndParenthesisedItems) {
  EXPECT_EQ(PrimitiveCallText("P", {{"b", 0.5}, {"a", 1}}), "P(a = 1, b = 0.5)");
  EXPECT_EQ(PrimitiveCallText("Home", {}), "Home()");
  const Coord target = MakeCoord({0.1, 0.2, 0.3}, {180, 0, 180}, "WORLD", "WORLD_ORIGIN",
                                 {0, 0, 0, 1.5, 0, 0, 0});
  EXPECT_EQ(PrimitiveCallText("MoveL", {{"target", target}, {"vel", 0.25}}),
            "MoveL(target = 0.1 0.2 0.3 180 0 180 WORLD WORLD_ORIGIN 0 0 0 1.5 0 0 0, "
            "vel = 0.25)");
}

TEST(RequestTexts, CoordWithoutTextFormIsRefused) {
  const Coord bad = MakeCoord({1, 2, 3}, {0, 0, 0}, "A", "B", {}, {1, 0, 0, 0, 0, 0});
  const std::string text =
      "[quiral::vek::Coord] Struct member [ref_q_m] cannot be empty if [ref_q_e] has values";
  EXPECT_TRUE(ThrowsExactly<std::invalid_argument>(
      [&] { GlobalVariablesRequestText({{"c", bad}}); }, text));
  EXPECT_TRUE(ThrowsExactly<std::invalid_argument>(
      [&] { PrimitiveCallText("P", {{"c", std::vector<Coord>{bad}}}); }, text));
}

TEST(RequestTexts, EmptyGlobalVariableMapIsRefused) {
  EXPECT_TRUE(ThrowsExactly<std::length_error>(
      [] { GlobalVariablesRequestText({}); },
      "[quiral::vek::Robot::SetGlobalVariables] Input map [global_vars] is empty"));
}

TEST(RequestTexts, LengthLimit) {
  const auto too_long = [](const char* prefix, const char* map_name, std::size_t length) {
    return std::string(prefix) + " Input map [" + map_name +
           "] is too long to transmit (requires " + std::to_string(length) +
           "/10000 bytes of bandwidth)";
  };
  // "a = " + value: 4 characters more than the value.
  EXPECT_EQ(GlobalVariablesRequestText({{"a", std::string(9996, 'x')}}).size(), 10000u);
  EXPECT_TRUE(ThrowsExactly<std::length_error>(
      [] { GlobalVariablesRequestText({{"a", std::string(9997, 'x')}}); },
      too_long(kSetGlobalVariables, "global_vars", 10001)));
  // Counted in bytes: 4999 two-byte characters and "a = ".
  std::string two_byte;
  for (int i = 0; i < 4999; ++i) two_byte += "\xC3\xA9";
  EXPECT_TRUE(ThrowsExactly<std::length_error>(
      [&] { GlobalVariablesRequestText({{"a", two_byte}}); },
      too_long(kSetGlobalVariables, "global_vars", 10002)));

  // "P(a = " + value + ")": 7 characters more than the value.
  EXPECT_EQ(PrimitiveCallText("P", {{"a", std::string(9993, 'x')}}).size(), 10000u);
  EXPECT_TRUE(ThrowsExactly<std::length_error>(
      [] { PrimitiveCallText("P", {{"a", std::string(9994, 'x')}}); },
      too_long(kExecutePrimitive, "input_params", 10001)));
  // The primitive name counts too.
  EXPECT_TRUE(ThrowsExactly<std::length_error>(
      [] { PrimitiveCallText(std::string(9999, 'P'), {}); },
      too_long(kExecutePrimitive, "input_params", 10001)));

  // The check on its own, with any operation's prefix.
  EXPECT_NO_THROW(CheckLongStringLength(std::string(10000, 'x'), "[X::Y]", "m"));
  EXPECT_TRUE(ThrowsExactly<std::length_error>(
      [] { CheckLongStringLength(std::string(123456, 'x'), "[X::Y]", "m"); },
      "[X::Y] Input map [m] is too long to transmit (requires 123456/10000 bytes of "
      "bandwidth)"));
}

TEST(RequestTexts, NullCharactersAreRefused) {
  using namespace std::string_literals;
  Coord frame_with_nul = MakeCoord({1, 2, 3}, {4, 5, 6}, "WOR\0LD"s, "B");
  const struct {
    ParamVariant value;
  } values[] = {
      {"on\0off"s},
      {"\0"s},
      {std::vector<std::string>{"a", "b\0"s}},
      {frame_with_nul},
      {std::vector<Coord>{MakeCoord({1, 2, 3}, {4, 5, 6}, "A", "B"), frame_with_nul}},
  };
  for (const auto& v : values) {
    EXPECT_TRUE(ThrowsExactly<std::invalid_argument>(
        [&] { GlobalVariablesRequestText({{"ok", 1}, {"var", v.value}}); },
        std::string(kSetGlobalVariables) +
            " Value of [var] in input map [global_vars] contains a null character"))
        << v.value.index();
    EXPECT_TRUE(ThrowsExactly<std::invalid_argument>(
        [&] { PrimitiveCallText("P", {{"var", v.value}}); },
        std::string(kExecutePrimitive) +
            " Value of [var] in input map [input_params] contains a null character"))
        << v.value.index();
  }
  EXPECT_TRUE(ThrowsExactly<std::invalid_argument>(
      [] { GlobalVariablesRequestText({{"v\0ar"s, 1}}); },
      std::string(kSetGlobalVariables) +
          " Input map [global_vars] contains a name with a null character"));
  EXPECT_TRUE(ThrowsExactly<std::invalid_argument>(
      [] { PrimitiveCallText("Mo\0ve"s, {{"a", 1}}); },
      std::string(kExecutePrimitive) + " Input parameter [primitive_name] contains a null character"));
}

TEST(RequestTexts, NonFiniteNumbersAreRefused) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  JPos jpos;
  jpos.q_e[5] = nan;
  const Coord coord_position = MakeCoord({1, inf, 3}, {4, 5, 6}, "A", "B");
  const Coord coord_ref = MakeCoord({1, 2, 3}, {4, 5, 6}, "A", "B", {1, 0, 0, 0, 0, 0, 0},
                                    {0, 0, -inf, 0, 0, 0});
  const ParamVariant values[] = {
      inf,
      -inf,
      nan,
      jpos,
      coord_position,
      coord_ref,
      std::vector<double>{1.0, nan},
      std::vector<JPos>{JPos{}, jpos},
      std::vector<Coord>{coord_ref},
  };
  for (const ParamVariant& value : values) {
    EXPECT_TRUE(ThrowsExactly<std::invalid_argument>(
        [&] { GlobalVariablesRequestText({{"x", value}}); },
        std::string(kSetGlobalVariables) +
            " Value of [x] in input map [global_vars] contains a non-finite number"))
        << value.index();
    EXPECT_TRUE(ThrowsExactly<std::invalid_argument>(
        [&] { PrimitiveCallText("P", {{"x", value}}); },
        std::string(kExecutePrimitive) +
            " Value of [x] in input map [input_params] contains a non-finite number"))
        << value.index();
  }
  // Extreme finite values still travel.
  EXPECT_EQ(GlobalVariablesRequestText({{"x", std::numeric_limits<double>::max()}}),
            "x = 1.79769e+308");
}

TEST(RequestTexts, ValuelessVariantIsBadVariantAccess) {
  struct ThrowsOnConversion {
    operator Coord() const { throw std::runtime_error("conversion failed"); }
  };
  ParamMap params;
  ParamVariant& value = params["a"];
  EXPECT_THROW(value.emplace<Coord>(ThrowsOnConversion{}), std::runtime_error);
  ASSERT_TRUE(value.valueless_by_exception());
  EXPECT_THROW(PrimitiveCallText("P", params), std::bad_variant_access);
}

}  // namespace
}  // namespace quiral::vek::detail
