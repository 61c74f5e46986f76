// Internal: copying the joint origins of the robot's URDF into a user's
// URDF or kinematics-YAML template (Model::SyncURDF and
// Model::SyncKinematicsYAML).
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace quiral::vek {

// Downloads the robot's URDF; nothing when the download failed.
using UrdfDownload = std::function<std::optional<std::string>()>;

// Both load and check the template first, then download the robot's URDF
// (so a bad template costs no remote call), update the template in memory
// and write the result to the file with detail::SaveFileBytes (replaced
// whole, its permissions kept, a symbolic link followed; rewritten in place
// when no temporary file may be made beside it; a path that is not a
// regular file is refused). Every failure throws and leaves the file's
// content as it was (but for an I/O error in the middle of a write in
// place).
//
// URDF: for each named joint of the robot's URDF, the template's first
// joint of that name takes the robot joint's `origin` rpy and xyz texts,
// when both joints have an origin and the robot's has both attributes.
// Texts begin "[quiral::vek::Model::SyncURDF] ": std::invalid_argument
// "Failed to load template URDF at [path]", "Missing <robot> root element
// in the template URDF"; std::runtime_error "Failed to obtain URDF from
// server", "Failed to parse the URDF obtained from server", "Failed to find
// <robot> element in URDF", "Failed to save updated URDF to [path]".
void SyncUrdfTemplate(const std::string& path, const UrdfDownload& download);

// YAML: for each named joint of the robot's URDF with an origin and an
// entry under the template's root key `kinematics`, the entry's x, y, z
// and roll, pitch, yaw take the numbers of the origin's xyz and rpy (each
// triple when its attribute is present and holds exactly three finite
// numbers; otherwise the entry keeps its values and a warning is logged).
// Returns the number of such joints. Texts begin
// "[quiral::vek::Model::SyncKinematicsYAML] ": std::invalid_argument
// "Failed to load template YAML at [path]", "Missing <kinematics> root node
// in the template YAML" (also when it is neither a map nor empty), "Entry
// [joint] under <kinematics> is not a map" (a sequence); std::runtime_error
// "Failed to obtain URDF from server", "Failed to parse the URDF obtained
// from server", "Failed to find <robot> element in URDF", "Failed to save
// updated YAML to [path]". The entry of such a joint that is a scalar
// throws yaml-cpp's YAML::BadSubscript, unchanged.
std::size_t SyncYamlTemplate(const std::string& path, const UrdfDownload& download);

// SyncYamlTemplate's work on the template's text `yaml` instead of its
// file: the updated text and the number of joints synced. `path` only
// names the template in the error texts, which are SyncYamlTemplate's but
// for the failed save, which here is the emitter's failure.
struct SyncedYaml {
  std::string text;
  std::size_t joints = 0;
};
SyncedYaml SyncYamlText(const std::string& yaml, const std::string& path,
                        const UrdfDownload& download);

}  // namespace quiral::vek
