#include "vek/param_text.h"

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

bool HasNul(const std::string& text) { return text.find('\0') != std::string::npos; }

// What makes a value unfit to travel as text, if anything.
enum class ValueFault { kNone, kNulCharacter, kNonFiniteNumber };

template <std::size_t N>
ValueFault CheckNumbers(const std::array<double, N>& values) {
  for (double v : values) {
    if (!std::isfinite(v)) return ValueFault::kNonFiniteNumber;
  }
  return ValueFault::kNone;
}

ValueFault Check(int) { return ValueFault::kNone; }
ValueFault Check(double value) {
  return std::isfinite(value) ? ValueFault::kNone : ValueFault::kNonFiniteNumber;
}
ValueFault Check(const std::string& value) {
  return HasNul(value) ? ValueFault::kNulCharacter : ValueFault::kNone;
}
ValueFault Check(const JPos& value) {
  const ValueFault fault = CheckNumbers(value.q_m);
  return fault != ValueFault::kNone ? fault : CheckNumbers(value.q_e);
}
ValueFault Check(const Coord& value) {
  for (const ValueFault fault :
       {CheckNumbers(value.position), CheckNumbers(value.orientation), Check(value.ref_frame[0]),
        Check(value.ref_frame[1]), CheckNumbers(value.ref_q_m), CheckNumbers(value.ref_q_e)}) {
    if (fault != ValueFault::kNone) return fault;
  }
  return ValueFault::kNone;
}
template <typename T>
ValueFault Check(const std::vector<T>& values) {
  for (const T& value : values) {
    const ValueFault fault = Check(value);
    if (fault != ValueFault::kNone) return fault;
  }
  return ValueFault::kNone;
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

std::string BuildAssignmentItems(const std::map<std::string, ParamVariant>& params,
                                 std::string_view prefix, std::string_view map_name) {
  std::string items;
  bool first = true;
  for (const auto& [name, value] : params) {
    if (HasNul(name)) {
      throw std::invalid_argument(
          Concat({prefix, " Input map [", map_name, "] contains a name with a null character"}));
    }
    const ValueFault fault =
        std::visit([](const auto& alternative) { return Check(alternative); }, value);
    if (fault == ValueFault::kNulCharacter) {
      throw std::invalid_argument(Concat({prefix, " Value of [", name, "] in input map [",
                                          map_name, "] contains a null character"}));
    }
    if (fault == ValueFault::kNonFiniteNumber) {
      throw std::invalid_argument(Concat({prefix, " Value of [", name, "] in input map [",
                                          map_name, "] contains a non-finite number"}));
    }
    if (!first) items += ", ";
    first = false;
    items += name;
    items += " = ";
    items += ParamValueToString(value);
  }
  return items;
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
  std::string text = BuildAssignmentItems(global_vars, kSetGlobalVariablesPrefix, "global_vars");
  CheckLongStringLength(text, kSetGlobalVariablesPrefix, "global_vars");
  return text;
}

std::string PrimitiveCallText(const std::string& primitive_name,
                              const std::map<std::string, ParamVariant>& input_params) {
  if (HasNul(primitive_name)) {
    throw std::invalid_argument(Concat(
        {kExecutePrimitivePrefix, " Input parameter [primitive_name] contains a null character"}));
  }
  std::string text = primitive_name;
  text += '(';
  text += BuildAssignmentItems(input_params, kExecutePrimitivePrefix, "input_params");
  text += ')';
  CheckLongStringLength(text, kExecutePrimitivePrefix, "input_params");
  return text;
}

}  // namespace quiral::vek::detail
