#include "vek/gripper.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <map>
#include <stdexcept>
#include <string_view>
#include <variant>

#include "client/vek_client.h"
#include "vek/device.h"
#include "vek/gripper_access.h"
#include "vek/robot_access.h"
#include "vek/wire_text.h"

namespace quiral::vek {
namespace {

std::string Prefix(std::string_view operation) {
  return "[quiral::vek::Gripper::" + std::string(operation) + "]";
}

// False for NaN: both comparisons fail.
bool InRange(double x, double lo, double hi) { return lo <= x && x <= hi; }

// The value sent for an accepted `x` of the range [lo, hi]: at least
// kMargin inside each bound, or the middle of a range narrower than two
// margins, so that it never leaves the range.
double InsideMargin(double x, double lo, double hi) {
  const double lo_inside = lo + Gripper::kMargin;
  const double hi_inside = hi - Gripper::kMargin;
  if (lo_inside > hi_inside) return lo + (hi - lo) / 2;
  return std::min(std::max(x, lo_inside), hi_inside);
}

// The double value of a range parameter; false when it is missing or of
// another kind.
bool ReadRange(const std::map<std::string, DeviceParamValue>& values, const char* key,
               double& out) {
  const auto it = values.find(key);
  if (it == values.end() || !std::holds_alternative<double>(it->second)) return false;
  out = std::get<double>(it->second);
  return true;
}

}  // namespace

class Gripper::Impl {
 public:
  explicit Impl(const Robot& robot) : client(detail::RobotAccess::client(robot)), device(robot) {}
  virtual ~Impl() = default;

  void RequireEnabled(std::string_view operation) const {
    if (enabled_name.empty()) {
      throw std::logic_error(Prefix(operation) + " No gripper enabled");
    }
  }

  // Refuses `x` when it lies outside [lo, hi].
  static void CheckRange(double x, double lo, double hi, std::string_view operation,
                         std::string_view argument) {
    if (!InRange(x, lo, hi)) {
      throw std::invalid_argument(Prefix(operation) + " Input parameter [" + std::string(argument) +
                                  "] is outside the valid range");
    }
  }

  // The argument checks of Grasp and Move: they throw what the command
  // throws for these arguments, in the same order, and send nothing. The
  // commands call them in their place; the gripper pair calls them for both
  // arms before either gripper is commanded (vek/gripper_access.h).
  void CheckGrasp(double force) const {
    RequireEnabled("Grasp");
    CheckRange(force, params.min_force, params.max_force, "Grasp", "force");
  }
  void CheckMove(double width, double velocity, double force_limit) const {
    RequireEnabled("Move");
    CheckRange(width, params.min_width, params.max_width, "Move", "width");
    CheckRange(velocity, params.min_vel, params.max_vel, "Move", "velocity");
    CheckRange(force_limit, params.min_force, params.max_force, "Move", "force_limit");
  }

  // One device command to the enabled gripper.
  void Send(const std::map<std::string, DeviceCommandValue>& command, std::string_view operation) {
    try {
      device.Command(enabled_name, command);
    } catch (const std::runtime_error&) {
      throw std::runtime_error(Prefix(operation) + " Failed to deliver the request");
    }
  }

  // The ranges of the gripper `name`; throws std::runtime_error when they
  // cannot be fetched or a range parameter is missing or not a double.
  GripperParams FetchParams(const std::string& name) const {
    std::map<std::string, DeviceParamValue> values;
    try {
      values = device.params(name);
    } catch (const std::runtime_error&) {
      throw std::runtime_error(Prefix("Enable") + " Failed to fetch gripper parameters");
    }
    GripperParams p;
    p.name = name;
    if (!ReadRange(values, "maxWidth", p.max_width) ||
        !ReadRange(values, "minWidth", p.min_width) ||
        !ReadRange(values, "maxForce", p.max_force) ||
        !ReadRange(values, "minForce", p.min_force) || !ReadRange(values, "maxVel", p.max_vel) ||
        !ReadRange(values, "minVel", p.min_vel)) {
      throw std::runtime_error(Prefix("Enable") + " Failed to parse gripper parameters");
    }
    return p;
  }

