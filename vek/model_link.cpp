#include "vek/model_link.h"

#include <cstdint>

#include "base/qor_state.h"
#include "client/vek_client.h"

namespace quiral::vek {
namespace {

using vek_impl::ProcedureId;

class RobotModelLink final : public ModelLink {
 public:
  RobotModelLink(std::shared_ptr<vek_impl::VEKClient> client, RobotInfo info)
      : client_(std::move(client)), info_(std::move(info)) {}

  std::size_t dof() const override { return info_.DoF; }

  std::optional<Tool> ActiveTool() const override {
    Tool tool;
    // An empty name asks for the active tool.
    if (!QorSucceeded(client_->operations_rpc.RequestToolParams("", tool.name, tool.params))) {
      return std::nullopt;
    }
    return tool;
  }

  std::optional<std::string> Urdf() const override {
    std::vector<uint8_t> bytes;
    if (!QorSucceeded(client_->operations_rpc.RequestFile(ProcedureId::GetUrdfContent,
                                                          info_.serial_number + ".urdf", bytes))) {
      return std::nullopt;
    }
    return std::string(bytes.begin(), bytes.end());
  }

  std::optional<Solution> Reachability(const std::array<double, 7>& pose,
                                       const std::vector<double>& seed,
                                       bool free_orientation) const override {
    Solution result{false, {}};
    if (!QorSucceeded(
            client_->operations_rpc.RequestReachability(pose, seed, free_orientation, result))) {
      return std::nullopt;
    }
    return result;
  }

  std::optional<Manipulability> ManipulabilityFigures() const override {
    Manipulability figures{};
    if (!QorSucceeded(
            client_->lumo_data_rpc.RequestManipulability(figures.first, figures.second))) {
      return std::nullopt;
    }
    return figures;
  }

 private:
  const std::shared_ptr<vek_impl::VEKClient> client_;
  const RobotInfo info_;
};

class FetchedUrdfLink final : public ModelLink {
 public:
  FetchedUrdfLink(std::unique_ptr<ModelLink> link, std::optional<std::string> urdf)
      : link_(std::move(link)), urdf_(std::move(urdf)) {}

  std::size_t dof() const override { return link_->dof(); }
  std::optional<Tool> ActiveTool() const override { return link_->ActiveTool(); }
  std::optional<std::string> Urdf() const override { return urdf_; }
  std::optional<Solution> Reachability(const std::array<double, 7>& pose,
                                       const std::vector<double>& seed,
                                       bool free_orientation) const override {
    return link_->Reachability(pose, seed, free_orientation);
  }
  std::optional<Manipulability> ManipulabilityFigures() const override {
    return link_->ManipulabilityFigures();
  }

 private:
  const std::unique_ptr<ModelLink> link_;
  const std::optional<std::string> urdf_;
};

}  // namespace

std::unique_ptr<ModelLink> MakeRobotModelLink(std::shared_ptr<vek_impl::VEKClient> client,
                                              RobotInfo info) {
  return std::make_unique<RobotModelLink>(std::move(client), std::move(info));
}

std::unique_ptr<ModelLink> WithFetchedUrdf(std::unique_ptr<ModelLink> link,
                                           std::optional<std::string> urdf) {
  return std::make_unique<FetchedUrdfLink>(std::move(link), std::move(urdf));
}

}  // namespace quiral::vek
