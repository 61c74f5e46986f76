// Text form of parameter values.
//
// Primitive parameters, primitive states and global variables travel to and
// from the controller as text. Each alternative of ParamVariant has one text
// form (ParamValueToString); StringToParamValue reads a value text received
// from the robot and infers the alternative from the text alone, so the two
// directions are not inverses.
//
// A double is written with the fewest digits that read back to the same
// value, in fixed notation when its decimal exponent is from -4 to 5 and in
// scientific notation otherwise (2 for 2.0, 0.1234567, 1e-05, 1.234567e+06),
// always with "." as decimal point, independent of the process locale.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "vek/data_types.h"

namespace quiral::vek {

// Number of text items of one complete Coord: 3 position, 3 orientation,
// 2 frame texts, 7 ref_q_m, 6 ref_q_e.
constexpr std::size_t kElementsPerCoord = 21;

// Position, orientation and the two frame texts, then the seven ref_q_m
// numbers when any is non-zero, then the six ref_q_e numbers when any is
// non-zero, separated by single blanks. Throws std::invalid_argument when
// ref_q_e holds a non-zero number while ref_q_m is all zero.
std::string CoordToString(const Coord& coord);

// Text of one value, one overload per alternative. Vectors of scalars are
// joined by single blanks, vectors of JPos and Coord by " : "; an empty
// vector gives the empty text. Non-finite doubles are written inf, -inf and
// nan.
std::string ParamValueToString(int value);
std::string ParamValueToString(double value);
std::string ParamValueToString(const std::string& value);
std::string ParamValueToString(const JPos& value);
std::string ParamValueToString(const Coord& value);
std::string ParamValueToString(const std::vector<int>& value);
std::string ParamValueToString(const std::vector<double>& value);
std::string ParamValueToString(const std::vector<std::string>& value);
std::string ParamValueToString(const std::vector<JPos>& value);
std::string ParamValueToString(const std::vector<Coord>& value);
// Text of the active alternative; a valueless variant throws
// std::bad_variant_access.
std::string ParamValueToString(const ParamVariant& value);

// Reads one value text: the text is split into tokens at white space and
// each token is an integer (digits with an optional leading "-"), a double
// (a decimal number such as 1.5, +2, 1e3 or .5) or a string. One integer,
// one double or one string give that scalar; several of one kind give a
// vector of it; integers mixed with doubles give a vector of doubles; no
// token gives an empty vector of strings; numbers mixed with strings are
// read as groups of kElementsPerCoord items, giving a Coord or a vector of
// Coord. Never yields JPos.
//
// Throws std::out_of_range "stoi" for an integer outside the 32-bit range,
// std::invalid_argument "stoi" for a lone "-", std::out_of_range "stod" for
// a double that overflows or underflows to zero, and the errors of
// ValuesToCoord (vek/param_text.h) for malformed coordinates.
ParamVariant StringToParamValue(const std::string& text);

}  // namespace quiral::vek
