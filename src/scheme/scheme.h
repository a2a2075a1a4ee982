#pragma once
// Scheme files: saved lists of unit pairs, one INI file "<scheme>.Unitdata" each, in GB18030 with
// CR LF: per pair a section [<GroupName>] with UnitcodeS, UnitNameS, UnitIDS, nLevelS (left unit)
// and the same "D" keys (right unit); names and keys match without regard to case. Text is UTF-8.

#include <string>
#include <vector>

#include "model/pair.h"

namespace dupsweep::scheme {

// A scheme of thousands of pairs is a few hundred kilobytes.
inline constexpr std::size_t kMaxSchemeFileSize = 16u * 1024u * 1024u;

// One section: its name (the pair list's entry text) and the pair read from it, whose name is
// composed anew from the units and may differ from `section` in a hand-edited file.
struct SchemePair {
  std::string section;
  UnitPair units;
};

// `directory`, a '/' added when needed, `name` exactly as typed, then ".Unitdata".
std::string schemePath(const std::string& directory, const std::string& name);

// The file name without its directory and every ".Unitdata" (exact case, one pass):
// "A.Unitdata.Unitdata" gives "A"; "A.UNITDATA" stays.
std::string schemeNameOf(const std::string& fileName);

// Empty once blanks and control characters are trimmed; saving and deleting it do nothing.
bool isBlankName(const std::string& name);

// Well-formed UTF-8, non-empty, not "." or "..", no '/', '\' or control character: any other name
// would reach outside the directory; the dialog refuses it.
bool isValidSchemeName(const std::string& name);

// At least one section, each with "UnitcodeS" and "UnitcodeD" keys; a missing, unreadable,
// irregular, oversized, binary, byte-order-marked or non-GB18030 file gives false.
bool isSchemeFile(const std::string& path) noexcept;

// Why isSchemeFile refuses `path`, a clause to follow "not a scheme file: " ("it is not GB18030
// text", "its section [X] has no UnitcodeD key"...); empty for a valid file.
std::string schemeFileProblem(const std::string& path) noexcept;

// The valid "*.Unitdata" files (any case) in files::listFiles order, through schemeNameOf; empty
// for a missing or unreadable directory.
std::vector<std::string> listSchemes(const std::string& directory) noexcept;

// Every section in file order, validity not tested; a missing text key gives "", a missing or
// non-int32 integer 0. A section name repeated (ASCII case ignored) gives its last section's pair;
// earlier ones go to `dropped`. A file isSchemeFile refuses as unreadable gives an empty list.
std::vector<SchemePair> loadScheme(const std::string& path,
                                   std::vector<SchemePair>* dropped = nullptr) noexcept;

// Replaces `path` atomically by a section per pair; a name the reader would take for an earlier
// one gets "（<left code>/<right code>）" ("（2）"...). Returns the section names; no pairs:
// deletes the file. Throws FileError "Unable to write to <path>" or FormatError (line break, NUL).
std::vector<std::string> saveScheme(const std::string& path, const std::vector<UnitPair>& pairs);

// A failure (no such file, for instance) is ignored.
void deleteScheme(const std::string& path) noexcept;

}  // namespace dupsweep::scheme
