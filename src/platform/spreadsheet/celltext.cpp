#include "platform/spreadsheet/celltext.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

namespace dupsweep::sheet {

namespace {

// `value` rounded to 15 significant digits, the most spreadsheets show; a value whose shortest
// form has no more is returned as it is (most are, and the rounding costs a text round trip).
double fifteenDigits(double value) {
  char shortest[64];
  const auto end = std::to_chars(shortest, shortest + sizeof shortest, value).ptr;
  int significant = 0;
  bool leading = true;
  for (const char* p = shortest; p < end && *p != 'e'; ++p) {
    if (*p < '0' || *p > '9') continue;
    if (leading && *p == '0') continue;
    leading = false;
    ++significant;
  }
  if (significant <= 15) return value;
  char digits[64];
  std::snprintf(digits, sizeof digits, "%.15g", value);
  return std::strtod(digits, nullptr);
}

}  // namespace

std::string generalNumberText(double value) {
  if (std::isnan(value) || std::isinf(value)) return "#NUM!";
  if (value == 0) return "0";
  // Spreadsheets show at most 15 significant digits.
  value = fifteenDigits(value);
  const double magnitude = std::fabs(value);
  // Fixed notation of the shortest round-trip digits needs at most 1 + 16 + 1 + 25 characters in
  // the fixed range; scientific notation at most 24.
  char buffer[64];
  const auto format = (magnitude >= 1e-9 && magnitude < 1e16) ? std::chars_format::fixed
                                                              : std::chars_format::scientific;
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, format);
  return std::string(buffer, result.ptr);
}

std::string booleanText(bool value) {
  return value ? "TRUE" : "FALSE";
}

std::string dateTimeText(int year, int month, int day, int hour, int minute, double second) {
  char buffer[96];
  int n = std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", year, month, day);
  std::string text(buffer, n);
  if (hour == 0 && minute == 0 && second == 0) return text;
  n = std::snprintf(buffer, sizeof buffer, " %02d:%02d:", hour, minute);
  text.append(buffer, n);
  if (second < 10) text += '0';
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, second, std::chars_format::fixed);
  text.append(buffer, result.ptr);
  return text;
}

std::string autoText(std::string_view raw) {
  if (raw.empty()) return {};
  const char* first = raw.data();
  const char* last = raw.data() + raw.size();
  if (*first == '+') ++first;  // from_chars takes no plus sign
  // Only plain decimal numbers: no "inf"/"nan" and no hexadecimal forms.
  if (first == last ||
      !(std::isdigit(static_cast<unsigned char>(*first)) || *first == '-' || *first == '.')) {
    return std::string(raw);
  }
  double value = 0;
  const auto result = std::from_chars(first, last, value, std::chars_format::general);
  if (result.ec != std::errc() || result.ptr != last || !std::isfinite(value)) {
    return std::string(raw);
  }
  return generalNumberText(value);
}

}  // namespace dupsweep::sheet

// ---- number format codes ------------------------------------------------------------------------

namespace dupsweep::sheet {
namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equalsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// The length of the UTF-8 sequence that starts with byte `c` (1 for a stray continuation byte).
std::size_t sequenceLength(unsigned char c) {
  if (c >= 0xF0) return 4;
  if (c >= 0xE0) return 3;
  if (c >= 0xC0) return 2;
  return 1;
}

// One element of a format section.
struct Token {
  enum Kind {
    literal,
    digit,  // 0 # ?  (text holds the placeholder)
    point,  // the decimal point
    comma,  // thousands separator or scaling
    percent,
    exponent,  // E+ or E- (text holds the sign character)
    general,
    textValue,  // @
    year,
    month,  // m that stands for a month (or, before settling, m of either meaning)
    minute,
    day,
    hour,
    second,
    subsecond,  // the 0s after "ss."
    ampm,       // text holds "AM/PM" or "A/P" as written
    elapsedHours,
    elapsedMinutes,
    elapsedSeconds,
  };
  Kind kind;
  std::string text;
  int count = 1;
};

struct Section {
  std::vector<Token> tokens;
  bool dateTime = false;
  bool fraction = false;  // a "/" between digit placeholders (see fractionText)
  // A condition in brackets ("[>999]", "[=0]", "[<=-1]"): the section applies to the values
  // that meet it.
  std::string condition;  // "<", "<=", ">", ">=", "=", "<>", or empty for none
  double threshold = 0;

