// The collision checker against octahedra |x| + |y| + |z| <= 0.5, whose
// distances are known in closed form.

#include "bivek/robot2robot_collision.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>


namespace quiral::bivek {
namespace {

namespace fs = std::filesystem;
using Poses = std::vector<Eigen::Isometry3d>;
using ::testing::ThrowsMessage;
const std::string kLoad = "[quiral::bivek::Robot2RobotCollision::LoadMeshIntoBVH] ";
const std::string kUpdate = "[quiral::bivek::Robot2RobotCollision::Update] ";

Eigen::Isometry3d At(double x, double y, double z, double yaw = 0) {
  return Eigen::Translation3d(x, y, z) * Eigen::AngleAxisd(yaw, Eigen::Vector3d::UnitZ());
}
// b0's mesh lies 60 m along x in its own frame: this puts its centre at (x, y, z).
Eigen::Isometry3d B0At(double x, double y, double z, double yaw = 0) {
  return At(x, y, z, yaw) * Eigen::Translation3d(-60, 0, 0);
}

// ASCII STL of the octahedron of centre (x, 0, 0).
std::string Octahedron(double x) {
  std::ostringstream out;
  out << "solid o\n";
  for (int i = 0; i < 8; ++i) {
    out << "facet normal 0 0 0\nouter loop\nvertex " << x + (i & 1 ? 0.5 : -0.5) << " 0 0\nvertex "
        << x << (i & 2 ? " 0.5" : " -0.5") << " 0\nvertex " << x << " 0"
        << (i & 4 ? " 0.5" : " -0.5") << "\nendloop\nendfacet\n";
  }
  out << "endsolid o\n";
  return out.str();
}

// Left links a0 and a1, right links b0 and b1.
class Robot2RobotCollisionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "L"), fs::create_directories(dir_ / "R");
    for (const char* file : {"L/a0.stl", "L/a1.stl", "R/b1.stl"}) Write(file, Octahedron(0));
    Write("R/b0.stl", Octahedron(60));
    checker_.Init({"a0", "a1"}, {"b0", "b1"}, {}, Path("L"), Path("R"));
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  void Write(const char* file, const std::string& text) { std::ofstream(Path(file)) << text; }
  // b0 as given, b1 19 m from a0.
  static Poses Right(const Eigen::Isometry3d& b0) { return {b0, At(20, 0, 0)}; }
  // "yes" or "no", then the closest link names.
  std::string Imminent(double threshold) {
    const char* answer = checker_.IsCollisionImminent(threshold) ? "yes " : "no ";
    return answer + checker_.closest_left_link() + checker_.closest_right_link();
  }

  const fs::path dir_ = fs::temp_directory_path() / ("collision_" + std::to_string(getpid()));
  const Poses left_ = {At(0, 0, 0), At(0, 0, -50)};
  Robot2RobotCollision checker_;
};

// The rows run in order. b0's box at load lies 60 m away, and b0 goes far
// and comes back: the tree's boxes must follow every move.
TEST_F(Robot2RobotCollisionTest, DistancesMatchClosedForm) {
  const std::tuple<Poses, Poses, double, std::string> rows[] = {
      {left_, Right(B0At(3, 0, 0, M_PI / 4)), 2.5 - std::sqrt(0.125), "a0b0"},  // vertex, edge
      {left_, Right(B0At(1000, 0, 0)), 19.0, "a0b1"},
      {left_, Right(B0At(0.6, 0.2, 0)), 0.0, "a0b0"},  // crossing: any positive threshold
      {left_, Right(B0At(3, 0, 0)), 2.0, "a0b0"},      // vertex, vertex
  };
  for (const auto& [left, right, distance, pair] : rows) {
    checker_.Update(left, right);
    EXPECT_EQ(Imminent(distance + 1e-9), "yes " + pair) << distance;
    EXPECT_EQ(Imminent(distance - 1e-9), "no ") << distance;
    EXPECT_EQ(checker_.IsCollisionNow(), distance == 0) << distance;
    EXPECT_EQ(Imminent(distance + 1e-9), "yes " + pair) << distance;
  }
  EXPECT_EQ(Imminent(2.0), "no ");  // equal is not closer: the names are cleared
}

