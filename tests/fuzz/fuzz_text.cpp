// Fuzz target: the text conversions.
//
// The first byte chooses what the rest of the input is taken as: UTF-8 (0), UTF-16 code units in
// native order (1), GB18030 bytes (2), or UTF-8 cut into characters (3).
//
// Properties besides "no crash": every conversion fails only with FormatError, and only for
// malformed input (isValidUtf8 and an independent surrogate check decide), except that a character
// GB18030's tables lack is refused by name; well-formed text survives UTF-8 -> UTF-16 -> UTF-8,
// UTF-16 -> UTF-8 -> UTF-16 and UTF-8 -> GB18030 -> UTF-8 unchanged; GB18030 that converts gives
// well-formed UTF-8 that converts back to GB18030 and then reads as the same text; utf8Prefix gives
// a prefix of utf8Length characters.

#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/errors.h"
#include "platform/text/text.h"

namespace dupsweep::fuzz {
namespace {

constexpr std::string_view kTarget = "text";

bool hasUnpairedSurrogate(std::u16string_view s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char16_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return true;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return true;
    }
  }
  return false;
}

void fromUtf8(std::string_view in) {
  const bool valid = text::isValidUtf8(in);
  std::u16string wide;
  try {
    wide = text::utf8ToUtf16(in);
    check(valid, kTarget, "utf8ToUtf16 accepted malformed UTF-8");
  } catch (const FormatError&) {
    check(!valid, kTarget, "utf8ToUtf16 refused well-formed UTF-8");
    return;
  }
  check(!hasUnpairedSurrogate(wide), kTarget, "utf8ToUtf16 made an unpaired surrogate");
  check(text::utf16ToUtf8(wide) == in, kTarget, "UTF-8 -> UTF-16 -> UTF-8 changed the text");
  check(text::utf8Length(in) <= wide.size(), kTarget, "more characters than UTF-16 code units");

  std::string gb;
  try {
    gb = text::utf8ToGb18030(in);
  } catch (const FormatError& e) {
    // The converter's tables lack a few private-use characters (U+E78D..U+E796 and others that
    // GB18030-2005 moved to other code points); those are refused by name, anything else not.
    const std::string_view message = e.what();
    check(message.starts_with("The character U+") && message.ends_with("has no GB18030 encoding"),
          kTarget, std::string("utf8ToGb18030 refused well-formed UTF-8: ") + e.what());
    return;
  }
  check(text::gb18030ToUtf8(gb) == in, kTarget, "UTF-8 -> GB18030 -> UTF-8 changed the text");
}

void fromUtf16(std::string_view bytes) {
  std::u16string in(bytes.size() / 2, u'\0');
  std::memcpy(in.data(), bytes.data(), in.size() * 2);
  const bool valid = !hasUnpairedSurrogate(in);
  std::string narrow;
  try {
    narrow = text::utf16ToUtf8(in);
    check(valid, kTarget, "utf16ToUtf8 accepted an unpaired surrogate");
  } catch (const FormatError&) {
    check(!valid, kTarget, "utf16ToUtf8 refused well-formed UTF-16");
    return;
  }
  check(text::isValidUtf8(narrow), kTarget, "utf16ToUtf8 made malformed UTF-8");
  check(text::utf8ToUtf16(narrow) == in, kTarget, "UTF-16 -> UTF-8 -> UTF-16 changed the text");
}

void fromGb18030(std::string_view in) {
  std::string narrow;
  try {
    narrow = text::gb18030ToUtf8(in);
  } catch (const FormatError&) {
    return;  // not GB18030
  }
  check(text::isValidUtf8(narrow), kTarget, "gb18030ToUtf8 made malformed UTF-8");
  // GB18030 has a few byte sequences for the same character, so the bytes may differ; the text
  // read back must not.
  std::string again;
  try {
    again = text::utf8ToGb18030(narrow);
  } catch (const FormatError& e) {
    fail(kTarget, std::string("text read from GB18030 cannot be written back: ") + e.what());
  }
  check(text::gb18030ToUtf8(again) == narrow, kTarget,
        "GB18030 -> UTF-8 -> GB18030 -> UTF-8 changed the text");
}

void prefixes(std::string_view in, std::size_t count) {
  std::string prefix;
  try {
    prefix = text::utf8Prefix(in, count);
  } catch (const FormatError&) {
    check(!text::isValidUtf8(in), kTarget, "utf8Prefix refused well-formed UTF-8");
    return;
  }
  check(in.starts_with(prefix), kTarget, "utf8Prefix is not a prefix");
  if (!text::isValidUtf8(in)) return;
  const std::size_t length = text::utf8Length(in);
  check(text::utf8Length(prefix) == (count < length ? count : length), kTarget,
        "utf8Prefix has the wrong number of characters");
  check(text::isValidUtf8(prefix), kTarget, "utf8Prefix cut a character");
}

}  // namespace

void fuzzText(const std::uint8_t* data, std::size_t size) {
  InputReader input(data, size);
  const std::uint8_t mode = input.byte();
  switch (mode % 4) {
    case 0:
      fromUtf8(input.rest());
      break;
    case 1:
      fromUtf16(input.rest());
      break;
    case 2:
      fromGb18030(input.rest());
      break;
    case 3: {
      const std::size_t count = input.byte();
      prefixes(input.rest(), count);
      break;
    }
  }
}

}  // namespace dupsweep::fuzz

#ifdef DUPSWEEP_FUZZ_MAIN
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  dupsweep::fuzz::fuzzText(data, size);
  return 0;
}
#endif
