#include "base/qor_state.h"

namespace {

class QorGeneralStateCategoryImpl final : public QorStateCategory {
 public:
  const char* name() const override { return "General"; }

  const char* message(int32_t code) const override {
    switch (code) {
      case static_cast<int32_t>(QorGeneralState::OK):
        return "OK";
      case static_cast<int32_t>(QorGeneralState::WARNING):
        return "Warning";
      case static_cast<int32_t>(QorGeneralState::FAULT):
        return "Fault";
      case static_cast<int32_t>(QorGeneralState::CRITICAL_FAULT):
        return "Critical fault";
      default:
        return "(unrecognized)";
    }
  }
};

}  // namespace

const QorStateCategory& QorGeneralStateCategory() {
  static const QorGeneralStateCategoryImpl category;
  return category;
}

QorState _MakeQorState(QorGeneralState code) {
  return QorState{static_cast<int32_t>(code), &QorGeneralStateCategory()};
}
