// Generated link meshes written as binary STL files, for the collision
// checker's tests and benchmark.
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

// Sphere of 2 * segments * (rings - 1) triangles around `center`, its poles
// on the z axis; 2 rings and 4 segments make the octahedron
// |x| + |y| + |z| <= radius.
inline Mesh SphereMesh(float radius, int rings, int segments,
                       const Eigen::Vector3f& center = Eigen::Vector3f::Zero()) {
  auto point = [&](int ring, int segment) -> Eigen::Vector3f {
    const double theta = M_PI * ring / rings, phi = 2 * M_PI * segment / segments;
    const Eigen::Vector3d unit(std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi),
                               std::cos(theta));
    return center + radius * unit.cast<float>();
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

// Binary STL on a little-endian host: an 80-byte header, the count, then per
// triangle a zero normal, the three vertices and a zero attribute.
inline void WriteBinaryStl(const std::string& path, const Mesh& mesh) {
  std::ofstream out(path, std::ios::binary);
  const char zeros[80] = {};
  const std::uint32_t count = mesh.size();
  out.write(zeros, 80).write(reinterpret_cast<const char*>(&count), 4);
  for (const auto& triangle : mesh) {
    out.write(zeros, 12);
    for (const auto& v : triangle) out.write(reinterpret_cast<const char*>(v.data()), 12);
    out.write(zeros, 2);
  }
}

}  // namespace quiral::test
