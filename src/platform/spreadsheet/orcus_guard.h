#pragma once
// Checks the bytes of a workbook file before liborcus 0.17 sees them. The library's readers bring
// the process down on some malformed input instead of reporting it:
//   - its XML parser reads past the end of truncated or malformed XML (a crash, or garbage read),
//     and an assertion aborts on a character reference beyond U+10FFFF;
//   - its zip reader allocates whatever size an archive's directory declares (up to 4 GB per
//     entry, zero-filled), before reading anything;
//   - its Gnumeric reader writes through a null sheet when an element of a sheet comes before
//     the sheet's name.
// So every XML document the library would parse (the file itself, a gzip-compressed Gnumeric
// file's content, every entry of a zip package that the reader hands on) must first be
// well-formed to Qt's XML reader, without a document type declaration; archive entries must
// declare sane sizes, and Gnumeric sheets must be named first.

#include <cstdint>
#include <string>
#include <string_view>

namespace dupsweep::sheet {

// Largest uncompressed size of one zip entry, and of all entries together, that is read.
inline constexpr std::uint64_t kMaxZipEntrySize = 256u << 20;
inline constexpr std::uint64_t kMaxZipTotalSize = 512u << 20;

// True only when `bytes` is surely a well-formed XML document (to Qt's XML reader with namespaces
// as well): UTF-8, without a document type, with names of ASCII characters and the predefined
// entities only. False says nothing: the document is outside that form, or not well-formed.
bool plainlyWellFormedXml(std::string_view bytes);

// Why the XML document `bytes` (a part of a zip package) must not be handed to liborcus's XML
// parser, or an empty string. Never throws except std::bad_alloc.
std::string xmlPartHazard(std::string_view bytes);

// Why the zip archive `bytes` must not be opened by liborcus's zip reader (sizes it declares
// beyond what is read, entries outside the archive), or an empty string; the entries themselves
// are not looked at. Never throws except std::bad_alloc.
std::string zipDirectoryHazard(std::string_view bytes);

// Why `bytes` must not be handed to liborcus (a short English reason), or an empty string when
// they are safe for every one of its readers and for its format detection. Of a zip archive only
// the directory is checked: the package readers check each entry they take (xmlPartHazard) and
// hand liborcus a package of checked entries only. Never throws except std::bad_alloc.
std::string orcusHazard(std::string_view bytes);

}  // namespace dupsweep::sheet
