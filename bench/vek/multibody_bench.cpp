// One control cycle of a 7-DoF arm's model: the multibody layer beside
// Orocos KDL answering the same queries (flange pose, flange Jacobian, mass
// matrix, gravity torques, Coriolis torques) on the same states, and the
// Coriolis matrix on its own. Prints the cycle times as figures (see
// bench/support/figures.h); the same cycle through the Model (its lock,
// vectors in and copies out) shows what the API adds.
#include <benchmark/benchmark.h>

#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <kdl/chaindynparam.hpp>
#include <kdl/chainfksolverpos_recursive.hpp>
#include <kdl/chainjnttojacsolver.hpp>

#include "bench/support/figure_reporter.h"
#include "bench/support/figures.h"
#include "tests/vek/multibody/test_models.h"
#include "vek/model_impl.h"
#include "vek/multibody/multi_body.h"
#include "vek/multibody/urdf.h"

namespace {

using namespace quiral::vek::multibody;

constexpr std::size_t kStates = 64;

const Description& Arm() {
  static const Description arm = ParseUrdf(testing_util::ReadTestUrdf("arm7.urdf"));
  return arm;
}

// Random positions and velocities, cycled through so that no two
// consecutive cycles see the same state.
struct States {
  std::vector<Eigen::VectorXd> q, qdot;
  States() {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> angle(-3.0, 3.0), rate(-2.0, 2.0);
    for (std::size_t s = 0; s < kStates; ++s) {
      q.push_back(Eigen::VectorXd::NullaryExpr(7, [&] { return angle(random); }));
      qdot.push_back(Eigen::VectorXd::NullaryExpr(7, [&] { return rate(random); }));
    }
  }
};

void MultiBodyCycle(benchmark::State& state) {
  const States states;
  MultiBody model{Tree(Arm())};
  const std::size_t flange = *model.tree().body_index("flange");
  Jacobian j;
  std::size_t s = 0;
  for (auto _ : state) {
    model.Update(states.q[s], states.qdot[s]);
    s = (s + 1) % kStates;
    benchmark::DoNotOptimize(model.pose(flange));
    model.BodyJacobian(flange, j);
    benchmark::DoNotOptimize(j.data());
    benchmark::DoNotOptimize(model.MassMatrix().data());
    benchmark::DoNotOptimize(model.GravityTorques().data());
    benchmark::DoNotOptimize(model.CoriolisTorques().data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(MultiBodyCycle);

void KdlCycle(benchmark::State& state) {
  const States states;
  const KDL::Chain chain = testing_util::KdlChain(Arm(), "flange");
  KDL::ChainFkSolverPos_recursive fk(chain);
  KDL::ChainJntToJacSolver jacobian(chain);
  KDL::ChainDynParam dynamics(chain, KDL::Vector(0.0, 0.0, -9.81));
  KDL::JntArray q(7), qdot(7), gravity(7), coriolis(7);
  KDL::Frame pose;
  KDL::Jacobian j(7);
  KDL::JntSpaceInertiaMatrix mass(7);
  std::size_t s = 0;
  for (auto _ : state) {
    q.data = states.q[s];
    qdot.data = states.qdot[s];
    s = (s + 1) % kStates;
    fk.JntToCart(q, pose);
    jacobian.JntToJac(q, j);
    dynamics.JntToMass(q, mass);
    dynamics.JntToGravity(q, gravity);
    dynamics.JntToCoriolis(q, qdot, coriolis);
    benchmark::DoNotOptimize(pose);
    benchmark::DoNotOptimize(j.data.data());
    benchmark::DoNotOptimize(mass.data.data());
    benchmark::DoNotOptimize(gravity.data.data());
    benchmark::DoNotOptimize(coriolis.data.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(KdlCycle);

// The arm's URDF, without a tool.
struct ArmLink : quiral::vek::ModelLink {
  std::size_t dof() const override { return 7; }
  std::optional<Tool> ActiveTool() const override { return Tool{"Flange", {}}; }
  std::optional<std::string> Urdf() const override {
    return testing_util::ReadTestUrdf("arm7.urdf");
  }
  std::optional<Solution> Reachability(const std::array<double, 7>&, const std::vector<double>&,
                                       bool) const override {
    return std::nullopt;
  }
  std::optional<Manipulability> ManipulabilityFigures() const override { return std::nullopt; }
};

void ModelCycle(benchmark::State& state) {
  const States states;
  std::vector<std::vector<double>> q, qdot;
  for (std::size_t s = 0; s < kStates; ++s) {
    q.emplace_back(states.q[s].data(), states.q[s].data() + 7);
    qdot.emplace_back(states.qdot[s].data(), states.qdot[s].data() + 7);
  }
  quiral::vek::Model::Impl model(std::make_unique<ArmLink>(), Eigen::Vector3d(0.0, 0.0, -9.81));
  std::size_t s = 0;
  for (auto _ : state) {
    model.Update(q[s], qdot[s]);
    s = (s + 1) % kStates;
    benchmark::DoNotOptimize(model.T("flange"));
    benchmark::DoNotOptimize(model.Jacobian("flange").data());
    benchmark::DoNotOptimize(model.M().data());
    benchmark::DoNotOptimize(model.GravityForce().data());
    benchmark::DoNotOptimize(model.CoriolisForce().data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(ModelCycle);

// The Update alone (argument 0), and an Update followed by the Coriolis
// matrix (argument 1): their difference is the matrix's own cost.
void MultiBodyUpdate(benchmark::State& state) {
  const bool coriolis_matrix = state.range(0) != 0;
  const States states;
  MultiBody model{Tree(Arm())};
  std::size_t s = 0;
  for (auto _ : state) {
    model.Update(states.q[s], states.qdot[s]);
    s = (s + 1) % kStates;
    if (coriolis_matrix) benchmark::DoNotOptimize(model.CoriolisMatrix().data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(MultiBodyUpdate)->Arg(0)->Arg(1);

}  // namespace

int main(int argc, char** argv) {
  quiral::bench::FigureReporter reporter;
  if (!quiral::bench::RunBenchmarks(&argc, argv, reporter)) return 1;
  for (const auto& [figure, name] : {std::pair{"model.api_cycle", "ModelCycle"},
                                     std::pair{"model.multibody_cycle", "MultiBodyCycle"},
                                     std::pair{"model.kdl_cycle", "KdlCycle"}}) {
    quiral::bench::PrintFigure(figure, reporter.CpuNs(name), "ns");
  }
  quiral::bench::PrintFigure(
      "model.coriolis_matrix",
      reporter.CpuNs("MultiBodyUpdate/1") - reporter.CpuNs("MultiBodyUpdate/0"), "ns");
  return 0;
}
