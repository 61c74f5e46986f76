#include "vek/model.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <spdlog/spdlog.h>

#include "vek/model_building.h"
#include "vek/model_impl.h"
#include "vek/model_sync.h"
#include "vek/robot_access.h"

namespace quiral::vek {
namespace {

void CheckJointVector(const std::vector<double>& values, std::size_t dof, const char* name) {
  if (values.size() != dof) {
    throw std::invalid_argument(std::string("[quiral::vek::Model::Update] Size of input vector [") +
                                name + "] does not match robot DoF");
  }
}

// Throws std::invalid_argument "[quiral::vek::Model::<operation>] Input
// <kind> [<name>] contains a non-finite value" for a NaN or an infinity.
void CheckFinite(const double* values, std::size_t count, const char* operation, const char* kind,
                 const char* name) {
  if (std::all_of(values, values + count, [](double v) { return std::isfinite(v); })) return;
  throw std::invalid_argument(std::string("[quiral::vek::Model::") + operation + "] Input " +
                              kind + " [" + name + "] contains a non-finite value");
}

// The values of an argument of `reachable`, which go to the controller as
// 32-bit floats: a finite double too large for a float would arrive there
// as an infinity. Non-finite values are refused as by CheckFinite.
void CheckWireFloats(const double* values, std::size_t count, const char* kind,
                     const char* name) {
  CheckFinite(values, count, "reachable", kind, name);
  if (std::all_of(values, values + count, Robot::Impl::IsWireFloat)) return;
  throw std::invalid_argument(std::string("[quiral::vek::Model::reachable] Input ") + kind + " [" +
                              name + "] contains a value outside the 32-bit float range");
}

Eigen::Map<const Eigen::VectorXd> AsVector(const std::vector<double>& values) {
  return {values.data(), static_cast<Eigen::Index>(values.size())};
}

}  // namespace

// ---------------------------------------------------------------------------
// Model: forwards to its Impl.

Model::Model(const Robot& robot, const Eigen::Vector3d& gravity_vector)
    : impl_(std::make_unique<Impl>(Impl::RobotLink(robot), gravity_vector)) {}

Model::~Model() = default;

void Model::Reload() { impl_->Reload(); }
void Model::Update(const std::vector<double>& positions, const std::vector<double>& velocities) {
  impl_->Update(positions, velocities);
}
Eigen::MatrixXd Model::M() { return impl_->M(); }
Eigen::MatrixXd Model::C() { return impl_->C(); }
Eigen::VectorXd Model::g() { return impl_->GravityForce(); }
Eigen::VectorXd Model::c() { return impl_->CoriolisForce(); }
Eigen::MatrixXd Model::J(const std::string& link) { return impl_->Jacobian(link); }
Eigen::MatrixXd Model::dJ(const std::string& link) { return impl_->JacobianDot(link); }
Eigen::Isometry3d Model::T(const std::string& link) { return impl_->T(link); }
std::vector<std::string> Model::link_names() const { return impl_->link_names(); }
std::pair<bool, std::vector<double>> Model::reachable(const std::array<double, 7>& pose,
                                                      const std::vector<double>& seed_positions,
                                                      bool free_orientation) const {
  return impl_->reachable(pose, seed_positions, free_orientation);
}
std::pair<double, double> Model::configuration_score() const {
  return impl_->configuration_score();
}
void Model::SyncURDF(const std::string& template_urdf_path) { impl_->SyncURDF(template_urdf_path); }
std::size_t Model::SyncKinematicsYAML(const std::string& template_yaml_path) {
  return impl_->SyncKinematicsYAML(template_yaml_path);
}

// ---------------------------------------------------------------------------
// Building.

Model::Impl::Impl(std::unique_ptr<ModelLink> link, const Eigen::Vector3d& gravity)
    : link_(std::move(link)), gravity_(gravity) {
  if (!gravity_.allFinite()) {
    throw std::invalid_argument("[quiral::vek::Model] The gravity vector holds a non-finite value");
  }
  Reload();
}

Model::Impl::~Impl() = default;

std::unique_ptr<ModelLink> Model::Impl::RobotLink(const Robot& robot) {
  if (detail::RobotAccess::impl(robot) == nullptr) {
    throw std::runtime_error("[quiral::vek::Model] pimpl of Robot instance is empty");
  }
  std::shared_ptr<vek_impl::VEKClient> client = detail::RobotAccess::client(robot);
  if (!client) throw std::runtime_error("[quiral::vek::Model] Failed to access Robot instance");
  if (detail::RobotAccess::robot_model(robot) == Robot::Impl::STARFLOAT) {
    throw std::logic_error("[quiral::vek::Model] Starfloat is not supported");
  }
  return MakeRobotModelLink(std::move(client), robot.info());
}

void Model::Impl::Reload() {
  // The tool first: a missing tool reply is reported even when the URDF
  // would have arrived.
  const std::optional<ModelLink::Tool> tool = link_->ActiveTool();
  if (!tool) {
    throw std::runtime_error("[quiral::vek::Model] Failed to sync tool model data from server");
  }
  spdlog::debug("[quiral::vek::Model::Reload] Synced tool model data from server");
  const std::optional<std::string> urdf = link_->Urdf();
  if (!urdf) {
    throw std::runtime_error("[quiral::vek::Model] Failed to sync robot model data from server");
  }
  spdlog::debug("[quiral::vek::Model::Reload] Synced robot model data from server");

  std::unique_ptr<multibody::MultiBody> built =
      BuildMultiBody(*urdf, *tool, link_->dof(), gravity_);
  spdlog::debug(tool->name != kNoTool
                    ? "[quiral::vek::Model] Robot tool detected, including new tool model"
                    : "[quiral::vek::Model] No end-effector tool installed");
  {
    std::lock_guard<std::mutex> lock(mutex_);
    multibody_.swap(built);
  }  // the previous model is released outside the lock
  spdlog::debug("[quiral::vek::Model] Reload complete");
}

// ---------------------------------------------------------------------------
// Queries.

std::size_t Model::Impl::BodyOf(const std::string& link, const char* operation) const {
  const std::optional<std::size_t> body = multibody_->tree().body_index(link);
  if (!body) {
    throw std::invalid_argument(std::string("[quiral::vek::Model::") + operation +
                                "] The specified link [" + link + "] does not exist");
  }
  return *body;
}

void Model::Impl::Update(const std::vector<double>& positions,
                         const std::vector<double>& velocities) {
  std::lock_guard<std::mutex> lock(mutex_);
  CheckJointVector(positions, multibody_->dof(), "positions");
  CheckJointVector(velocities, multibody_->dof(), "velocities");
  CheckFinite(positions.data(), positions.size(), "Update", "vector", "positions");
  CheckFinite(velocities.data(), velocities.size(), "Update", "vector", "velocities");
  multibody_->Update(AsVector(positions), AsVector(velocities));
}

Eigen::MatrixXd Model::Impl::M() {
  std::lock_guard<std::mutex> lock(mutex_);
  return multibody_->MassMatrix();
}

Eigen::MatrixXd Model::Impl::C() {
  std::lock_guard<std::mutex> lock(mutex_);
  return multibody_->CoriolisMatrix();
}

Eigen::VectorXd Model::Impl::GravityForce() {
  std::lock_guard<std::mutex> lock(mutex_);
  return multibody_->GravityTorques();
}

Eigen::VectorXd Model::Impl::CoriolisForce() {
  std::lock_guard<std::mutex> lock(mutex_);
  return multibody_->CoriolisTorques();
}

Eigen::MatrixXd Model::Impl::Jacobian(const std::string& link) {
  std::lock_guard<std::mutex> lock(mutex_);
  multibody_->BodyJacobian(BodyOf(link, "J"), jacobian_);
  return jacobian_;
}

Eigen::MatrixXd Model::Impl::JacobianDot(const std::string& link) {
  std::lock_guard<std::mutex> lock(mutex_);
  multibody_->BodyJacobianDot(BodyOf(link, "dJ"), jacobian_);
  return jacobian_;
}

Eigen::Isometry3d Model::Impl::T(const std::string& link) {
  std::lock_guard<std::mutex> lock(mutex_);
  return multibody_->pose(BodyOf(link, "T"));
}

std::vector<std::string> Model::Impl::link_names() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return multibody_->tree().body_names();
}

