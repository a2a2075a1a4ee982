// Fuzz target: the scheme-file validity test and reader.
//
// The input is the scheme file's bytes. It is tested (isSchemeFile) and read (loadScheme); a
// valid scheme is then saved again from the pairs read, as the dialog does, and read back.
//
// Properties besides "no crash": a valid scheme has at least one pair; saving what was read
// succeeds, gives a valid scheme, and reading it back gives the same pair names and units in the
// same order (one pair per pair name, names compared without case, as saving documents).

#include <algorithm>
#include <cctype>
#include <list>
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

bool equalsNoCase(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace

void fuzzScheme(const std::uint8_t* data, std::size_t size) {
  const auto file = scratchDirectory() / "input.Unitdata";
  writeFile(file, std::string_view(reinterpret_cast<const char*>(data), size));
  const bool valid = scheme::isSchemeFile(file.string());
  const std::vector<scheme::SchemePair> pairs = scheme::loadScheme(file.string());
  if (!valid) return;
  check(!pairs.empty(), kTarget, "a valid scheme reads as no pairs");

  // Saved again as the dialog saves its pair list: one group per pair read.
  std::list<TUnitData> units;  // stable addresses for the groups
  std::vector<TUnitGroup> groups;
  groups.reserve(pairs.size());
  for (const auto& pair : pairs) {
    const TUnitData& s = units.emplace_back(pair.unitS);
    const TUnitData& d = units.emplace_back(pair.unitD);
    groups.emplace_back(s, d);
  }
  std::vector<const TUnitGroup*> list;
  for (const auto& group : groups) list.push_back(&group);
  const auto saved = scratchDirectory() / "saved.Unitdata";
  try {
    scheme::saveScheme(saved.string(), list);
  } catch (const Error& e) {
    fail(kTarget, std::string("a scheme read cannot be saved: ") + e.what());
  }

  // Expected: one entry per group name (without case), in first-seen order, under its first
  // spelling, with the last values.
  struct Entry {
    std::string section;
    const TUnitGroup* group;
  };
  std::vector<Entry> expected;
  for (const TUnitGroup* group : list) {
    auto same = std::find_if(expected.begin(), expected.end(), [&](const Entry& e) {
      return equalsNoCase(e.section, group->GroupName);
    });
    if (same == expected.end())
      expected.push_back({group->GroupName, group});
    else
      same->group = group;
  }
  check(scheme::isSchemeFile(saved.string()), kTarget, "a saved scheme is not a valid scheme");
  const std::vector<scheme::SchemePair> reread = scheme::loadScheme(saved.string());
  check(reread.size() == expected.size(), kTarget, "a saved scheme reads back a different count");
  for (std::size_t i = 0; i < reread.size(); ++i) {
    check(reread[i].section == expected[i].section, kTarget,
          "a saved scheme reads back a different pair name");
    check(sameUnit(reread[i].unitS, *expected[i].group->UnitS) &&
              sameUnit(reread[i].unitD, *expected[i].group->UnitD),
          kTarget, "a saved scheme reads back different units");
  }
}

}  // namespace dupsweep::fuzz

#ifdef DUPSWEEP_FUZZ_MAIN
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  dupsweep::fuzz::fuzzScheme(data, size);
  return 0;
}
#endif
