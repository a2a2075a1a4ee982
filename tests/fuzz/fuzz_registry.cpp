// Fuzz target: the registry file reader (the registry editor's export format).
//
// The input is the registry file. It is read through the public interface: every key reachable
// from the root (up to a bound), its subkeys and string values. When the file reads, one value is
// then set, which writes the whole registry back, and the file is read again.
//
// Properties besides "no crash": reading fails only with FormatError; a key listed as a subkey
// exists; writing back loses and changes nothing that was read (every key and string value is
// found again, in the same order) and the new value reads back.

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/com/registry.h"
#include "platform/errors.h"

namespace dupsweep::fuzz {
namespace {

constexpr std::string_view kTarget = "registry";
constexpr std::size_t kMaxKeys = 64;

struct KeyDump {
  std::string path;
  std::vector<std::string> subkeys;
  std::vector<std::pair<std::string, std::string>> values;
  bool operator==(const KeyDump&) const = default;
};

// The keys reachable from the root, breadth first, at most kMaxKeys of them.
std::vector<KeyDump> dump(const com::Registry& registry) {
  std::vector<KeyDump> keys;
  std::vector<std::string> pending{""};
  for (std::size_t next = 0; next < pending.size() && keys.size() < kMaxKeys; ++next) {
    KeyDump key;
    key.path = pending[next];
    key.subkeys = registry.subkeys(key.path);
    if (!key.path.empty()) {
      check(registry.keyExists(key.path), kTarget, "a listed key does not exist");
      key.values = registry.values(key.path);
      for (const auto& [name, value] : key.values) {
        const auto read = registry.getValue(key.path, name);
        check(read.has_value(), kTarget, "a listed value cannot be read");
        // Value names compare without case: the first of equal names is the one found.
      }
    }
    for (const auto& sub : key.subkeys)
      pending.push_back(key.path.empty() ? sub : key.path + "\\" + sub);
    keys.push_back(std::move(key));
  }
  return keys;
}

}  // namespace

void fuzzRegistry(const std::uint8_t* data, std::size_t size) {
  const auto file = scratchDirectory() / "registry.reg";
  writeFile(file, std::string_view(reinterpret_cast<const char*>(data), size));
  com::Registry reg(file);
  std::vector<KeyDump> before;
  try {
    before = dump(reg);
  } catch (const FormatError&) {
    return;  // not a registry file: the expected failure, and the file must stay as it was
  }

  // A change writes the whole registry back.
  const std::string marker = "DupsweepFuzzRoundTrip";
  auto sameName = [&marker](const std::string& name) {
    return std::equal(name.begin(), name.end(), marker.begin(), marker.end(), [](char a, char b) {
      return std::tolower(static_cast<unsigned char>(a)) ==
             std::tolower(static_cast<unsigned char>(b));
    });
  };
  const auto& rootKeys = before.front().subkeys;
  if (std::any_of(rootKeys.begin(), rootKeys.end(), sameName)) return;
  try {
    reg.setValue(marker, "", "value \"quoted\" \\ back");
  } catch (const FileError&) {
    fail(kTarget, "writing a registry that reads failed");
  } catch (const FormatError& e) {
    fail(kTarget, std::string("a registry that reads cannot be written back: ") + e.what());
  }
  std::vector<KeyDump> after;
  try {
    after = dump(reg);
  } catch (const FormatError& e) {
    fail(kTarget, std::string("the registry written back does not read: ") + e.what());
  }
  check(reg.getValue(marker, "") == "value \"quoted\" \\ back", kTarget,
        "the value set does not read back");

  // The same keys and values, plus the marker key among the root's subkeys.
  check(!after.empty(), kTarget, "the root vanished");
  std::vector<std::string> rootSubkeys;
  for (const auto& sub : after.front().subkeys)
    if (sub != marker) rootSubkeys.push_back(sub);
  check(rootSubkeys == before.front().subkeys, kTarget, "root subkeys changed by writing back");
  if (before.size() < kMaxKeys) {
    std::vector<KeyDump> kept;
    for (const auto& key : after)
      if (key.path != marker && !key.path.starts_with(marker + "\\")) kept.push_back(key);
    kept.front().subkeys = rootSubkeys;
    check(kept == before, kTarget, "keys or values changed by writing back");
  }
}

}  // namespace dupsweep::fuzz

#ifdef DUPSWEEP_FUZZ_MAIN
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  dupsweep::fuzz::fuzzRegistry(data, size);
  return 0;
}
#endif
