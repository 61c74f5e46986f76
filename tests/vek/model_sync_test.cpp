// Copying the robot URDF's joint origins into URDF and YAML templates: what
// is written, what is left, and files left untouched by every failure,
// also when the new content cannot be written whole.
#include "vek/model_sync.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <tinyxml2.h>
#include <yaml-cpp/yaml.h>

#include "tests/vek/robot_test_util.h"

namespace quiral::vek {
namespace {

namespace fs = std::filesystem;
using testing_util::Throws;

// The robot's joints: j1 with both attributes, j2 with xyz only, j3 with a
// bad rpy, j4 without origin, j5 unknown to the templates.
const std::string kRobot = R"(<robot name="r">
  <joint name="j1"><origin xyz="0 0 0.155" rpy="0 0.1 0"/></joint>
  <joint name="j2"><origin xyz="0.01 0.02 0.03"/></joint>
  <joint name="j3"><origin xyz="1 2 3" rpy="1 2"/></joint>
  <joint name="j4"/><joint name="j5"><origin xyz="5 5 5" rpy="5 5 5"/></joint></robot>)";

class ModelSyncTest : public ::testing::Test {
 protected:
  ModelSyncTest() : dir_(fs::temp_directory_path() / ("model_sync_" + std::to_string(getpid()))) {
    fs::create_directories(dir_);
  }
  ~ModelSyncTest() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name) << text;
    return (dir_ / name).string();
  }
  static std::string Read(const std::string& path) {
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  }

  fs::path dir_;
  int downloads_ = 0;
  std::optional<std::string> robot_ = kRobot;
  UrdfDownload download_ = [this] { return ++downloads_, robot_; };
};

