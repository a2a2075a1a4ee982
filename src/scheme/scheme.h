#pragma once
// Scheme files: the operator's saved lists of unit pairs, one INI file per scheme, named by the
// scheme name followed by ".Unitdata", in the host executable's directory.
//
// File format (GB18030 bytes, which are GBK bytes for every GBK character): one section per pair,
// named by the pair's name, its GroupName (see saveScheme for pairs of the same name), in the
// order of the pair list; in each section eight keys, written as "key=value" lines ended by CR LF,
// the "S" keys for the pair's left unit, the "D" keys for its right one:
//
//   [<GroupName>]
//   UnitcodeS=<left.sUnitCode>    UnitNameS=<left.sUnitName>
//   UnitIDS=<left.nUnitID>        nLevelS=<left.nLevel>
//   UnitcodeD=...  UnitNameD=...  UnitIDD=...  nLevelD=...
//
// Section names and keys are matched without regard to letter case, so "UnitCodeS" finds the
// written "UnitcodeS". Text values are written as they are, integers in decimal.
//
// The functions only move data between the files and plain values; the dialog moves those
// values between its widgets and these functions. Text in and out is UTF-8.

#include <string>
#include <vector>

#include "model/pair.h"

namespace dupsweep::scheme {

// Files larger than this are never read as schemes (a scheme of thousands of pairs is a few
// hundred kilobytes).
inline constexpr std::size_t kMaxSchemeFileSize = 16u * 1024u * 1024u;

// One section of a scheme file: the section name (the entry text of the pair list) and the pair
// read from it, the "S" keys its left unit and the "D" keys its right one. The pair's name is
// composed anew from the unit names and may differ from `section` in a hand-edited file.
struct SchemePair {
  std::string section;
  UnitPair units;
};

// The file of scheme `name`: `directory`, a '/' added when it does not end in one, then `name`
// exactly as typed (not trimmed), then ".Unitdata".
std::string schemePath(const std::string& directory, const std::string& name);

// The scheme name listed for a file: the file name (anything up to the last '/' dropped) with
// every occurrence of ".Unitdata" removed in one left-to-right pass, in exact letter case.
// "A.Unitdata.Unitdata" gives "A"; "A.UNITDATA" stays "A.UNITDATA".
std::string schemeNameOf(const std::string& fileName);

// True when `name`, with leading and trailing blanks and control characters removed, is empty.
// Saving and deleting under such a name do nothing at all.
bool isBlankName(const std::string& name);

// True when `name` can name a scheme file in the scheme directory: it is well-formed UTF-8,
// non-empty, is neither "." nor "..", and contains no '/', '\' or control character. Any other
// name would reach outside the directory or make an unusable file name; the dialog refuses it
// and writes, reads and deletes nothing.
bool isValidSchemeName(const std::string& name);

// True when `path` is a valid scheme file: it has at least one section and every section has
// both a "UnitcodeS" and a "UnitcodeD" key (values may be empty; other keys are not looked at).
// A missing, unreadable, non-regular, larger than kMaxSchemeFileSize, binary (NUL bytes),
// byte-order-marked or non-GB18030 file gives false. Never throws.
bool isSchemeFile(const std::string& path) noexcept;

// Why isSchemeFile refuses `path`, as a clause fit to follow "not a scheme file: ": for example
// "it is not GB18030 text", "it begins with a UTF-8 byte-order mark; ...", "it is larger than the
// limit of 16 MiB", "it is not a regular file", "its section [X] has no UnitcodeD key". Empty when
// the file is a valid scheme file. Never throws.
std::string schemeFileProblem(const std::string& path) noexcept;

// Scheme names of the valid scheme files in `directory`: the regular files matching "*.Unitdata"
// without regard to letter case, in the order files::listFiles gives them, each passed through
// schemeNameOf when isSchemeFile accepts it. A missing or unreadable directory gives an empty
// list. Never throws.
std::vector<std::string> listSchemes(const std::string& directory) noexcept;

// Every section of the file at `path`, in file order, as a pair; the file is not tested for
// validity. A missing text key gives ""; a missing integer key or one whose value is not a
// signed 32-bit decimal integer gives 0. Keys are looked up as "UnitCodeS", "UnitNameS",
// "UnitIDS", "nLevelS" (and the "D" forms) without regard to case. A section name that stands
// more than once (compared without regard to ASCII letter case) gives the pair of its last
// section only; the pairs of the earlier ones go to `dropped` (when given), in file order. A file
// that isSchemeFile would refuse for being missing, unreadable, too large, binary or not GB18030
// gives an empty list. Never throws.
std::vector<SchemePair> loadScheme(const std::string& path,
                                   std::vector<SchemePair>* dropped = nullptr) noexcept;

// Replaces the file at `path` by a scheme of `pairs`, in their order: one section per pair, named
// by its name (GroupName). A pair whose name the reader would take for that of an earlier pair
// (equal but for ASCII letter case or blanks at either end) is written under the name followed
// by "（<left code>/<right code>）" (and "（2）", "（3）"... should that be taken too), so that no
// pair is lost; the section names so given are returned, in order. The new content is written to
// a temporary file beside `path` and renamed over it, so the previous scheme stays intact on any
// failure. An empty `pairs` deletes the file instead (a failure to delete is ignored).
// Throws FileError "Unable to write to <path>" when the file cannot be written, and FormatError
// (message beginning the same way) when a pair name, unit name or code contains a line break or
// NUL, which the format cannot carry; in both cases nothing on disk has changed.
std::vector<std::string> saveScheme(const std::string& path, const std::vector<UnitPair>& pairs);

// Deletes the file at `path`; a failure (no such file, for instance) is ignored.
void deleteScheme(const std::string& path) noexcept;

}  // namespace dupsweep::scheme
