// One distance round of the collision checker, Update and then
// IsCollisionImminent, for two arms of 7 links of about 1000 triangles each,
// beside the same FCL calls made directly: set each object's transform and
// recompute its box, update both managers, one manager-against-manager
// distance query. The direct calls run on objects of their own over the
// checker's geometries. Both rounds run in the same loop over the same
// sequence of poses, in alternating order; the counter `ratio` is the
// checker's time over that of the direct calls (target: at most 1.2).
#include <benchmark/benchmark.h>
#include <fcl/broadphase/default_broadphase_callbacks.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>

#include "bench/support/figures.h"
#include "bivek/robot2robot_collision.h"

namespace {

namespace fs = std::filesystem;
using quiral::bivek::Robot2RobotCollision;
using quiral::bivek::RobotCollisionObjects;
using Poses = std::vector<Eigen::Isometry3d>;
using Clock = std::chrono::steady_clock;

constexpr int kLinks = 7;
constexpr int kPoseSets = 64;
constexpr double kThreshold = 0.05;

// Sphere of 2 * segments * (rings - 1) triangles, written as binary STL on a
// little-endian host: an 80-byte header, the count, then per triangle a zero
// normal, the three vertices and a zero attribute.
void WriteSphereStl(const std::string& path, float radius, int rings, int segments) {
  auto point = [&](int ring, int segment) {
    const double theta = M_PI * ring / rings, phi = 2 * M_PI * segment / segments;
    return Eigen::Vector3f(radius * std::sin(theta) * std::cos(phi),
                           radius * std::sin(theta) * std::sin(phi), radius * std::cos(theta));
  };
  std::vector<std::array<Eigen::Vector3f, 3>> triangles;
  for (int r = 0; r < rings; ++r) {
    for (int s = 0; s < segments; ++s) {
      if (r > 0) triangles.push_back({point(r, s), point(r + 1, s + 1), point(r, s + 1)});
      if (r + 1 < rings) triangles.push_back({point(r, s), point(r + 1, s), point(r + 1, s + 1)});
    }
  }
  std::ofstream out(path, std::ios::binary);
  const char zeros[80] = {};
  const std::uint32_t count = triangles.size();
  out.write(zeros, 80).write(reinterpret_cast<const char*>(&count), 4);
  for (const auto& triangle : triangles) {
    out.write(zeros, 12);
    for (const auto& v : triangle) out.write(reinterpret_cast<const char*>(v.data()), 12);
    out.write(zeros, 2);
  }
}

// Link i of an arm is a sphere of radius 0.1 (1008 triangles) at height
// 0.15 i, swaying along y; the arms stand 0.26 m apart, so that their
// closest links pass between 2 and 6 cm of each other.
Poses ArmPoses(double base_y, double sway, double phase) {
  Poses poses;
  for (int i = 0; i < kLinks; ++i) {
    poses.push_back(Eigen::Translation3d(0, base_y + sway * std::sin(phase + i), 0.15 * i) *
                    Eigen::AngleAxisd(phase + i, Eigen::Vector3d::UnitZ()));
  }
  return poses;
}

// Objects and a manager of their own over the geometries of `side`.
RobotCollisionObjects SameGeometries(const RobotCollisionObjects& side) {
  RobotCollisionObjects raw;
  raw.manager = std::make_unique<fcl::DynamicAABBTreeCollisionManagerd>();
  for (const auto& object : side.collision_objects) {
    raw.collision_objects.push_back(std::make_shared<fcl::CollisionObjectd>(
        std::const_pointer_cast<fcl::CollisionGeometryd>(object->collisionGeometry())));
    raw.manager->registerObject(raw.collision_objects.back().get());
  }
  raw.manager->setup();
  return raw;
}

void MoveDirectly(RobotCollisionObjects& side, const Poses& poses) {
  for (int i = 0; i < kLinks; ++i) {
    side.collision_objects[i]->setTransform(poses[i]);
    side.collision_objects[i]->computeAABB();
  }
  side.manager->update();
}

void BM_DistanceRoundAgainstDirectFcl(benchmark::State& state) {
  const fs::path dir = fs::temp_directory_path() / ("collision_bench_" + std::to_string(getpid()));
  std::vector<std::string> names;
  for (const char* side : {"L", "R"}) fs::create_directories(dir / side);
  for (int i = 1; i <= kLinks; ++i) {
    names.push_back("link" + std::to_string(i));
    for (const char* side : {"L/", "R/"}) {
      WriteSphereStl((dir / (side + names.back() + ".stl")).string(), 0.1, 22, 24);
    }
  }
  Robot2RobotCollision checker;
  checker.Init(names, names, {}, (dir / "L").string(), (dir / "R").string());
  fs::remove_all(dir);
  RobotCollisionObjects left = SameGeometries(checker.left_objects());
  RobotCollisionObjects right = SameGeometries(checker.right_objects());
  std::vector<std::pair<Poses, Poses>> pose_sets;
  for (int k = 0; k < kPoseSets; ++k) {
    const double phase = 2 * M_PI * k / kPoseSets;
    pose_sets.emplace_back(ArmPoses(-0.13, 0.02, phase), ArmPoses(0.13, -0.02, 0.5 * phase));
  }

  auto checker_round = [&](const Poses& l, const Poses& r) {
    checker.Update(l, r);
    benchmark::DoNotOptimize(checker.IsCollisionImminent(kThreshold));
  };
  auto direct_round = [&](const Poses& l, const Poses& r) {
    MoveDirectly(left, l);
    MoveDirectly(right, r);
    fcl::DefaultDistanceData<double> data;
    left.manager->distance(right.manager.get(), &data, fcl::DefaultDistanceFunction<double>);
    benchmark::DoNotOptimize(data.result.min_distance < kThreshold);
  };
  Clock::duration checker_time{}, direct_time{};
  std::size_t round = 0;
  for (auto _ : state) {
    const auto& [l, r] = pose_sets[round % kPoseSets];
    const bool checker_first = ++round % 2 == 0;
    const Clock::time_point t0 = Clock::now();
    checker_first ? checker_round(l, r) : direct_round(l, r);
    const Clock::time_point t1 = Clock::now();
    checker_first ? direct_round(l, r) : checker_round(l, r);
    const Clock::time_point t2 = Clock::now();
    checker_time += checker_first ? t1 - t0 : t2 - t1;
    direct_time += checker_first ? t2 - t1 : t1 - t0;
  }
  const double checker_us = std::chrono::duration<double, std::micro>(checker_time).count();
  const double direct_us = std::chrono::duration<double, std::micro>(direct_time).count();
  state.counters["checker_us"] = benchmark::Counter(checker_us, benchmark::Counter::kAvgIterations);
  state.counters["direct_fcl_us"] =
      benchmark::Counter(direct_us, benchmark::Counter::kAvgIterations);
  state.counters["ratio"] = checker_us / direct_us;
  const double rounds = static_cast<double>(state.iterations());
  quiral::bench::PrintFigure("collision.checker", checker_us / rounds, "us");
  quiral::bench::PrintFigure("collision.fcl", direct_us / rounds, "us");
}
// A fixed count, so that the figures come from one run.
BENCHMARK(BM_DistanceRoundAgainstDirectFcl)->Iterations(3000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
