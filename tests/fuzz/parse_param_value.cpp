// Fuzz target: one value text as the robot sends it (StringToParamValue).
// Only the documented exceptions (std::logic_error and the std::out_of_range
// and std::invalid_argument derived from it) leave the reader, and the
// text written for a value it read reads back to the same numbers and
// texts (the alternative may change: 2.0 is written 2, which reads as an
// integer). Lists of Coord and Coords without both reference positions have
// a text the reader does not take back, and are not written.
#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>
#include <variant>

#include "tests/fuzz/fuzz_support.h"
#include "vek/param_values.h"

namespace {

using quiral::vek::Coord;
using quiral::vek::ParamVariant;

// A value's numbers and texts in order.
struct Items {
  std::vector<double> numbers;
  std::vector<std::string> texts;

  void Add(int v) { numbers.push_back(v); }
  void Add(double v) { numbers.push_back(v); }
  void Add(const std::string& v) { texts.push_back(v); }
  template <std::size_t N>
  void Add(const std::array<double, N>& v) {
    numbers.insert(numbers.end(), v.begin(), v.end());
  }
  void Add(const quiral::vek::JPos& v) {
    Add(v.q_m);
    Add(v.q_e);
  }
  void Add(const Coord& v) {
    Add(v.position);
    Add(v.orientation);
    Add(v.ref_frame[0]);
    Add(v.ref_frame[1]);
    Add(v.ref_q_m);
    Add(v.ref_q_e);
  }
  template <typename T>
  void Add(const std::vector<T>& v) {
    for (const T& item : v) Add(item);
  }
};

Items ItemsOf(const ParamVariant& value) {
  Items items;
  std::visit([&items](const auto& v) { items.Add(v); }, value);
  return items;
}

bool WritesReadably(const ParamVariant& value) {
  if (std::holds_alternative<std::vector<Coord>>(value)) return false;
  const Coord* coord = std::get_if<Coord>(&value);
  const auto non_zero = [](double v) { return v != 0.0; };
  return coord == nullptr ||
         (std::any_of(coord->ref_q_m.begin(), coord->ref_q_m.end(), non_zero) &&
          std::any_of(coord->ref_q_e.begin(), coord->ref_q_e.end(), non_zero));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ParamVariant value;
  try {
    value = quiral::vek::StringToParamValue(std::string(reinterpret_cast<const char*>(data), size));
  } catch (const std::logic_error&) {
    return 0;
  }
  if (!WritesReadably(value)) return 0;
  const Items read = ItemsOf(value);
  const Items again =
      ItemsOf(quiral::vek::StringToParamValue(quiral::vek::ParamValueToString(value)));
  if (again.numbers != read.numbers || again.texts != read.texts) {
    quiral_fuzz::Fail("a written value does not read back to the same items");
  }
  return 0;
}
