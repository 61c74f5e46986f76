// quiral::vek::FileIO: files moved between the local file system and the
// controller of one Robot: trajectory files, projects and the robot's
// collision meshes.
//
// Every file is one remote call carrying the whole file with its CRC-32
// (IEEE 802.3); a download whose CRC-32 does not match fails and writes
// nothing. A file to upload may hold at most kMaxFileSize bytes. Files are
// written to a temporary file beside the target and renamed over it once
// complete, so a target is either left as it was or replaced whole; a
// replaced file keeps its permission bits (and, for root, its owner), a
// symbolic link stays a link to the file that gets the bytes, and a file
// with several hard links, or in a folder where no file may be created, is
// rewritten in place; a target that is not a regular file (a FIFO, a
// device) is refused and left alone. A name that comes from the controller
// is used locally only when it is a plain file name (not empty, not "." or
// "..", without "/" or '\0'). Errors begin with
// "[quiral::vek::FileIO::<operation>] ":
//   std::invalid_argument  a local file that cannot be read, a name that is
//                          not listed or cannot be sent or saved;
//   std::length_error      a file or name larger than the link carries;
//   std::logic_error       a project upload outside IDLE;
//   std::runtime_error     a failed transfer or a file that cannot be saved;
//   std::filesystem::filesystem_error  a folder that cannot be created.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace quiral::vek {

class Robot;

class FileIO {
 public:
  // Largest file an upload sends, in bytes.
  static constexpr std::size_t kMaxFileSize = 1000000;

  // `robot` must outlive this object. Throws std::runtime_error when it has
  // no implementation or link client.
  explicit FileIO(const Robot& robot);
  virtual ~FileIO();

  FileIO(const FileIO&) = delete;
  FileIO& operator=(const FileIO&) = delete;

  // The controller's trajectory files and projects, in its order.
  std::vector<std::string> traj_files_list() const;
  std::vector<std::string> projects_list() const;

  // Sends `file_dir`/`file_name` under the name `file_name`.
  void UploadTrajFile(const std::string& file_dir, const std::string& file_name);
  // A listed trajectory file's bytes, every byte value kept.
  std::string DownloadTrajFile(const std::string& file_name);
  // The same, saved as `save_dir`/`file_name` (the folder is created).
  void DownloadTrajFile(const std::string& file_name, const std::string& save_dir);

  // Sends <name>.proj, then <name>.plan of the folder `project_dir`, whose
  // last component is the project's name. Only in IDLE.
  void UploadProject(const std::string& project_dir);
  // Saves a listed project as `save_dir`/<name>/ with <name>.proj,
  // <name>.plan and the empty marker file ".project".
  void DownloadProject(const std::string& project_name, const std::string& save_dir);

  // Fills `save_dir` (created when missing) with one file per URDF link
  // that has a collision mesh: the link's name plus the mesh file's
  // extension, holding exactly the controller's bytes. Nothing is deleted.
  void DownloadCollisionMesh(const std::string& save_dir);

  class Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace quiral::vek
