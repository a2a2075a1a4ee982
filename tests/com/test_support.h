#pragma once
// Helpers of the COM tests: temporary directories, environment overrides, child processes, and
// the test module loaded through dlopen.

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/com/com.h"
#include "support/temp_dir.h"

namespace dupsweep::com::testing {

using dupsweep::testing::TempDir;

// Sets (or, with nullopt, unsets) an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      ::setenv(name, value->c_str(), 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_.c_str(), old_->c_str(), 1);
    else
      ::unsetenv(name_.c_str());
  }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

inline std::string readText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void writeText(const std::filesystem::path& file, const std::string& text) {
  std::ofstream(file, std::ios::binary) << text;
}

struct ProcessResult {
  int exitCode = -1;  // -1 when the child did not exit normally (signal)
  int signal = 0;
  std::string output;  // stdout and stderr together
};

// Runs `argv` with the environment changed by `env` (nullopt unsets) and returns its exit code
// and output.
inline ProcessResult runProcess(const std::vector<std::string>& argv,
                                const std::map<std::string, std::optional<std::string>>& env = {}) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipeFds[1], 1);
    ::dup2(pipeFds[1], 2);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    for (const auto& [name, value] : env) {
      if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
      else
        ::unsetenv(name.c_str());
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  ProcessResult result;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) result.output.append(buffer, n);
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

// A COM server module loaded with dlopen, with its four entry points.
struct Module {
  explicit Module(const std::filesystem::path& file) {
    handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      ADD_FAILURE() << "dlopen " << file << ": " << ::dlerror();
      return;
    }
    getClassObject =
        reinterpret_cast<DllGetClassObjectFunction>(::dlsym(handle, "DllGetClassObject"));
    canUnloadNow = reinterpret_cast<DllCanUnloadNowFunction>(::dlsym(handle, "DllCanUnloadNow"));
    registerServer =
        reinterpret_cast<DllRegisterServerFunction>(::dlsym(handle, "DllRegisterServer"));
    unregisterServer =
        reinterpret_cast<DllUnregisterServerFunction>(::dlsym(handle, "DllUnregisterServer"));
  }
  bool loaded() const {
    return handle && getClassObject && canUnloadNow && registerServer && unregisterServer;
  }

  void* handle = nullptr;
  DllGetClassObjectFunction getClassObject = nullptr;
  DllCanUnloadNowFunction canUnloadNow = nullptr;
  DllRegisterServerFunction registerServer = nullptr;
  DllUnregisterServerFunction unregisterServer = nullptr;
};

// The module built for the tests (the component's objects with a recording stub for the dialog).
inline Module& stubModule() {
  static Module module(DUPSWEEP_STUB_MODULE);
  return module;
}

}  // namespace dupsweep::com::testing
