// Fuzz target: the scheme-file validity test and reader.
//
// The input is the scheme file's bytes. It is tested (isSchemeFile) and read (loadScheme); a
// valid scheme is then saved again from the pairs read, as the dialog does, and read back.
//
// Properties besides "no crash": a valid scheme has at least one pair; saving what was read
// succeeds, gives a valid scheme, and reading it back gives every pair with its units in the same
// order, none lost, each under its pair name or under the name saving reported for it.

#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/errors.h"
#include "scheme/scheme.h"

namespace dupsweep::fuzz {
namespace {

constexpr std::string_view kTarget = "scheme";

bool sameUnit(const TUnitData& a, const TUnitData& b) {
  return a.nUnitID == b.nUnitID && a.sUnitCode == b.sUnitCode && a.nLevel == b.nLevel &&
         a.sUnitName == b.sUnitName;
}

}  // namespace

void fuzzScheme(const std::uint8_t* data, std::size_t size) {
  const auto file = scratchDirectory() / "input.Unitdata";
  writeFile(file, std::string_view(reinterpret_cast<const char*>(data), size));
  const bool valid = scheme::isSchemeFile(file.string());
  const std::vector<scheme::SchemePair> pairs = scheme::loadScheme(file.string());
  if (!valid) return;
  check(!pairs.empty(), kTarget, "a valid scheme reads as no pairs");

  // Saved again as the dialog saves its pair list: one pair per pair read, its name composed.
  std::vector<UnitPair> list;
  for (const auto& pair : pairs) list.emplace_back(pair.units[Left], pair.units[Right]);
  const auto saved = scratchDirectory() / "saved.Unitdata";
  std::vector<std::string> renamed;
  try {
    renamed = scheme::saveScheme(saved.string(), list);
  } catch (const Error& e) {
    fail(kTarget, std::string("a scheme read cannot be saved: ") + e.what());
  }

  check(scheme::isSchemeFile(saved.string()), kTarget, "a saved scheme is not a valid scheme");
  std::vector<scheme::SchemePair> dropped;
  const std::vector<scheme::SchemePair> reread = scheme::loadScheme(saved.string(), &dropped);
  check(dropped.empty(), kTarget, "a saved scheme loses a pair when read back");
  check(reread.size() == list.size(), kTarget, "a saved scheme reads back a different count");
  std::size_t nextRenamed = 0;
  for (std::size_t i = 0; i < reread.size() && i < list.size(); ++i) {
    const bool asRenamed = reread[i].section != list[i].name;
    check(
        !asRenamed || (nextRenamed < renamed.size() && reread[i].section == renamed[nextRenamed++]),
        kTarget, "a saved scheme reads back a different pair name");
    check(sameUnit(reread[i].units[Left], list[i][Left]) &&
              sameUnit(reread[i].units[Right], list[i][Right]),
          kTarget, "a saved scheme reads back different units");
  }
  check(nextRenamed == renamed.size(), kTarget, "a pair reported renamed kept its name");
}

}  // namespace dupsweep::fuzz

#ifdef DUPSWEEP_FUZZ_MAIN
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  dupsweep::fuzz::fuzzScheme(data, size);
  return 0;
}
#endif
