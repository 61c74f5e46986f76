#include "base/sparse_entries.h"

#include <stdexcept>

namespace quiral {
namespace base {

void _FindNonZeroElements(const Eigen::SparseMatrix<double, Eigen::ColMajor, int32_t>& m,
                          Eigen::Matrix<int32_t, Eigen::Dynamic, 1>* rows,
                          Eigen::Matrix<int32_t, Eigen::Dynamic, 1>* cols,
                          Eigen::VectorXd* values) {
  if (rows == nullptr) throw std::invalid_argument("Input param <vr> is nullptr");
  if (cols == nullptr) throw std::invalid_argument("Input param <vc> is nullptr");
  if (values == nullptr) throw std::invalid_argument("Input param <vs> is nullptr");
  const Eigen::Index count = m.nonZeros();
  rows->resize(count);
  cols->resize(count);
  values->resize(count);
  Eigen::Index k = 0;
  for (int32_t col = 0; col < m.outerSize(); ++col) {
    for (Eigen::SparseMatrix<double, Eigen::ColMajor, int32_t>::InnerIterator it(m, col); it;
         ++it, ++k) {
      (*rows)(k) = it.row();
      (*cols)(k) = it.col();
      (*values)(k) = it.value();
    }
  }
}

}  // namespace base
}  // namespace quiral