  bool meets(double v) const {
    if (condition == "<") return v < threshold;
    if (condition == "<=") return v <= threshold;
    if (condition == ">") return v > threshold;
    if (condition == ">=") return v >= threshold;
    if (condition == "=") return v == threshold;
    if (condition == "<>") return v != threshold;
    return false;
  }
  // True when the section is chosen for negative values only, and writes their sign itself.
  bool forNegatives() const {
    return (condition == "<" && threshold <= 0) || (condition == "<=" && threshold < 0);
  }
};

// Splits `code` at the semicolons that separate sections (outside quotes, brackets and escapes).
std::vector<std::string_view> splitSections(std::string_view code) {
  std::vector<std::string_view> sections;
  std::size_t start = 0;
  bool quoted = false;
  bool bracket = false;
  for (std::size_t i = 0; i < code.size(); ++i) {
    const char c = code[i];
    if (quoted) {
      quoted = c != '"';
    } else if (bracket) {
      bracket = c != ']';
    } else if (c == '"') {
      quoted = true;
    } else if (c == '[') {
      bracket = true;
    } else if (c == '\\' || c == '_' || c == '*') {
      ++i;
    } else if (c == ';') {
      sections.push_back(code.substr(start, i - start));
      start = i + 1;
    }
  }
  sections.push_back(code.substr(start));
  return sections;
}

void addLiteral(std::vector<Token>& tokens, std::string_view text) {
  if (!tokens.empty() && tokens.back().kind == Token::literal) {
    tokens.back().text.append(text);
  } else {
    tokens.push_back({Token::literal, std::string(text)});
  }
}

// Counts how often `c` repeats from `i` on (case-insensitive) and moves `i` past the run.
int run(std::string_view s, std::size_t& i, char c) {
  int n = 0;
  while (i < s.size() && std::tolower(static_cast<unsigned char>(s[i])) == c) {
    ++i;
    ++n;
  }
  return n;
}

Section parseSection(std::string_view s) {
  Section section;
  auto& tokens = section.tokens;
  std::size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c == '"') {
      const std::size_t close = s.find('"', i + 1);
      const std::size_t end = close == std::string_view::npos ? s.size() : close;
      addLiteral(tokens, s.substr(i + 1, end - i - 1));
      i = end + 1;
    } else if (c == '\\' || c == '_' || c == '*') {
      // An escaped character; the width of a character ("_)" keeps room for a parenthesis),
      // shown as a space; a fill character, which a cell of text leaves out.
      ++i;
      const std::size_t n = i < s.size() ? sequenceLength(static_cast<unsigned char>(s[i])) : 0;
      if (c == '\\') addLiteral(tokens, s.substr(i, n));
      if (c == '_') addLiteral(tokens, " ");
      i += n;
    } else if (c == '[') {
      const std::size_t close = s.find(']', i);
      const std::size_t end = close == std::string_view::npos ? s.size() : close;
      const std::string_view inner = s.substr(i + 1, end - i - 1);
      i = end + 1;
      if (!inner.empty() && inner[0] == '$') {
        // [$symbol-locale]: the symbol shows, the locale does not.
        addLiteral(tokens, inner.substr(1, inner.find('-') == std::string_view::npos
                                               ? std::string_view::npos
                                               : inner.find('-') - 1));
      } else if (!inner.empty()) {
        std::size_t j = 0;
        const char first = static_cast<char>(std::tolower(static_cast<unsigned char>(inner[0])));
        const int n = run(inner, j, first);
        if (j == inner.size() && (first == 'h' || first == 'm' || first == 's')) {
          const Token::Kind kind = first == 'h'   ? Token::elapsedHours
                                   : first == 'm' ? Token::elapsedMinutes
                                                  : Token::elapsedSeconds;
          tokens.push_back({kind, {}, n});
          section.dateTime = true;
        }
        if (inner[0] == '<' || inner[0] == '>' || inner[0] == '=') {
          const std::size_t opLength =
              inner.size() > 1 && (inner[1] == '=' || inner[1] == '>') ? 2 : 1;
          double threshold = 0;
          const auto result = std::from_chars(inner.data() + opLength,
                                              inner.data() + inner.size(), threshold);
          if (result.ec == std::errc()) {
            section.condition = std::string(inner.substr(0, opLength));
            section.threshold = threshold;
          }
        }
        // Anything else in brackets is a colour, a locale or a calendar.
      }
    } else if (c == '0' || c == '#' || c == '?') {
      if (!tokens.empty() && tokens.back().kind == Token::point && section.dateTime && c == '0') {
        tokens.back().kind = Token::subsecond;
        tokens.back().count = run(s, i, '0');
      } else {
        tokens.push_back({Token::digit, std::string(1, c)});
        ++i;
      }
    } else if (c == '.') {
      tokens.push_back({Token::point, "."});
      ++i;
    } else if (c == ',') {
      tokens.push_back({Token::comma, ","});
      ++i;
    } else if (c == '%') {
      tokens.push_back({Token::percent, "%"});
      ++i;
    } else if (c == '@') {
      tokens.push_back({Token::textValue, {}});
      ++i;
    } else if (lower == 'e' && i + 1 < s.size() && (s[i + 1] == '+' || s[i + 1] == '-')) {
      tokens.push_back({Token::exponent, std::string(1, s[i + 1])});
      i += 2;
    } else if (startsWithIgnoringCase(s.substr(i), "general")) {
      tokens.push_back({Token::general, {}});
      i += 7;
    } else if (startsWithIgnoringCase(s.substr(i), "am/pm") ||
               startsWithIgnoringCase(s.substr(i), "a/p")) {
      const std::size_t n = startsWithIgnoringCase(s.substr(i), "am/pm") ? 5 : 3;
      tokens.push_back({Token::ampm, std::string(s.substr(i, n))});
      section.dateTime = true;
      i += n;
    } else if (lower == 'y' || lower == 'm' || lower == 'd' || lower == 'h' || lower == 's') {
      const int n = run(s, i, lower);
      const Token::Kind kind = lower == 'y'   ? Token::year
                               : lower == 'm' ? Token::month
                               : lower == 'd' ? Token::day
                               : lower == 'h' ? Token::hour
                                              : Token::second;
      tokens.push_back({kind, {}, n});
      section.dateTime = true;
    } else if (c == '/' && !tokens.empty() && tokens.back().kind == Token::digit) {
      section.fraction = true;
      ++i;
    } else {
      const std::size_t n = sequenceLength(static_cast<unsigned char>(c));
      addLiteral(tokens, s.substr(i, n));
      i += n;
    }
  }
  if (section.dateTime) {
    // An m right after an hour, or right before a second, counts minutes.
    for (std::size_t k = 0; k < tokens.size(); ++k) {
      if (tokens[k].kind != Token::month || tokens[k].count > 2) continue;
      bool afterHour = false;
      for (std::size_t b = k; b-- > 0;) {
        if (tokens[b].kind == Token::literal) continue;
        afterHour = tokens[b].kind == Token::hour || tokens[b].kind == Token::elapsedHours;
        break;
      }
      bool beforeSecond = false;
      for (std::size_t a = k + 1; a < tokens.size(); ++a) {
        if (tokens[a].kind == Token::literal) continue;
        beforeSecond = tokens[a].kind == Token::second || tokens[a].kind == Token::elapsedSeconds;
        break;
      }
      if (afterHour || beforeSecond) tokens[k].kind = Token::minute;
    }
  }
  return section;
}

