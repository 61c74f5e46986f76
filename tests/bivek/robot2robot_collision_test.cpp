// The collision checker against generated octahedra |x| + |y| + |z| <= 0.5,
// whose distances are known in closed form.

#include "bivek/robot2robot_collision.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <limits>

#include "tests/client/log_capture.h"
#include "tests/support/mesh_files.h"

namespace quiral::bivek {
namespace {

namespace fs = std::filesystem;
using Poses = std::vector<Eigen::Isometry3d>;
using ::testing::ThrowsMessage;
const std::string kLoad = "[quiral::bivek::Robot2RobotCollision::LoadMeshIntoBVH] ";

Eigen::Isometry3d At(double x, double y, double z, double yaw = 0) {
  return Eigen::Translation3d(x, y, z) * Eigen::AngleAxisd(yaw, Eigen::Vector3d::UnitZ());
}
// b0's mesh lies 60 m along x in its own frame: this puts its centre at (x, y, z).
Eigen::Isometry3d B0At(double x, double y, double z, double yaw = 0) {
  return At(x, y, z, yaw) * Eigen::Translation3d(-60, 0, 0);
}

// One triangle, moved 5 m up by its node.
const char kPlacedTriangle[] = R"(<?xml version="1.0"?><COLLADA version="1.4.1"
xmlns="http://www.collada.org/2005/11/COLLADASchema"><library_geometries><geometry id="g"><mesh>
<source id="p"><float_array id="a" count="9">0 0 0 1 0 0 0 1 0</float_array><technique_common>
<accessor source="#a" count="3" stride="3"><param name="X" type="float"/><param name="Y"
type="float"/><param name="Z" type="float"/></accessor></technique_common></source><vertices
id="v"><input semantic="POSITION" source="#p"/></vertices><triangles count="1"><input
semantic="VERTEX" source="#v" offset="0"/><p>0 1 2</p></triangles></mesh></geometry>
</library_geometries><library_visual_scenes><visual_scene id="s"><node id="n"><translate>0 0 5
</translate><instance_geometry url="#g"/></node></visual_scene></library_visual_scenes><scene>
<instance_visual_scene url="#s"/></scene></COLLADA>)";

// Left links a0 and a1, right links b0 and b1.
class Robot2RobotCollisionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "L"), fs::create_directories(dir_ / "R");
    for (const char* file : {"L/a0.stl", "L/a1.stl", "R/b1.stl"}) {
      test::WriteBinaryStl(Path(file), test::SphereMesh(0.5, 2, 4));
    }
    test::WriteBinaryStl(Path("R/b0.stl"), test::SphereMesh(0.5, 2, 4, {60, 0, 0}));
    checker_.Init({"a0", "a1"}, {"b0", "b1"}, {}, Path("L"), Path("R"));
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(Path(name)) << text;
  }
  // b0 as given, b1 19 m from a0.
  static Poses Right(const Eigen::Isometry3d& b0) { return {b0, At(20, 0, 0)}; }
  // True with this closest pair of links, or false with no names.
  ::testing::AssertionResult Imminent(double threshold, const std::string& pair = "") {
    const bool imminent = checker_.IsCollisionImminent(threshold);
    const std::string names = checker_.closest_left_link() + checker_.closest_right_link();
    if (imminent == !pair.empty() && names == pair) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "imminent " << imminent << " [" << names << "]";
  }

  const fs::path dir_ = fs::temp_directory_path() / ("collision_" + std::to_string(getpid()));
  const Poses left_ = {At(0, 0, 0), At(0, 0, -50)};
  Robot2RobotCollision checker_;
};

TEST_F(Robot2RobotCollisionTest, DistancesMatchClosedForm) {
  const struct {
    Poses left, right;
    double distance;
    std::string pair;
  } rows[] = {
      {left_, Right(B0At(3, 0, 0)), 2.0, "a0b0"},                               // vertices
      {left_, Right(B0At(3, 0, 0, M_PI / 4)), 2.5 - std::sqrt(0.125), "a0b0"},  // vertex, edge
      {left_, Right(B0At(2, 2, 0)), 1.5 * std::sqrt(2.0), "a0b0"},              // edges
      {{At(0, 0, 50), At(0, 0, 0)}, {B0At(0, 0, -50), At(0, 0, 1.75)}, 0.75, "a1b1"},
      {left_, Right(B0At(0.6, 0.2, 0)), 0.0, "a0b0"},  // crossing
  };
  for (const auto& row : rows) {
    checker_.Update(row.left, row.right);
    EXPECT_TRUE(Imminent(row.distance + 1e-9, row.pair)) << row.distance;
    EXPECT_TRUE(Imminent(row.distance - 1e-9)) << row.distance;
    EXPECT_EQ(checker_.IsCollisionNow(), row.distance == 0) << row.distance;
  }
  EXPECT_TRUE(Imminent(std::numeric_limits<double>::denorm_min(), "a0b0"));
  checker_.Update(left_, Right(B0At(3, 0, 0)));
  EXPECT_TRUE(Imminent(2.5, "a0b0"));
  EXPECT_TRUE(Imminent(2.0));  // equal is not closer: the names are cleared
}

// b0's box at load lies 60 m away, and a box left where b0 was before would
// hide it when it comes back: the tree's boxes must follow every move.
TEST_F(Robot2RobotCollisionTest, DistanceFollowsEveryMove) {
  for (double x : {3.0, 1000.0, 3.0}) {
    checker_.Update(left_, Right(B0At(x, 0, 0)));
    EXPECT_TRUE(x == 3 ? Imminent(2.5, "a0b0") : Imminent(2.5)) << x;
  }
}

