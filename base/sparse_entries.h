// The stored entries of a sparse matrix as three parallel vectors.
#pragma once

#include <Eigen/Core>
#include <Eigen/SparseCore>
#include <cstdint>

namespace quiral {
namespace base {

// Fills rows, cols and values with one element per stored entry of m, column
// by column and in storage order within a column; entries stored with the
// value 0 are included. Throws std::invalid_argument "Input param <vr> is
// nullptr", "... <vc> ..." or "... <vs> ..." (checked in that order) for a
// null output, before touching any output.
void _FindNonZeroElements(const Eigen::SparseMatrix<double, Eigen::ColMajor, int32_t>& m,
                          Eigen::Matrix<int32_t, Eigen::Dynamic, 1>* rows,
                          Eigen::Matrix<int32_t, Eigen::Dynamic, 1>* cols, Eigen::VectorXd* values);

}  // namespace base
}  // namespace quiral