std::string twoDigits(long long n) {
  char buffer[24];
  const int len = std::snprintf(buffer, sizeof buffer, "%02lld", n);
  return std::string(buffer, len);
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
void civilFromDays(long long z, int& year, int& month, int& day) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

constexpr const char* kMonthNames[] = {"January",   "February", "March",    "April",
                                       "May",       "June",     "July",     "August",
                                       "September", "October",  "November", "December"};
constexpr const char* kDayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                     "Thursday", "Friday", "Saturday"};

std::optional<std::string> dateTimeSectionText(double value, const Section& section,
                                               DateSystem system) {
  // Serial day counts up to the year 9999, as spreadsheets show them.
  if (!(value >= 0) || value >= 2958466) return std::nullopt;
  int subDigits = 0;
  bool hasAmPm = false;
  for (const Token& t : section.tokens) {
    if (t.kind == Token::subsecond) subDigits = std::max(subDigits, std::min(t.count, 3));
    if (t.kind == Token::ampm) hasAmPm = true;
  }
  long long scale = 1;
  for (int k = 0; k < subDigits; ++k) scale *= 10;
  // Time of day rounded to the precision shown, carried into the day.
  const long long totalUnits = std::llround(value * 86400.0 * static_cast<double>(scale));
  const long long units = totalUnits % (86400 * scale);
  const long long serial = totalUnits / (86400 * scale);
  const long long seconds = units / scale;
  const long long fraction = units % scale;
  const int hour = static_cast<int>(seconds / 3600);
  const int minute = static_cast<int>(seconds / 60 % 60);
  const int second = static_cast<int>(seconds % 60);

  int year = 1900, month = 1, day = 0, weekday = 6;
  if (system == DateSystem::from1904) {
    civilFromDays(serial - 24107, year, month, day);  // 1904-01-01 is 24107 days before 1970
    weekday = static_cast<int>((serial + 5) % 7);
  } else if (serial == 60) {
    month = 2;  // the leap day 1900 never had
    day = 29;
    weekday = 3;
  } else if (serial == 0) {
    day = 0;  // "1900-01-00", day zero of the count
  } else {
    civilFromDays(serial - (serial < 60 ? 25568 : 25569), year, month, day);
    weekday = static_cast<int>((serial + 6) % 7);
  }

  std::string out;
  for (const Token& t : section.tokens) {
    switch (t.kind) {
      case Token::year:
        out += t.count <= 2 ? twoDigits(year % 100) : std::to_string(year);
        break;
      case Token::month:
        if (t.count == 1)
          out += std::to_string(month);
        else if (t.count == 2)
          out += twoDigits(month);
        else if (t.count == 3)
          out += std::string(kMonthNames[month - 1]).substr(0, 3);
        else if (t.count == 5)
          out += kMonthNames[month - 1][0];
        else
          out += kMonthNames[month - 1];
        break;
      case Token::day:
        if (t.count == 1)
          out += std::to_string(day);
        else if (t.count == 2)
          out += twoDigits(day);
        else if (t.count == 3)
          out += std::string(kDayNames[weekday]).substr(0, 3);
        else
          out += kDayNames[weekday];
        break;
      case Token::hour: {
        int h = hour;
        if (hasAmPm) h = hour % 12 == 0 ? 12 : hour % 12;
        out += t.count == 1 ? std::to_string(h) : twoDigits(h);
        break;
      }
      case Token::minute:
        out += t.count == 1 ? std::to_string(minute) : twoDigits(minute);
        break;
      case Token::second:
        out += t.count == 1 ? std::to_string(second) : twoDigits(second);
        break;
      case Token::subsecond: {
        std::string digits = std::to_string(fraction + scale).substr(1);
        digits.resize(static_cast<std::size_t>(t.count), '0');
        out += '.';
        out += digits;
        break;
      }
      case Token::ampm: {
        const bool pm = hour >= 12;
        if (t.text.size() == 5) {
          out += pm ? (std::isupper(static_cast<unsigned char>(t.text[3])) ? "PM" : "pm")
                    : (std::isupper(static_cast<unsigned char>(t.text[0])) ? "AM" : "am");
        } else {
          out += pm ? t.text[2] : t.text[0];
        }
        break;
      }
      case Token::elapsedHours:
      case Token::elapsedMinutes:
      case Token::elapsedSeconds: {
        const long long total = totalUnits / scale;
        const long long n = t.kind == Token::elapsedHours     ? total / 3600
                            : t.kind == Token::elapsedMinutes ? total / 60
                                                              : total;
        std::string digits = std::to_string(n);
        if (static_cast<int>(digits.size()) < t.count) {
          digits.insert(0, static_cast<std::size_t>(t.count) - digits.size(), '0');
        }
        out += digits;
        break;
      }
      case Token::point:
      case Token::comma:
      case Token::percent:
      case Token::literal:
        out += t.text;
        break;
      case Token::digit:
        out += t.text == "0" ? "0" : "";
        break;
      default:
        break;
    }
  }
  return out;
}

