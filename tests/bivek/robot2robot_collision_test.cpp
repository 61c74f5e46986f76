// The collision checker against generated meshes whose distances are known
// in closed form.

#include "bivek/robot2robot_collision.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>

#include "tests/client/log_capture.h"
#include "tests/support/mesh_files.h"

namespace quiral::bivek {
namespace {

namespace fs = std::filesystem;
using Poses = std::vector<Eigen::Isometry3d>;
const std::string kLoad = "[quiral::bivek::Robot2RobotCollision::LoadMeshIntoBVH] ";
const std::string kUpdate = "[quiral::bivek::Robot2RobotCollision::Update] ";

Eigen::Isometry3d At(double x, double y, double z, double yaw = 0) {
  return Eigen::Isometry3d(Eigen::Translation3d(x, y, z) *
                           Eigen::AngleAxisd(yaw, Eigen::Vector3d::UnitZ()));
}
// b0's box lies 60 m along x in its own frame: this puts its centre at (x, y, z).
Eigen::Isometry3d B0At(double x, double y, double z, double yaw = 0) {
  return At(x, y, z, yaw) * Eigen::Translation3d(-60, 0, 0);
}

template <class E, class F>
std::string ErrorOf(F&& call) {
  try {
    call();
  } catch (const E& e) {
    return e.what();
  }
  return "nothing thrown";
}

// Left links a0 (unit box) and a1 (sphere, radius 0.5); right links b0
// (unit box off its frame's origin) and b1 (sphere).
class Robot2RobotCollisionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* side : {"L", "R"}) fs::create_directories(dir_ / side);
    const auto box = test::BoxMesh({0.5, 0.5, 0.5}, {0, 0, 0});
    const auto sphere = test::SphereMesh(0.5, 8, 8);
    test::WriteBinaryStl(Path("L/a0.stl"), box);
    test::WriteBinaryStl(Path("L/a1.stl"), sphere);
    test::WriteBinaryStl(Path("R/b0.stl"), test::BoxMesh({0.5, 0.5, 0.5}, {60, 0, 0}));
    test::WriteBinaryStl(Path("R/b1.stl"), sphere);
    checker_.Init({"a0", "a1"}, {"b0", "b1"}, {}, Path("L"), Path("R"));
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  void Write(const std::string& name, const std::string& text) { std::ofstream(Path(name)) << text; }
  // True, and the closest pair is these links; or false with no names.
  ::testing::AssertionResult Imminent(double threshold, const std::string& pair = "") {
    const bool imminent = checker_.IsCollisionImminent(threshold);
    const std::string names = checker_.closest_left_link() + checker_.closest_right_link();
    if (imminent == !pair.empty() && names == pair) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "imminent " << imminent << ", pair [" << names << "]";
  }

  const fs::path dir_ = fs::temp_directory_path() / ("collision_" + std::to_string(getpid()));
  Robot2RobotCollision checker_;
};