  std::shared_ptr<vek_impl::VEKClient> client;
  Device device;
  // Empty: no gripper enabled. Set, with params, only once both the enable
  // request and the parameters succeeded.
  std::string enabled_name;
  GripperParams params;
  // Real-time samples received when the enable request succeeded: Stop
  // needs a newer one.
  uint64_t samples_at_enable = 0;
};

Gripper::Gripper(const Robot& robot) : impl_(std::make_unique<Impl>(robot)) {}

Gripper::~Gripper() = default;

void Gripper::Enable(const std::string& name) {
  if (!impl_->enabled_name.empty()) {
    throw std::logic_error(Prefix("Enable") + " Gripper [" + impl_->enabled_name +
                           "] is currently enabled and needs to be disabled before another "
                           "gripper can be enabled");
  }
  if (!impl_->device.exist(name)) {
    throw std::invalid_argument(Prefix("Enable") + " The specified gripper [" + name +
                                "] does not exist");
  }
  detail::RequireWholeOnWire(name, Prefix("Enable"), "name");
  try {
    impl_->device.Enable(name);
  } catch (const std::runtime_error&) {
    throw std::runtime_error(Prefix("Enable") + " Failed to deliver the request");
  }
  impl_->samples_at_enable = impl_->client->rt_states_sub.SampleCount();
  try {
    impl_->params = impl_->FetchParams(name);
  } catch (const std::runtime_error&) {
    // Without its ranges the gripper cannot be commanded: take the enabling
    // back. The error that matters is the one above, so a failure to
    // disable is not reported over it.
    try {
      impl_->device.Disable(name);
    } catch (const std::runtime_error&) {
    }
    throw;
  }
  impl_->enabled_name = name;
}

void Gripper::Disable() {
  impl_->RequireEnabled("Disable");
  try {
    impl_->device.Disable(impl_->enabled_name);
  } catch (const std::runtime_error&) {
    throw std::runtime_error(Prefix("Disable") + " Failed to deliver the request");
  }
  impl_->enabled_name.clear();
  impl_->params = GripperParams();
}

void Gripper::Init() {
  impl_->RequireEnabled("Init");
  impl_->Send({{"isInit", true}}, "Init");
}

void Gripper::Grasp(double force) {
  impl_->CheckGrasp(force);
  const GripperParams& p = impl_->params;
  impl_->Send({{"targetForce", InsideMargin(force, p.min_force, p.max_force)}}, "Grasp");
}

void Gripper::Move(double width, double velocity, double force_limit) {
  impl_->CheckMove(width, velocity, force_limit);
  const GripperParams& p = impl_->params;
  impl_->Send({{"targetWidth", InsideMargin(width, p.min_width, p.max_width)},
               {"targetVel", InsideMargin(velocity, p.min_vel, p.max_vel)},
               {"targetForce", InsideMargin(force_limit, p.min_force, p.max_force)}},
              "Move");
}

void Gripper::Stop() {
  impl_->RequireEnabled("Stop");
  // A width from before the gripper was enabled (0 when no gripper
  // reported one) would close the gripper on whatever it holds.
  if (impl_->client->rt_states_sub.SampleCount() <= impl_->samples_at_enable) {
    throw std::logic_error(Prefix("Stop") +
                           " No gripper width has been measured since the gripper was enabled");
  }
  const double width = impl_->client->rt_states_sub.GripperStates().width;
  if (!std::isfinite(width)) {
    throw std::runtime_error(Prefix("Stop") + " Measured gripper width is not a finite number");
  }
  const GripperParams& p = impl_->params;
  // Held where it is; a width measured outside the limits is held at the
  // nearest limit instead.
  const double width_sent = std::min(std::max(width, p.min_width), p.max_width);
  const double velocity_sent = InsideMargin(p.min_vel, p.min_vel, p.max_vel);
  impl_->Send({{"targetWidth", width_sent}, {"targetVel", velocity_sent}}, "Stop");
}

GripperParams Gripper::params() const { return impl_->params; }

GripperStates Gripper::states() const { return impl_->client->rt_states_sub.GripperStates(); }

void detail::GripperAccess::CheckGrasp(const Gripper& gripper, double force) {
  gripper.impl_->CheckGrasp(force);
}

void detail::GripperAccess::CheckMove(const Gripper& gripper, double width, double velocity,
                                      double force_limit) {
  gripper.impl_->CheckMove(width, velocity, force_limit);
}

std::ostream& operator<<(std::ostream& out, const GripperStates& states) {
  out << std::fixed << std::setprecision(3);
  out << "{\n\"width\": " << states.width << ", \n\"force\": " << states.force
      << ", \n\"is_moving\": " << states.is_moving << "\n}";
  return out;
}

}  // namespace quiral::vek
