// Internal: what a Model asks its robot's controller. The Model is built on
// this interface, so that everything but these calls runs without a
// controller; MakeRobotModelLink gives the one over a Robot's connection.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "vek/data_types.h"

namespace quiral::vek_impl {
class VEKClient;
}  // namespace quiral::vek_impl

namespace quiral::vek {

// Each call makes its remote calls and returns nothing (std::nullopt) when
// one failed; the reason is in the link's debug log.
class ModelLink {
 public:
  struct Tool {
    std::string name;
    ToolParams params;
  };
  using Solution = std::pair<bool, std::vector<double>>;  // reachable flag, joint positions
  using Manipulability = std::pair<std::array<double, 3>, std::array<double, 3>>;

  virtual ~ModelLink() = default;

  // The Robot's degrees of freedom.
  virtual std::size_t dof() const = 0;
  // The active tool.
  virtual std::optional<Tool> ActiveTool() const = 0;
  // The robot's URDF, byte for byte.
  virtual std::optional<std::string> Urdf() const = 0;
  // The controller's inverse kinematics.
  virtual std::optional<Solution> Reachability(const std::array<double, 7>& pose,
                                               const std::vector<double>& seed,
                                               bool free_orientation) const = 0;
  // The controller's translational and rotational manipulability figures.
  virtual std::optional<Manipulability> ManipulabilityFigures() const = 0;
};

// The link over a Robot's connection; `info` is the Robot's description
// (its serial number names the URDF file).
std::unique_ptr<ModelLink> MakeRobotModelLink(std::shared_ptr<vek_impl::VEKClient> client,
                                              RobotInfo info);

// `link` with the robot's URDF fetched already, for a caller that needs the
// text for more than the Model: Urdf() answers `urdf` (std::nullopt: the
// fetch failed) without a remote call; everything else goes to `link`.
std::unique_ptr<ModelLink> WithFetchedUrdf(std::unique_ptr<ModelLink> link,
                                           std::optional<std::string> urdf);

}  // namespace quiral::vek
