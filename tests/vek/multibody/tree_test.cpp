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

using testing_util::ReadTestUrdf;

std::string Robot(const std::string& body) { return "<robot name=\"r\">" + body + "</robot>"; }

const std::string kAB = R"(<link name="a"/><link name="b"/>)";
std::string JointAB(const std::string& inside, const std::string& type = "revolute") {
  return R"(<joint name="j" type=")" + type + R"("><parent link="a"/><child link="b"/>)" + inside +
         "</joint>";
}
std::string LinkWith(const std::string& inertial) {
  return R"(<link name="a"><inertial>)" + inertial + "</inertial></link>";
}

TEST(MultiBodyTree, BodiesDepthFirstFromTheRootJointsInBodyOrderToolLastUnderFlange) {
  Description description = ParseUrdf(ReadTestUrdf("rail_arm.urdf"));
  const Eigen::Isometry3d tcp(Eigen::Translation3d(0.0, 0.0, 0.1));
  description.AddFixedLink("tool", {0.7, tcp, Eigen::Matrix3d::Identity() * 1e-3}, "flange",
                           "tool_joint", tcp);
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
  EXPECT_EQ(tree.body_index("camera"), 8u);
  EXPECT_EQ(tree.joint_index("lift"), 3u);
  EXPECT_FALSE(tree.joint_index("mast_mount"));
  EXPECT_FALSE(tree.body_index("nowhere"));
  EXPECT_EQ(tree.bodies()[3].axis, Eigen::Vector3d::UnitY());  // "0 2 0"
  EXPECT_EQ(tree.bodies()[0].mass, 0.0);                       // no <inertial>
  EXPECT_EQ(tree.bodies()[6].mass, 0.7);
}

TEST(MultiBodyTree, OriginsAreFixedAxisRollPitchYaw) {
  const Description description =
      ParseUrdf(Robot(kAB + JointAB(R"(<origin xyz="1 2 3" rpy="0.3 -0.5 1.2"/>)", "fixed")));
  const KDL::Rotation expected = KDL::Rotation::RPY(0.3, -0.5, 1.2);
  const Eigen::Isometry3d& origin = description.joints[0].origin;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(origin.linear()(r, c), expected(r, c), 1e-15);
  }
  EXPECT_EQ(origin.translation(), Eigen::Vector3d(1, 2, 3));
}

TEST(MultiBodyTree, RefusesMalformedRobots) {
  const std::string parse = "[quiral::vek::multibody::ParseUrdf] ";
  const std::string tree = "[quiral::vek::multibody::Tree] ";
  const std::string inertia = R"(<inertia ixx="1" iyy="1" izz="1" ixy="0" ixz="0" iyz="0"/>)";
  const struct {
    std::string urdf, error;
  } cases[] = {
      {"<robot>", parse + "Malformed XML: Error=XML_ERROR_MISMATCHED_ELEMENT ErrorID=14 (0xe) "
                          "Line number=1: XMLElement name=robot"},
      {"<model/>", parse + "The root element is not <robot>"},
      {Robot(kAB + JointAB("", "floating")), parse + "<joint [j]> has unsupported type [floating]"},
      {Robot(R"(<joint name="j" type="fixed"><child link="b"/></joint>)"),
       parse + "<joint [j]> has no element <parent>"},
      {Robot(R"(<link/>)"), parse + "<link> has no attribute [name]"},
      {Robot(kAB + JointAB(R"(<origin xyz="1 2 x"/>)")),
       parse + "<joint [j]> <origin> attribute [xyz] [1 2 x] is not 3 finite number(s)"},
      {Robot(kAB + JointAB(R"(<axis xyz="1 0 0 0"/>)")),
       parse + "<joint [j]> <axis> attribute [xyz] [1 0 0 0] is not 3 finite number(s)"},
      {Robot(LinkWith(R"(<mass value="nan"/>)" + inertia)),
       parse + "<link [a]> <inertial> <mass> attribute [value] [nan] is not 1 finite number(s)"},
      {Robot(LinkWith(R"(<mass value="-1"/>)" + inertia)),
       parse + "<link [a]> <inertial> has a negative mass"},
      {Robot(LinkWith(R"(<mass value="1"/><inertia ixx="1" iyy="1" ixy="0" ixz="0" iyz="0"/>)")),
       parse + "<link [a]> <inertial> <inertia> has no attribute [izz]"},
      {Robot(""), tree + "The robot has no links"},
      {Robot(kAB + R"(<link name="a"/>)"), tree + "Link [a] is defined more than once"},
      {Robot(kAB + JointAB("") + JointAB("")), tree + "Joint [j] is defined more than once"},
      {Robot(kAB + R"(<joint name="j" type="fixed"><parent link="a"/><child link="c"/></joint>)"),
       tree + "Joint [j] names the unknown link [c]"},
      {Robot(kAB + JointAB(R"(<axis xyz="0 0 0"/>)", "prismatic")),
       tree + "Joint [j] has a zero or non-finite axis"},
      {Robot(kAB), tree + "Links [a], [b] have no parent joint: expected one root"},
      {Robot(kAB + R"(<link name="c"/>)" + JointAB("") +
             R"(<joint name="k" type="fixed"><parent link="c"/><child link="b"/></joint>)"),
       tree + "Link [b] is the child of both joints [j] and [k]"},
      {Robot(kAB + JointAB("") +
             R"(<joint name="k" type="fixed"><parent link="b"/><child link="a"/></joint>)"),
       tree + "Every link has a parent joint: the joints form a cycle"},
      {Robot(kAB + R"(<link name="c"/>)" +
             R"(<joint name="k" type="fixed"><parent link="b"/><child link="a"/></joint>)" +
             JointAB("")),
       tree + "Link [a] is not connected to the base [c]: the joints form a cycle"},
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