// `v` (not negative) rounded to `digits` decimals with halves away from zero, as spreadsheets
// round, on the value's first 15 significant digits (so 1.005 rounds up as it is written).
double roundHalfUp(double v, int digits) {
  const double scale = std::pow(10.0, digits);
  const double scaled = v * scale;
  if (!(scaled < 1e15)) return v;
  return std::round(fifteenDigits(scaled)) / scale;
}

// `v` (not negative) in fixed notation with `decimals` decimals, of which only the first 15
// significant digits are the value's (rounded there), the rest zeros.
std::string fifteenDigitFixed(double v, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.14e", v);  // d.dddddddddddddde+XX
  std::string digits(1, buffer[0]);
  digits.append(buffer + 2, 14);
  const int exponent = std::atoi(std::strchr(buffer, 'e') + 1);
  const int intLength = exponent + 1;
  std::string intPart, fracPart;
  if (intLength > 0) {
    intPart = digits.substr(0, static_cast<std::size_t>(std::min(intLength, 15)));
    if (intLength > 15) intPart.append(static_cast<std::size_t>(intLength - 15), '0');
    if (intLength < 15) fracPart = digits.substr(static_cast<std::size_t>(intLength));
  } else {
    intPart = "0";
    fracPart = std::string(static_cast<std::size_t>(-intLength), '0') + digits;
  }
  fracPart.resize(static_cast<std::size_t>(decimals), '0');
  return decimals > 0 ? intPart + "." + fracPart : intPart;
}

