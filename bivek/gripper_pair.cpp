#include "bivek/gripper_pair.h"

#include "bivek/per_arm.h"
#include "vek/gripper.h"
#include "vek/gripper_access.h"

namespace quiral::bivek {
namespace {

using detail::CheckedMember;
using detail::RunConcurrentSelected;
using detail::RunSequential;
using detail::RunSequentialSelected;
using detail::TagFailures;
using detail::TagInputStateAndFailures;
using detail::TagStateAndFailures;
using vek::Gripper;
using vek::detail::GripperAccess;

constexpr detail::Untagged kUntagged;

std::string Name(const char* operation) {
  return std::string("[quiral::bivek::GripperPair::") + operation + "]";
}

}  // namespace

class GripperPair::Impl {
 public:
  template <class T>
  using PerArm = std::pair<T, T>;

  explicit Impl(const RobotPair& robot_pair) {
    const PerArm<std::shared_ptr<vek::Robot>> robots = robot_pair.instances();
    RunSequential(
        TagFailures("[quiral::bivek::GripperPair]"),
        [&] { grippers.first = std::make_shared<Gripper>(*robots.first); },
        [&] { grippers.second = std::make_shared<Gripper>(*robots.second); });
  }
  // Releases the second gripper, then the first.
  virtual ~Impl() {
    grippers.second.reset();
    grippers.first.reset();
  }

  void Enable(const PerArm<std::string>& names) {
    RunSequentialSelected(
        TagInputStateAndFailures(Name("Enable")), {!names.first.empty(), !names.second.empty()},
        [&] {
          grippers.first->Enable(names.first);
          enabled.first = true;
        },
        [&] {
          grippers.second->Enable(names.second);
          enabled.second = true;
        });
  }

  void Disable(PerArm<bool> arms) {
    RunSequentialSelected(
        TagStateAndFailures(Name("Disable")), arms,
        [&] {
          grippers.first->Disable();
          enabled.first = false;
        },
        [&] {
          grippers.second->Disable();
          enabled.second = false;
        });
  }

  void Init() {
    RunConcurrentSelected(TagStateAndFailures(Name("Init")), enabled, grippers, &Gripper::Init);
  }

  // Both enabled arms' values are checked before either gripper is
  // commanded.
  void Grasp(PerArm<double> forces) {
    RunConcurrentSelected(TagInputStateAndFailures(Name("Grasp")), enabled, grippers,
                          CheckedMember{&GripperAccess::CheckGrasp, &Gripper::Grasp}, forces);
  }

  void Move(PerArm<double> widths, PerArm<double> velocities, PerArm<double> force_limits) {
    RunConcurrentSelected(TagInputStateAndFailures(Name("Move")), enabled, grippers,
                          CheckedMember{&GripperAccess::CheckMove, &Gripper::Move}, widths,
                          velocities, force_limits);
  }

  void Stop(PerArm<bool> arms) {
    RunConcurrentSelected(TagStateAndFailures(Name("Stop")),
                          {arms.first && enabled.first, arms.second && enabled.second}, grippers,
                          &Gripper::Stop);
  }

  PerArm<vek::GripperParams> params() const {
    return RunSequential(kUntagged, grippers, &Gripper::params);
  }
  PerArm<vek::GripperStates> states() const {
    return RunSequential(kUntagged, grippers, &Gripper::states);
  }

  PerArm<std::shared_ptr<Gripper>> grippers;
  // Whether this object enabled the arm's gripper and has not disabled it
  // since; the commands run only on such arms.
  PerArm<bool> enabled = {false, false};
};

GripperPair::GripperPair(const RobotPair& robot_pair) : impl_(std::make_unique<Impl>(robot_pair)) {}

GripperPair::~GripperPair() = default;

void GripperPair::Enable(const std::pair<std::string, std::string>& names) { impl_->Enable(names); }
void GripperPair::Disable(std::pair<bool, bool> arms) { impl_->Disable(arms); }
void GripperPair::Init() { impl_->Init(); }
void GripperPair::Grasp(std::pair<double, double> forces) { impl_->Grasp(forces); }
void GripperPair::Move(std::pair<double, double> widths, std::pair<double, double> velocities,
                       std::pair<double, double> force_limits) {
  impl_->Move(widths, velocities, force_limits);
}
void GripperPair::Stop(std::pair<bool, bool> arms) { impl_->Stop(arms); }
void GripperPair::Stop() { impl_->Stop({true, true}); }

std::pair<vek::GripperParams, vek::GripperParams> GripperPair::params() const {
  return impl_->params();
}
std::pair<vek::GripperStates, vek::GripperStates> GripperPair::states() const {
  return impl_->states();
}

}  // namespace quiral::bivek
