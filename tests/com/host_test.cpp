// dupsweep-host in child processes: registration, creation through the registry, early- and
// late-bound calls, failures reaching the host, and a process without a display.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "platform/com/registry.h"
#include "test_support.h"

namespace dupsweep::com {
namespace {

using testing::ProcessResult;
using testing::readText;
using testing::runProcess;
using testing::TempDir;

class HostTest : public ::testing::Test {
 protected:
  ProcessResult host(std::vector<std::string> args,
                     std::map<std::string, std::optional<std::string>> env = {}) {
    args.insert(args.begin(), DUPSWEEP_HOST_PROGRAM);
    env.emplace("DUPSWEEP_REGISTRY", registry_.string());
    env.emplace("DUPSWEEP_TEST_EXECUTE_LOG", log_.string());
    env.emplace("DUPSWEEP_TEST_EXECUTE_FAIL", std::nullopt);
    env.emplace("QT_QPA_PLATFORM", "offscreen");
    // The stub records the call instead of showing the dialog, so no screen is needed.
    env.emplace("DUPSWEEP_ALLOW_HIDDEN_DIALOG", "1");
    return runProcess(args, env);
  }
  void registerModule(const std::string& module = DUPSWEEP_STUB_MODULE) {
    const auto r = host({"register", module});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("DllRegisterServer: 0x00000000"), std::string::npos) << r.output;
  }
  std::vector<std::string> call(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"call",      "--conn",  "Provider=SQLite;Data Source=/d b.db",
                                  "--unitcls", "01",      "--task",
                                  "TASK",      "--level", "2"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

  TempDir dir_;
  std::filesystem::path registry_ = dir_.path() / "registry.reg";
  std::filesystem::path log_ = dir_.path() / "calls.log";
};

TEST_F(HostTest, RegistersCreatesByProgIdAndCallsBothWays) {
  registerModule();
  auto r = host(call());
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("Dupsweep: 0x00000000"), std::string::npos) << r.output;
  r = host(call({"--late-bound"}));
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("Invoke: 0x00000000"), std::string::npos) << r.output;
  r = host(call({"--clsid", "{ffa2b78b-76c3-441b-970c-230a0520b297}"}));
  EXPECT_EQ(r.exitCode, 0) << r.output;

  const std::string expected =
      "conn=Provider=SQLite;Data Source=/d b.db\nunitClsCode=01\nperiodId=\ntaskCode=TASK\n"
      "level=2\napp=1\n--\n";
  EXPECT_EQ(readText(log_), expected + expected + expected);

  r = host({"unregister", DUPSWEEP_STUB_MODULE});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("DllUnregisterServer: 0x00000000"), std::string::npos) << r.output;
  r = host(call());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.output.find("0x80040154"), std::string::npos) << r.output;
}

TEST_F(HostTest, FailureReachesTheHostWithErrorInformation) {
  registerModule();
  auto r = host(call(), {{"DUPSWEEP_TEST_EXECUTE_FAIL", "error:Unable to open the unit tree"}});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.output.find("Dupsweep: 0x8000FFFF"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Description: Unable to open the unit tree"), std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("Source: ComDupsweepDM.Dupsweep"), std::string::npos) << r.output;

  r = host(call({"--late-bound"}), {{"DUPSWEEP_TEST_EXECUTE_FAIL", "com:80004005:Refused"}});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.output.find("Invoke: 0x80020009"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Exception: 0x80004005"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Description: Refused"), std::string::npos) << r.output;
}

TEST_F(HostTest, ModuleInADirectoryWithBlanksIsFoundThroughTheRegistry) {
  const auto blankDir = dir_.path() / "my components";
  std::filesystem::create_directories(blankDir);
  const auto copy = blankDir / "libComDupsweepDM.so";
  std::filesystem::copy_file(DUPSWEEP_STUB_MODULE, copy);
  registerModule(copy.string());
  EXPECT_EQ(Registry(registry_).getValue(
                "CLSID\\{FFA2B78B-76C3-441B-970C-230A0520B297}\\InprocServer32", ""),
            copy.string());
  const auto r = host(call());
  EXPECT_EQ(r.exitCode, 0) << r.output;
}

