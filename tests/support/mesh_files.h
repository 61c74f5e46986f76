// Generated triangle meshes, written as binary STL files: the link meshes
// of the collision checker's tests and benchmark.
#pragma once

#include <Eigen/Core>
#include <array>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace quiral::test {

using Mesh = std::vector<std::array<Eigen::Vector3f, 3>>;

// Axis-aligned box with these half extents around `center`.
inline Mesh BoxMesh(const Eigen::Vector3f& half, const Eigen::Vector3f& center) {
  auto corner = [&](int i) -> Eigen::Vector3f {
    return center + half.cwiseProduct(Eigen::Vector3f(i & 1 ? 1 : -1, i & 2 ? 1 : -1, i & 4 ? 1 : -1));
  };
  const int quads[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                           {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
  Mesh mesh;
  for (const auto& q : quads) {
    mesh.push_back({corner(q[0]), corner(q[1]), corner(q[2])});
    mesh.push_back({corner(q[0]), corner(q[2]), corner(q[3])});
  }
  return mesh;
}

// Sphere around the origin with its poles on the z axis, the poles being
// its highest and lowest points: 2 * segments * (rings - 1) triangles.
inline Mesh SphereMesh(float radius, int rings, int segments) {
  auto point = [&](int ring, int segment) -> Eigen::Vector3f {
    const double theta = M_PI * ring / rings, phi = 2 * M_PI * segment / segments;
    return radius * Eigen::Vector3d(std::sin(theta) * std::cos(phi),
                                    std::sin(theta) * std::sin(phi), std::cos(theta))
                        .cast<float>();
  };
  Mesh mesh;
  for (int r = 0; r < rings; ++r) {
    for (int s = 0; s < segments; ++s) {
      if (r > 0) mesh.push_back({point(r, s), point(r + 1, s + 1), point(r, s + 1)});
      if (r + 1 < rings) mesh.push_back({point(r, s), point(r + 1, s), point(r + 1, s + 1)});
    }
  }
  return mesh;
}

// Binary STL (little-endian host): 80-byte header, count, then per
// triangle a zero normal, three vertices and a zero attribute.
inline void WriteBinaryStl(const std::string& path, const Mesh& mesh) {
  std::ofstream out(path, std::ios::binary);
  const std::string header(80, '\0');
  const std::uint32_t count = mesh.size();
  const char zeros[14] = {};
  out.write(header.data(), header.size()).write(reinterpret_cast<const char*>(&count), 4);
  for (const auto& triangle : mesh) {
    out.write(zeros, 12);
    for (const Eigen::Vector3f& v : triangle) out.write(reinterpret_cast<const char*>(v.data()), 12);
    out.write(zeros, 2);
  }
}

}  // namespace quiral::test
