// Kinematics and dynamics at random states: Jacobians against finite
// differences, the mass matrix against kinetic energy, Coriolis terms
// against Lagrange's equations and the skew property, gravity against the
// potential energy, and everything against Orocos KDL on a 7-DoF arm.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <Eigen/Cholesky>
#include <kdl/chaindynparam.hpp>
#include <kdl/chainfksolverpos_recursive.hpp>
#include <kdl/chainjnttojacsolver.hpp>

#include "tests/vek/multibody/test_models.h"
#include "vek/multibody/multi_body.h"
#include "vek/multibody/urdf.h"

namespace quiral::vek::multibody {
namespace {

using Eigen::MatrixXd;
using Eigen::VectorXd;
using Vector6d = Eigen::Matrix<double, 6, 1>;

MultiBody Load(const std::string& urdf) {  // with a tool on "flange"
  Description description = ParseUrdf(testing_util::ReadTestUrdf(urdf));
  const Eigen::Isometry3d com(Eigen::Translation3d(0.01, 0, 0.05)),
      tcp(Eigen::Translation3d(0, 0.02, 0.1));
  description.AddFixedLink("tool", {0.7, com, Eigen::Vector3d(1e-3, 2e-3, 1.5e-3).asDiagonal()},
                           "flange", "tool_joint", tcp);
  return MultiBody(Tree(description));
}

// Central difference of f along `direction` of the positions at the model's state.
template <typename F>
MatrixXd Rate(const MultiBody& model, const VectorXd& direction, F f) {
  MultiBody probe = model;
  probe.Update(model.positions() + 1e-6 * direction, model.velocities());
  const MatrixXd plus = f(probe);
  probe.Update(model.positions() - 1e-6 * direction, model.velocities());
  return (plus - f(probe)) / 2e-6;
}

// Every body's pose (4 x 4 each) or Jacobian (6 x dof each), side by side.
MatrixXd Poses(MultiBody& m) {
  MatrixXd out(4, 4 * m.tree().bodies().size());
  for (Eigen::Index b = 0; b < out.cols() / 4; ++b) out.middleCols<4>(4 * b) = m.pose(b).matrix();
  return out;
}
template <bool kDot = false>
MatrixXd Jacobians(MultiBody& m) {
  const auto n = static_cast<Eigen::Index>(m.dof());
  MatrixXd out(6, n * m.tree().bodies().size());
  Jacobian j;
  for (Eigen::Index b = 0; b < out.cols() / n; ++b) {
    kDot ? m.BodyJacobianDot(b, j) : m.BodyJacobian(b, j);
    out.middleCols(n * b, n) = j;
  }
  return out;
}

// Random states, the same on every run: positions in [-pi, pi], velocities in [-2, 2].
std::vector<std::pair<VectorXd, VectorXd>> RandomStates(Eigen::Index dof, unsigned seed) {
  std::srand(seed);
  std::vector<std::pair<VectorXd, VectorXd>> states;
  while (states.size() < 10)
    states.emplace_back(M_PI * VectorXd::Random(dof), 2 * VectorXd::Random(dof));
  return states;
}

class MultiBodyProperties : public testing::TestWithParam<const char*> {};

TEST_P(MultiBodyProperties, JacobiansAreTheRatesOfPosesAndOfJacobians) {
  MultiBody model = Load(GetParam());
  const auto dof = static_cast<Eigen::Index>(model.dof());
  for (const auto& [q, qdot] : RandomStates(dof, 1)) {
    model.Update(q, qdot);
    const MatrixXd j = Jacobians(model);
    for (Eigen::Index k = 0; k < dof; ++k) {
      const MatrixXd d = Rate(model, VectorXd::Unit(dof, k), Poses);
      for (std::size_t b = 0; b < model.tree().bodies().size(); ++b) {
        const Eigen::Matrix3d w = d.block<3, 3>(0, 4 * b) * model.pose(b).linear().transpose();
        const Vector6d expected =
            (Vector6d() << d.block<3, 1>(0, 4 * b + 3), w(2, 1), w(0, 2), w(1, 0)).finished();
        EXPECT_LT((j.col(dof * b + k) - expected).norm(), 1e-7) << "body " << b << " joint " << k;
      }
    }
    EXPECT_LT((Jacobians<true>(model) - Rate(model, qdot, Jacobians<>)).norm(), 1e-6);
  }
}

TEST_P(MultiBodyProperties, DynamicsAgreeWithTheEnergiesAndTheSkewProperty) {
  MultiBody model = Load(GetParam());
  model.set_gravity({0.8, -1.5, -9.7});
  const auto& bodies = model.tree().bodies();
  const auto dof = static_cast<Eigen::Index>(model.dof());
  const auto mass = [](MultiBody& m) -> MatrixXd { return m.MassMatrix(); };
  const auto potential = [&bodies](MultiBody& m) -> MatrixXd {
    double v = 0.0;
    for (std::size_t b = 0; b < bodies.size(); ++b)
      v -= bodies[b].mass * m.gravity().dot(m.pose(b) * bodies[b].com);
    return MatrixXd::Constant(1, 1, v);
  };
  for (const auto& [q, qdot] : RandomStates(dof, 2)) {
    model.Update(q, qdot);
    const MatrixXd m = model.MassMatrix(), j = Jacobians(model);
    EXPECT_EQ(m, m.transpose());
    EXPECT_EQ(m.llt().info(), Eigen::Success);
    double kinetic = 0.0;
    for (std::size_t b = 0; b < bodies.size(); ++b) {
      const Vector6d v = j.middleCols(dof * b, dof) * qdot;
      const Eigen::Matrix3d& r = model.pose(b).linear();
      const Eigen::Vector3d w = v.tail<3>(), v_com = v.head<3>() + w.cross(r * bodies[b].com);
      kinetic += 0.5 * (bodies[b].mass * v_com.squaredNorm() +
                        w.dot(r * bodies[b].inertia * r.transpose() * w));
    }
    EXPECT_NEAR(0.5 * qdot.dot(m * qdot), kinetic, 1e-10);

    // Lagrange: Coriolis torque k = (dM/dt qdot)_k - 1/2 qdot^T dM/dq_k qdot.
    const MatrixXd m_dot = Rate(model, qdot, mass);
    VectorXd coriolis = m_dot * qdot;
    for (Eigen::Index k = 0; k < dof; ++k) {
      coriolis[k] -= 0.5 * qdot.dot(Rate(model, VectorXd::Unit(dof, k), mass) * qdot);
      EXPECT_NEAR(model.GravityTorques()[k], Rate(model, VectorXd::Unit(dof, k), potential)(0, 0),
                  1e-7);
    }
    EXPECT_LT((model.CoriolisTorques() - coriolis).norm(), 1e-6);
    const MatrixXd c = model.CoriolisMatrix(), n = m_dot - 2 * c;
    EXPECT_LT((c * qdot - model.CoriolisTorques()).norm(), 1e-10);
    EXPECT_LT((n + n.transpose()).norm(), 1e-6);
    EXPECT_LT((model.NonLinearEffects() - c * qdot - model.GravityTorques()).norm(), 1e-10);
  }
}

INSTANTIATE_TEST_SUITE_P(TestRobots, MultiBodyProperties,
                         testing::Values("arm7.urdf", "rail_arm.urdf"));

TEST(MultiBodyAgainstKdl, SevenDofArmPosesJacobianMassGravityAndCoriolis) {
  const Description description = ParseUrdf(testing_util::ReadTestUrdf("arm7.urdf"));
  MultiBody model{Tree(description)};
  const KDL::Chain chain = testing_util::KdlChain(description, "flange");
  ASSERT_EQ(chain.getNrOfJoints(), 7u);
  KDL::ChainFkSolverPos_recursive fk(chain);
  KDL::ChainJntToJacSolver jacobian(chain);
  KDL::ChainDynParam dynamics(chain, KDL::Vector(0.0, 0.0, -9.81));
  KDL::JntArray q(7), qdot(7), gravity(7), coriolis(7);
  KDL::Jacobian kdl_j(7);
  KDL::JntSpaceInertiaMatrix mass(7);
  KDL::Frame frame;
  for (const auto& [positions, velocities] : RandomStates(7, 3)) {
    model.Update(positions, velocities);
    q.data = positions;
    qdot.data = velocities;
    for (unsigned segment = 0; segment < chain.getNrOfSegments(); ++segment) {
      fk.JntToCart(q, frame, static_cast<int>(segment) + 1);
      Eigen::Matrix4d expected = Eigen::Matrix4d::Identity();
      for (int r = 0; r < 3; ++r) {
        expected.row(r) << frame.M(r, 0), frame.M(r, 1), frame.M(r, 2), frame.p(r);
      }
      EXPECT_LT((model.pose(segment + 1).matrix() - expected).norm(), 1e-12);  // chain order
    }
    jacobian.JntToJac(q, kdl_j);
    dynamics.JntToMass(q, mass);
    dynamics.JntToGravity(q, gravity);
    dynamics.JntToCoriolis(q, qdot, coriolis);
    EXPECT_LT((Jacobians(model).rightCols(7) - kdl_j.data).norm(), 1e-12);  // flange
    EXPECT_LT((model.MassMatrix() - mass.data).norm(), 1e-12);
    EXPECT_LT((model.GravityTorques() - gravity.data).norm(), 1e-11);
    EXPECT_LT((model.CoriolisTorques() - coriolis.data).norm(), 1e-11);
    EXPECT_LT((model.CoriolisMatrix() * velocities - coriolis.data).norm(), 1e-11);
  }
}

TEST(MultiBodyUpdate, RefusesBadInputsKeepingItsStateAndAppliesANewGravity) {
  MultiBody model = Load("arm7.urdf");
  const VectorXd q = VectorXd::Constant(7, 0.3), zero = VectorXd::Zero(7);
  model.Update(q, zero);
  const Eigen::Matrix4d flange = model.pose(8).matrix();
  const auto error = [&model](const VectorXd& p, const VectorXd& v) -> std::string {
    try {
      model.Update(p, v);
    } catch (const std::invalid_argument& e) {
      return e.what();
    }
    return "accepted";
  };
  const std::string update = "[quiral::vek::multibody::MultiBody::Update] ";
  VectorXd nan = zero, inf = zero;
  nan[2] = std::nan("");
  inf[6] = -HUGE_VAL;
  EXPECT_EQ(error(VectorXd::Zero(6), zero), update + "Size of vector [positions] is 6, expected 7");
  EXPECT_EQ(error(zero, VectorXd::Zero(8)),
            update + "Size of vector [velocities] is 8, expected 7");
  EXPECT_EQ(error(nan, zero), update + "Vector [positions] holds a non-finite value");
  EXPECT_EQ(error(zero, inf), update + "Vector [velocities] holds a non-finite value");
  EXPECT_EQ(model.positions(), q);
  EXPECT_EQ(model.pose(8).matrix(), flange);
  EXPECT_THROW(model.set_gravity({0.0, 0.0, std::nan("")}), std::invalid_argument);
  const VectorXd gravity = model.GravityTorques();
  model.set_gravity({0.0, 0.0, -2 * 9.81});
  EXPECT_TRUE(model.GravityTorques().isApprox(2 * gravity));
}

}  // namespace
}  // namespace quiral::vek::multibody
