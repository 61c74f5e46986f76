#include "vek/file_io.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string_view>

#include "client/vek_client.h"
#include "vek/file_io_impl.h"
#include "vek/local_files.h"
#include "vek/robot.h"
#include "vek/robot_access.h"
#include "vek/wire_text.h"

namespace quiral::vek {
namespace {

namespace fs = std::filesystem;
using vek_impl::ProcedureId;

static_assert(FileIO::kMaxFileSize == vek_impl::OperationsRPC::kMaxFileBytes);

// The two files of a project, in the order they travel.
constexpr const char* kProjectExtensions[] = {".proj", ".plan"};
// Empty file that marks a downloaded project's folder.
constexpr const char* kProjectMarker = ".project";

// Throws std::invalid_argument `text` unless `names` holds `name` exactly.
void RequireListed(const std::vector<std::string>& names, const std::string& name,
                   const std::string& text) {
  if (std::find(names.begin(), names.end(), name) == names.end()) {
    throw std::invalid_argument(text);
  }
}

// Throws std::invalid_argument unless the listed `name` can be saved as
// one entry of a local folder.
void RequirePlainName(const std::string& name, std::string_view operation, std::string_view what) {
  if (!detail::IsPlainFileName(name)) {
    throw std::invalid_argument(FileIO::Impl::Prefix(operation) + " The " + std::string(what) +
                                " name [" + name + "] is not a plain file name");
  }
}

void Save(const fs::path& path, const std::vector<uint8_t>& bytes, std::string_view operation) {
  if (!detail::SaveFileBytes(path, bytes)) {
    throw std::runtime_error(FileIO::Impl::Prefix(operation) + " Failed to save file [" +
                             path.string() + "]");
  }
}

}  // namespace

// ------------------------------------------------------------------ Impl

FileIO::Impl::Impl(const Robot& robot) : robot(&robot) {
  if (detail::RobotAccess::impl(robot) == nullptr) {
    throw std::runtime_error("[quiral::vek::FileIO] pimpl of Robot instance is empty");
  }
  client = detail::RobotAccess::client(robot);
  if (!client) {
    throw std::runtime_error("[quiral::vek::FileIO] Failed to access Robot instance");
  }
}

std::string FileIO::Impl::Prefix(std::string_view operation) {
  return "[quiral::vek::FileIO::" + std::string(operation) + "]";
}

std::vector<std::string> FileIO::Impl::List(ProcedureId id, std::string_view operation) const {
  std::vector<std::string> names;
  if (!QorSucceeded(client->operations_rpc.RequestStringList(id, names))) {
    throw std::runtime_error(Prefix(operation) + " No reply from the robot");
  }
  return names;
}

std::vector<uint8_t> FileIO::Impl::Fetch(ProcedureId id, const std::string& name,
                                         const std::string& failure) const {
  std::vector<uint8_t> bytes;
  if (!QorSucceeded(client->operations_rpc.RequestFile(id, name, bytes))) {
    throw std::runtime_error(failure);
  }
  return bytes;
}

void FileIO::Impl::Send(ProcedureId id, const std::string& path, const std::string& name,
                        std::string_view operation, std::string_view kind,
                        std::string_view argument) const {
  const std::string prefix = Prefix(operation);
  detail::RequireWholeOnWire(name, prefix, argument);
  const std::string file = " " + std::string(kind) + " file [" + path + "]";
  detail::LoadedFile loaded;
  switch (detail::LoadFileBytes(path, kMaxFileSize, loaded)) {
    case detail::LoadStatus::kUnreadable:
      throw std::invalid_argument(prefix + " Failed to load" + file);
    case detail::LoadStatus::kTooLarge:
      throw std::length_error(prefix + " Size of the" + file + " has exceeded limit (" +
                              std::to_string(loaded.size) + "/" + std::to_string(kMaxFileSize) +
                              " bytes)");
    case detail::LoadStatus::kLoaded:
      break;
  }
  if (!QorSucceeded(client->operations_rpc.SendFile(id, name, loaded.crc, loaded.bytes))) {
    throw std::runtime_error(prefix + " Failed to upload" + file);
  }
}

// ------------------------------------------------------------------ FileIO

FileIO::FileIO(const Robot& robot) : impl_(std::make_unique<Impl>(robot)) {}

FileIO::~FileIO() = default;

std::vector<std::string> FileIO::traj_files_list() const {
  return impl_->List(ProcedureId::traj_files_list, "traj_files_list");
}

std::vector<std::string> FileIO::projects_list() const {
  return impl_->List(ProcedureId::projects_list, "projects_list");
}

void FileIO::UploadTrajFile(const std::string& file_dir, const std::string& file_name) {
  const std::string path = (fs::path(file_dir) / file_name).string();
  impl_->Send(ProcedureId::UploadTrajFile, path, file_name, "UploadTrajFile", "trajectory",
              "file_name");
}

std::string FileIO::DownloadTrajFile(const std::string& file_name) {
  RequireListed(traj_files_list(), file_name,
                Impl::Prefix("DownloadTrajFile") + " The specified trajectory file [" + file_name +
                    "] does not exist");
  const std::vector<uint8_t> bytes = impl_->Fetch(
      ProcedureId::DownloadTrajFile, file_name,
      Impl::Prefix("DownloadTrajFile") + " Failed to download trajectory file [" + file_name + "]");
  return std::string(bytes.begin(), bytes.end());
}

void FileIO::DownloadTrajFile(const std::string& file_name, const std::string& save_dir) {
  const std::string prefix = Impl::Prefix("DownloadTrajFile");
  RequireListed(traj_files_list(), file_name,
                prefix + " The specified trajectory file [" + file_name + "] does not exist");
  RequirePlainName(file_name, "DownloadTrajFile", "trajectory file");
  const std::vector<uint8_t> bytes =
      impl_->Fetch(ProcedureId::DownloadTrajFile, file_name,
                   prefix + " Failed to download trajectory file [" + file_name + "]");
  detail::CreateFolder(save_dir, prefix);
  Save(fs::path(save_dir) / file_name, bytes, "DownloadTrajFile");
}

void FileIO::UploadProject(const std::string& project_dir) {
  const std::string prefix = Impl::Prefix("UploadProject");
  if (impl_->robot->mode() != Mode::IDLE) {
    throw std::logic_error(prefix + " Robot is not in IDLE mode");
  }
  const std::string project_name = fs::path(project_dir).filename().string();
  for (const char* extension : kProjectExtensions) {
    const std::string file_name = project_name + extension;
    const std::string path = (fs::path(project_dir) / file_name).string();
    impl_->Send(ProcedureId::UploadProject, path, file_name, "UploadProject", "project",
                "project_dir");
  }
}

void FileIO::DownloadProject(const std::string& project_name, const std::string& save_dir) {
  const std::string prefix = Impl::Prefix("DownloadProject");
  RequireListed(projects_list(), project_name,
                prefix + " The specified project [" + project_name + "] does not exist");
  RequirePlainName(project_name, "DownloadProject", "project");
  const fs::path folder = fs::path(save_dir) / project_name;
  detail::CreateFolder(folder.string(), prefix);
  for (const char* extension : kProjectExtensions) {
    const std::string file_name = project_name + extension;
    const std::vector<uint8_t> bytes =
        impl_->Fetch(ProcedureId::DownloadProject, file_name,
                     prefix + " Failed to download project file [" + file_name + "]");
    Save(folder / file_name, bytes, "DownloadProject");
  }
  const fs::path marker = folder / kProjectMarker;
  if (!detail::SaveFileBytes(marker, std::string_view())) {
    throw std::runtime_error(prefix + " Failed to create marker file [" + marker.string() + "]");
  }
}

void FileIO::DownloadCollisionMesh(const std::string& save_dir) {
  impl_->DownloadCollisionMesh(save_dir);
}

}  // namespace quiral::vek