// ---------------------------------------------------------------------------
// Answered by the controller.

std::pair<bool, std::vector<double>> Model::Impl::reachable(
    const std::array<double, 7>& pose, const std::vector<double>& seed_positions,
    bool free_orientation) const {
  if (seed_positions.size() != link_->dof()) {
    throw std::invalid_argument(
        "[quiral::vek::Model::reachable] Size of input vector [seed_positions] does not match "
        "robot DoF");
  }
  // Refused before anything is sent, so that a missing reply always means
  // the controller did not answer.
  CheckWireFloats(pose.data(), pose.size(), "parameter", "pose");
  CheckWireFloats(seed_positions.data(), seed_positions.size(), "vector", "seed_positions");
  auto result = link_->Reachability(pose, seed_positions, free_orientation);
  if (!result) throw std::runtime_error("[quiral::vek::Model::reachable] No reply from the robot");
  return *std::move(result);
}

double Model::Impl::Score(double v, double middle, double top) {
  constexpr double kLow = 0.08;
  if (v >= middle) return std::min(100.0, 40.0 + (v - middle) / (top - middle) * 60.0);
  if (v >= kLow) return 20.0 + (v - kLow) / (middle - kLow) * 20.0;
  if (v >= 0.0) return v / kLow * 20.0;
  return 0.0;  // negative or NaN
}

std::pair<double, double> Model::Impl::configuration_score() const {
  const std::optional<ModelLink::Manipulability> figures = link_->ManipulabilityFigures();
  if (!figures) {
    throw std::runtime_error("[quiral::vek::Model::configuration_score] No reply from the robot");
  }
  return {Score(figures->first[2], 0.15, 0.22), Score(figures->second[2], 0.3, 0.75)};
}

void Model::Impl::SyncURDF(const std::string& template_urdf_path) const {
  SyncUrdfTemplate(template_urdf_path, [this] { return link_->Urdf(); });
}

std::size_t Model::Impl::SyncKinematicsYAML(const std::string& template_yaml_path) const {
  return SyncYamlTemplate(template_yaml_path, [this] { return link_->Urdf(); });
}

}  // namespace quiral::vek
