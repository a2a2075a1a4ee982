#pragma once
// The component's text conversions, through iconv, never touching the process locale: UTF-8
// inside, UTF-16 at COM and in the grid, GB18030 (GBK reads as it is) in scheme files. Invalid
// input raises FormatError naming the offset of the first bad sequence; nothing is replaced.

#include <string>
#include <string_view>

namespace dupsweep::text {

// Throws FormatError on invalid UTF-8.
std::u16string utf8ToUtf16(std::string_view utf8);

// Throws FormatError on an unpaired surrogate.
std::string utf16ToUtf8(std::u16string_view utf16);

// Throws FormatError on invalid UTF-8.
std::string utf8ToGb18030(std::string_view utf8);

// Also GBK bytes. Throws FormatError on a sequence that is not GB18030.
std::string gb18030ToUtf8(std::string_view gb18030);

bool isValidUtf8(std::string_view bytes) noexcept;

// Code points; malformed input is not checked (every non-continuation byte counts).
std::size_t utf8Length(std::string_view utf8) noexcept;

// The first `count` code points (the whole text when shorter). Throws FormatError for a malformed
// sequence among them.
std::string utf8Prefix(std::string_view utf8, std::size_t count);

}  // namespace dupsweep::text