// Inserts thousands separators into a string of digits.
std::string grouped(const std::string& digits) {
  std::string out;
  const std::size_t n = digits.size();
  for (std::size_t k = 0; k < n; ++k) {
    if (k > 0 && (n - k) % 3 == 0) out += ',';
    out += digits[k];
  }
  return out;
}

std::optional<std::string> numberSectionText(double magnitude, const Section& section) {
  if (section.fraction) return std::nullopt;
  const auto& tokens = section.tokens;
  // The layout: integer placeholders, fraction placeholders (after the point), exponent digits.
  std::size_t pointAt = tokens.size();
  std::size_t exponentAt = tokens.size();
  std::size_t lastDigit = tokens.size();
  for (std::size_t k = 0; k < tokens.size(); ++k) {
    if (tokens[k].kind == Token::point && pointAt == tokens.size() && exponentAt == tokens.size())
      pointAt = k;
    if (tokens[k].kind == Token::exponent && exponentAt == tokens.size()) exponentAt = k;
    if (tokens[k].kind == Token::digit && k < exponentAt) lastDigit = k;
  }
  std::string intPattern, fracPattern, expPattern;
  bool grouping = false;
  int percents = 0;
  int scalingCommas = 0;
  for (std::size_t k = 0; k < tokens.size(); ++k) {
    const Token& t = tokens[k];
    if (t.kind == Token::percent) ++percents;
    if (t.kind == Token::digit) {
      (k > exponentAt ? expPattern : k > pointAt ? fracPattern : intPattern) += t.text;
    }
    if (t.kind == Token::comma && k < pointAt && k < exponentAt) {
      // A comma between integer placeholders groups thousands; commas right after the last
      // integer placeholder divide by a thousand each.
      const bool digitBefore = k > 0 && !intPattern.empty();
      bool digitAfter = false;
      for (std::size_t a = k + 1; a < std::min(pointAt, exponentAt); ++a) {
        if (tokens[a].kind == Token::digit) digitAfter = true;
      }
      if (digitBefore && digitAfter)
        grouping = true;
      else if (digitBefore && (lastDigit == tokens.size() || k > lastDigit))
        ++scalingCommas;
    } else if (t.kind == Token::comma && k > pointAt && k < exponentAt && k > lastDigit) {
      ++scalingCommas;  // "#.0,," after the decimals: also a thousand each
    }
  }
  double v = magnitude;
  for (int k = 0; k < percents; ++k) v *= 100;
  for (int k = 0; k < scalingCommas; ++k) v /= 1000;

  const int fracDigits = static_cast<int>(fracPattern.size());
  long long exponent = 0;
  if (exponentAt != tokens.size() && v != 0) {
    const long long intCount = std::max<long long>(1, static_cast<long long>(intPattern.size()));
    exponent = static_cast<long long>(std::floor(std::log10(v)));
    if (intCount > 1 && intPattern.find('#') != std::string::npos) {
      // Engineering notation (##0.0E+0): exponents in steps of the integer placeholders.
      exponent =
          static_cast<long long>(std::floor(static_cast<double>(exponent) / intCount)) * intCount;
    } else {
      exponent -= intCount - 1;
    }
    v /= std::pow(10.0, static_cast<double>(exponent));
    if (roundHalfUp(v, fracDigits) >= std::pow(10.0, static_cast<double>(intCount))) {
      v /= 10;
      ++exponent;
    }
  }
  if (!std::isfinite(v) || v >= 1e300) return std::nullopt;
  char buffer[400];
  v = fifteenDigits(v);
  std::snprintf(buffer, sizeof buffer, "%.*f", fracDigits, roundHalfUp(v, fracDigits));
  std::string fixed(buffer);
  // Digits beyond the fifteenth significant one are noise of the binary value: spreadsheets
  // show the value rounded to fifteen digits, and zeros after them.
  {
    int significant = 0;
    for (char c : fixed) {
      if (c < '0' || c > '9' || (significant == 0 && c == '0')) continue;
      ++significant;
    }
    if (significant > 15) fixed = fifteenDigitFixed(roundHalfUp(v, fracDigits), fracDigits);
  }
  const std::size_t dot = fixed.find('.');
  std::string intDigits = fixed.substr(0, dot);
  std::string fracDigitsText = dot == std::string::npos ? std::string() : fixed.substr(dot + 1);
  if (intDigits == "0") intDigits.clear();
  // Integer placeholders: 0 pads with zeros, ? with spaces, # with nothing.
  if (intDigits.size() < intPattern.size()) {
    const std::size_t missing = intPattern.size() - intDigits.size();
    std::string pad;
    for (std::size_t k = 0; k < missing; ++k) {
      const char p = intPattern[k];
      if (p == '0')
        pad += '0';
      else if (p == '?')
        pad += ' ';
    }
    intDigits.insert(0, pad);
  }
  // Fraction placeholders from the right: # drops a trailing zero, ? turns it into a space.
  for (std::size_t k = fracPattern.size(); k-- > 0;) {
    if (fracDigitsText[k] != '0' || fracPattern[k] == '0') break;
    if (fracPattern[k] == '#')
      fracDigitsText.erase(k, 1);
    else
      fracDigitsText[k] = ' ';
  }
  if (grouping) {
    const std::size_t firstDigit = intDigits.find_first_not_of(' ');
    if (firstDigit != std::string::npos) {
      intDigits = intDigits.substr(0, firstDigit) + grouped(intDigits.substr(firstDigit));
    }
  }

  std::string out;
  bool intDone = false;
  std::size_t fracPos = 0;
  std::size_t expPos = 0;
  std::string expDigits;
  for (std::size_t k = 0; k < tokens.size(); ++k) {
    const Token& t = tokens[k];
    switch (t.kind) {
      case Token::digit:
        if (k > exponentAt) {
          if (expPos == 0) {
            expDigits = std::to_string(std::llabs(exponent));
            if (expDigits.size() < expPattern.size()) {
              expDigits.insert(0, expPattern.size() - expDigits.size(), '0');
            }
            out += expDigits;
          }
          ++expPos;
        } else if (k > pointAt) {
          if (fracPos < fracDigitsText.size()) out += fracDigitsText[fracPos];
          ++fracPos;
        } else if (!intDone) {
          out += intDigits;
          intDone = true;
        }
        break;
      case Token::point:
        if (!intDone) {
          out += intDigits;
          intDone = true;
        }
        out += '.';
        break;
      case Token::exponent:
        if (!intDone) {
          out += intDigits;
          intDone = true;
        }
        out += 'E';
        if (exponent < 0)
          out += '-';
        else if (t.text == "+")
          out += '+';
        break;
      case Token::comma:
        break;
      case Token::general:
        out += generalNumberText(magnitude);
        break;
      case Token::percent:
      case Token::literal:
        out += t.text;
        break;
      default:
        break;
    }
  }
  return out;
}

