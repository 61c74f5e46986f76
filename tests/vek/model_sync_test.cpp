// Templates take the robot URDF's joint origins; failures leave them untouched.
#include "vek/model_sync.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>

#include <yaml-cpp/yaml.h>

#include "tests/vek/robot_test_util.h"

namespace quiral::vek {
namespace {

namespace fs = std::filesystem;
using testing_util::Throws;

// j1 with both attributes, j2 with xyz only, j3 with an rpy of two numbers,
// j4 without origin, j5 unknown to the templates.
const std::string kRobot = R"(<robot><joint name="j1"><origin xyz="0 0 0.155" rpy="0 0.1 0"/>
  </joint><joint name="j2"><origin xyz="0.01 0.02 0.03"/></joint><joint name="j3">
  <origin xyz="1 2 3" rpy="1 2"/></joint><joint name="j4"/><joint name="j5"><origin/></joint>
  </robot>)";

std::string Read(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

TEST(ModelSyncTest, TemplatesTakeTheRobotsOriginsAndFailuresLeaveThemUntouched) {
  const fs::path dir = fs::path(::testing::TempDir()) / "model_sync_test";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const auto write = [&](const std::string& name, const std::string& text) {
    std::ofstream(dir / name) << text;
    return (dir / name).string();
  };
  int downloads = 0;
  std::optional<std::string> robot = kRobot;
  const UrdfDownload download = [&] { return ++downloads, robot; };

  const std::string urdf = write("t.urdf", R"(<robot><joint name="j1"><origin/></joint>
    <joint name="j1"><origin xyz="9 9 9"/></joint><joint name="j3"><origin rpy="8 8 8"/>
    </joint><joint name="j2"><origin xyz="7 7 7"/></joint></robot>)");
  const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(urdf, mode);
  SyncUrdfTemplate(urdf, download);
  EXPECT_EQ(std::regex_replace(Read(urdf), std::regex(">\\s+<"), "><"),
            R"(<robot><joint name="j1"><origin rpy="0 0.1 0" xyz="0 0 0.155"/></joint>)"
            R"(<joint name="j1"><origin xyz="9 9 9"/></joint><joint name="j3"><origin rpy="1 2" )"
            R"(xyz="1 2 3"/></joint><joint name="j2"><origin xyz="7 7 7"/></joint></robot>)"
            "\n");
  EXPECT_EQ(fs::status(urdf).permissions(), mode);

  const std::string yaml = write("t.yaml",
                                 "name: arm\nkinematics: {j1: {x: 9, y: 9, z: 9, "
                                 "roll: 9, yaw: 9, k: 4}, j2: ~, j3: {roll: 8}, j4: {}}");
  const auto private_mode = fs::perms::owner_read | fs::perms::owner_write;
  fs::permissions(yaml, private_mode);
  EXPECT_EQ(SyncYamlTemplate(yaml, download), 3u);  // j1, j2, j3
  EXPECT_EQ(fs::status(yaml).permissions(), private_mode);
  EXPECT_EQ(Read(yaml),
            "name: arm\nkinematics: {j1: {x: 0, y: 0, z: 0.155, roll: 0, yaw: 0, k: 4, pitch: "
            "0.10000000000000001}, j2: {x: 0.01, y: 0.02, z: 0.029999999999999999}, j3: {roll: 8, "
            "x: 1, y: 2, z: 3}, j4: {}}");

  const std::string u = "[quiral::vek::Model::SyncURDF] ";
  const auto sync = [&](const std::string& path) {
    fs::path(path).extension() == ".yaml" ? SyncYamlTemplate(path, download)
                                          : (SyncUrdfTemplate(path, download), 0);
  };
  // Path, robot URDF, downloads (std::invalid_argument when not 1), text.
  const std::tuple<std::string, std::optional<std::string>, int, std::string> cases[] = {
      {"none.urdf", kRobot, 0, u + "Failed to load template URDF at [none.urdf]"},
      {urdf, std::nullopt, 1, u + "Failed to obtain URDF from server"},
      {write("s.yaml", "kinematics: {j1: [3]}"), kRobot, 2,
       "[quiral::vek::Model::SyncKinematicsYAML] Entry [j1] under <kinematics> is not a map"}};
  for (const auto& [template_path, served, expected_downloads, text] : cases) {
    const std::string& path = template_path;
    const std::string before = Read(path);
    robot = served;
    downloads = 0;
    EXPECT_TRUE(expected_downloads == 1 ? Throws<std::runtime_error>([&] { sync(path); }, text)
                                        : Throws<std::invalid_argument>([&] { sync(path); }, text));
    EXPECT_EQ(downloads, std::min(expected_downloads, 1)) << text;
    EXPECT_EQ(Read(path), before) << text;
  }

  // A scalar entry of a joint that is synced, whatever its origin holds:
  // yaml-cpp's own error, and the file stays as it was. j4 has no origin.
  for (const std::string entries : {"{j1: 3}", "{j5: 3}", "{j1: {}, j5: text}"}) {
    const std::string path = write("scalar.yaml", "kinematics: " + entries);
    EXPECT_THROW(SyncYamlTemplate(path, download), YAML::BadSubscript) << entries;
    EXPECT_EQ(Read(path), "kinematics: " + entries);
  }
  EXPECT_EQ(SyncYamlTemplate(write("scalar.yaml", "kinematics: {j4: 3}"), download), 0u);

  // A file-size limit below the new content: the write fails half-way.
  robot = kRobot;
  const std::string before = Read(urdf);
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  const rlimit small{16, limit.rlim_max};
  setrlimit(RLIMIT_FSIZE, &small);
  EXPECT_TRUE(Throws<std::runtime_error>([&] { sync(urdf); },
                                         u + "Failed to save updated URDF to [" + urdf + "]"));
  setrlimit(RLIMIT_FSIZE, &limit);
  EXPECT_EQ(Read(urdf), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 4) << "a temporary file is left";
}

}  // namespace
}  // namespace quiral::vek
