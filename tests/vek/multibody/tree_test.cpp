// Reading URDF text into a tree: body and joint order, the name maps, a
// mounted tool, and every refusal with its text.
#include "vek/multibody/tree.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include <kdl/frames.hpp>

#include "tests/vek/multibody/test_models.h"
#include "vek/multibody/urdf.h"

namespace quiral::vek::multibody {
namespace {

std::string Robot(const std::string& body) { return "<robot name=\"r\">" + body + "</robot>"; }
std::string Joint(const std::string& name, const std::string& type, const std::string& parent,
                  const std::string& child, const std::string& inside = "") {
  return "<joint name=\"" + name + "\" type=\"" + type + "\"><parent link=\"" + parent +
         "\"/><child link=\"" + child + "\"/>" + inside + "</joint>";
}

TEST(MultiBodyTree, BodiesDepthFirstFromTheRootJointsInBodyOrderToolLastUnderFlange) {
  Description description = ParseUrdf(testing_util::ReadTestUrdf("rail_arm.urdf"));
  const Eigen::Isometry3d tcp(Eigen::Translation3d(0.0, 0.0, 0.1));
  description.AddFixedLink("tool", {0.7, tcp, Eigen::Matrix3d::Identity()}, "flange", "tj", tcp);
  const Tree tree(description);
  EXPECT_EQ(tree.body_names(),
            (std::vector<std::string>{"rail", "carriage", "lower", "upper", "flange", "sensor",
                                      "tool", "mast", "camera"}));
  std::vector<int> parents, coordinates;
  for (const Body& body : tree.bodies()) {
    parents.push_back(body.parent);
    coordinates.push_back(body.coordinate);
  }
  EXPECT_EQ(parents, (std::vector<int>{-1, 0, 1, 2, 3, 4, 4, 1, 7}));
  EXPECT_EQ(coordinates, (std::vector<int>{-1, 0, 1, 2, 3, -1, -1, -1, 4}));
  EXPECT_EQ(tree.joint_names(),
            (std::vector<std::string>{"slide", "shoulder", "elbow", "lift", "pan"}));
  EXPECT_EQ(tree.body_index("tool"), 6u);
  EXPECT_EQ(tree.joint_index("lift"), 3u);
  EXPECT_FALSE(tree.joint_index("mast_mount"));
  EXPECT_FALSE(tree.body_index("nowhere"));
  EXPECT_EQ(tree.bodies()[3].axis, Eigen::Vector3d::UnitY());  // "0 2 0"
  EXPECT_EQ(tree.bodies()[0].mass, 0.0);                       // no <inertial>
  EXPECT_EQ(tree.bodies()[6].mass, 0.7);
}

TEST(MultiBodyTree, OriginsAreFixedAxisRollPitchYaw) {
  const std::string origin = R"(<origin xyz="1 2 3" rpy="0.3 -0.5 1.2"/>)";
  const Description d = ParseUrdf(
      Robot(R"(<link name="a"/><link name="b"/>)" + Joint("j", "fixed", "a", "b", origin)));
  Eigen::Matrix3d expected;
  const KDL::Rotation rpy = KDL::Rotation::RPY(0.3, -0.5, 1.2);
  for (int i = 0; i < 9; ++i) expected(i / 3, i % 3) = rpy(i / 3, i % 3);
  EXPECT_LT((d.joints[0].origin.linear() - expected).norm(), 1e-15);
  EXPECT_EQ(d.joints[0].origin.translation(), Eigen::Vector3d(1, 2, 3));
}

TEST(MultiBodyTree, RefusesMalformedRobots) {
  const std::string ab = R"(<link name="a"/><link name="b"/>)", jab = Joint("j", "fixed", "a", "b");
  const std::string in = R"(<link name="a"><inertial><mass value=")";
  const std::string unit =
      R"("/><inertia ixx="1" iyy="1" izz="1" ixy="0" ixz="0" iyz="0"/></inertial></link>)";
  const std::string p = "[quiral::vek::multibody::ParseUrdf] ",
                    t = "[quiral::vek::multibody::Tree] ";
  const struct {
    std::string urdf, error;
  } cases[] = {
      {"<robot>", p + "Malformed XML: Error=XML_ERROR_MISMATCHED_ELEMENT ErrorID=14 (0xe) "
                      "Line number=1: XMLElement name=robot"},
      {"<model/>", p + "The root element is not <robot>"},
      {Robot(ab + Joint("j", "floating", "a", "b")),
       p + "<joint [j]> has unsupported type [floating]"},
      {Robot(R"(<joint name="j" type="fixed"/>)"), p + "<joint [j]> has no element <parent>"},
      {Robot("<link/>"), p + "<link> has no attribute [name]"},
      {Robot(ab + Joint("j", "fixed", "a", "b", R"(<origin xyz="1 2 x"/>)")),
       p + "<joint [j]> <origin> attribute [xyz] [1 2 x] is not 3 finite number(s)"},
      {Robot(ab + Joint("j", "revolute", "a", "b", R"(<axis xyz="1 0 0 0"/>)")),
       p + "<joint [j]> <axis> attribute [xyz] [1 0 0 0] is not 3 finite number(s)"},
      {Robot(in + "nan" + unit),
       p + "<link [a]> <inertial> <mass> attribute [value] [nan] is not 1 finite number(s)"},
      {Robot(in + "-1" + unit), p + "<link [a]> <inertial> has a negative mass"},
      {Robot(in + R"(1"/><inertia ixx="1" iyy="1" ixy="0" ixz="0" iyz="0"/>)" +
             "</inertial></link>"),
       p + "<link [a]> <inertial> <inertia> has no attribute [izz]"},
      {Robot(""), t + "The robot has no links"},
      {Robot(ab + R"(<link name="a"/>)"), t + "Link [a] is defined more than once"},
      {Robot(ab + jab + jab), t + "Joint [j] is defined more than once"},
      {Robot(ab + Joint("j", "fixed", "a", "c")), t + "Joint [j] names the unknown link [c]"},
      {Robot(ab + Joint("j", "prismatic", "a", "b", R"(<axis xyz="0 0 0"/>)")),
       t + "Joint [j] has a zero or non-finite axis"},
      {Robot(ab), t + "Links [a], [b] have no parent joint: expected one root"},
      {Robot(ab + R"(<link name="c"/>)" + jab + Joint("k", "fixed", "c", "b")),
       t + "Link [b] is the child of both joints [j] and [k]"},
      {Robot(ab + jab + Joint("k", "fixed", "b", "a")),
       t + "Every link has a parent joint: the joints form a cycle"},
      {Robot(ab + R"(<link name="c"/>)" + Joint("k", "fixed", "b", "a") + jab),
       t + "Link [a] is not connected to the base [c]: the joints form a cycle"},
  };
  for (const auto& c : cases) {
    try {
      Tree{ParseUrdf(c.urdf)};
      ADD_FAILURE() << "accepted " << c.urdf;
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(e.what(), c.error) << c.urdf;
    }
  }
}

}  // namespace
}  // namespace quiral::vek::multibody
