// One QApplication on the offscreen platform for every test of the program that links this file
// (the widget tests), named after the program.
#include <errno.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

namespace dupsweep::testing {
int& testsEnded() {
  static int ended = 0;
  return ended;
}
}  // namespace dupsweep::testing

namespace {

class CountEndedTests : public ::testing::EmptyTestEventListener {
  void OnTestEnd(const ::testing::TestInfo&) override { ++dupsweep::testing::testsEnded(); }
};

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ::testing::UnitTest::GetInstance()->listeners().Append(new CountEndedTests);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char* argv[] = {program_invocation_short_name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
