#include "vek/param_values.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <utility>

#include "vek/param_text.h"

namespace quiral::vek {
namespace {

// The shortest digits that read back to the same double, laid out as
// printf's "%g" lays them out: scientific notation (at least two exponent
// digits) when the decimal exponent is below -4 or 6 and above, fixed
// notation otherwise, no trailing zeros. An item of digits alone reads back
// as an integer, so only integral values below 10^6 look like integers;
// larger ones keep the exponent form that marks them as doubles. The same
// text whatever locale the process runs with.
void AppendNumber(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "nan";  // no sign, whatever the sign bit of the NaN
    return;
  }
  char buffer[32];
  auto result =
      std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::scientific);
  if (std::isfinite(value)) {
    const char* exponent = std::find(buffer, result.ptr, 'e') + 1;
    int decimal_exponent = 0;
    std::from_chars(exponent + (*exponent == '+' ? 1 : 0), result.ptr, decimal_exponent);
    if (decimal_exponent >= -4 && decimal_exponent < 6) {
      result = std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::fixed);
    }
  }
  out.append(buffer, result.ptr);
}

void AppendNumber(std::string& out, int value) {
  char buffer[16];
  const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
  out.append(buffer, result.ptr);
}

template <std::size_t N>
void AppendNumbers(std::string& out, const std::array<double, N>& values) {
  for (std::size_t i = 0; i < N; ++i) {
    if (i > 0) out += ' ';
    AppendNumber(out, values[i]);
  }
}

template <std::size_t N>
bool AnyNonZero(const std::array<double, N>& values) {
  for (double v : values) {
    if (v != 0.0) return true;  // -0.0 counts as zero, NaN as non-zero
  }
  return false;
}

// Elements joined by `separator`, each written by ParamValueToString.
template <typename T>
std::string Join(const std::vector<T>& values, std::string_view separator) {
  std::string out;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out += separator;
    out += ParamValueToString(values[i]);
  }
  return out;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Digits after an optional leading "-"; a lone "-" counts too.
bool IsIntegerToken(std::string_view token) {
  std::size_t i = token.front() == '-' ? 1 : 0;
  for (; i < token.size(); ++i) {
    if (!IsDigit(token[i])) return false;
  }
  return true;
}

// A decimal floating-point number as a stream reads it completely:
// [+-] (digits [. digits*] | . digits) [(e|E) [+-] digits]. No inf, nan or
// hexadecimal forms.
bool IsDoubleToken(std::string_view token) {
  std::size_t i = 0;
  const std::size_t n = token.size();
  if (i < n && (token[i] == '+' || token[i] == '-')) ++i;
  std::size_t mantissa_digits = 0;
  while (i < n && IsDigit(token[i])) ++i, ++mantissa_digits;
  if (i < n && token[i] == '.') {
    ++i;
    while (i < n && IsDigit(token[i])) ++i, ++mantissa_digits;
  }
  if (mantissa_digits == 0) return false;
  if (i < n && (token[i] == 'e' || token[i] == 'E')) {
    ++i;
    if (i < n && (token[i] == '+' || token[i] == '-')) ++i;
    std::size_t exponent_digits = 0;
    while (i < n && IsDigit(token[i])) ++i, ++exponent_digits;
    if (exponent_digits == 0) return false;
  }
  return i == n;
}

int ParseInteger(std::string_view token) {
  int value = 0;
  const auto result = std::from_chars(token.data(), token.data() + token.size(), value);
  if (result.ec == std::errc::result_out_of_range) throw std::out_of_range("stoi");
  if (result.ec != std::errc() || result.ptr != token.data() + token.size()) {
    throw std::invalid_argument("stoi");  // the lone "-"
  }
  return value;
}

// Parses a token accepted by IsDoubleToken, independent of the locale.
// A value beyond the double range, or one that underflows to zero, is a
// range error.
double ParseDouble(std::string_view token) {
  if (token.front() == '+') token.remove_prefix(1);
  double value = 0.0;
  const auto result = std::from_chars(token.data(), token.data() + token.size(), value,
                                      std::chars_format::general);
  if (result.ec == std::errc::result_out_of_range) throw std::out_of_range("stod");
  if (result.ec != std::errc() || result.ptr != token.data() + token.size()) {
    throw std::invalid_argument("stod");
  }
  return value;
}

