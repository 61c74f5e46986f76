#include "bivek/robot2robot_collision.h"

#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <fcl/broadphase/default_broadphase_callbacks.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <assimp/Importer.hpp>
#include <filesystem>
#include <stdexcept>
#include <utility>

namespace quiral::bivek {
namespace {

const std::string kLoadMeshName = "[quiral::bivek::Robot2RobotCollision::LoadMeshIntoBVH] ";
const std::string kUpdateName = "[quiral::bivek::Robot2RobotCollision::Update] ";

// A link's mesh with the copy of the link name its user data points at:
// the name lives exactly as long as the geometry.
struct NamedLinkMesh {
  explicit NamedLinkMesh(std::string name) : link_name(std::move(name)) {
    model.setUserData(&link_name);
  }
  NamedLinkMesh(const NamedLinkMesh&) = delete;
  NamedLinkMesh& operator=(const NamedLinkMesh&) = delete;

  std::string link_name;
  LinkMesh model;
};

// The link name a geometry of this checker carries.
const std::string& LinkNameOf(const fcl::CollisionGeometryd* geometry) {
  return *static_cast<const std::string*>(geometry->getUserData());
}

struct TriangleSoup {
  std::vector<fcl::Vector3d> vertices;
  std::vector<fcl::Triangle> triangles;
};

Eigen::Affine3d ToEigen(const aiMatrix4x4& m) {
  Eigen::Matrix4d matrix;
  matrix << m.a1, m.a2, m.a3, m.a4, m.b1, m.b2, m.b3, m.b4, m.c1, m.c2, m.c3, m.c4, m.d1, m.d2,
      m.d3, m.d4;
  return Eigen::Affine3d(matrix);
}

// Appends the triangles of every mesh below `node`, placed by the node's
// transform composed with its parents'. Meshes without triangles (points,
// lines) add nothing, not even vertices.
void AppendTriangles(const aiScene& scene, const aiNode& node, const Eigen::Affine3d& parent,
                     TriangleSoup& soup) {
  const Eigen::Affine3d placement = parent * ToEigen(node.mTransformation);
  for (unsigned int m = 0; m < node.mNumMeshes; ++m) {
    const aiMesh& mesh = *scene.mMeshes[node.mMeshes[m]];
    const std::size_t first_vertex = soup.vertices.size();
    const std::size_t first_triangle = soup.triangles.size();
    for (unsigned int f = 0; f < mesh.mNumFaces; ++f) {
      const aiFace& face = mesh.mFaces[f];
      if (face.mNumIndices == 3) {
        soup.triangles.emplace_back(first_vertex + face.mIndices[0],
                                    first_vertex + face.mIndices[1],
                                    first_vertex + face.mIndices[2]);
      }
    }
    if (soup.triangles.size() == first_triangle) continue;
    for (unsigned int v = 0; v < mesh.mNumVertices; ++v) {
      const aiVector3D& p = mesh.mVertices[v];
      soup.vertices.push_back(placement * Eigen::Vector3d(p.x, p.y, p.z));
    }
  }
  for (unsigned int c = 0; c < node.mNumChildren; ++c) {
    AppendTriangles(scene, *node.mChildren[c], placement, soup);
  }
}

void CheckPoseCount(const std::vector<Eigen::Isometry3d>& poses, const RobotCollisionObjects& side,
                    const char* parameter) {
  if (poses.size() != side.collision_objects.size()) {
    throw std::invalid_argument(kUpdateName + "Size of input parameter [" + parameter +
                                "] does not match number of robot links");
  }
}

void CheckPosesFinite(const std::vector<Eigen::Isometry3d>& poses, const char* parameter) {
  for (const Eigen::Isometry3d& pose : poses) {
    if (!pose.matrix().allFinite()) {
      throw std::invalid_argument(kUpdateName + "Non-finite pose in input parameter [" + parameter +
                                  "]");
    }
  }
}

// Moves every object of a side and refits its manager. The world box of an
// object is recomputed after its move: the manager's tree is built from
// these boxes, and a stale one would let the query prune the true closest
// pair.
void MoveSide(RobotCollisionObjects& side, const std::vector<Eigen::Isometry3d>& poses) {
  if (side.collision_objects.empty()) return;
  for (std::size_t i = 0; i < poses.size(); ++i) {
    fcl::CollisionObjectd& object = *side.collision_objects[i];
    object.setTransform(Robot2RobotCollision::EigenToFclTransform(poses[i]));
    object.computeAABB();
  }
  side.manager->update();
}

bool BothSidesHaveLinks(const RobotCollisionObjects& left, const RobotCollisionObjects& right) {
  return !left.collision_objects.empty() && !right.collision_objects.empty();
}

}  // namespace

Robot2RobotCollision::Robot2RobotCollision() = default;
Robot2RobotCollision::~Robot2RobotCollision() = default;

void Robot2RobotCollision::Init(const std::vector<std::string>& left_link_names,
                                const std::vector<std::string>& right_link_names,
                                const std::vector<std::string>& skipped_links,
                                const std::string& left_folder, const std::string& right_folder) {
  RobotCollisionObjects left = LoadCollisionMeshes(left_link_names, skipped_links, left_folder);
  RobotCollisionObjects right = LoadCollisionMeshes(right_link_names, skipped_links, right_folder);
  // Swapped, not assigned: the previous content leaves whole with the locals.
  std::swap(left_objects_, left);
  std::swap(right_objects_, right);
}

RobotCollisionObjects Robot2RobotCollision::LoadCollisionMeshes(
    const std::vector<std::string>& link_names, const std::vector<std::string>& skipped_links,
    const std::string& folder) {
  RobotCollisionObjects result;
  for (const std::string& name : link_names) {
    if (std::find(skipped_links.begin(), skipped_links.end(), name) != skipped_links.end()) {
      spdlog::debug("Skipped [{}] for collision check", name);
      continue;
    }
    const std::filesystem::path path = std::filesystem::path(folder) / (name + ".stl");
    if (!std::filesystem::is_regular_file(path)) {
      spdlog::debug("[{}] has no collision mesh", name);
      continue;
    }
    auto mesh = std::make_shared<NamedLinkMesh>(name);
    LoadMeshIntoBVH(path.string(), mesh->model);
    const std::shared_ptr<LinkMesh> geometry(mesh, &mesh->model);
    result.collision_objects.push_back(std::make_shared<fcl::CollisionObjectd>(geometry));
    result.link_names.push_back(name);
    spdlog::debug("Added [{}] for collision check", path.string());
  }
  result.manager = std::make_unique<fcl::DynamicAABBTreeCollisionManagerd>();
  for (const auto& object : result.collision_objects) {
    result.manager->registerObject(object.get());
  }
  result.manager->setup();
  return result;
}

void Robot2RobotCollision::LoadMeshIntoBVH(const std::string& path, LinkMesh& model) {
  Assimp::Importer importer;
  const aiScene* scene = importer.ReadFile(
      path, aiProcess_JoinIdenticalVertices | aiProcess_Triangulate | aiProcess_SortByPType);
  if (scene == nullptr || scene->mMeshes == nullptr || scene->mNumMeshes == 0) {
    throw std::runtime_error(kLoadMeshName + "Failed to load mesh file at: " + path);
  }
  TriangleSoup soup;
  if (scene->mRootNode != nullptr) {
    AppendTriangles(*scene, *scene->mRootNode, Eigen::Affine3d::Identity(), soup);
  }
  // A model without triangles would be a point cloud, which the distance
  // query cannot handle; a non-finite vertex makes every distance to the
  // link meaningless.
  if (soup.triangles.empty()) {
    throw std::runtime_error(kLoadMeshName + "No triangle in mesh file at: " + path);
  }
  if (!std::all_of(soup.vertices.begin(), soup.vertices.end(),
                   [](const fcl::Vector3d& v) { return v.allFinite(); })) {
    throw std::runtime_error(kLoadMeshName + "Non-finite vertex in mesh file at: " + path);
  }
  model.beginModel();
  model.addSubModel(soup.vertices, soup.triangles);
  model.endModel();
  spdlog::debug("LoadMeshIntoBVH: loaded [{}] mesh with {} vertices and {} faces", path,
                soup.vertices.size(), soup.triangles.size());
}

void Robot2RobotCollision::Update(const std::vector<Eigen::Isometry3d>& L_link_poses,
                                  const std::vector<Eigen::Isometry3d>& R_link_poses) {
  CheckPoseCount(L_link_poses, left_objects_, "L_link_poses");
  CheckPoseCount(R_link_poses, right_objects_, "R_link_poses");
  // A non-finite pose gives the link a box the tree cannot order: the link
  // is then either never measured or reported at distance zero.
  CheckPosesFinite(L_link_poses, "L_link_poses");
  CheckPosesFinite(R_link_poses, "R_link_poses");
  MoveSide(left_objects_, L_link_poses);
  MoveSide(right_objects_, R_link_poses);
}

fcl::Transform3d Robot2RobotCollision::EigenToFclTransform(const Eigen::Isometry3d& pose) {
  fcl::Transform3d transform = fcl::Transform3d::Identity();
  transform.linear() = pose.linear();
  transform.translation() = pose.translation();
  return transform;
}

bool Robot2RobotCollision::IsCollisionImminent(double threshold) {
  if (BothSidesHaveLinks(left_objects_, right_objects_)) {
    fcl::DefaultDistanceData<double> data;
    left_objects_.manager->distance(right_objects_.manager.get(), &data,
                                    fcl::DefaultDistanceFunction<double>);
    // The left manager's objects come first in every pair the query forms;
    // the pair stays unset when no pair was measured.
    const fcl::DistanceResultd& result = data.result;
    if (result.min_distance < threshold && result.o1 != nullptr) {
      closest_left_link_ = LinkNameOf(result.o1);
      closest_right_link_ = LinkNameOf(result.o2);
      return true;
    }
  }
  closest_left_link_.clear();
  closest_right_link_.clear();
  return false;
}

bool Robot2RobotCollision::IsCollisionNow() const {
  if (!BothSidesHaveLinks(left_objects_, right_objects_)) return false;
  fcl::DefaultCollisionData<double> data;
  left_objects_.manager->collide(right_objects_.manager.get(), &data,
                                 fcl::DefaultCollisionFunction<double>);
  return data.result.numContacts() > 0;
}

}  // namespace quiral::bivek