// A fraction section ("# ?/?", "# ??/??", "?/8", "0 #/##"): the whole part where the section has
// one, then numerator and denominator, each as wide as its placeholders (question marks pad
// with spaces). The fraction is the closest one whose denominator has as many digits as the
// placeholders, or the fixed denominator written in the section. Nothing when the section is of
// another shape.
std::optional<std::string> fractionText(double v, std::string_view code) {
  // The placeholders and what lies between them, colours and conditions left out.
  std::string plain;
  for (std::size_t i = 0; i < code.size(); ++i) {
    if (code[i] == '[') {
      const std::size_t close = code.find(']', i);
      if (close == std::string_view::npos) return std::nullopt;
      i = close;
    } else if (code[i] == '\\' || code[i] == '_') {
      ++i;
      plain += ' ';
    } else if (code[i] == '"') {
      const std::size_t close = code.find('"', i + 1);
      if (close == std::string_view::npos) return std::nullopt;
      plain.append(code.substr(i + 1, close - i - 1));
      i = close;
    } else {
      plain += code[i];
    }
  }
  const std::size_t slash = plain.find('/');
  if (slash == std::string::npos) return std::nullopt;
  auto isPlaceholder = [](char c) { return c == '#' || c == '0' || c == '?'; };
  std::size_t numEnd = slash;
  while (numEnd > 0 && plain[numEnd - 1] == ' ') --numEnd;
  std::size_t numStart = numEnd;
  while (numStart > 0 && isPlaceholder(plain[numStart - 1])) --numStart;
  if (numStart == numEnd) return std::nullopt;
  const std::string numPattern = plain.substr(numStart, numEnd - numStart);
  std::size_t denStart = slash + 1;
  while (denStart < plain.size() && plain[denStart] == ' ') ++denStart;
  std::size_t denEnd = denStart;
  while (denEnd < plain.size() && (isPlaceholder(plain[denEnd]) || std::isdigit(static_cast<unsigned char>(plain[denEnd])))) ++denEnd;
  const std::string denPattern = plain.substr(denStart, denEnd - denStart);
  if (denPattern.empty() || denPattern.size() > 6) return std::nullopt;
  // The whole part: placeholders before the numerator, parted from it by a space.
  std::size_t wholeEnd = numStart;
  while (wholeEnd > 0 && plain[wholeEnd - 1] == ' ') --wholeEnd;
  std::size_t wholeStart = wholeEnd;
  while (wholeStart > 0 && isPlaceholder(plain[wholeStart - 1])) --wholeStart;
  const bool hasWhole = wholeStart < wholeEnd && wholeEnd < numStart;
  const std::string prefix = plain.substr(0, hasWhole ? wholeStart : numStart);
  const std::string suffix = plain.substr(denEnd);
  if (prefix.find_first_of("#0?") != std::string::npos) return std::nullopt;

  double whole = hasWhole ? std::floor(v) : 0;
  const double rest = v - whole;
  long long num = 0, den = 1;
  if (std::isdigit(static_cast<unsigned char>(denPattern[0]))) {
    den = std::max(1LL, std::atoll(denPattern.c_str()));
    num = std::llround(rest * static_cast<double>(den));
  } else {
    long long maxDen = 1;
    for (std::size_t k = 0; k < denPattern.size(); ++k) maxDen *= 10;
    --maxDen;
    double best = 2;
    for (long long d = 1; d <= maxDen; ++d) {
      const long long n = std::llround(rest * static_cast<double>(d));
      const double error = std::fabs(rest - static_cast<double>(n) / static_cast<double>(d));
      if (error < best - 1e-12) {
        best = error;
        num = n;
        den = d;
      }
    }
  }
  if (hasWhole && num == den) {
    whole += 1;
    num = 0;
  }
  auto padded = [](std::string digits, const std::string& pattern, bool left) {
    if (digits.size() < pattern.size()) {
      const std::size_t missing = pattern.size() - digits.size();
      std::string pad;
      for (std::size_t k = 0; k < missing; ++k) {
        const char p = left ? pattern[k] : pattern[pattern.size() - missing + k];
        pad += p == '0' ? '0' : p == '?' ? ' ' : '\0';
      }
      pad.erase(std::remove(pad.begin(), pad.end(), '\0'), pad.end());
      digits = left ? pad + digits : digits + pad;
    }
    return digits;
  };
  std::string out = prefix;
  if (hasWhole) {
    const std::string wholePattern = plain.substr(wholeStart, wholeEnd - wholeStart);
    std::string wholeDigits = whole == 0 ? std::string() : std::to_string(static_cast<long long>(whole));
    out += padded(wholeDigits, wholePattern, true);
    if (num == 0 && whole != 0) {
      // A whole number: the fraction's room stays blank.
      out += std::string(plain.size() - wholeEnd - suffix.size(), ' ');
      return out + suffix;
    }
    out += plain.substr(wholeEnd, numStart - wholeEnd);
  }
  out += padded(std::to_string(num), numPattern, true);
  out += plain.substr(numEnd, denStart - numEnd);
  out += std::isdigit(static_cast<unsigned char>(denPattern[0]))
             ? denPattern
             : padded(std::to_string(den), denPattern, false);
  return out + suffix;
}

}  // namespace

