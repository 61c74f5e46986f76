// Internal: the implementation behind quiral::vek::FileIO, shared by its
// two sources: file_io.cpp (lists, trajectory files, projects) and
// collision_mesh_download.cpp.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "client/service_ids.h"
#include "vek/file_io.h"
#include "vek/urdf_collision_meshes.h"

namespace quiral::vek_impl {
class VEKClient;
}  // namespace quiral::vek_impl

namespace quiral::vek {

class FileIO::Impl {
 public:
  // Throws std::runtime_error when `robot` has no implementation or link
  // client.
  explicit Impl(const Robot& robot);
  virtual ~Impl() = default;

  // "[quiral::vek::FileIO::" + operation + "]".
  static std::string Prefix(std::string_view operation);

  // The names listed by procedure `id`; std::runtime_error
  // Prefix(operation) + " No reply from the robot" when the call fails.
  std::vector<std::string> List(vek_impl::ProcedureId id, std::string_view operation) const;
  // The bytes of file `name` by procedure `id`; std::runtime_error
  // `failure` when the transfer fails.
  std::vector<uint8_t> Fetch(vek_impl::ProcedureId id, const std::string& name,
                             const std::string& failure) const;
  // Sends the local file `path` as `name` by procedure `id`. `kind`
  // ("trajectory" or "project") words the errors; `argument` names the
  // caller's input that `name` comes from.
  void Send(vek_impl::ProcedureId id, const std::string& path, const std::string& name,
            std::string_view operation, std::string_view kind, std::string_view argument) const;

  // Fetches the robot's URDF and downloads the meshes it names.
  void DownloadCollisionMesh(const std::string& save_dir) const;
  // Downloads the meshes named by `urdf`, the robot's URDF fetched already,
  // and returns what the URDF says of them.
  std::map<std::string, detail::UrdfCollisionMesh> DownloadCollisionMesh(
      const std::string& save_dir, const std::string& urdf) const;

  std::shared_ptr<vek_impl::VEKClient> client;
  // Not owned; outlives this object.
  const Robot* robot;
};

}  // namespace quiral::vek
