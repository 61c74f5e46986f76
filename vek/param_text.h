// Request and reply texts of primitive parameters, primitive states and
// global variables, for use by the Robot implementation.
//
// Where an error text names the calling operation, the caller passes its
// bracketed prefix, for example "[quiral::vek::Robot::global_variables]";
// the functions append a blank and the message.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "vek/data_types.h"

namespace quiral::vek::detail {

// Largest request text the controller accepts in one long-string argument.
constexpr std::size_t kMaxLongStringLength = 10000;

// Builds coordinates from numbered tokens: every token index is either in
// `numbers` or in `strings`. Each group of kElementsPerCoord tokens starting
// at index 21 k gives one Coord (position, orientation, two frame texts,
// ref_q_m, ref_q_e). Throws std::logic_error when an index is in both maps
// or when the token count is not a multiple of kElementsPerCoord, and
// std::out_of_range "map::at" when a token of the wrong kind (or none) is
// at a place of the group. No tokens give an empty vector.
std::vector<Coord> ValuesToCoord(const std::map<std::size_t, double>& numbers,
                                 const std::map<std::size_t, std::string>& strings);

// One "name = value" entry received from the robot, split at its first "=".
struct EntryText {
  std::string name;        // everything before the separator in front of "="
  std::string value_text;  // everything after "=", leading blank included
};

// Splits an entry. An entry without "=", or one that leaves no name, throws
// std::runtime_error `prefix` + " Received a malformed entry from the robot: ["
// + entry + "]".
EntryText SplitEntryText(const std::string& entry, std::string_view prefix);

// Splits every entry in order, reads its value with StringToParamValue and
// keeps the first value of equal names. Errors of the split and of the
// value reading end the call unchanged.
std::map<std::string, ParamVariant> EntriesToParamMap(const std::vector<std::string>& entries,
                                                      std::string_view prefix);

// Throws std::length_error when `text` is longer than kMaxLongStringLength:
// `prefix` + " Input map [" + map_name + "] is too long to transmit (requires "
// + length + "/10000 bytes of bandwidth)".
void CheckLongStringLength(const std::string& text, std::string_view prefix,
                           std::string_view map_name);

// The white space that separates the items of a value text.
bool IsBlank(char c);

// Complete request text of SetGlobalVariables: "name = value" per entry in
// name order, joined by ", ", checked against kMaxLongStringLength, with the
// operation's own error texts. An empty map throws std::length_error
// "[quiral::vek::Robot::SetGlobalVariables] Input map [global_vars] is
// empty"; the caller still tests for it first, before reading the robot's
// variables.
//
// Nothing in the text is quoted, so whatever the robot would read as
// another entry or as part of the call's structure is refused with
// std::invalid_argument: a name or text holding a '\0' (it would cut the
// text short on the wire), ',' or '='; a Coord reference frame that is
// empty or holds white space or ':' (it would no longer be one item of the
// Coord or of a list of them). So are values holding an infinite or
// not-a-number double and a Coord that has no text form. A name is
// reported as "Name [" + name + "] in input map [global_vars] contains a
// reserved character [c]" ("Input map [global_vars] contains a name with a
// null character" for a '\0'), a value as "Value of [" + name + "] in input
// map [global_vars] contains " + what, where what is "a null character",
// "a reserved character [c]", "a reference frame that is empty or holds
// white space" or "a non-finite number".
std::string GlobalVariablesRequestText(const std::map<std::string, ParamVariant>& global_vars);

// Complete request text of ExecutePrimitive: primitive_name + "(" + the
// entries as above + ")", checked against kMaxLongStringLength, with the
// operation's own error texts. The primitive name, the entries' names and
// texts must hold no '(' or ')' either; the primitive name is reported as
// "Input parameter [primitive_name] contains " + what.
std::string PrimitiveCallText(const std::string& primitive_name,
                              const std::map<std::string, ParamVariant>& input_params);

}  // namespace quiral::vek::detail