std::vector<std::string_view> SplitAtBlanks(const std::string& text) {
  std::vector<std::string_view> tokens;
  const std::string_view view(text);
  std::size_t i = 0;
  while (i < view.size()) {
    while (i < view.size() && detail::IsBlank(view[i])) ++i;
    const std::size_t begin = i;
    while (i < view.size() && !detail::IsBlank(view[i])) ++i;
    if (i > begin) tokens.push_back(view.substr(begin, i - begin));
  }
  return tokens;
}

}  // namespace

std::string CoordToString(const Coord& coord) {
  const bool has_q_m = AnyNonZero(coord.ref_q_m);
  const bool has_q_e = AnyNonZero(coord.ref_q_e);
  if (has_q_e && !has_q_m) {
    throw std::invalid_argument(
        "[quiral::vek::Coord] Struct member [ref_q_m] cannot be empty if [ref_q_e] has values");
  }
  std::string out;
  AppendNumbers(out, coord.position);
  out += ' ';
  AppendNumbers(out, coord.orientation);
  out += ' ';
  out += coord.ref_frame[0];
  out += ' ';
  out += coord.ref_frame[1];
  if (has_q_m) {
    out += ' ';
    AppendNumbers(out, coord.ref_q_m);
    if (has_q_e) {
      out += ' ';
      AppendNumbers(out, coord.ref_q_e);
    }
  }
  return out;
}

std::string ParamValueToString(int value) {
  std::string out;
  AppendNumber(out, value);
  return out;
}

std::string ParamValueToString(double value) {
  std::string out;
  AppendNumber(out, value);
  return out;
}

std::string ParamValueToString(const std::string& value) { return value; }

std::string ParamValueToString(const JPos& value) {
  std::string out;
  AppendNumbers(out, value.q_m);
  out += ' ';
  AppendNumbers(out, value.q_e);
  return out;
}

std::string ParamValueToString(const Coord& value) { return CoordToString(value); }

std::string ParamValueToString(const std::vector<int>& value) { return Join(value, " "); }

std::string ParamValueToString(const std::vector<double>& value) { return Join(value, " "); }

std::string ParamValueToString(const std::vector<std::string>& value) {
  return Join(value, " ");
}

std::string ParamValueToString(const std::vector<JPos>& value) { return Join(value, " : "); }

std::string ParamValueToString(const std::vector<Coord>& value) { return Join(value, " : "); }

std::string ParamValueToString(const ParamVariant& value) {
  return std::visit([](const auto& alternative) { return ParamValueToString(alternative); },
                    value);
}

ParamVariant StringToParamValue(const std::string& text) {
  const std::vector<std::string_view> tokens = SplitAtBlanks(text);

  // Every token is converted before the alternative is chosen, so a bad
  // number fails the whole text whatever else it holds.
  std::map<std::size_t, double> numbers;
  std::map<std::size_t, std::string> strings;
  std::vector<int> integers;
  std::size_t integer_count = 0;
  std::size_t double_count = 0;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const std::string_view token = tokens[i];
    if (IsIntegerToken(token)) {
      const int value = ParseInteger(token);
      integers.push_back(value);
      numbers.emplace(i, static_cast<double>(value));
      ++integer_count;
    } else if (IsDoubleToken(token)) {
      numbers.emplace(i, ParseDouble(token));
      ++double_count;
    } else {
      strings.emplace(i, std::string(token));
    }
  }

  if (!strings.empty() && !numbers.empty()) {
    std::vector<Coord> coords = detail::ValuesToCoord(numbers, strings);
    if (coords.size() == 1) return std::move(coords.front());
    return coords;
  }
  if (!strings.empty()) {
    if (strings.size() == 1) return std::move(strings.begin()->second);
    std::vector<std::string> values;
    values.reserve(strings.size());
    for (auto& entry : strings) values.push_back(std::move(entry.second));
    return values;
  }
  if (double_count == 0 && integer_count > 0) {
    if (integer_count == 1) return integers.front();
    return integers;
  }
  if (double_count > 0) {
    if (double_count == 1 && integer_count == 0) return numbers.begin()->second;
    std::vector<double> values;
    values.reserve(numbers.size());
    for (const auto& entry : numbers) values.push_back(entry.second);
    return values;
  }
  return std::vector<std::string>{};  // empty or blank text
}

}  // namespace quiral::vek
