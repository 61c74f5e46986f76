// Client of the robot's operations service: numbered remote procedures,
// each one request answered by one reply.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "base/controller_states.h"
#include "base/qor_state.h"
#include "base/vek_types.h"
#include "client/service_client.h"
#include "client/service_ids.h"

namespace quiral {
namespace vek_impl {

// Every operation returns OK (100000) or FAULT (300000) and never throws
// for a failed call; the reason of a FAULT goes to the default logger. A
// silent server is asked 3 times (2 s each, no pause); a reply that reports
// failure ends the call at once, and so does one that names the call's
// request but carries another procedure id; one to another procedure is
// dropped (see ServiceClient). A reply of
// the wrong shape (missing entries, sizes that do not fit) is a FAULT and
// leaves every output argument as it was. Init and RequestStringList
// (procedure `id` without arguments, the reply's texts in order) come from
// ServiceClient.
class OperationsRPC : public ServiceClient<OperationsService> {
 public:
  // Value of one device parameter.
  using DeviceParamValue =
      std::variant<int, double, std::string, std::vector<double>, std::vector<std::string>>;

  OperationsRPC() = default;
  ~OperationsRPC() override = default;

  // Procedure `id` with the given arguments; no reply data. The long text is
  // sent up to its first NUL and at most 10000 characters.
  QorState GeneralCall(ProcedureId id, const std::string& long_string_arg,
                       const std::vector<int>& int_args, const std::vector<float>& float_args,
                       const std::vector<std::string>& string_args);
  // Procedure 7 with {mode}, its attempts taking their turns as `turn`
  // says (a stop is urgent; a switch is abandoned once a stop overtook it).
  QorState SwitchCtrlMode(qor::ExtCtrlMode mode, const CallTurn& turn = {});
  // Procedure 6: server text, joint counts, reply flag and the four limit
  // vectors (q_max, q_min, joint_limit_3, tau_max). Other fields untouched.
  QorState RequestRobotInfo(quiral::vek::RobotInfo& info);
  // Sends a tool's parameters under procedure `id`. Every number must be a
  // finite 32-bit float, else FAULT and nothing is sent.
  QorState UpdateTool(ProcedureId id, const std::string& name,
                      const quiral::vek::ToolParams& params);
  // Procedure 34 (active tool, empty name) or 35 (tool by name).
  QorState RequestToolParams(const std::string& name, std::string& name_out,
                             quiral::vek::ToolParams& params);
  // Procedure 37: mass, CoM and inertia; tcp_location untouched.
  QorState RequestToolPayloadCaliResult(quiral::vek::ToolParams& params);
  // File `name` by procedure `id`; the reply must name the same file and
  // carry bytes whose CRC-32 (IEEE 802.3, zlib's crc32) matches the one it
  // gives. `bytes` is written
  // only on success.
  QorState RequestFile(ProcedureId id, const std::string& name, std::vector<uint8_t>& bytes);
  // Sends `bytes` (at most kMaxFileBytes) with their CRC-32 as file `name`.
  QorState SendFile(ProcedureId id, const std::string& name, uint32_t crc32,
                    const std::vector<uint8_t>& bytes);
  // Procedure 45: {enabled, connected}.
  QorState RequestDeviceStatus(const std::string& device, std::pair<bool, bool>& status);
  // Procedure 53: exactly 7 floats.
  QorState RequestWorkCoordPose(const std::string& name, std::array<double, 7>& pose);
  // Procedure 3: the first text.
  QorState RequestServerVersion(std::string& version);
  // Procedure 43 for the parameter names, then 44 once per name.
  QorState RequestDeviceParams(const std::string& device,
                               std::map<std::string, DeviceParamValue>& params);
  // Procedure 10: {free orientation}, pose(7) and seed as floats (finite
  // 32-bit floats only, else FAULT and nothing is sent); the reply holds
  // {reachable} and one float per seed entry.
  QorState RequestReachability(const std::array<double, 7>& pose, const std::vector<double>& seed,
                               bool free_orientation, std::pair<bool, std::vector<double>>& result);

  // Largest file SendFile transfers, in bytes.
  static constexpr size_t kMaxFileBytes = 1000000;
  // Longest long text argument, in characters; a longer one is cut.
  static constexpr size_t kMaxLongStringChars = 10000;
};

}  // namespace vek_impl
}  // namespace quiral
