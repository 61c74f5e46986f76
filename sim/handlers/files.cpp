// Files kept by the controller: the robot's URDF, trajectory files,
// projects and collision meshes. A download carries {name}, {CRC-32} and
// the bytes; an upload brings the same and is stored only when its CRC-32
// matches.
#include <zlib.h>

#include "msgs/vek_msgs/rpc_reply.h"
#include "msgs/vek_msgs/rpc_request.h"
#include "sim/handler_registry.h"
#include "sim/handlers/families.h"
#include "sim/message_args.h"
#include "sim/robot_state.h"

namespace quiral::sim {

namespace {

namespace vek = vek_msgs::msg;

constexpr size_t kMaxUploadBytes = 1000000;

OpsHandler Download(const char* store) {
  return [store](RobotState& s, const vek::RPCRequest& request, vek::RPCReply& reply) {
    const std::string name = LongString(request);
    const FileStore::File* file = s.files.Find(store, name);
    if (!file) return false;
    reply.string_container({name});
    reply.int_container({static_cast<int32_t>(file->crc)});
    reply.raw_bytes_container(*file->bytes);
    return true;
  };
}

// With `idle_only` (projects) accepted in IDLE only; a refused upload
// stores nothing.
OpsHandler Upload(const char* store, bool idle_only) {
  return [store, idle_only](RobotState& s, const vek::RPCRequest& request, vek::RPCReply&) {
    const std::string name = LongString(request);
    const auto& bytes = request.raw_bytes_arg();
    if ((idle_only && s.mode != kIdle) || name.empty() || request.int_args().size() != 1 ||
        bytes.size() > kMaxUploadBytes) {
      return false;
    }
    const auto crc = static_cast<uint32_t>(crc32_z(0, bytes.data(), bytes.size()));
    if (crc != static_cast<uint32_t>(request.int_args()[0])) return false;
    s.files.Put(store, name, std::vector<uint8_t>(bytes.begin(), bytes.end()));
    return true;
  };
}

bool TrajectoryFileList(RobotState& s, const vek::RPCRequest&, vek::RPCReply& reply) {
  reply.string_container(s.files.Names("trajectory"));
  return true;
}

// A project is listed once, under the name its files share.
bool ProjectList(RobotState& s, const vek::RPCRequest&, vek::RPCReply& reply) {
  std::vector<std::string> names;
  for (const auto& file : s.files.Names("project")) {
    const size_t dot = file.rfind('.');
    const std::string project = dot == std::string::npos ? file : file.substr(0, dot);
    if (names.empty() || names.back() != project) names.push_back(project);
  }
  reply.string_container(std::move(names));
  return true;
}

}  // namespace

void AddFileHandlers(HandlerRegistry& registry) {
  registry.AddOperation(ProcedureId::kDownloadUrdf, Download("urdf"));
  registry.AddOperation(ProcedureId::kTrajectoryFileList, TrajectoryFileList);
  registry.AddOperation(ProcedureId::kUploadTrajectoryFile, Upload("trajectory", false));
  registry.AddOperation(ProcedureId::kDownloadTrajectoryFile, Download("trajectory"));
  registry.AddOperation(ProcedureId::kProjectList, ProjectList);
  registry.AddOperation(ProcedureId::kUploadProjectFile, Upload("project", true));
  registry.AddOperation(ProcedureId::kDownloadProjectFile, Download("project"));
  registry.AddOperation(ProcedureId::kDownloadCollisionMesh, Download("mesh"));
}

}  // namespace quiral::sim