TEST_F(HostTest, TwoRegistrationsAtOnceLeaveOneCompleteSet) {
  const auto other = dir_.path() / "second.so";
  std::filesystem::copy_file(DUPSWEEP_STUB_MODULE, other);
  // Both start before either finishes; the lock serialises their changes.
  ProcessResult first, second;
  const pid_t child = ::fork();
  if (child == 0) {
    const auto r = host({"register", other.string()});
    ::_exit(r.exitCode == 0 ? 0 : 1);
  }
  first = host({"register", DUPSWEEP_STUB_MODULE});
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(first.exitCode, 0) << first.output;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  Registry r(registry_);
  const std::string clsid = "CLSID\\{FFA2B78B-76C3-441B-970C-230A0520B297}";
  EXPECT_EQ(r.subkeys(clsid),
            (std::vector<std::string>{"InprocServer32", "ProgID", "TypeLib", "Version"}));
  EXPECT_EQ(r.getValue("ComDupsweepDM.Dupsweep\\Clsid", ""),
            "{FFA2B78B-76C3-441B-970C-230A0520B297}");
  const auto server = r.getValue(clsid + "\\InprocServer32", "");
  ASSERT_TRUE(server);
  EXPECT_TRUE(*server == other.string() || *server == DUPSWEEP_STUB_MODULE) << *server;
}

TEST_F(HostTest, WithoutADisplayTheCallFailsCleanly) {
  registerModule();
  const std::map<std::string, std::optional<std::string>> noDisplay = {
      {"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}};
  auto env = noDisplay;
  auto r = host(call(), env);
  EXPECT_EQ(r.signal, 0) << r.output;
  EXPECT_EQ(r.exitCode, 1) << r.output;
  EXPECT_NE(r.output.find("Dupsweep: 0x8000FFFF"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Description: The dialog cannot be shown: no display"), std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("DISPLAY is empty"), std::string::npos) << r.output;

  env["DISPLAY"] = ":97";  // no X server answers there
  r = host(call(), env);
  EXPECT_EQ(r.signal, 0) << r.output;
  EXPECT_EQ(r.exitCode, 1) << r.output;
  EXPECT_NE(r.output.find("cannot connect to the X display \":97\""), std::string::npos)
      << r.output;

  env["QT_QPA_PLATFORM"] = "nosuchplatform";
  r = host(call({"--late-bound"}), env);
  EXPECT_EQ(r.signal, 0) << r.output;
  EXPECT_EQ(r.exitCode, 1) << r.output;
  EXPECT_NE(r.output.find("Exception: 0x8000FFFF"), std::string::npos) << r.output;
  EXPECT_TRUE(readText(log_).empty());  // the dialog was never reached
}

// On a platform without a screen the modal dialog would wait for ever for an operator who cannot
// see it; the call is refused as without a display, unless the test switch allows it.
TEST_F(HostTest, PlatformWithoutAScreenIsRefusedUnlessAllowed) {
  registerModule();
  for (const std::string platform : {"offscreen", "minimal", "offscreen;xcb"}) {
    SCOPED_TRACE(platform);
    std::map<std::string, std::optional<std::string>> env = {
        {"QT_QPA_PLATFORM", platform}, {"DUPSWEEP_ALLOW_HIDDEN_DIALOG", std::nullopt}};
    auto r = host(call(), env);
    EXPECT_EQ(r.signal, 0) << r.output;
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("Dupsweep: 0x8000FFFF"), std::string::npos) << r.output;
    const std::string name = platform.substr(0, platform.find(';'));
    EXPECT_NE(
        r.output.find("Description: The dialog cannot be shown: the Qt platform \"" + name + "\""),
        std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("DUPSWEEP_ALLOW_HIDDEN_DIALOG=1"), std::string::npos) << r.output;
    r = host(call({"--late-bound"}), env);
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("Exception: 0x8000FFFF"), std::string::npos) << r.output;
    EXPECT_TRUE(readText(log_).empty());  // the dialog was never reached

    env["DUPSWEEP_ALLOW_HIDDEN_DIALOG"] = "0";  // only "1" allows it
    EXPECT_EQ(host(call(), env).exitCode, 1);
  }
  const auto r = host(call(), {{"QT_QPA_PLATFORM", "minimal"}});  // the switch set by host()
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("Dupsweep: 0x00000000"), std::string::npos) << r.output;
  EXPECT_NE(readText(log_).find("app=1"), std::string::npos);
}

TEST_F(HostTest, RejectsBadCommandLines) {
  EXPECT_EQ(host({}).exitCode, 2);
  EXPECT_EQ(host({"register"}).exitCode, 2);
  EXPECT_EQ(host({"call", "--level", "x12"}).exitCode, 2);
  EXPECT_EQ(host({"call", "--what", "1"}).exitCode, 2);
  const auto r = host({"register", (dir_.path() / "missing.so").string()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.output.find("cannot load"), std::string::npos) << r.output;
}

}  // namespace
}  // namespace dupsweep::com
