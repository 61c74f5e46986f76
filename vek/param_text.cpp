#include "vek/param_text.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "vek/param_values.h"

namespace quiral::vek::detail {
namespace {

constexpr std::string_view kSetGlobalVariablesPrefix = "[quiral::vek::Robot::SetGlobalVariables]";
constexpr std::string_view kExecutePrimitivePrefix = "[quiral::vek::Robot::ExecutePrimitive]";

std::string Concat(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view part : parts) out += part;
  return out;
}

// The request texts have no quoting or escaping, so a character that the
// robot reads as structure cannot be carried inside a name or a text:
// ',' separates the entries ("a = 1, b = 2"), '=' separates a name from
// its value, and '(' and ')' enclose the entries of a primitive call
// ("Name(a = 1)"). The whole character is refused, not only the sequences
// written here (", ", " = "), since a reader may take a separator with or
// without its blanks.
constexpr std::string_view kAssignmentStructure = ",=";
constexpr std::string_view kPrimitiveCallStructure = ",=()";
// Each reference frame of a Coord must stay one item among the Coord's
// blank-separated numbers (no white space, not empty), and must not read
// as the " : " that separates the Coords of a list.
constexpr std::string_view kCoordListStructure = ":";

// What makes a text unfit for a request text, or the empty text.
std::string TextFault(std::string_view text, std::string_view structure) {
  if (text.find('\0') != std::string_view::npos) return "a null character";
  const std::size_t reserved = text.find_first_of(structure);
  if (reserved != std::string_view::npos) {
    return Concat({"a reserved character [", text.substr(reserved, 1), "]"});
  }
  return {};
}

template <std::size_t N>
std::string NumbersFault(const std::array<double, N>& values) {
  for (double v : values) {
    if (!std::isfinite(v)) return "a non-finite number";
  }
  return {};
}

// Describes what makes a value unfit for a request text whose structure
// characters are `structure`; the empty text when nothing does.
class ValueFault {
 public:
  explicit ValueFault(std::string_view structure) : structure_(structure) {}

  std::string operator()(int) const { return {}; }
  std::string operator()(double value) const {
    return std::isfinite(value) ? std::string() : "a non-finite number";
  }
  std::string operator()(const std::string& value) const { return TextFault(value, structure_); }
  std::string operator()(const JPos& value) const {
    std::string fault = NumbersFault(value.q_m);
    return fault.empty() ? NumbersFault(value.q_e) : fault;
  }
  std::string operator()(const Coord& value) const {
    for (std::string fault : {NumbersFault(value.position), NumbersFault(value.orientation),
                              FrameFault(value.ref_frame[0]), FrameFault(value.ref_frame[1]),
                              NumbersFault(value.ref_q_m), NumbersFault(value.ref_q_e)}) {
      if (!fault.empty()) return fault;
    }
    return {};
  }
  template <typename T>
  std::string operator()(const std::vector<T>& values) const {
    for (const T& value : values) {
      std::string fault = (*this)(value);
      if (!fault.empty()) return fault;
    }
    return {};
  }

 private:
  std::string FrameFault(const std::string& frame) const {
    std::string fault = TextFault(frame, Concat({structure_, kCoordListStructure}));
    if (fault.empty() && (frame.empty() || std::any_of(frame.begin(), frame.end(), IsBlank))) {
      fault = "a reference frame that is empty or holds white space";
    }
    return fault;
  }

  std::string_view structure_;
};

// "name = value" per entry in map order, joined by ", "; no length check.
// `map_name` is the argument name used in error texts ("global_vars",
// "input_params"). Throws std::invalid_argument for a name or value that
// holds a '\0' (it would cut the text short on the wire) or one of the
// `structure` characters, for a Coord frame that is not one item, for an
// infinite or not-a-number double, and for a Coord that has no text form.
std::string BuildAssignmentItems(const std::map<std::string, ParamVariant>& params,
                                 std::string_view structure, std::string_view prefix,
                                 std::string_view map_name) {
  std::string items;
  bool first = true;
  for (const auto& [name, value] : params) {
    if (name.find('\0') != std::string::npos) {  // not repeated: the text would end there
      throw std::invalid_argument(
          Concat({prefix, " Input map [", map_name, "] contains a name with a null character"}));
    }
    const std::string name_fault = TextFault(name, structure);
    if (!name_fault.empty()) {
      throw std::invalid_argument(Concat(
          {prefix, " Name [", name, "] in input map [", map_name, "] contains ", name_fault}));
    }
    const std::string fault = std::visit(ValueFault(structure), value);
    if (!fault.empty()) {
      throw std::invalid_argument(Concat(
          {prefix, " Value of [", name, "] in input map [", map_name, "] contains ", fault}));
    }
    if (!first) items += ", ";
    first = false;
    items += name;
    items += " = ";
    items += ParamValueToString(value);
  }
  return items;
}

}  // namespace

