// Distances between the links of two robot arms. Each arm's links are
// loaded as triangle meshes from a folder holding one file per link (link
// name + ".stl"); every check moves the links to the poses it is given and
// runs one broad-phase distance query between the two arms. Left is the
// first arm of the pair, right the second.
//
//   Init(left names, right names, skipped, left folder, right folder)  once
//   Update(left poses, right poses)    then per check, one pose per kept link
//   IsCollisionImminent(threshold)     closest pair closer than threshold?
//
// Not thread-safe: one owner thread uses it at a time.
#pragma once

#include <fcl/broadphase/broadphase_dynamic_AABB_tree.h>
#include <fcl/geometry/bvh/BVH_model.h>
#include <fcl/math/bv/OBBRSS.h>
#include <fcl/narrowphase/collision_object.h>

#include <Eigen/Geometry>
#include <memory>
#include <string>
#include <vector>

namespace quiral::bivek {

using LinkMesh = fcl::BVHModel<fcl::OBBRSSd>;

// One arm's collision set. Members are released in reverse order: the
// manager (which points at the objects) first, the objects last.
struct RobotCollisionObjects {
  // One object per kept link, in link order. Each object's geometry owns a
  // copy of its link name and carries a pointer to it as its user data.
  std::vector<std::shared_ptr<fcl::CollisionObjectd>> collision_objects;
  // The kept links' names, same order and count as the objects.
  std::vector<std::string> link_names;
  // Holds every object of this arm; null until the set is built.
  std::unique_ptr<fcl::DynamicAABBTreeCollisionManagerd> manager;
};

class Robot2RobotCollision {
 public:
  Robot2RobotCollision();
  virtual ~Robot2RobotCollision();

  // Builds both sides, then replaces the previous content with them: when
  // either side fails to load, the previous content stays unchanged. A link
  // named in skipped_links is left out on both sides.
  void Init(const std::vector<std::string>& left_link_names,
            const std::vector<std::string>& right_link_names,
            const std::vector<std::string>& skipped_links, const std::string& left_folder,
            const std::string& right_folder);

  // One arm's collision set: for each link not skipped, the file folder /
  // (name + ".stl") if it is a regular file (the extension matched exactly);
  // links without such a file are left out.
  static RobotCollisionObjects LoadCollisionMeshes(const std::vector<std::string>& link_names,
                                                   const std::vector<std::string>& skipped_links,
                                                   const std::string& folder);

  // Fills `model` with every triangle of every mesh of the file, each mesh
  // placed by its node's transform in the file's hierarchy. Throws
  // std::runtime_error when the file cannot be read, holds no triangle or
  // has a non-finite vertex.
  static void LoadMeshIntoBVH(const std::string& path, LinkMesh& model);

  // Moves the kept links to these poses. Throws std::invalid_argument, with
  // no object moved, when a count differs from the side's kept links (left
  // compared first) or a pose is not finite.
  void Update(const std::vector<Eigen::Isometry3d>& L_link_poses,
              const std::vector<Eigen::Isometry3d>& R_link_poses);

  // The same rotation and translation, element by element.
  static fcl::Transform3d EigenToFclTransform(const Eigen::Isometry3d& pose);

  // True when the minimum distance between a left and a right link is
  // smaller than `threshold` (links that touch or cross are at distance 0);
  // then the closest link names are those of that pair, otherwise they are
  // cleared. False when a side has no link.
  bool IsCollisionImminent(double threshold);

  // True when a left and a right link touch or cross.
  bool IsCollisionNow() const;

  const RobotCollisionObjects& left_objects() const { return left_objects_; }
  const RobotCollisionObjects& right_objects() const { return right_objects_; }
  const std::string& closest_left_link() const { return closest_left_link_; }
  const std::string& closest_right_link() const { return closest_right_link_; }

 private:
  RobotCollisionObjects left_objects_;
  RobotCollisionObjects right_objects_;
  std::string closest_left_link_;
  std::string closest_right_link_;
};

}  // namespace quiral::bivek
