// Fuzz target: the robot's URDF read into its rigid-body model (ParseUrdf,
// then the tree and the multibody built on it). Only std::invalid_argument
// leaves them; every link read has a finite, non-negative mass and finite
// inertia, and the model has a body per link and at most a coordinate per
// joint.
#include <stdexcept>
#include <string_view>

#include "tests/fuzz/fuzz_support.h"
#include "vek/multibody/multi_body.h"
#include "vek/multibody/urdf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quiral::vek::multibody;
  try {
    const Description description =
        ParseUrdf(std::string_view(reinterpret_cast<const char*>(data), size));
    for (const Link& link : description.links) {
      if (!(link.inertial.mass >= 0.0) || !link.inertial.inertia.allFinite() ||
          !link.inertial.frame.matrix().allFinite()) {
        quiral_fuzz::Fail("a link with a negative or non-finite mass property");
      }
    }
    const MultiBody body{Tree(description)};
    if (body.dof() > description.joints.size()) quiral_fuzz::Fail("more coordinates than joints");
  } catch (const std::invalid_argument&) {
  }
  return 0;
}