std::vector<Coord> ValuesToCoord(const std::map<std::size_t, double>& numbers,
                                 const std::map<std::size_t, std::string>& strings) {
  for (const auto& entry : strings) {
    if (numbers.count(entry.first) != 0) {
      throw std::logic_error("[quiral::vek::Robot::ValuesToCoord] Duplicate index keys exist");
    }
  }
  const std::size_t count = numbers.size() + strings.size();
  if (count % kElementsPerCoord != 0) {
    throw std::logic_error(
        "[quiral::vek::Robot::ValuesToCoord] Number of elements is not a mutiple of "
        "kElementsPerCoord");
  }
  const auto number = [&numbers](std::size_t index) {
    const auto it = numbers.find(index);
    if (it == numbers.end()) throw std::out_of_range("map::at");
    return it->second;
  };
  const auto text = [&strings](std::size_t index) -> const std::string& {
    const auto it = strings.find(index);
    if (it == strings.end()) throw std::out_of_range("map::at");
    return it->second;
  };

  std::vector<Coord> coords;
  coords.reserve(count / kElementsPerCoord);
  for (std::size_t base = 0; base < count; base += kElementsPerCoord) {
    Coord coord;
    for (std::size_t i = 0; i < 3; ++i) coord.position[i] = number(base + i);
    for (std::size_t i = 0; i < 3; ++i) coord.orientation[i] = number(base + 3 + i);
    for (std::size_t i = 0; i < 2; ++i) coord.ref_frame[i] = text(base + 6 + i);
    for (std::size_t i = 0; i < 7; ++i) coord.ref_q_m[i] = number(base + 8 + i);
    for (std::size_t i = 0; i < 6; ++i) coord.ref_q_e[i] = number(base + 15 + i);
    coords.push_back(std::move(coord));
  }
  return coords;
}

EntryText SplitEntryText(const std::string& entry, std::string_view prefix) {
  const std::size_t equals = entry.find('=');
  // The name ends one separator character before the "="; it must not be
  // empty.
  if (equals == std::string::npos || equals < 2) {
    throw std::runtime_error(
        Concat({prefix, " Received a malformed entry from the robot: [", entry, "]"}));
  }
  return EntryText{entry.substr(0, equals - 1), entry.substr(equals + 1)};
}

std::map<std::string, ParamVariant> EntriesToParamMap(const std::vector<std::string>& entries,
                                                      std::string_view prefix) {
  std::map<std::string, ParamVariant> values;
  for (const std::string& entry : entries) {
    EntryText split = SplitEntryText(entry, prefix);
    ParamVariant value = StringToParamValue(split.value_text);
    values.emplace(std::move(split.name), std::move(value));  // first of equal names stays
  }
  return values;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void CheckLongStringLength(const std::string& text, std::string_view prefix,
                           std::string_view map_name) {
  if (text.size() > kMaxLongStringLength) {
    throw std::length_error(Concat({prefix, " Input map [", map_name,
                                    "] is too long to transmit (requires ",
                                    std::to_string(text.size()), "/",
                                    std::to_string(kMaxLongStringLength),
                                    " bytes of bandwidth)"}));
  }
}

std::string GlobalVariablesRequestText(const std::map<std::string, ParamVariant>& global_vars) {
  if (global_vars.empty()) {
    throw std::length_error(
        Concat({kSetGlobalVariablesPrefix, " Input map [global_vars] is empty"}));
  }
  std::string text = BuildAssignmentItems(global_vars, kAssignmentStructure,
                                          kSetGlobalVariablesPrefix, "global_vars");
  CheckLongStringLength(text, kSetGlobalVariablesPrefix, "global_vars");
  return text;
}

std::string PrimitiveCallText(const std::string& primitive_name,
                              const std::map<std::string, ParamVariant>& input_params) {
  const std::string fault = TextFault(primitive_name, kPrimitiveCallStructure);
  if (!fault.empty()) {
    throw std::invalid_argument(
        Concat({kExecutePrimitivePrefix, " Input parameter [primitive_name] contains ", fault}));
  }
  std::string text = primitive_name;
  text += '(';
  text += BuildAssignmentItems(input_params, kPrimitiveCallStructure, kExecutePrimitivePrefix,
                               "input_params");
  text += ')';
  CheckLongStringLength(text, kExecutePrimitivePrefix, "input_params");
  return text;
}

}  // namespace quiral::vek::detail
