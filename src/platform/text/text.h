#pragma once
// Text conversions of the component, all in this one module. Text is UTF-8 inside the
// component, UTF-16 at the COM boundary and in the grid widget, GB18030 in scheme files (every
// GBK byte sequence is the same GB18030 sequence, so files of the older GBK tooling read as they
// are). Conversions go through iconv and never touch the process locale.
//
// Invalid input raises FormatError naming the byte (or code unit) offset of the first bad
// sequence; nothing is silently replaced.

#include <string>
#include <string_view>

namespace dupsweep::text {

// UTF-8 -> UTF-16. Throws FormatError on invalid UTF-8.
std::u16string utf8ToUtf16(std::string_view utf8);

// UTF-16 -> UTF-8. Throws FormatError on an unpaired surrogate.
std::string utf16ToUtf8(std::u16string_view utf16);

// UTF-8 -> GB18030 bytes. Throws FormatError on invalid UTF-8.
std::string utf8ToGb18030(std::string_view utf8);

// GB18030 (or GBK) bytes -> UTF-8. Throws FormatError on a byte sequence that is not GB18030.
std::string gb18030ToUtf8(std::string_view gb18030);

// True when `bytes` is well-formed UTF-8.
bool isValidUtf8(std::string_view bytes) noexcept;

// Number of characters (code points) of well-formed UTF-8. Malformed input is not checked: every
// byte that is not a continuation byte counts as one character.
std::size_t utf8Length(std::string_view utf8) noexcept;

// The first `count` characters (code points) of well-formed UTF-8; the whole text when shorter.
// Throws FormatError when a malformed sequence lies within those characters.
std::string utf8Prefix(std::string_view utf8, std::size_t count);

}  // namespace dupsweep::text
