#pragma once
// The typed values a result holds, views of them without a copy, and their comparison, keys and
// display. Part of the database layer's interface; callers include platform/db/db.h.

#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace dupsweep::db {

// An exact decimal number (SQL Server decimal, numeric, money), kept as its decimal text exactly
// as the server gives it ("1234.50", "-0.5"), never through binary floating point.
struct Decimal {
  std::string digits;
  bool operator==(const Decimal&) const = default;
};
// A date, time or timestamp in ISO form ("2024-03-01 12:30:00").
struct DateTime {
  std::string iso;
  bool operator==(const DateTime&) const = default;
};
using Bytes = std::vector<unsigned char>;
struct Null {
  bool operator==(const Null&) const = default;
};

// One typed value of a result column. The alternative held is the value's kind.
using Value = std::variant<Null, std::int64_t, Decimal, double, std::string, Bytes, DateTime, bool>;

// (GCC's -Wshadow takes the scoped enumerator Bytes for a shadow of the type Bytes.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
enum class ValueKind { Null, Integer, Decimal, Floating, Text, Bytes, DateTime, Boolean };
#pragma GCC diagnostic pop
ValueKind kindOf(const Value& v) noexcept;

// Equality of typed values for comparison: NULL equals only NULL; text and bytes compare byte for
// byte; numbers, dates and flags compare by value exactly (1234.50 equals 1234.5). Values of two
// different kinds are unequal, except an integer, decimal or floating value against another of
// these, which compare by value.
bool sameValue(const Value& a, const Value& b);

// Appends to `out` a key of `v` for grouping values by the rule of sameValue: sameValue(a, b)
// implies equal keys, so NULL, each text and each number (by value: 1, 1.0 and the decimal 1.00
// alike, 0 and -0.0 alike) have one key each. Equal keys do not imply equal values (two numbers
// may share the nearest double); whoever groups by keys confirms with sameValue.
void appendValueKey(const Value& v, std::string& out);

// A value seen where it is kept (a backend's current row, or a Value), without a copy: its kind
// and what that kind holds. Valid only while what it views stays as it is.
struct CellView {
  ValueKind kind = ValueKind::Null;
  std::int64_t integer = 0;  // Integer; Boolean as 0 or 1
  double floating = 0;       // Floating
  std::string_view bytes;    // Text, Bytes, Decimal (its digits), DateTime (its ISO text)
};
CellView viewOf(const Value& v) noexcept;
// The Value a view shows. Inline: a backend makes one per value it reads.
inline Value valueOf(const CellView& v) {
  switch (v.kind) {
    case ValueKind::Integer:
      return v.integer;
    case ValueKind::Decimal:
      return Decimal{std::string(v.bytes)};
    case ValueKind::Floating:
      return v.floating;
    case ValueKind::Text:
      return std::string(v.bytes);
    case ValueKind::Bytes: {
      const auto* p = reinterpret_cast<const unsigned char*>(v.bytes.data());
      return Bytes(p, p + v.bytes.size());
    }
    case ValueKind::DateTime:
      return DateTime{std::string(v.bytes)};
    case ValueKind::Boolean:
      return v.integer != 0;
    case ValueKind::Null:
      break;
  }
  return Null{};
}
// appendValueKey of valueOf(v), without making the value.
void appendValueKey(const CellView& v, std::string& out);
// For an integer or floating value: writes the kNumberKeySize bytes of its appendValueKey key to
// `out` and gives true. False, nothing written, for a value of another kind. Inline, because a
// fingerprint of many numbers makes it per value.
inline constexpr std::size_t kNumberKeySize = 9;
inline bool writeNumberKey(const CellView& v, char* out) noexcept {
  double d = 0;
  if (v.kind == ValueKind::Floating)
    d = v.floating;
  else if (v.kind == ValueKind::Integer)
    // An integer equals a double only when the double holds exactly its value, which then is
    // its nearest double too.
    d = static_cast<double>(v.integer);
  else
    return false;
  if (d == 0) d = 0;                                          // -0.0 becomes 0
  if (d != d) d = std::numeric_limits<double>::quiet_NaN();  // one NaN
  out[0] = 'N';
  std::memcpy(out + 1, &d, sizeof d);
  return true;
}

// sameValue of the values two views show, without making them. Inline for the kinds most cells
// hold (two integers, two doubles), since a comparison run makes it per figure.
bool sameValueSlow(const CellView& a, const CellView& b);
inline bool sameValue(const CellView& a, const CellView& b) {
  if (a.kind == b.kind) {
    switch (a.kind) {
      case ValueKind::Integer:
        return a.integer == b.integer;
      case ValueKind::Floating:
        return a.floating == b.floating || (a.floating != a.floating && b.floating != b.floating);
      case ValueKind::Null:
        return true;
      case ValueKind::Text:
      case ValueKind::Bytes:
      case ValueKind::DateTime:
        return a.bytes == b.bytes;
      default:
        break;
    }
  }
  return sameValueSlow(a, b);
}

// Text of a value as shown in a grid: integers in decimal, decimals as stored, floating values in
// their shortest round-trip form, dates in ISO form, flags as "1"/"0" (true/false), bytes as
// hexadecimal; NULL as the empty text.
std::string displayText(const Value& v);
// displayText of the value a view shows.
std::string displayText(const CellView& v);

// The double that SQLite's printf('%!.20e', x) wrote as `text` ("3.00000000000000044408e-01",
// "-Inf"), or nullopt when the text does not give back one double exactly. SQLite's digits past
// the seventeenth are not exact, so the text is read as its nearest double, which SQLite's own
// printf must write again as the same text.
std::optional<double> doubleFromSqlitePrintf(std::string_view text);

}  // namespace dupsweep::db