std::string_view builtinNumberFormat(std::size_t id) noexcept {
  switch (id) {
    case 0:
      return "General";
    case 1:
      return "0";
    case 2:
      return "0.00";
    case 3:
      return "#,##0";
    case 4:
      return "#,##0.00";
    case 9:
      return "0%";
    case 10:
      return "0.00%";
    case 11:
      return "0.00E+00";
    case 12:
      return "# ?/?";
    case 13:
      return "# ?\?/?\?";  // "# ??/??"; the escapes keep "??/" from being a trigraph
    case 14:
      return "m/d/yyyy";
    case 15:
      return "d-mmm-yy";
    case 16:
      return "d-mmm";
    case 17:
      return "mmm-yy";
    case 18:
      return "h:mm AM/PM";
    case 19:
      return "h:mm:ss AM/PM";
    case 20:
      return "h:mm";
    case 21:
      return "h:mm:ss";
    case 22:
      return "m/d/yyyy h:mm";
    case 27:
    case 36:
    case 50:
    case 57:
      return "yyyy\"年\"m\"月\"";
    case 28:
    case 29:
    case 51:
    case 52:
    case 53:
    case 54:
    case 58:
      return "m\"月\"d\"日\"";
    case 30:
      return "m-d-yy";
    case 31:
    case 55:
    case 56:
      return "yyyy\"年\"m\"月\"d\"日\"";
    case 32:
      return "h\"时\"mm\"分\"";
    case 33:
      return "h\"时\"mm\"分\"ss\"秒\"";
    case 37:
      return "#,##0 ;(#,##0)";
    case 38:
      return "#,##0 ;[Red](#,##0)";
    case 39:
      return "#,##0.00;(#,##0.00)";
    case 40:
      return "#,##0.00;[Red](#,##0.00)";
    case 45:
      return "mm:ss";
    case 46:
      return "[h]:mm:ss";
    case 47:
      return "mm:ss.0";
    case 48:
      return "##0.0E+0";
    case 49:
      return "@";
    default:
      return {};
  }
}

