#include "vek/device.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "client/vek_client.h"
#include "vek/robot_access.h"
#include "vek/wire_text.h"

namespace quiral::vek {
namespace {

using vek_impl::ProcedureId;

std::string Prefix(std::string_view operation) {
  return "[quiral::vek::Device::" + std::string(operation) + "]";
}

// A double that stays the same finite number, rounded, as a 32-bit float.
bool IsWireFloat(double x) { return std::isfinite(x) && std::fabs(x) <= FLT_MAX; }

// Type tag and wire values of one command entry.
struct PackedEntry {
  const char* tag;
  int integer;
  float real;
};

PackedEntry Pack(const DeviceCommandValue& value) {
  if (const bool* b = std::get_if<bool>(&value)) return {"<bool>", *b ? 1 : 0, 0.0f};
  if (const int* i = std::get_if<int>(&value)) return {"<int>", *i, 0.0f};
  return {"<double>", 0, static_cast<float>(std::get<double>(value))};
}

}  // namespace

class Device::Impl {
 public:
  virtual ~Impl() = default;

  // Throws std::invalid_argument unless the controller listed `name`.
  void RequireListed(const std::string& name, std::string_view operation) const {
    if (std::find(names.begin(), names.end(), name) == names.end()) {
      throw std::invalid_argument(Prefix(operation) + " The specified device [" + name +
                                  "] does not exist");
    }
  }

  // One procedure-45 call: {enabled, connected}.
  std::pair<bool, bool> Status(const std::string& name, std::string_view operation) const {
    RequireListed(name, operation);
    std::pair<bool, bool> status{false, false};
    if (!QorSucceeded(client->operations_rpc.RequestDeviceStatus(name, status))) {
      throw std::runtime_error(Prefix(operation) + " No reply from the robot");
    }
    return status;
  }

  void SetEnabled(const std::string& name, bool enable) {
    const std::string_view operation = enable ? "Enable" : "Disable";
    RequireListed(name, operation);
    detail::RequireWholeOnWire(name, Prefix(operation), "name");
    if (!QorSucceeded(client->operations_rpc.GeneralCall(ProcedureId::EnableDevice, name,
                                                         {enable ? 1 : 0}, {}, {}))) {
      throw std::runtime_error(Prefix(operation) + " Failed to deliver the request");
    }
  }

  std::shared_ptr<vek_impl::VEKClient> client;
  std::vector<std::string> names;
};

Device::Device(const Robot& robot) : impl_(std::make_unique<Impl>()) {
  if (detail::RobotAccess::impl(robot) == nullptr) {
    throw std::runtime_error("[quiral::vek::Device] pimpl of Robot instance is empty");
  }
  impl_->client = detail::RobotAccess::client(robot);
  if (!impl_->client) {
    throw std::runtime_error("[quiral::vek::Device] Failed to access Robot instance");
  }
  if (!QorSucceeded(impl_->client->operations_rpc.RequestStringList(ProcedureId::RequestDeviceList,
                                                                    impl_->names))) {
    throw std::runtime_error("[quiral::vek::Device] Failed to initialize device list");
  }
}

Device::~Device() = default;

std::vector<std::string> Device::list() const { return impl_->names; }

bool Device::exist(const std::string& name) const {
  return std::find(impl_->names.begin(), impl_->names.end(), name) != impl_->names.end();
}

bool Device::enabled(const std::string& name) const { return impl_->Status(name, "enabled").first; }

bool Device::connected(const std::string& name) const {
  return impl_->Status(name, "connected").second;
}

std::map<std::string, DeviceParamValue> Device::params(const std::string& name) const {
  impl_->RequireListed(name, "params");
  std::map<std::string, DeviceParamValue> params;
  if (!QorSucceeded(impl_->client->operations_rpc.RequestDeviceParams(name, params))) {
    throw std::runtime_error(Prefix("params") + " Failed to deliver the request");
  }
  return params;
}

void Device::Enable(const std::string& name) { impl_->SetEnabled(name, true); }

void Device::Disable(const std::string& name) { impl_->SetEnabled(name, false); }

void Device::Command(const std::string& name,
                     const std::map<std::string, DeviceCommandValue>& commands) {
  impl_->RequireListed(name, "Command");
  detail::RequireWholeOnWire(name, Prefix("Command"), "name");
  std::vector<int> integers;
  std::vector<float> reals;
  std::vector<std::string> tagged_names;
  for (const auto& [key, value] : commands) {
    if (key.find('\0') != std::string::npos) {
      throw std::invalid_argument(Prefix("Command") +
                                  " Input parameter [commands] contains a name with a null "
                                  "character");
    }
    if (const double* x = std::get_if<double>(&value); x != nullptr && !IsWireFloat(*x)) {
      throw std::invalid_argument(Prefix("Command") + " Value of command [" + key +
                                  "] is not a finite 32-bit float");
    }
    const PackedEntry entry = Pack(value);
    integers.push_back(entry.integer);
    reals.push_back(entry.real);
    tagged_names.push_back(key + entry.tag);
  }
  if (!QorSucceeded(impl_->client->operations_rpc.GeneralCall(ProcedureId::CommandDevice, name,
                                                              integers, reals, tagged_names))) {
    throw std::runtime_error(Prefix("Command") + " Failed to deliver the request");
  }
}

}  // namespace quiral::vek