TEST_F(Robot2RobotCollisionTest, RefusedUpdateMovesNothing) {
  checker_.Update(left_, Right(B0At(3, 0, 0)));
  const auto nan = At(NAN, 0, 0), inf = At(0, 0, 0, INFINITY);
  const auto l = At(2.9, 0, 0), r = At(0, 0, 0);  // either side moved: links cross
  const std::string size =
                        "[quiral::bivek::Robot2RobotCollision::Update] Size of input parameter [",
                    count = "] does not match number of robot links",
                    finite =
                        "[quiral::bivek::Robot2RobotCollision::Update] Non-finite pose in "
                        "input parameter [";
  const struct {
    Poses left, right;
    std::string error;
  } rows[] = {{{l}, {r, r}, size + "L_link_poses" + count},
              {{l}, {r}, size + "L_link_poses" + count},
              {{l, nan}, {r, r, r}, size + "R_link_poses" + count},
              {{l, nan}, {r, r}, finite + "L_link_poses]"},
              {{l, l}, {inf, r}, finite + "R_link_poses]"}};
  for (const auto& row : rows) {
    EXPECT_THAT([&] { checker_.Update(row.left, row.right); },
                ThrowsMessage<std::invalid_argument>(row.error));
    EXPECT_TRUE(Imminent(1.5));
  }
}

TEST_F(Robot2RobotCollisionTest, LoadsEveryTriangleOfAFileAndRefusesFilesWithoutTriangles) {
  auto facet = [](const char* x) {
    return std::string("facet normal 0 0 1\nouter loop\nvertex ") + x +
           " 0 0\nvertex 1 0 0\nvertex 0 1 0\nendloop\nendfacet\n";
  };
  const std::string tetra = "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\n";
  const struct {
    const char* file;
    std::string text;
    int triangles;
    double z;  // of the first vertex
    std::string error;
  } rows[] = {
      {"two.stl", "solid a\n" + facet("0") + "endsolid a\nsolid b\n" + facet("0") + "endsolid b", 2,
       0, ""},
      {"lines_first.obj", tetra + "l 1 2\nf 1 2 3\nf 1 2 4\n", 2, 0, ""},
      {"quad.obj", tetra + "f 1 2 3\nf 1 2 4 3\n", 3, 0, ""},
      {"placed.dae", kPlacedTriangle, 1, 5, ""},
      {"points.ply",
       "ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\nproperty float y\n"
       "property float z\nend_header\n0 0 0\n1 0 0\n",
       0, 0, "No triangle in"},
      {"nan.stl", "solid a\n" + facet("nan") + "endsolid a\n", 0, 0, "Non-finite vertex in"},
      {"text.stl", "not a mesh\n", 0, 0, "Failed to load"},
      {"empty.stl", "", 0, 0, "Failed to load"},
  };
  for (const auto& row : rows) {
    Write(row.file, row.text);
    LinkMesh model;
    auto load = [&] { Robot2RobotCollision::LoadMeshIntoBVH(Path(row.file), model); };
    if (!row.error.empty()) {
      EXPECT_THAT(load, ThrowsMessage<std::runtime_error>(kLoad + row.error +
                                                          " mesh file at: " + Path(row.file)));
      continue;
    }
    load();
    EXPECT_EQ(model.num_tris, row.triangles) << row.file;
    EXPECT_EQ(model.vertices[0].z(), row.z) << row.file;
  }
}

TEST_F(Robot2RobotCollisionTest, KeepsTheLinksThatHaveAMeshFileAndAreNotSkipped) {
  fs::rename(Path("L/a1.stl"), Path("L/a1.STL"));
  fs::copy(Path("R/b1.stl"), Path("R/a2.stl"));
  fs::current_path(dir_ / "R");  // an empty folder name is the working directory
  const quiral_client_test::LogCapture log;
  checker_.Init({"a0", "a1", "a3"}, {"a2", "b0", "b1"}, {"b1", "a2"}, Path("L") + "/", "");
  EXPECT_EQ(checker_.left_objects().link_names, std::vector<std::string>{"a0"});
  EXPECT_EQ(checker_.right_objects().link_names, std::vector<std::string>{"b0"});
  for (const char* line : {"Skipped [a2] for collision check", "[a1] has no collision mesh",
                           "[a3] has no collision mesh", "Skipped [b1] for collision check",
                           "Added [b0.stl] for collision check"}) {
    EXPECT_EQ(log.Count(spdlog::level::debug, line), 1) << line;
  }
  EXPECT_EQ(log.Count("Added [" + Path("L/a0.stl") + "] for collision check"), 1);
}

TEST_F(Robot2RobotCollisionTest, FailedInitKeepsThePreviousLinks) {
  fs::create_directory(dir_ / "bad");
  Write("bad/b0.stl", "not a mesh\n");
  EXPECT_THAT([&] { checker_.Init({"a0"}, {"b0"}, {}, Path("L"), Path("bad")); },
              ThrowsMessage<std::runtime_error>(
                  kLoad + "Failed to load mesh file at: " + Path("bad/b0.stl")));
  checker_.Update(left_, Right(B0At(3, 0, 0)));  // two links per side, as before
  EXPECT_TRUE(Imminent(2.5, "a0b0"));
}

TEST_F(Robot2RobotCollisionTest, ASideWithoutLinksIsNeverImminent) {
  Robot2RobotCollision unset;
  unset.Update({}, {});
  checker_.Init({"a0"}, {"none"}, {}, Path("L"), Path("R"));
  checker_.Update({At(0, 0, 0)}, {});
  for (Robot2RobotCollision* checker : {&unset, &checker_}) {
    EXPECT_FALSE(checker->IsCollisionImminent(std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(checker->IsCollisionNow());
  }
}

}  // namespace
}  // namespace quiral::bivek
