#include "base/qor_state.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

TEST(QorState, CarriesCodeAndTheOneGeneralCategory) {
  const QorState ok = _MakeQorState(QorGeneralState::OK);
  const QorState fault = _MakeQorState(QorGeneralState::FAULT);
  EXPECT_EQ(ok.code, 100000);
  EXPECT_EQ(fault.code, 300000);
  EXPECT_EQ(ok.category, &QorGeneralStateCategory());
  EXPECT_EQ(ok.category, fault.category);
  EXPECT_STREQ(ok.category->name(), "General");
}

TEST(QorState, CodeIsStoredUnchecked) {
  const QorState odd = _MakeQorState(static_cast<QorGeneralState>(123));
  EXPECT_EQ(odd.code, 123);
  EXPECT_STREQ(odd.category->message(odd.code), "(unrecognized)");
}

TEST(QorStateCategory, MessagesMatchOnlyTheFourCodes) {
  const QorStateCategory& category = QorGeneralStateCategory();
  EXPECT_STREQ(category.message(100000), "OK");
  EXPECT_STREQ(category.message(200000), "Warning");
  EXPECT_STREQ(category.message(300000), "Fault");
  EXPECT_STREQ(category.message(400000), "Critical fault");
  for (int32_t code : {0, -100000, 100001, 299999, 500000, INT32_MIN, INT32_MAX}) {
    EXPECT_STREQ(category.message(code), "(unrecognized)") << code;
  }
}

TEST(QorState, SuccessAndErrorTestsDiffer) {
  const QorState warning = _MakeQorState(QorGeneralState::WARNING);
  EXPECT_FALSE(QorSucceeded(warning));
  EXPECT_FALSE(QorFailed(warning));
  EXPECT_TRUE(QorSucceeded(_MakeQorState(QorGeneralState::OK)));
  EXPECT_TRUE(QorFailed(_MakeQorState(QorGeneralState::FAULT)));
  EXPECT_TRUE(QorFailed(_MakeQorState(QorGeneralState::CRITICAL_FAULT)));
  // Negative codes compare as signed integers: not an error, not a success.
  const QorState negative = _MakeQorState(static_cast<QorGeneralState>(-400000));
  EXPECT_FALSE(QorFailed(negative));
  EXPECT_FALSE(QorSucceeded(negative));
}

TEST(QorStateCategory, SingletonIsTheSameFromEveryThread) {
  std::vector<const QorStateCategory*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&seen, i] { seen[i] = &QorGeneralStateCategory(); });
  }
  for (auto& t : threads) t.join();
  for (const auto* category : seen) EXPECT_EQ(category, &QorGeneralStateCategory());
}

}  // namespace
