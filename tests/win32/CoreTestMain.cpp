// The portable tests of the framework, thread and utils units on Windows.
// They run on the default loop back-end of Windows, except the suite written
// for the plain back-end, which gets one installed for its duration.
#include <gtest/gtest.h>

#include <string>

#include "kelvora/PlainLoop.h"

namespace {

class TLoopPerSuite : public testing::EmptyTestEventListener {
 public:
  void OnTestSuiteStart(const testing::TestSuite& Suite) override {
    kelvora::SetLoopBackend(std::string(Suite.name()) == "PlainLoop" ? &plain_ : nullptr);
  }
  void OnTestSuiteEnd(const testing::TestSuite&) override { kelvora::SetLoopBackend(nullptr); }

 private:
  kelvora::TPlainLoopBackend plain_;
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new TLoopPerSuite);
  return RUN_ALL_TESTS();
}
