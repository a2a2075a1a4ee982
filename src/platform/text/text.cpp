#include <algorithm>
#include "platform/text/text.h"

#include <iconv.h>

#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/errors.h"

namespace dupsweep::text {
namespace {

constexpr const char* kUtf16Native =
    std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

// Per direction and thread: iconv_t is not safe to share, and opening one per call costs more
// than most conversions.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      throw Error(std::string("The text conversion from ") + from + " to " + to +
                  " is not available");
    }
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // False on an invalid or incomplete sequence, `badOffset` at its first byte.
  bool convert(std::string_view in, std::string& out, std::size_t& badOffset, bool& incomplete) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
    out.resize(in.size() + 16);                      // grown on demand
    char* inPtr = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    std::size_t produced = 0;
    while (true) {
      char* outPtr = out.data() + produced;
      std::size_t outLeft = out.size() - produced;
      std::size_t rc = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
      // A final call with no input flushes any pending state into the output.
      if (rc != static_cast<std::size_t>(-1) && inLeft == 0) {
        rc = iconv(cd_, nullptr, nullptr, &outPtr, &outLeft);
      }
      produced = out.size() - outLeft;
      if (rc != static_cast<std::size_t>(-1)) break;
      if (errno == E2BIG) {
        out.resize(out.size() * 2);
        continue;
      }
      badOffset = static_cast<std::size_t>(inPtr - in.data());
      incomplete = errno == EINVAL;
      return false;
    }
    out.resize(produced);
    return true;
  }

 private:
  iconv_t cd_;
};

// RFC 3629 (no overlong forms, no surrogates, nothing above U+10FFFF); 0 when not well-formed.
std::size_t sequenceLength(std::string_view s) noexcept {
  auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  auto cont = [&](std::size_t i) { return i < s.size() && (b(i) & 0xC0) == 0x80; };
  unsigned char c = b(0);
  if (c < 0x80) return 1;
  if (c < 0xC2) return 0;
  if (c < 0xE0) return cont(1) ? 2 : 0;
  if (c < 0xF0) {
    if (!cont(1) || !cont(2)) return 0;
    if (c == 0xE0 && b(1) < 0xA0) return 0;   // overlong
    if (c == 0xED && b(1) >= 0xA0) return 0;  // surrogate
    return 3;
  }
  if (c < 0xF5) {
    if (!cont(1) || !cont(2) || !cont(3)) return 0;
    if (c == 0xF0 && b(1) < 0x90) return 0;   // overlong
    if (c == 0xF4 && b(1) >= 0x90) return 0;  // above U+10FFFF
    return 4;
  }
  return 0;
}

std::size_t firstInvalidUtf8(std::string_view s) noexcept {
  for (std::size_t i = 0; i < s.size();) {
    // ASCII, most of a report's text, eight bytes at a time.
    std::uint64_t word;
    if (i + sizeof word <= s.size()) {
      std::memcpy(&word, s.data() + i, sizeof word);
      if ((word & 0x8080808080808080U) == 0) {
        i += sizeof word;
        continue;
      }
    }
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
      continue;
    }
    std::size_t n = sequenceLength(s.substr(i));
    if (n == 0) return i;
    i += n;
  }
  return std::string_view::npos;
}

[[noreturn]] void throwInvalidUtf8(std::size_t offset) {
  throw FormatError("Invalid UTF-8 text at byte offset " + std::to_string(offset));
}

std::string_view asBytes(std::u16string_view s) {
  return {reinterpret_cast<const char*>(s.data()), s.size() * sizeof(char16_t)};
}

}  // namespace

std::u16string utf8ToUtf16(std::string_view utf8) {
  // Figures and codes are plain ASCII, which widens code unit for code unit; iconv is for the rest.
  if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return (c & 0x80) == 0; }))
    return std::u16string(utf8.begin(), utf8.end());
  thread_local Converter converter(kUtf16Native, "UTF-8");
  std::string bytes;
  std::size_t offset = 0;
  bool incomplete = false;
  if (!converter.convert(utf8, bytes, offset, incomplete)) throwInvalidUtf8(offset);
  std::u16string result(bytes.size() / sizeof(char16_t), u'\0');
  std::memcpy(result.data(), bytes.data(), bytes.size());
  return result;
}

std::string utf16ToUtf8(std::u16string_view utf16) {
  if (std::all_of(utf16.begin(), utf16.end(), [](char16_t c) { return c < 0x80; })) {
    std::string ascii(utf16.size(), '\0');
    std::transform(utf16.begin(), utf16.end(), ascii.begin(),
                   [](char16_t c) { return static_cast<char>(c); });
    return ascii;
  }
  thread_local Converter converter("UTF-8", kUtf16Native);
  std::string result;
  std::size_t offset = 0;
  bool incomplete = false;
  if (!converter.convert(asBytes(utf16), result, offset, incomplete)) {
    throw FormatError("Unpaired surrogate in UTF-16 text at code unit " +
                      std::to_string(offset / sizeof(char16_t)));
  }
  return result;
}

std::string utf8ToGb18030(std::string_view utf8) {
  thread_local Converter converter("GB18030", "UTF-8");
  std::string result;
  std::size_t offset = 0;
  bool incomplete = false;
  if (!converter.convert(utf8, result, offset, incomplete)) {
    // The converter's tables may lack a character GB18030 encodes: tell that from malformed input.
    if (std::size_t n = sequenceLength(utf8.substr(offset)); n != 0) {
      std::u16string unit = utf8ToUtf16(utf8.substr(offset, n));
      char32_t cp =
          unit.size() == 2 ? 0x10000 + ((unit[0] - 0xD800) << 10) + (unit[1] - 0xDC00) : unit[0];
      char hex[16];
      std::snprintf(hex, sizeof hex, "U+%04X", static_cast<unsigned>(cp));
      throw FormatError(std::string("The character ") + hex + " at byte offset " +
                        std::to_string(offset) + " has no GB18030 encoding");
    }
    throwInvalidUtf8(offset);
  }
  return result;
}

std::string gb18030ToUtf8(std::string_view gb18030) {
  thread_local Converter converter("UTF-8", "GB18030");
  std::string result;
  std::size_t offset = 0;
  bool incomplete = false;
  if (!converter.convert(gb18030, result, offset, incomplete)) {
    throw FormatError(std::string(incomplete ? "Incomplete" : "Invalid") +
                      " GB18030 byte sequence at byte offset " + std::to_string(offset));
  }
  return result;
}

bool isValidUtf8(std::string_view bytes) noexcept {
  return firstInvalidUtf8(bytes) == std::string_view::npos;
}

std::size_t utf8Length(std::string_view utf8) noexcept {
  std::size_t count = 0;
  for (char c : utf8) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  }
  return count;
}

std::string utf8Prefix(std::string_view utf8, std::size_t count) {
  std::size_t end = 0;
  for (; end < utf8.size() && count > 0; --count) {
    std::size_t n = sequenceLength(utf8.substr(end));
    if (n == 0) throwInvalidUtf8(end);
    end += n;
  }
  return std::string(utf8.substr(0, end));
}

}  // namespace dupsweep::text
