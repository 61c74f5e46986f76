// quiral::vek::Robot: the robot's global variables and the states of the
// running primitive, exchanged as "name = value" texts.

#include <stdexcept>
#include <string>
#include <vector>

#include "client/vek_client.h"
#include "vek/param_text.h"
#include "vek/robot.h"
#include "vek/robot_impl.h"

namespace quiral::vek {
namespace {

using vek_impl::ProcedureId;

// Data-service requests of one primitive_states call, at most.
constexpr int kPrimitiveStatesAttempts = 6;

bool AnyEmpty(const std::vector<std::string>& texts) {
  for (const std::string& text : texts) {
    if (text.empty()) return true;
  }
  return false;
}

}  // namespace

std::map<std::string, ParamVariant> Robot::Impl::global_variables() const {
  const std::string prefix = Prefix("global_variables");
  std::vector<std::string> entries;
  if (!QorSucceeded(
          client->operations_rpc.RequestStringList(ProcedureId::global_variables, entries))) {
    throw std::runtime_error(prefix + " No reply from the robot");
  }
  return detail::EntriesToParamMap(entries, prefix);
}

std::map<std::string, ParamVariant> Robot::Impl::primitive_states() const {
  const std::string prefix = Prefix("primitive_states");
  std::vector<std::string> entries;
  for (int attempt = 1;; ++attempt) {
    entries.clear();
    if (!QorSucceeded(client->lumo_data_rpc.RequestPtStates(entries))) {
      throw std::runtime_error(prefix + " No reply from the robot");
    }
    // A reply with an empty text was corrupted on its way: ask again.
    if (!AnyEmpty(entries)) break;
    if (attempt == kPrimitiveStatesAttempts) {
      throw std::runtime_error(prefix + " Still received corrupted data after several attempts");
    }
  }
  return detail::EntriesToParamMap(entries, prefix);
}

void Robot::Impl::SetGlobalVariables(const std::map<std::string, ParamVariant>& global_vars) {
  const std::string prefix = Prefix("SetGlobalVariables");
  const std::string text = CheckSetGlobalVariables(global_vars);
  // Every name must be one the robot already has.
  const std::map<std::string, ParamVariant> existing = global_variables();
  for (const auto& entry : global_vars) {
    if (existing.count(entry.first) == 0) {
      throw std::invalid_argument(prefix + " The specified global variable [" + entry.first +
                                  "] does not exist");
    }
  }
  if (!QorSucceeded(
          client->operations_rpc.GeneralCall(ProcedureId::SetGlobalVariables, text, {}, {}, {}))) {
    throw std::runtime_error(prefix + " Failed to deliver the request");
  }
}

std::string Robot::Impl::CheckSetGlobalVariables(
    const std::map<std::string, ParamVariant>& global_vars) const {
  if (global_vars.empty()) {
    throw std::length_error(Prefix("SetGlobalVariables") + " Input map [global_vars] is empty");
  }
  // Throws for a '\0' in a name or text, a non-finite number, a Coord
  // without text form and a text above the transport's limit.
  return detail::GlobalVariablesRequestText(global_vars);
}

// ------------------------------------------------------------------ Robot

std::map<std::string, ParamVariant> Robot::primitive_states() const {
  return impl_->primitive_states();
}

std::map<std::string, ParamVariant> Robot::global_variables() const {
  return impl_->global_variables();
}

void Robot::SetGlobalVariables(const std::map<std::string, ParamVariant>& global_vars) {
  impl_->SetGlobalVariables(global_vars);
}

}  // namespace quiral::vek