TEST_F(Robot2RobotCollisionTest, DistancesMatchClosedForm) {
  const Eigen::Isometry3d far_a = At(0, 0, -50), far_b = At(0, 0, 50), far_b0 = B0At(0, 0, 99);
  struct Row {
    const char* name;
    Poses left, right;
    double distance;
    std::string pair;
  } rows[] = {
      {"faces", {At(0, 0, 0), far_a}, {B0At(3, 0, 0), far_b}, 2.0, "a0b0"},
      {"edges", {At(0, 0, 0), far_a}, {B0At(2, 2, 0), far_b}, std::sqrt(2.0), "a0b0"},
      {"corner", {At(0, 0, 0), far_a}, {B0At(3, 0, 0, M_PI / 4), far_b}, 2.5 - std::sqrt(0.5), "a0b0"},
      {"poles", {far_a, At(0, 0, 0)}, {far_b0, At(0, 0, 1.75)}, 0.75, "a1b1"},
      {"crossing", {At(0, 0, 0), far_a}, {B0At(0.8, 0.3, 0), far_b}, 0.0, "a0b0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    checker_.Update(row.left, row.right);
    EXPECT_TRUE(Imminent(row.distance + 1e-6, row.pair));
    EXPECT_TRUE(Imminent(row.distance - 1e-6));
    EXPECT_EQ(checker_.IsCollisionNow(), row.distance == 0);
  }
  EXPECT_TRUE(Imminent(std::numeric_limits<double>::denorm_min(), "a0b0"));  // still crossing
  checker_.Update(rows[0].left, rows[0].right);
  EXPECT_TRUE(Imminent(2.5, "a0b0"));
  EXPECT_TRUE(Imminent(2.0));  // equal is not closer: the names are cleared
}

// The tree's boxes must follow every move: b0's box at load lies 60 m away,
// and a box left where b0 was before would hide it when it comes back.
TEST_F(Robot2RobotCollisionTest, DistanceFollowsEveryMove) {
  const Poses left = {At(0, 0, 0), At(0, 0, -50)};
  for (double b0_x : {3.0, 1000.0, 3.0}) {
    checker_.Update(left, {B0At(b0_x, 0, 0), At(20, 0, 0)});
    EXPECT_TRUE(b0_x == 3.0 ? Imminent(2.5, "a0b0") : Imminent(2.5));
  }
}

TEST_F(Robot2RobotCollisionTest, RefusedUpdateMovesNothing) {
  checker_.Update({At(0, 0, 0), At(0, 0, -50)}, {B0At(3, 0, 0), At(20, 0, 0)});
  const Eigen::Isometry3d nan = At(NAN, 0, 0), inf = At(0, 0, 0, INFINITY);
  const auto l = At(2.9, 0, 0), r = At(0, 0, 0);  // would cross a0 and b0, or a0 and b1
  const std::string kCount = "] does not match number of robot links";
  struct Row {
    Poses left, right;
    std::string error;
  } rows[] = {
      {{l}, {r, r}, kUpdate + "Size of input parameter [L_link_poses" + kCount},
      {{l}, {r}, kUpdate + "Size of input parameter [L_link_poses" + kCount},
      {{l, nan}, {r, r, r}, kUpdate + "Size of input parameter [R_link_poses" + kCount},
      {{l, nan}, {r, r}, kUpdate + "Non-finite pose in input parameter [L_link_poses]"},
      {{l, l}, {inf, r}, kUpdate + "Non-finite pose in input parameter [R_link_poses]"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ErrorOf<std::invalid_argument>([&] { checker_.Update(row.left, row.right); }),
              row.error);
    EXPECT_TRUE(Imminent(1.5));
  }
}

TEST_F(Robot2RobotCollisionTest, MergesEveryTriangleMeshOfAFile) {
  const std::string tri = "facet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\n"
                          "vertex 0 1 0\nendloop\nendfacet\n";
  Write("two_solids.stl", "solid a\n" + tri + "endsolid a\nsolid b\n" + tri + "endsolid b\n");
  Write("lines_first.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\nl 1 2\nf 1 2 3\nf 1 2 4\n");
  Write("quad.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\n");
  Write("placed.dae", R"(<?xml version="1.0"?><COLLADA version="1.4.1"
 xmlns="http://www.collada.org/2005/11/COLLADASchema"><library_geometries><geometry id="g">
<mesh><source id="p"><float_array id="a" count="9">0 0 0 1 0 0 0 1 0</float_array>
<technique_common><accessor source="#a" count="3" stride="3"><param name="X" type="float"/>
<param name="Y" type="float"/><param name="Z" type="float"/></accessor></technique_common>
</source><vertices id="v"><input semantic="POSITION" source="#p"/></vertices><triangles
 count="1"><input semantic="VERTEX" source="#v" offset="0"/><p>0 1 2</p></triangles></mesh>
</geometry></library_geometries><library_visual_scenes><visual_scene id="s"><node id="n">
<translate>0 0 5</translate><instance_geometry url="#g"/></node></visual_scene>
</library_visual_scenes><scene><instance_visual_scene url="#s"/></scene></COLLADA>)");
  const struct {
    const char* file;
    int triangles;
    double z;  // of the first vertex
  } rows[] = {{"two_solids.stl", 2, 0}, {"lines_first.obj", 2, 0}, {"quad.obj", 2, 0},
              {"placed.dae", 1, 5}};
  for (const auto& row : rows) {
    LinkMesh model;
    Robot2RobotCollision::LoadMeshIntoBVH(Path(row.file), model);
    EXPECT_EQ(model.num_tris, row.triangles) << row.file;
    EXPECT_EQ(model.vertices[0].z(), row.z) << row.file;
  }
}

TEST_F(Robot2RobotCollisionTest, RefusesMeshFilesWithoutUsableTriangles) {
  Write("points.ply", "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\n"
                      "property float y\nproperty float z\nend_header\n0 0 0\n1 0 0\n0 1 0\n");
  Write("nan.stl", "solid a\nfacet normal 0 0 1\nouter loop\nvertex nan 0 0\nvertex 1 0 0\n"
                   "vertex 0 1 0\nendloop\nendfacet\nendsolid a\n");
  Write("text.stl", "not a mesh\n");
  Write("empty.stl", "");
  const std::pair<const char*, const char*> rows[] = {
      {"points.ply", "No triangle in mesh file at: "},
      {"nan.stl", "Non-finite vertex in mesh file at: "},
      {"text.stl", "Failed to load mesh file at: "},
      {"empty.stl", "Failed to load mesh file at: "}};
  for (const auto& [file, error] : rows) {
    LinkMesh model;
    EXPECT_EQ(ErrorOf<std::runtime_error>(
                  [&] { Robot2RobotCollision::LoadMeshIntoBVH(Path(file), model); }),
              kLoad + error + Path(file));
  }
}

TEST_F(Robot2RobotCollisionTest, KeepsLinksWithAMeshFileThatAreNotSkipped) {
  test::WriteBinaryStl(Path("L/a1.STL"), test::BoxMesh({1, 1, 1}, {0, 0, 0}));
  fs::remove(Path("L/a1.stl"));
  test::WriteBinaryStl(Path("R/a2.stl"), test::BoxMesh({1, 1, 1}, {0, 0, 0}));
  const quiral_client_test::LogCapture log;
  fs::current_path(dir_ / "R");  // an empty folder name is the working directory
  checker_.Init({"a0", "a1", "a3"}, {"a2", "b0", "b1"}, {"b1", "a2"}, Path("L") + "/", "");
  EXPECT_EQ(checker_.left_objects().link_names, std::vector<std::string>{"a0"});
  EXPECT_EQ(checker_.right_objects().link_names, std::vector<std::string>{"b0"});
  for (const std::string& line : std::vector<std::string>{
           "Skipped [a2] for collision check", "Skipped [b1] for collision check",
           "[a1] has no collision mesh", "[a3] has no collision mesh",
           "Added [" + Path("L/a0.stl") + "] for collision check",
           "Added [b0.stl] for collision check"}) {
    EXPECT_EQ(log.Count(spdlog::level::debug, line), 1) << line;
  }
}

TEST_F(Robot2RobotCollisionTest, FailedInitKeepsThePreviousLinks) {
  fs::create_directory(dir_ / "bad");
  Write("bad/b0.stl", "not a mesh\n");
  EXPECT_EQ(ErrorOf<std::runtime_error>(
                [&] { checker_.Init({"a0"}, {"b0"}, {}, Path("L"), Path("bad")); }),
            kLoad + "Failed to load mesh file at: " + Path("bad/b0.stl"));
  EXPECT_EQ(checker_.left_objects().link_names, (std::vector<std::string>{"a0", "a1"}));
  checker_.Update({At(0, 0, 0), At(0, 0, -50)}, {B0At(3, 0, 0), At(20, 0, 0)});
  EXPECT_TRUE(Imminent(2.5, "a0b0"));
}

TEST_F(Robot2RobotCollisionTest, ASideWithoutLinksIsNeverImminent) {
  for (bool initialised : {false, true}) {
    Robot2RobotCollision checker;
    if (initialised) checker.Init({"a0"}, {"none"}, {}, Path("L"), Path("R"));
    checker.Update(Poses(initialised ? 1 : 0, At(0, 0, 0)), {});
    EXPECT_FALSE(checker.IsCollisionImminent(std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(checker.IsCollisionNow());
  }
}

}  // namespace
}  // namespace quiral::bivek
