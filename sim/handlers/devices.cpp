// Devices: their names, enabling, status, parameters and commands. A
// command to the gripper device moves the simulated gripper.
#include <map>
#include <optional>
#include <string>

#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"
#include "sim/handler_registry.h"
#include "sim/handlers/families.h"
#include "sim/message_args.h"
#include "sim/robot_state.h"

namespace quiral::sim {

namespace {

namespace vek = vek_msgs::msg;
using nlohmann::json;

// Width the gripper opens to when its device has no "maxWidth".
constexpr float kDefaultOpenWidth = 0.1f;

// The device named by the only text argument; null when there is none.
Device* NamedDevice(RobotState& s, const vek::RPCRequest& request) {
  const auto& names = request.string_args();
  return names.size() == 1 ? s.FindDevice(names[0]) : nullptr;
}

bool DeviceList(RobotState& s, const vek::RPCRequest&, vek::RPCReply& reply) {
  for (const auto& d : s.devices) reply.string_container().push_back(d.name);
  return true;
}

// Device name as the long text, {1 or 0}.
bool EnableDevice(RobotState& s, const vek::RPCRequest& request, vek::RPCReply&) {
  Device* device = s.FindDevice(LongString(request));
  if (!device || request.int_args().size() != 1) return false;
  device->enabled = request.int_args()[0] != 0;
  return true;
}

// A numeric parameter of `device` as a 32-bit float; none when it is
// missing or not a number.
std::optional<float> NumberParam(const Device& device, const char* name) {
  for (const auto& [param, value] : device.params) {
    if (param == name) {
      return value.is_number() ? std::optional<float>(value.get<float>()) : std::nullopt;
    }
  }
  return std::nullopt;
}

// Each gripper command value within the range the device's parameters
// give it (bounds included; NaN is outside). Keys without a range pass.
bool WithinGripperRanges(const Device& device, const std::map<std::string, double>& values) {
  static const struct {
    const char* key;
    const char* min;
    const char* max;
  } kRanges[] = {{"targetWidth", "minWidth", "maxWidth"},
                 {"targetVel", "minVel", "maxVel"},
                 {"targetForce", "minForce", "maxForce"}};
  for (const auto& range : kRanges) {
    const auto value = values.find(range.key);
    const auto lo = NumberParam(device, range.min);
    const auto hi = NumberParam(device, range.max);
    if (value == values.end() || !lo || !hi) continue;
    const auto x = static_cast<float>(value->second);
    if (!(*lo <= x && x <= *hi)) return false;
  }
  return true;
}

// Device name as the long text; parallel lists of "key<bool>", "key<int>"
// or "key<double>" texts, integers and floats, the value taken from the
// list the tag names. Refused for a device that is disabled or not
// connected; on the gripper device also for a value outside the device's
// ranges (the gripper opens to "maxWidth").
bool CommandDevice(RobotState& s, const vek::RPCRequest& request, vek::RPCReply&) {
  Device* device = s.FindDevice(LongString(request));
  if (!device || !device->enabled || !device->connected) return false;
  const auto& names = request.string_args();
  const auto& ints = request.int_args();
  const auto& floats = request.float_args();
  if (names.size() != ints.size() || names.size() != floats.size()) return false;
  std::map<std::string, double> values;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& tagged = names[i];
    const size_t lt = tagged.rfind('<');
    if (lt == std::string::npos || tagged.back() != '>') return false;
    const std::string type = tagged.substr(lt);
    const std::string key = tagged.substr(0, lt);
    if (type == "<bool>" || type == "<int>") {
      values[key] = ints[i];
    } else if (type == "<double>") {
      values[key] = floats[i];
    } else {
      return false;
    }
  }
  if (device->name == s.gripper_device) {
    if (!WithinGripperRanges(*device, values)) return false;
    s.gripper.Command(values, NumberParam(*device, "maxWidth").value_or(kDefaultOpenWidth));
  }
  return true;
}

bool DeviceParamNames(RobotState& s, const vek::RPCRequest& request, vek::RPCReply& reply) {
  Device* device = NamedDevice(s, request);
  if (!device) return false;
  for (const auto& p : device->params) reply.string_container().push_back(p.first);
  return true;
}

// One value in the container of its kind: integers, floats or texts, one
// or a list (an empty list fills nothing); a null value is refused.
bool ReplyParamValue(const json& value, vek::RPCReply& reply) {
  if (value.is_number_integer()) {
    reply.int_container({value.get<int32_t>()});
  } else if (value.is_number()) {
    reply.float_container({value.get<float>()});
  } else if (value.is_string()) {
    reply.string_container({value.get<std::string>()});
  } else if (value.is_array()) {
    bool all_int = true, all_num = true, all_str = true;
    for (const auto& e : value) {
      all_int = all_int && e.is_number_integer();
      all_num = all_num && e.is_number();
      all_str = all_str && e.is_string();
    }
    if (value.empty()) return true;
    if (all_int) {
      reply.int_container(value.get<std::vector<int32_t>>());
    } else if (all_num) {
      reply.float_container(value.get<std::vector<float>>());
    } else if (all_str) {
      reply.string_container(value.get<std::vector<std::string>>());
    } else {
      return false;
    }
  } else {
    return false;
  }
  return true;
}

// {device, parameter}: the first parameter of that name.
bool DeviceParamValue(RobotState& s, const vek::RPCRequest& request, vek::RPCReply& reply) {
  const auto& args = request.string_args();
  if (args.size() != 2) return false;
  const Device* device = s.FindDevice(args[0]);
  if (!device) return false;
  for (const auto& [name, value] : device->params) {
    if (name == args[1]) return ReplyParamValue(value, reply);
  }
  return false;
}

// {enabled, connected}.
bool DeviceStatus(RobotState& s, const vek::RPCRequest& request, vek::RPCReply& reply) {
  const Device* device = NamedDevice(s, request);
  if (!device) return false;
  reply.int_container({device->enabled ? 1 : 0, device->connected ? 1 : 0});
  return true;
}

}  // namespace

void AddDeviceHandlers(HandlerRegistry& registry) {
  registry.AddOperation(ProcedureId::kDeviceList, DeviceList);
  registry.AddOperation(ProcedureId::kEnableDevice, EnableDevice);
  registry.AddOperation(ProcedureId::kCommandDevice, CommandDevice);
  registry.AddOperation(ProcedureId::kDeviceParamNames, DeviceParamNames);
  registry.AddOperation(ProcedureId::kDeviceParamValue, DeviceParamValue);
  registry.AddOperation(ProcedureId::kDeviceStatus, DeviceStatus);
}

}  // namespace quiral::sim
