// Prints the status codes and the control-mode and status tables of the
// single-robot API.
#include <cstdio>

#include "base/qor_state.h"
#include "vek/data_types.h"

int main() {
  std::printf("Quiral VEK %s, data service %s\n\nStatus codes (category \"%s\"):\n",
              quiral::vek::kVEKVersion.c_str(), quiral::vek::kLUMOVersion.c_str(),
              QorGeneralStateCategory().name());
  for (auto code : {QorGeneralState::OK, QorGeneralState::WARNING, QorGeneralState::FAULT,
                    QorGeneralState::CRITICAL_FAULT}) {
    const QorState state = _MakeQorState(code);
    std::printf("  %d  %s\n", state.code, state.category->message(state.code));
  }
  std::printf("\nControl modes:\n");
  for (std::size_t i = 0; i < quiral::vek::kModeNames.size(); ++i) {
    std::printf("  %2zu  %s\n", i, quiral::vek::kModeNames[i].c_str());
  }
  std::printf("\nOperational statuses:\n");
  for (std::size_t i = 0; i < quiral::vek::kOperationalStatusTexts.size(); ++i) {
    std::printf("  %2zu  %s\n", i, quiral::vek::kOperationalStatusTexts[i].c_str());
  }
  return 0;
}
