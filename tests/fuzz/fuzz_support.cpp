#include "fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <system_error>

namespace dupsweep::fuzz {

void fail(std::string_view target, std::string_view what) {
  std::fprintf(stderr, "\nfuzz target %.*s: property broken: %.*s\n",
               static_cast<int>(target.size()), target.data(), static_cast<int>(what.size()),
               what.data());
  std::fflush(stderr);
  std::abort();
}

namespace {

std::filesystem::path makeScratchDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "dupsweep-fuzz-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) fail("support", "cannot make a scratch directory");
  return pattern;
}

}  // namespace

const std::filesystem::path& scratchDirectory() {
  static const std::filesystem::path dir = [] {
    std::filesystem::path made = makeScratchDirectory();
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(scratchDirectory(), ec);
    });
    return made;
  }();
  return dir;
}

void writeFile(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) fail("support", "cannot write " + path.string());
}

}  // namespace dupsweep::fuzz