std::string formattedNumberText(double value, std::string_view code, DateSystem system) {
  if (code.empty() || equalsIgnoringCase(code, "general") || !std::isfinite(value)) {
    return generalNumberText(value);
  }
  // The system's long date and time formats, which Excel writes as a locale of their own.
  if (code.find("[$-F800]") != std::string_view::npos) code = "dddd, mmmm d, yyyy";
  if (code.find("[$-F400]") != std::string_view::npos) code = "h:mm:ss AM/PM";
  // A sheet's cells mostly share a few codes: the sections of the last code are kept.
  struct Parsed {
    std::string code;
    std::vector<std::string> parts;
    std::vector<Section> sections;
  };
  thread_local Parsed cache;
  if (cache.code != code || cache.parts.empty()) {
    cache.code = std::string(code);
    cache.parts.clear();
    cache.sections.clear();
    for (std::string_view part : splitSections(code)) {
      cache.parts.emplace_back(part);
      cache.sections.push_back(parseSection(part));
    }
  }
  const std::vector<std::string>& parts = cache.parts;
  // Sections: positive (and all); negative; zero; text. A negative value under its own section
  // shows without its sign, which the section writes itself when it wants one. Sections with
  // conditions apply to the values that meet them: the first, else the second, else the next
  // one (the third when the first two both have a condition).
  std::size_t pick = 0;
  bool sign = value < 0;
  const Section& first = cache.sections[0];
  const Section* second = parts.size() >= 2 ? &cache.sections[1] : nullptr;
  if (!first.condition.empty() || (second && !second->condition.empty())) {
    if (first.meets(value)) {
      pick = 0;
    } else if (second && second->meets(value)) {
      pick = 1;
    } else if (second) {
      pick = !first.condition.empty() && !second->condition.empty() && parts.size() >= 3 ? 2 : 1;
    } else {
      return generalNumberText(value);
    }
    const Section& chosen = pick == 0 ? first : *second;
    sign = value < 0 && !(pick < 2 && chosen.forNegatives());
  } else if (value < 0 && parts.size() >= 2) {
    pick = 1;
    sign = false;
  } else if (value == 0 && parts.size() >= 3) {
    pick = 2;
  }
  const Section& section = cache.sections[pick];
  if (section.fraction) {
    if (auto text = fractionText(std::fabs(value), parts[pick])) return sign ? "-" + *text : *text;
    return generalNumberText(value);
  }
  if (section.dateTime) {
    if (value < 0 && pick == 0) return generalNumberText(value);
    auto text = dateTimeSectionText(std::fabs(value), section, system);
    return text ? *text : generalNumberText(value);
  }
  bool hasNumber = false;
  for (const Token& t : section.tokens) {
    if (t.kind == Token::digit || t.kind == Token::general) hasNumber = true;
  }
  std::optional<std::string> text;
  if (hasNumber) {
    text = numberSectionText(std::fabs(value), section);
  } else {
    // A section of literals only (a boolean's "TRUE";"TRUE";"FALSE", a zero shown as "-").
    text.emplace();
    for (const Token& t : section.tokens) {
      if (t.kind == Token::literal || t.kind == Token::percent) *text += t.text;
      if (t.kind == Token::textValue) *text += generalNumberText(value);
    }
    sign = false;
  }
  if (!text) return generalNumberText(value);
  return sign ? "-" + *text : *text;
}

std::string formattedText(std::string_view text, std::string_view code) {
  const auto parts = splitSections(code);
  std::string_view sectionCode;
  if (parts.size() >= 4) {
    sectionCode = parts[3];
  } else if (parts.size() == 1 && code.find('@') != std::string_view::npos) {
    sectionCode = parts[0];
  } else {
    return std::string(text);
  }
  // An empty text section (";;;" hides every value) shows nothing.
  if (sectionCode.empty()) return {};
  const Section section = parseSection(sectionCode);
  std::string out;
  bool shown = false;
  for (const Token& t : section.tokens) {
    if (t.kind == Token::literal) out += t.text;
    if (t.kind == Token::textValue) {
      out += text;
      shown = true;
    }
  }
  // A text section without @ shows its literals instead of the text.
  return shown || !out.empty() ? out : std::string(text);
}

}  // namespace dupsweep::sheet