TEST_F(ModelSyncTest, UrdfTemplateTakesBothOriginTextsOfTheFirstJointOfEachName) {
  const std::string path = Write("t.urdf", R"(<robot name="t"><link name="l"/>
<joint name="j1"><origin/></joint><joint name="j1"><origin xyz="9 9 9" rpy="9 9 9"/></joint>
<joint name="j2"><origin xyz="7 7 7"/></joint><joint name="j3"><origin rpy="8 8 8"/></joint>
</robot>)");
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  SyncUrdfTemplate(path, download_);
  tinyxml2::XMLDocument done;
  ASSERT_EQ(done.LoadFile(path.c_str()), tinyxml2::XML_SUCCESS);
  std::vector<std::string> origins;
  for (auto* j = done.RootElement()->FirstChildElement("joint"); j; j = j->NextSiblingElement()) {
    const auto* o = j->FirstChildElement("origin");
    origins.push_back(std::string(o->Attribute("xyz") ? o->Attribute("xyz") : "-") + "|" +
                      (o->Attribute("rpy") ? o->Attribute("rpy") : "-"));
  }
  EXPECT_EQ(origins,
            (std::vector<std::string>{"0 0 0.155|0 0.1 0", "9 9 9|9 9 9", "7 7 7|-", "1 2 3|1 2"}));
  EXPECT_NE(Read(path).find("<link name=\"l\"/>"), std::string::npos);
  EXPECT_EQ(fs::status(path).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(ModelSyncTest, YamlTemplateTakesEachValidTripleOfTheJointsItNames) {
  const std::string path = Write("t.yaml", R"(name: arm
kinematics:
  j1: {x: 9, y: 9, z: 9, roll: 9, pitch: 9, yaw: 9, mass: 4}
  j2:
  j3: {x: 9, roll: 8}
  j4: {x: 9}
  j6: {x: 6}
)");
  EXPECT_EQ(SyncYamlTemplate(path, download_), 3u);  // j1, j2, j3
  const YAML::Node done = YAML::LoadFile(path);
  const YAML::Node k = done["kinematics"];
  const auto values = [&](const char* joint) {
    std::map<std::string, double> out;
    for (const auto& kv : k[joint]) out[kv.first.as<std::string>()] = kv.second.as<double>();
    return out;
  };
  using Values = std::map<std::string, double>;
  EXPECT_EQ(
      values("j1"),
      (Values{
          {"x", 0}, {"y", 0}, {"z", 0.155}, {"roll", 0}, {"pitch", 0.1}, {"yaw", 0}, {"mass", 4}}));
  EXPECT_EQ(values("j2"), (Values{{"x", 0.01}, {"y", 0.02}, {"z", 0.03}}));
  EXPECT_EQ(values("j3"), (Values{{"x", 1}, {"y", 2}, {"z", 3}, {"roll", 8}}));
  EXPECT_EQ(values("j4"), (Values{{"x", 9}}));
  EXPECT_EQ(values("j6"), (Values{{"x", 6}}));
  EXPECT_FALSE(k["j5"]);
  EXPECT_EQ(done["name"].as<std::string>(), "arm");
}

TEST_F(ModelSyncTest, FailuresLeaveTheFileUntouched) {
  const std::string u = "[quiral::vek::Model::SyncURDF] ",
                    y = "[quiral::vek::Model::SyncKinematicsYAML] ";
  const std::string urdf = Write("t.urdf", "<robot><joint name=\"j1\"><origin/></joint></robot>");
  const std::string yaml = Write("t.yaml", "kinematics: {j1: {x: 1}}\n");
  const std::string scalar = Write("s.yaml", "kinematics: {j1: 3}\n");
  const std::string no_robot = Write("n.urdf", "<model/>"), list = Write("l.yaml", "- 1\n");
  const auto sync_urdf = [&](const std::string& path) { SyncUrdfTemplate(path, download_); };
  const auto sync_yaml = [&](const std::string& path) { SyncYamlTemplate(path, download_); };
  const struct {
    std::function<void(const std::string&)> sync;
    std::string path;
    std::optional<std::string> robot;
    bool invalid_argument;
    std::string text;
    int downloads;
  } cases[] = {
      {sync_urdf, "nowhere.urdf", kRobot, true,
       u + "Failed to load template URDF at [nowhere.urdf]", 0},
      {sync_urdf, no_robot, kRobot, true, u + "Missing <robot> root element in the template URDF",
       0},
      {sync_urdf, urdf, std::nullopt, false, u + "Failed to obtain URDF from server", 1},
      {sync_urdf, urdf, "<robot>", false, u + "Failed to parse the URDF obtained from server", 1},
      {sync_urdf, urdf, "<model/>", false, u + "Failed to find <robot> element in URDF", 1},
      {sync_yaml, "nowhere.yaml", kRobot, true,
       y + "Failed to load template YAML at [nowhere.yaml]", 0},
      {sync_yaml, list, kRobot, true, y + "Missing <kinematics> root node in the template YAML", 0},
      {sync_yaml, yaml, std::nullopt, false, y + "Failed to obtain URDF from server", 1},
      {sync_yaml, yaml, "<robot", false, y + "Failed to parse the URDF obtained from server", 1},
      {sync_yaml, yaml, "<model/>", false, y + "Failed to find <robot> element in URDF", 1},
      {sync_yaml, scalar, kRobot, true, y + "Entry [j1] under <kinematics> is not a map", 1},
  };
  for (const auto& c : cases) {
    const std::string before = Read(c.path);
    robot_ = c.robot;
    downloads_ = 0;
    EXPECT_TRUE(c.invalid_argument ? Throws<std::invalid_argument>([&] { c.sync(c.path); }, c.text)
                                   : Throws<std::runtime_error>([&] { c.sync(c.path); }, c.text));
    EXPECT_EQ(downloads_, c.downloads) << c.text;
    EXPECT_EQ(Read(c.path), before) << c.text;
  }

  // A file-size limit below the new content: the write fails half-way.
  robot_ = kRobot;
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  const rlimit small{16, limit.rlim_max};
  setrlimit(RLIMIT_FSIZE, &small);
  EXPECT_TRUE(Throws<std::runtime_error>([&] { sync_urdf(urdf); },
                                         u + "Failed to save updated URDF to [" + urdf + "]"));
  EXPECT_TRUE(Throws<std::runtime_error>([&] { sync_yaml(yaml); },
                                         y + "Failed to save updated YAML to [" + yaml + "]"));
  setrlimit(RLIMIT_FSIZE, &limit);
  EXPECT_EQ(Read(urdf), "<robot><joint name=\"j1\"><origin/></joint></robot>");
  EXPECT_EQ(Read(yaml), "kinematics: {j1: {x: 1}}\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 5)
      << "no temporary file is left";
}

}  // namespace
}  // namespace quiral::vek
