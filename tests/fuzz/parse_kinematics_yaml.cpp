// Fuzz target: the kinematics YAML template updated from the robot's URDF
// (SyncYamlText). The input is the URDF text, ended as in
// quiral_fuzz::Texts, then the template. Only std::invalid_argument and
// std::runtime_error with the operation's prefix leave it, and yaml-cpp's
// YAML::BadSubscript for a joint entry that is a scalar; the text it
// writes is a template again: synced once more from the same URDF, it
// stays as it is.
#include <spdlog/spdlog.h>
#include <yaml-cpp/yaml.h>

#include <stdexcept>
#include <string>

#include "tests/fuzz/fuzz_support.h"
#include "vek/model_sync.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  spdlog::set_level(spdlog::level::off);  // a warning per number list that is not three numbers
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string prefix = "[quiral::vek::Model::SyncKinematicsYAML] ";
  FuzzedDataProvider input(data, size);
  const std::string urdf = input.ConsumeRandomLengthString();
  const std::string yaml = input.ConsumeRemainingBytesAsString();
  const quiral::vek::UrdfDownload download = [&urdf] { return urdf; };
  quiral::vek::SyncedYaml synced;
  try {
    synced = quiral::vek::SyncYamlText(yaml, "template.yaml", download);
  } catch (const YAML::BadSubscript&) {
    return 0;
  } catch (const std::exception& e) {
    const bool documented = dynamic_cast<const std::invalid_argument*>(&e) != nullptr ||
                            dynamic_cast<const std::runtime_error*>(&e) != nullptr;
    if (!documented || std::string(e.what()).rfind(prefix, 0) != 0) {
      quiral_fuzz::Fail("an undocumented exception");
    }
    return 0;
  }
  const quiral::vek::SyncedYaml again =
      quiral::vek::SyncYamlText(synced.text, "template.yaml", download);
  if (again.text != synced.text || again.joints != synced.joints) {
    quiral_fuzz::Fail("a written template changes when synced again");
  }
  return 0;
}
