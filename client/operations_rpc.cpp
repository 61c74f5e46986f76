#include "client/operations_rpc.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include <spdlog/spdlog.h>
#include <zlib.h>

#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"

namespace quiral {
namespace vek_impl {
namespace {

using vek_msgs::msg::RPCReply;
using vek_msgs::msg::RPCRequest;

QorState Ok() { return _MakeQorState(QorGeneralState::OK); }
QorState Fault() { return _MakeQorState(QorGeneralState::FAULT); }

// The text up to its first NUL, at most 10000 characters.
void SetLongString(RPCRequest& request, const std::string& text) {
  const size_t length = std::min(::strnlen(text.c_str(), text.size()),
                                 OperationsRPC::kMaxLongStringChars);
  request.long_string_arg().assign(text.c_str(), length);
}

// Rounds a double to the nearest float; false when the value is not a
// finite number within the float range (NaN, infinite, or too large), so
// that no such value is put on the wire as something else.
bool ToWireFloat(double value, float& out) {
  if (!std::isfinite(value) || std::fabs(value) > static_cast<double>(FLT_MAX)) {
    return false;
  }
  out = static_cast<float>(value);
  return true;
}

template <size_t N>
bool ToWireFloats(const std::array<double, N>& values, std::array<float, N>& out) {
  for (size_t i = 0; i < N; ++i) {
    if (!ToWireFloat(values[i], out[i])) {
      return false;
    }
  }
  return true;
}

template <size_t N>
void FromWireFloats(const std::array<float, N>& values, std::array<double, N>& out) {
  for (size_t i = 0; i < N; ++i) {
    out[i] = static_cast<double>(values[i]);
  }
}

}  // namespace

QorState OperationsRPC::GeneralCall(ProcedureId id, const std::string& long_string_arg,
                                    const std::vector<int>& int_args,
                                    const std::vector<float>& float_args,
                                    const std::vector<std::string>& string_args) {
  RPCRequest request = NewRequest(id);
  RPCReply reply;
  SetLongString(request, long_string_arg);
  request.int_args().assign(int_args.begin(), int_args.end());
  request.float_args(float_args);
  request.string_args(string_args);
  return Call(request, reply);
}

QorState OperationsRPC::SwitchCtrlMode(qor::ExtCtrlMode mode, const CallTurn& turn) {
  RPCRequest request = NewRequest(ProcedureId::SwitchCtrlMode);
  RPCReply reply;
  request.int_args().assign(1, static_cast<int>(mode));
  return Call(request, reply, turn);
}

QorState OperationsRPC::RequestRobotInfo(quiral::vek::RobotInfo& info) {
  RPCRequest request = NewRequest(ProcedureId::RequestRobotInfo);
  RPCReply reply;
  const QorState state = Call(request, reply);
  if (!QorSucceeded(state)) {
    return state;
  }
  const auto& texts = reply.string_container();
  const auto& ints = reply.int_container();
  const auto& floats = reply.float_container();
  if (texts.empty() || ints.size() < 4) {
    spdlog::debug("Robot info reply holds {} texts and {} integers, expecting at least 1 and 4",
                  texts.size(), ints.size());
    return Fault();
  }
  // The counts come from the controller: check them before they size
  // anything.
  const int64_t dof_e = ints[0];
  const int64_t dof_m = ints[1];
  const int64_t dof = ints[2];
  if (dof_e < 0 || dof_m < 0 || dof < 0) {
    spdlog::debug("Negative joint count in robot info reply: DoF_e {}, DoF_m {}, DoF {}", dof_e,
                  dof_m, dof);
    return Fault();
  }
  if (dof_e + dof_m != dof) {
    spdlog::debug("DoF_e + DoF_m != DoF");
    return Fault();
  }
  const size_t n = static_cast<size_t>(dof);
  if (floats.size() != 4 * n) {
    spdlog::error("[quiral::vek::Robot] Concatenated float container has invalid total size");
    return Fault();
  }
  info.server_text = texts[0];
  info.DoF_e = static_cast<size_t>(dof_e);
  info.DoF_m = static_cast<size_t>(dof_m);
  info.DoF = n;
  info.reply_flag = ints[3] != 0;
  info.q_max.assign(floats.begin(), floats.begin() + n);
  info.q_min.assign(floats.begin() + n, floats.begin() + 2 * n);
  info.joint_limit_3.assign(floats.begin() + 2 * n, floats.begin() + 3 * n);
  info.tau_max.assign(floats.begin() + 3 * n, floats.end());
  return Ok();
}

QorState OperationsRPC::UpdateTool(ProcedureId id, const std::string& name,
                                   const quiral::vek::ToolParams& params) {
  RPCRequest request = NewRequest(id);
  RPCReply reply;
  auto& tool = request.tool_params();
  tool.name(name);
  float mass = 0.0f;
  if (!ToWireFloat(params.mass, mass) || !ToWireFloats(params.CoM, tool.CoM()) ||
      !ToWireFloats(params.inertia, tool.inertia()) ||
      !ToWireFloats(params.tcp_location, tool.tcp_location())) {
    spdlog::debug("Tool parameters of [{}] hold a value that is not a finite 32-bit float", name);
    return Fault();
  }
  tool.mass(mass);
  return Call(request, reply);
}

QorState OperationsRPC::RequestToolParams(const std::string& name, std::string& name_out,
                                          quiral::vek::ToolParams& params) {
  RPCRequest request = NewRequest(name.empty() ? ProcedureId::RequestActiveToolParams
                                                 : ProcedureId::RequestToolParams);
  RPCReply reply;
  if (!name.empty()) {
    request.tool_params().name(name);
  }
  const QorState state = Call(request, reply);
  if (!QorSucceeded(state)) {
    return state;
  }
  const auto& tool = reply.tool_params();
  name_out = tool.name();
  params.mass = static_cast<double>(tool.mass());
  FromWireFloats(tool.CoM(), params.CoM);
  FromWireFloats(tool.inertia(), params.inertia);
  FromWireFloats(tool.tcp_location(), params.tcp_location);
  return Ok();
}

QorState OperationsRPC::RequestToolPayloadCaliResult(quiral::vek::ToolParams& params) {
  RPCRequest request = NewRequest(ProcedureId::RequestToolPayloadCaliResult);
  RPCReply reply;
  const QorState state = Call(request, reply);
  if (!QorSucceeded(state)) {
    return state;
  }
  const auto& tool = reply.tool_params();
  params.mass = static_cast<double>(tool.mass());
  FromWireFloats(tool.CoM(), params.CoM);
  FromWireFloats(tool.inertia(), params.inertia);
  return Ok();
}

QorState OperationsRPC::RequestFile(ProcedureId id, const std::string& name,
                                    std::vector<uint8_t>& bytes) {
  RPCRequest request = NewRequest(id);
  RPCReply reply;
  SetLongString(request, name);
  const QorState state = Call(request, reply);
  if (!QorSucceeded(state)) {
    return state;
  }
  if (reply.string_container().empty() || reply.string_container()[0] != name) {
    spdlog::debug("Wrong filename is returned");
    return Fault();
  }
  if (reply.int_container().empty()) {
    spdlog::debug("File reply carries no CRC32 checksum");
    return Fault();
  }
  const uint32_t expected = static_cast<uint32_t>(reply.int_container()[0]);
  const auto& raw = reply.raw_bytes_container();
  if (crc32_z(0, raw.data(), raw.size()) != expected) {
    spdlog::debug("CRC32 checksum mismatch");
    return Fault();
  }
  bytes = std::move(reply.raw_bytes_container());
  return Ok();
}

QorState OperationsRPC::SendFile(ProcedureId id, const std::string& name, uint32_t crc32,
                                 const std::vector<uint8_t>& bytes) {
  if (bytes.size() > kMaxFileBytes) {
    spdlog::debug("File [{}] of {} bytes exceeds the transfer limit of {} bytes", name,
                  bytes.size(), kMaxFileBytes);
    return Fault();
  }
  RPCRequest request = NewRequest(id);
  RPCReply reply;
  SetLongString(request, name);
  request.int_args({static_cast<int32_t>(crc32)});
  request.raw_bytes_arg(bytes);
  return Call(request, reply);
}

QorState OperationsRPC::RequestDeviceStatus(const std::string& device,
                                            std::pair<bool, bool>& status) {
  RPCRequest request = NewRequest(ProcedureId::RequestDeviceStatus);
  RPCReply reply;
  request.string_args({device});
  const QorState state = Call(request, reply);
  if (!QorSucceeded(state)) {
    return state;
  }
  const auto& ints = reply.int_container();
  if (ints.size() < 2) {
    spdlog::debug("Size of int container is {}, expecting 2", ints.size());
    return Fault();
  }
  status.first = ints[0] != 0;
  status.second = ints[1] != 0;
  return Ok();
}

QorState OperationsRPC::RequestWorkCoordPose(const std::string& name,
                                             std::array<double, 7>& pose) {
  RPCRequest request = NewRequest(ProcedureId::RequestWorkCoordPose);
  RPCReply reply;
  request.string_args({name});
  const QorState state = Call(request, reply);
  if (!QorSucceeded(state)) {
    return state;
  }
  const auto& floats = reply.float_container();
  if (floats.size() != pose.size()) {
    spdlog::debug("Size mismatch between float_container and pose_output");
    return Fault();
  }
  for (size_t i = 0; i < pose.size(); ++i) {
    pose[i] = static_cast<double>(floats[i]);
  }
  return Ok();
}

QorState OperationsRPC::RequestServerVersion(std::string& version) {
  const QorState state = RequestFirstText(ProcedureId::RequestServerVersion, version);
  if (!QorSucceeded(state)) {
    return state;
  }
  spdlog::debug("Received server version = {}", version);
  spdlog::debug("[quiral::vek::Robot] Synced server version");
  return Ok();
}

QorState OperationsRPC::RequestDeviceParams(const std::string& device,
                                            std::map<std::string, DeviceParamValue>& params) {
  std::vector<std::string> names;
  {
    RPCRequest request = NewRequest(ProcedureId::RequestDeviceParams);
    RPCReply reply;
    request.string_args({device});
    const QorState state = Call(request, reply);
    if (!QorSucceeded(state)) {
      return state;
    }
    names = std::move(reply.string_container());
  }
  params.clear();
  for (const std::string& name : names) {
    RPCRequest request = NewRequest(ProcedureId::RequestDeviceParamValues);
    RPCReply reply;
    request.string_args({device, name});
    if (!Exchange(request, reply)) {
      spdlog::debug("Failed to send remote call or server reply timeout");
      return Fault();
    }
    if (!Answers(reply, request)) {
      spdlog::warn(
          "[quiral::vek::Device::params] Data type of parameter [{}] is not supported yet and "
          "will be omitted",
          name);
      continue;
    }
    const auto& ints = reply.int_container();
    const auto& floats = reply.float_container();
    const auto& texts = reply.string_container();
    DeviceParamValue value;
    if (!ints.empty()) {
      if (ints.size() > 1) {
        spdlog::debug("int vector is not a supported variant");
        return Fault();
      }
      value = static_cast<int>(ints[0]);
    } else if (!floats.empty()) {
      if (floats.size() == 1) {
        value = static_cast<double>(floats[0]);
      } else {
        value = std::vector<double>(floats.begin(), floats.end());
      }
    } else if (!texts.empty()) {
      if (texts.size() == 1) {
        value = texts[0];
      } else {
        value = texts;
      }
    } else {
      continue;
    }
    params.emplace(name, std::move(value));  // a repeated name keeps its first value
  }
  return Ok();
}

QorState OperationsRPC::RequestReachability(const std::array<double, 7>& pose,
                                            const std::vector<double>& seed,
                                            bool free_orientation,
                                            std::pair<bool, std::vector<double>>& result) {
  RPCRequest request = NewRequest(ProcedureId::RequestReachability);
  RPCReply reply;
  request.int_args({free_orientation ? 1 : 0});
  auto& floats_out = request.float_args();
  floats_out.resize(pose.size() + seed.size());
  bool finite = true;
  for (size_t i = 0; i < pose.size(); ++i) {
    finite = finite && ToWireFloat(pose[i], floats_out[i]);
  }
  for (size_t i = 0; i < seed.size(); ++i) {
    finite = finite && ToWireFloat(seed[i], floats_out[pose.size() + i]);
  }
  if (!finite) {
    spdlog::debug("Reachability request holds a value that is not a finite 32-bit float");
    return Fault();
  }
  const QorState state = Call(request, reply);
  if (!QorSucceeded(state)) {
    return state;
  }
  const auto& ints = reply.int_container();
  const auto& floats = reply.float_container();
  if (ints.size() != 1) {
    spdlog::debug("Size of int container is {}, expecting 1", ints.size());
    return Fault();
  }
  if (floats.size() != seed.size()) {
    spdlog::debug("Size of float container is {}, expecting {}", floats.size(), seed.size());
    return Fault();
  }
  result.first = ints[0] != 0;
  result.second.assign(floats.begin(), floats.end());
  return Ok();
}

}  // namespace vek_impl
}  // namespace quiral