TEST_F(Robot2RobotCollisionTest, RefusedUpdateMovesNothing) {
  checker_.Update(left_, Right(B0At(3, 0, 0)));
  const auto nan = At(NAN, 0, 0), inf = At(0, 0, 0, INFINITY);
  const auto l = At(2.9, 0, 0), r = At(0, 0, 0);  // either side moved: links cross
  const std::tuple<Poses, Poses, std::string> rows[] = {
      {{l}, {r, r}, "Size of input parameter [L_link_poses"},
      {{l}, {r}, "Size of input parameter [L_link_poses"},  // left compared first
      {{l, nan}, {r, r, r}, "Size of input parameter [R_link_poses"},
      {{l, nan}, {r, r}, "Non-finite pose in input parameter [L_link_poses"},
      {{l, l}, {inf, r}, "Non-finite pose in input parameter [R_link_poses"}};
  for (const auto& [left_poses, right_poses, error] : rows) {
    const char* end = error[0] == 'S' ? "] does not match number of robot links" : "]";
    const Poses& left = left_poses;
    const Poses& right = right_poses;
    EXPECT_THAT([&] { checker_.Update(left, right); },
                ThrowsMessage<std::invalid_argument>(kUpdate + error + end));
    EXPECT_EQ(Imminent(1.5), "no ");
  }
}

TEST_F(Robot2RobotCollisionTest, LoadsEveryTriangleOfAFileAndRefusesFilesWithoutTriangles) {
  const std::tuple<const char*, std::string, std::string> rows[] = {
      {"two.stl", Octahedron(0) + Octahedron(0), "triangles 16, first z 0"},
      {"lines_first.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nl 1 2\nf 1 2 3\n", "triangles 1, first z 0"},
      {"placed.x",  // moved 5 m along z by its frame (z turned over on import)
       "xof 0302txt 0064\nFrame Root {\nFrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, "
       "0.0,0.0,1.0,0.0, 0.0,0.0,5.0,1.0;; }\nMesh { 3; 0.0;0.0;0.0;, 1.0;0.0;0.0;, 0.0;1.0;0.0;; "
       "1; 3;0,1,2;; }\n}\n",
       "triangles 1, first z -5"},
      {"points.obj", "v 0 0 0\nv 1 0 0\n", "No triangle in"},
      {"nan.stl", Octahedron(NAN), "Non-finite vertex in"},
      {"text.stl", "not a mesh\n", "Failed to load"},
  };
  for (const auto& [file, text, outcome] : rows) {
    Write(file, text);
    LinkMesh model;
    try {
      Robot2RobotCollision::LoadMeshIntoBVH(Path(file), model);
      EXPECT_EQ("triangles " + std::to_string(model.num_tris) + ", first z " +
                    std::to_string(static_cast<int>(model.vertices[0].z())),
                outcome);
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(e.what(), kLoad + outcome + " mesh file at: " + Path(file));
    }
  }
}

TEST_F(Robot2RobotCollisionTest, KeepsTheLinksThatHaveAMeshFileAndAreNotSkipped) {
  fs::rename(Path("L/a1.stl"), Path("L/a1.STL"));
  fs::copy(Path("R/b1.stl"), Path("R/a2.stl"));
  fs::current_path(dir_ / "R");  // an empty folder name is the working directory
  checker_.Init({"a0", "a1", "a3"}, {"a2", "b0", "b1"}, {"b1", "a2"}, Path("L") + "/", "");
  EXPECT_EQ(checker_.left_objects().link_names, std::vector<std::string>{"a0"});
  EXPECT_EQ(checker_.right_objects().link_names, std::vector<std::string>{"b0"});
  // An Init that fails on its right side keeps both sides as they were.
  Write("R/b1.stl", "not a mesh\n");
  EXPECT_THAT([&] { checker_.Init({"a3"}, {"b1"}, {}, Path("L"), Path("R")); },
              ThrowsMessage<std::runtime_error>(
                  kLoad + "Failed to load mesh file at: " + Path("R/b1.stl")));
  EXPECT_EQ(checker_.left_objects().link_names, std::vector<std::string>{"a0"});
}

// No side, an empty side, or links too far apart for any distance to be
// finite: no pair is measured, and none is reported.
TEST_F(Robot2RobotCollisionTest, NoMeasuredPairIsNeverImminent) {
  checker_.Update({At(-1e308, 0, 0), At(-1e308, 0, 0)}, Right(B0At(1e308, 0, 0)));
  EXPECT_EQ(Imminent(INFINITY), "no ");
  Robot2RobotCollision unset;
  unset.Update({}, {});
  checker_.Init({"a0"}, {"none"}, {}, Path("L"), Path("R"));
  checker_.Update({At(0, 0, 0)}, {});
  for (Robot2RobotCollision* checker : {&unset, &checker_}) {
    EXPECT_FALSE(checker->IsCollisionImminent(INFINITY) || checker->IsCollisionNow());
  }
}

}  // namespace
}  // namespace quiral::bivek
