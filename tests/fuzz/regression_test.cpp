// Replays every fuzz target's seed corpus and every input that ever made a target fail (kept
// under regressions/<target>/) through the target's entry function, so that the normal suite
// guards each fix. A target that fails ends the test program like a crash; the name of the input
// being replayed is printed first.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"

namespace dupsweep::fuzz {
namespace {

namespace fs = std::filesystem;
using Entry = void (*)(const std::uint8_t*, std::size_t);

const fs::path kFuzzDir = fs::path(DUPSWEEP_SOURCE_DIR) / "tests" / "fuzz";

// The inputs of `target`: its seed corpus, then its regression inputs, each folder sorted.
std::vector<fs::path> inputsOf(const std::string& target) {
  std::vector<fs::path> inputs;
  for (const char* folder : {"corpus", "regressions"}) {
    const fs::path dir = kFuzzDir / folder / target;
    if (!fs::is_directory(dir)) continue;
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(dir))
      if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    inputs.insert(inputs.end(), files.begin(), files.end());
  }
  return inputs;
}

void replay(const std::string& target, Entry entry) {
  const auto inputs = inputsOf(target);
  ASSERT_FALSE(inputs.empty()) << "no seed corpus for " << target;
  for (const auto& input : inputs) {
    std::ifstream in(input, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_TRUE(in.good() || in.eof()) << "cannot read " << input;
    std::fprintf(stderr, "replaying %s\n", input.string().c_str());
    entry(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
}

TEST(FuzzRegressions, ConnectionString) {
  replay("connection_string", fuzzConnectionString);
}
TEST(FuzzRegressions, Registry) {
  replay("registry", fuzzRegistry);
}
TEST(FuzzRegressions, Scheme) {
  replay("scheme", fuzzScheme);
}
TEST(FuzzRegressions, Workbook) {
  replay("workbook", fuzzWorkbook);
}
TEST(FuzzRegressions, Text) {
  replay("text", fuzzText);
}
TEST(FuzzRegressions, Invoke) {
  initFuzzInvoke();
  replay("invoke", fuzzInvoke);
}

}  // namespace
}  // namespace dupsweep::fuzz
