#include "platform/text/text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/errors.h"

namespace dupsweep::text {
namespace {

using ::testing::HasSubstr;

// Runs `f` and returns the FormatError message it raises ("" when it raises none).
template <typename F>
std::string formatErrorOf(F f) {
  try {
    f();
  } catch (const FormatError& e) {
    return e.what();
  }
  return {};
}

const std::string kChinese = "清理重复数据";
const std::string kChineseGb = "\xC7\xE5\xC0\xED\xD6\xD8\xB8\xB4\xCA\xFD\xBE\xDD";

TEST(TextConversion, ChineseRoundTrips) {
  EXPECT_EQ(utf8ToUtf16(kChinese), u"清理重复数据");
  EXPECT_EQ(utf16ToUtf8(u"清理重复数据"), kChinese);
  EXPECT_EQ(utf8ToGb18030(kChinese), kChineseGb);
  EXPECT_EQ(gb18030ToUtf8(kChineseGb), kChinese);

  const std::string mixed = std::string("A1 方案\0B", 11) + "\r\n";
  EXPECT_EQ(utf16ToUtf8(utf8ToUtf16(mixed)), mixed);
  EXPECT_EQ(gb18030ToUtf8(utf8ToGb18030(mixed)), mixed);
}

TEST(TextConversion, CharactersOutsideGbkAndTheBasicPlane) {
  // U+20000 and an emoji: four-byte GB18030 sequences, surrogate pairs in UTF-16.
  const std::string cjkB = "\xF0\xA0\x80\x80";
  const std::string emoji = "\xF0\x9F\x98\x80";
  EXPECT_EQ(utf8ToGb18030(cjkB), "\x95\x32\x82\x36");
  EXPECT_EQ(utf8ToGb18030(emoji), "\x94\x39\xFC\x36");
  EXPECT_EQ(gb18030ToUtf8("\x95\x32\x82\x36"), cjkB);
  EXPECT_EQ(utf8ToUtf16(emoji), u"\xD83D\xDE00");
  EXPECT_EQ(utf16ToUtf8(u"\xD83D\xDE00"), emoji);
  const std::string text = "A" + cjkB + "数" + emoji;
  EXPECT_EQ(gb18030ToUtf8(utf8ToGb18030(text)), text);
}

TEST(TextConversion, UnmappedCharacterIsNotCalledMalformed) {
  // Some converter tables leave a few private-use characters (U+E78D...) without a GB18030
  // sequence. If this one is among them, the error must name the character, not blame the UTF-8.
  const std::string pua = "A\xEE\x9E\x8D";
  std::string message = formatErrorOf([&] { EXPECT_EQ(gb18030ToUtf8(utf8ToGb18030(pua)), pua); });
  if (!message.empty()) {
    EXPECT_EQ(message, "The character U+E78D at byte offset 1 has no GB18030 encoding");
  }
}

TEST(TextConversion, GbkBytesReadAsGb18030) {
  // "丂" (0x8140) lies in the GBK extension, outside GB2312.
  EXPECT_EQ(gb18030ToUtf8("\x81\x40\xCA\xFD\xBE\xDD"), "丂数据");
}

TEST(TextConversion, EmptyAndLongText) {
  EXPECT_EQ(utf8ToUtf16(""), u"");
  EXPECT_EQ(utf16ToUtf8(u""), "");
  EXPECT_EQ(utf8ToGb18030(""), "");
  EXPECT_EQ(gb18030ToUtf8(""), "");
  // Longer than the first output buffer in every direction.
  std::string ascii(5000, 'x');
  EXPECT_EQ(utf8ToUtf16(ascii), std::u16string(5000, u'x'));
  std::string wide;
  for (int i = 0; i < 2000; ++i) wide += "数\xF0\x9F\x98\x80";
  EXPECT_EQ(utf16ToUtf8(utf8ToUtf16(wide)), wide);
  EXPECT_EQ(gb18030ToUtf8(utf8ToGb18030(wide)), wide);
}

// Malformed UTF-8 and the offset of its first bad byte. Both the converters and isValidUtf8 must
// reject each case.
struct BadUtf8 {
  std::string bytes;
  std::size_t offset;
};

TEST(TextConversion, InvalidUtf8IsRejectedWithItsOffset) {
  const std::vector<BadUtf8> cases = {
      {"ab\xFF", 2},              // never valid
      {"\xC0\xAF", 0},            // overlong "/"
      {"x\xE0\x80\x80", 1},       // overlong three-byte
      {"\xED\xA0\x80", 0},        // encoded surrogate
      {"ok\xF4\x90\x80\x80", 2},  // above U+10FFFF
      {"数\x80", 3},              // stray continuation byte
      {"清理\xE6\x95", 6},        // truncated at the end
      {"\xE6\x95"
       "A",
       0},  // truncated in the middle
      // After ASCII read eight bytes at a time: the bad byte at and past a word's end.
      {"abcdefgh\xFF", 8},
      {"abcdefghij\xC0\xAF", 10},
      {"0123456789abcdef\x80tail", 16},
      {"abcdefg数\x80", 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    const std::string where = "byte offset " + std::to_string(c.offset);
    EXPECT_FALSE(isValidUtf8(c.bytes));
    EXPECT_THAT(formatErrorOf([&] { utf8ToUtf16(c.bytes); }), HasSubstr(where));
    EXPECT_THAT(formatErrorOf([&] { utf8ToGb18030(c.bytes); }), HasSubstr(where));
  }
  EXPECT_TRUE(isValidUtf8(""));
  EXPECT_TRUE(isValidUtf8(kChinese + "\xF4\x8F\xBF\xBF"));  // U+10FFFF
  EXPECT_TRUE(isValidUtf8("0123456789abcdef" + kChinese + "0123456789"));
}

TEST(TextConversion, UnpairedSurrogateIsRejectedWithItsPosition) {
  EXPECT_THAT(formatErrorOf([] {
                utf16ToUtf8(
                    u"a\xD800"
                    u"b");
              }),
              HasSubstr("Unpaired surrogate in UTF-16 text at code unit 1"));
  EXPECT_THAT(formatErrorOf([] { utf16ToUtf8(u"ab\xDC00"); }), HasSubstr("code unit 2"));
  EXPECT_THAT(formatErrorOf([] { utf16ToUtf8(u"数据\xD83D"); }), HasSubstr("code unit 2"));
}

TEST(TextConversion, BadGb18030IsRejectedWithItsOffset) {
  EXPECT_EQ(formatErrorOf([] { gb18030ToUtf8("\xCA\xFD\xBE"); }),
            "Incomplete GB18030 byte sequence at byte offset 2");
  EXPECT_THAT(formatErrorOf([] { gb18030ToUtf8("A\x95\x32\x82"); }),
              HasSubstr("Incomplete GB18030 byte sequence at byte offset 1"));
  EXPECT_THAT(formatErrorOf([] { gb18030ToUtf8("\xCA\xFD\x81\x20"); }),
              HasSubstr("Invalid GB18030 byte sequence at byte offset 2"));
  EXPECT_THAT(formatErrorOf([] { gb18030ToUtf8("\xFF"); }), HasSubstr("byte offset 0"));
}

TEST(TextConversion, FailedConversionLeavesNothingBehind) {
  // The converters are reused per thread; a failure must not spill into the next call.
  EXPECT_THROW(gb18030ToUtf8("\xCA"), FormatError);
  EXPECT_EQ(gb18030ToUtf8("\xBE\xDD"), "据");
  EXPECT_THROW(utf8ToUtf16("\xE6\x95"), FormatError);
  EXPECT_EQ(utf8ToUtf16("A"), u"A");
}

TEST(TextConversion, ThreadsConvertIndependently) {
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&failures, t] {
      for (int i = 0; i < 500; ++i) {
        std::string s = kChinese + std::to_string(t * 1000 + i);
        if (gb18030ToUtf8(utf8ToGb18030(s)) != s || utf16ToUtf8(utf8ToUtf16(s)) != s) {
          ++failures[t];
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

TEST(Utf8Characters, LengthAndPrefixCountCharactersNotBytes) {
  EXPECT_EQ(utf8Length(kChinese), 6u);
  EXPECT_EQ(utf8Length("A\xF0\x9F\x98\x80"), 2u);
  EXPECT_EQ(utf8Length(""), 0u);

  EXPECT_EQ(utf8Prefix("年度报表2005", 4), "年度报表");
  EXPECT_EQ(utf8Prefix("2005年度", 4), "2005");
  EXPECT_EQ(utf8Prefix("ab年度", 3), "ab年");
  EXPECT_EQ(utf8Prefix("AB", 4), "AB");
  EXPECT_EQ(utf8Prefix("数\xF0\x9F\x98\x80x", 2), "数\xF0\x9F\x98\x80");
  EXPECT_EQ(utf8Prefix("年度", 0), "");
  EXPECT_EQ(utf8Prefix("", 4), "");
  // Malformed bytes inside the prefix are an error; beyond it they are not looked at.
  EXPECT_THAT(formatErrorOf([] { utf8Prefix("ab\xE5\xB9", 3); }), HasSubstr("byte offset 2"));
  EXPECT_EQ(utf8Prefix("ab\xFF", 2), "ab");
}

}  // namespace
}  // namespace dupsweep::text
