#include "sim/kinematics.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>

namespace quiral::sim {
namespace {

constexpr double kLinkWidth = 0.09;
constexpr double kLinkMass = 2.0;

void PutFloat(std::vector<uint8_t>& out, float v) {
  uint8_t b[4];
  std::memcpy(b, &v, 4);
  out.insert(out.end(), b, b + 4);
}

}  // namespace

Eigen::Isometry3d PoseToIsometry(const PoseVec& pose) {
  Eigen::Quaterniond q(pose[3], pose[4], pose[5], pose[6]);
  if (q.norm() < 1e-12) {
    q = Eigen::Quaterniond::Identity();
  }
  q.normalize();
  Eigen::Isometry3d iso = Eigen::Isometry3d::Identity();
  iso.linear() = q.toRotationMatrix();
  iso.translation() = Eigen::Vector3d(pose[0], pose[1], pose[2]);
  return iso;
}

PoseVec IsometryToPose(const Eigen::Isometry3d& iso) {
  Eigen::Quaterniond q(iso.rotation());
  q.normalize();
  if (q.w() < 0) {
    q.coeffs() = -q.coeffs();
  }
  const Eigen::Vector3d& t = iso.translation();
  return {t.x(), t.y(), t.z(), q.w(), q.x(), q.y(), q.z()};
}

ArmKinematics::ArmKinematics(size_t dof_e, size_t dof_m) : flange_offset_(0.08) {
  static const double kSevenAxis[7] = {0.155, 0.210, 0.210, 0.195, 0.195, 0.110, 0.110};
  for (size_t k = 0; k < dof_e; ++k) {
    const bool carriage = k % 2 == 0;
    joints_.push_back(
        {0.1, carriage ? Eigen::Vector3d::UnitX() : Eigen::Vector3d::UnitZ(), carriage});
  }
  for (size_t i = 0; i < dof_m; ++i) {
    joints_.push_back({dof_m == 7 ? kSevenAxis[i] : 0.2,
                       i % 2 == 0 ? Eigen::Vector3d::UnitZ() : Eigen::Vector3d::UnitY(), false});
  }
}

template <typename Visit>
Eigen::Isometry3d ArmKinematics::Walk(const std::vector<double>& q, Visit visit) const {
  Eigen::Isometry3d t = Eigen::Isometry3d::Identity();
  for (size_t i = 0; i < joints_.size(); ++i) {
    const Joint& joint = joints_[i];
    t.translate(Eigen::Vector3d(0, 0, joint.offset));
    visit(i, t);
    const double qi = i < q.size() ? q[i] : 0.0;
    if (joint.prismatic) {
      t.translate(qi * joint.axis);
    } else {
      t.rotate(Eigen::AngleAxisd(qi, joint.axis));
    }
  }
  return t.translate(Eigen::Vector3d(0, 0, flange_offset_));
}

Eigen::Isometry3d ArmKinematics::Flange(const std::vector<double>& q) const {
  return Walk(q, [](size_t, const Eigen::Isometry3d&) {});
}

Eigen::MatrixXd ArmKinematics::Jacobian(const std::vector<double>& q,
                                        const Eigen::Isometry3d& tcp) const {
  const size_t n = joints_.size();
  std::vector<Eigen::Vector3d> origins(n), axes(n);
  const Eigen::Isometry3d flange = Walk(q, [&](size_t i, const Eigen::Isometry3d& t) {
    origins[i] = t.translation();
    axes[i] = t.rotation() * joints_[i].axis;
  });
  const Eigen::Vector3d p = (flange * tcp).translation();
  Eigen::MatrixXd jac(6, n);
  for (size_t i = 0; i < n; ++i) {
    if (joints_[i].prismatic) {
      jac.col(static_cast<Eigen::Index>(i)) << axes[i], Eigen::Vector3d::Zero();
    } else {
      jac.col(static_cast<Eigen::Index>(i)) << axes[i].cross(p - origins[i]), axes[i];
    }
  }
  return jac;
}

double ArmKinematics::LinkLength(size_t k) const {
  return k < joints_.size() ? joints_[k].offset : flange_offset_;
}

bool ArmKinematics::SolveIk(const Eigen::Isometry3d& target, const Eigen::Isometry3d& tcp,
                            const std::vector<double>& q_min, const std::vector<double>& q_max,
                            bool position_only, int max_iterations, std::vector<double>& q,
                            double tolerance) const {
  const size_t n = joints_.size();
  q.resize(n, 0.0);
  constexpr double kLambda = 0.05;
  constexpr double kMaxStep = 0.2;
  for (int iter = 0; iter <= max_iterations; ++iter) {
    const Eigen::Isometry3d now = Flange(q) * tcp;
    Eigen::Matrix<double, 6, 1> err;
    err.head<3>() = target.translation() - now.translation();
    const Eigen::AngleAxisd rot_err(target.rotation() * now.rotation().transpose());
    err.tail<3>() = rot_err.axis() * rot_err.angle();
    if (position_only) {
      err.tail<3>().setZero();
    }
    if (err.head<3>().norm() < tolerance && err.tail<3>().norm() < tolerance) {
      return true;
    }
    if (iter == max_iterations) {
      break;
    }
    Eigen::MatrixXd jac = Jacobian(q, tcp);
    if (position_only) {
      jac.bottomRows<3>().setZero();
    }
    const Eigen::MatrixXd jjt =
        jac * jac.transpose() + kLambda * kLambda * Eigen::MatrixXd::Identity(6, 6);
    Eigen::VectorXd dq = jac.transpose() * jjt.ldlt().solve(err);
    const double step = dq.cwiseAbs().maxCoeff();
    if (step > kMaxStep) {
      dq *= kMaxStep / step;
    }
    for (size_t i = 0; i < n; ++i) {
      q[i] += dq[static_cast<Eigen::Index>(i)];
      if (i < q_min.size() && i < q_max.size()) {
        q[i] = std::clamp(q[i], q_min[i], q_max[i]);
      }
    }
  }
  return false;
}

std::vector<std::string> ArmKinematics::MeshLinks() const {
  std::vector<std::string> names{"base_link"};
  for (size_t i = 1; i <= joints_.size(); ++i) {
    names.push_back("link" + std::to_string(i));
  }
  return names;
}

std::string ArmKinematics::Urdf(const std::string& robot_name, const std::vector<double>& q_min,
                                const std::vector<double>& q_max,
                                const std::vector<double>& tau_max,
                                const std::vector<double>& max_velocity) const {
  const size_t n = joints_.size();
  const std::vector<std::string> links = MeshLinks();
  std::ostringstream out;
  out.precision(9);
  out << "<?xml version=\"1.0\"?>\n<robot name=\"" << robot_name << "\">\n";
  for (size_t k = 0; k <= n; ++k) {
    const double h = LinkLength(k);
    const double ixx = kLinkMass * (kLinkWidth * kLinkWidth + h * h) / 12.0;
    const double izz = kLinkMass * (2 * kLinkWidth * kLinkWidth) / 12.0;
    out << "  <link name=\"" << links[k] << "\">\n"
        << "    <inertial>\n      <origin xyz=\"0 0 " << h / 2 << "\" rpy=\"0 0 0\"/>\n"
        << "      <mass value=\"" << kLinkMass << "\"/>\n"
        << "      <inertia ixx=\"" << ixx << "\" ixy=\"0\" ixz=\"0\" iyy=\"" << ixx
        << "\" iyz=\"0\" izz=\"" << izz << "\"/>\n    </inertial>\n"
        << "    <visual>\n      <geometry>\n        <mesh filename=\"package://meshes/" << links[k]
        << ".stl\"/>\n      </geometry>\n    </visual>\n"
        << "    <collision>\n      <geometry>\n        <mesh filename=\"package://meshes/"
        << links[k] << ".stl\"/>\n      </geometry>\n    </collision>\n  </link>\n";
  }
  out << "  <link name=\"flange\"/>\n";
  for (size_t i = 0; i < n; ++i) {
    const Eigen::Vector3d& axis = joints_[i].axis;
    out << "  <joint name=\"joint" << i + 1 << "\" type=\""
        << (joints_[i].prismatic ? "prismatic" : "revolute") << "\">\n"
        << "    <parent link=\"" << links[i] << "\"/>\n"
        << "    <child link=\"" << links[i + 1] << "\"/>\n"
        << "    <origin xyz=\"0 0 " << joints_[i].offset << "\" rpy=\"0 0 0\"/>\n"
        << "    <axis xyz=\"" << axis.x() << " " << axis.y() << " " << axis.z() << "\"/>\n"
        << "    <limit lower=\"" << q_min.at(i) << "\" upper=\"" << q_max.at(i) << "\" effort=\""
        << tau_max.at(i) << "\" velocity=\"" << max_velocity.at(i) << "\"/>\n"
        << "  </joint>\n";
  }
  out << "  <joint name=\"flange_joint\" type=\"fixed\">\n"
      << "    <parent link=\"" << links[n] << "\"/>\n    <child link=\"flange\"/>\n"
      << "    <origin xyz=\"0 0 " << flange_offset_ << "\" rpy=\"0 0 0\"/>\n  </joint>\n";
  out << "</robot>\n";
  return out.str();
}

std::vector<uint8_t> ArmKinematics::LinkMeshStl(size_t link_index) const {
  const double h = LinkLength(link_index);
  const double w = kLinkWidth / 2;
  // Eight corners of the box [-w, w] x [-w, w] x [0, h].
  const Eigen::Vector3d c[8] = {{-w, -w, 0}, {w, -w, 0}, {w, w, 0}, {-w, w, 0},
                                {-w, -w, h}, {w, -w, h}, {w, w, h}, {-w, w, h}};
  // Two counter-clockwise triangles (seen from outside) per face.
  static const int kTris[12][3] = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7},
                                   {0, 1, 5}, {0, 5, 4}, {1, 2, 6}, {1, 6, 5},
                                   {2, 3, 7}, {2, 7, 6}, {3, 0, 4}, {3, 4, 7}};
  std::vector<uint8_t> out(80, 0);
  const char header[] = "quiral sim collision box";
  std::memcpy(out.data(), header, sizeof(header) - 1);
  const uint32_t count = 12;
  uint8_t cb[4];
  std::memcpy(cb, &count, 4);
  out.insert(out.end(), cb, cb + 4);
  for (const auto& tri : kTris) {
    const Eigen::Vector3d normal =
        (c[tri[1]] - c[tri[0]]).cross(c[tri[2]] - c[tri[0]]).normalized();
    for (int k = 0; k < 3; ++k) PutFloat(out, static_cast<float>(normal[k]));
    for (int v : tri) {
      for (int k = 0; k < 3; ++k) PutFloat(out, static_cast<float>(c[v][k]));
    }
    out.push_back(0);
    out.push_back(0);
  }
  return out;
}

}  // namespace quiral::sim
