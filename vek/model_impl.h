// Internal: the implementation behind quiral::vek::Model, built on a
// ModelLink so that it runs with or without a controller. Not part of the
// public API.
//
// The model (multibody_) is guarded by mutex_. Reload fetches the inputs
// and builds the new model without the mutex, then swaps it in under it:
// queries never wait for a remote call and never see a half-built model,
// and a failed Reload leaves the previous model as it was.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <Eigen/Core>
#include <Eigen/Geometry>

#include "vek/model.h"
#include "vek/model_link.h"
#include "vek/multibody/multi_body.h"

namespace quiral::vek {

class Model::Impl {
 public:
  // Builds the model (Reload). Throws std::invalid_argument "[quiral::vek::
  // Model] The gravity vector holds a non-finite value" before any remote
  // call, and whatever Reload throws.
  Impl(std::unique_ptr<ModelLink> link, const Eigen::Vector3d& gravity);
  virtual ~Impl();

  // The link over `robot`'s connection. Throws std::runtime_error "[quiral::
  // vek::Model] pimpl of Robot instance is empty" / "... Failed to access
  // Robot instance" for a Robot without implementation or connection,
  // std::logic_error "... Starfloat is not supported"; asks nothing of the
  // controller.
  static std::unique_ptr<ModelLink> RobotLink(const Robot& robot);

  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  // Fetches the active tool, then the URDF (std::runtime_error "[quiral::
  // vek::Model] Failed to sync tool model data from server" / "... robot
  // model data from server"), builds the model (BuildMultiBody) and swaps it
  // in.
  void Reload();

  void Update(const std::vector<double>& positions, const std::vector<double>& velocities);
  Eigen::MatrixXd M();
  Eigen::MatrixXd C();
  Eigen::VectorXd GravityForce();
  Eigen::VectorXd CoriolisForce();
  Eigen::MatrixXd Jacobian(const std::string& link);
  Eigen::MatrixXd JacobianDot(const std::string& link);
  Eigen::Isometry3d T(const std::string& link);
  std::vector<std::string> link_names() const;

  std::pair<bool, std::vector<double>> reachable(const std::array<double, 7>& pose,
                                                 const std::vector<double>& seed_positions,
                                                 bool free_orientation) const;
  std::pair<double, double> configuration_score() const;
  void SyncURDF(const std::string& template_urdf_path) const;
  std::size_t SyncKinematicsYAML(const std::string& template_yaml_path) const;

  // The score of a manipulability figure `v`: 0 to 20 from 0 to 0.08, 20 to
  // 40 from 0.08 to `middle`, 40 to 100 from `middle` to `top`, 100 above
  // and 0 for negative values and NaN.
  static double Score(double v, double middle, double top);

 private:
  // The body of `link`; std::invalid_argument "[quiral::vek::Model::" +
  // operation + "] The specified link [" + link + "] does not exist".
  // Called with mutex_ held.
  std::size_t BodyOf(const std::string& link, const char* operation) const;

  const std::unique_ptr<ModelLink> link_;
  const Eigen::Vector3d gravity_;
  mutable std::mutex mutex_;
  std::unique_ptr<multibody::MultiBody> multibody_;  // guarded by mutex_
  multibody::Jacobian jacobian_;                     // scratch of J and dJ, guarded by mutex_
};

}  // namespace quiral::vek
