#pragma once
// Typed values, views of them, their comparison, keys and display; callers include db.h.

#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace dupsweep::db {

// An exact decimal (SQL Server decimal, numeric, money) as the server's text ("1234.50").
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

using Value = std::variant<Null, std::int64_t, Decimal, double, std::string, Bytes, DateTime, bool>;

// (GCC's -Wshadow takes the scoped enumerator Bytes for a shadow of the type Bytes.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
enum class ValueKind { Null, Integer, Decimal, Floating, Text, Bytes, DateTime, Boolean };
#pragma GCC diagnostic pop
ValueKind kindOf(const Value& v) noexcept;

// NULL equals only NULL; text and bytes byte for byte; numbers, dates and flags by value (1234.50
// equals 1234.5). Different kinds are unequal, except integer, decimal and floating values.
bool sameValue(const Value& a, const Value& b);

// A grouping key: sameValue(a, b) implies equal keys (1, 1.0 and 1.00 alike, 0 and -0.0 alike).
// Equal keys do not imply equal values; whoever groups by keys confirms with sameValue.
void appendValueKey(const Value& v, std::string& out);

// A value seen where it is kept, without a copy; valid only while that stays as it is.
struct CellView {
  ValueKind kind = ValueKind::Null;
  std::int64_t integer = 0;  // Integer; Boolean as 0 or 1
  double floating = 0;       // Floating
  std::string_view bytes;    // Text, Bytes, Decimal (its digits), DateTime (its ISO text)
};
CellView viewOf(const Value& v) noexcept;
// Inline: a backend makes one per value it reads.
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
void appendValueKey(const CellView& v, std::string& out);
// For an integer or floating value, its kNumberKeySize-byte appendValueKey key; false, nothing
// written, for another kind.
inline constexpr std::size_t kNumberKeySize = 9;
inline bool writeNumberKey(const CellView& v, char* out) noexcept {
  double d = 0;
  if (v.kind == ValueKind::Floating)
    d = v.floating;
  else if (v.kind == ValueKind::Integer)
    // An integer equals a double only when the double holds exactly its value.
    d = static_cast<double>(v.integer);
  else
    return false;
  if (d == 0) d = 0;                                          // -0.0 becomes 0
  if (d != d) d = std::numeric_limits<double>::quiet_NaN();  // one NaN
  out[0] = 'N';
  std::memcpy(out + 1, &d, sizeof d);
  return true;
}

// Inline for two integers or two doubles, since a comparison run makes it per figure.
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

// As a grid shows it: shortest round-trip floating text, ISO dates, flags "1"/"0", bytes in hex,
// NULL as empty.
std::string displayText(const Value& v);
std::string displayText(const CellView& v);

// The double SQLite's printf('%!.20e', x) wrote as `text`, or nullopt when the text does not give
// back one double exactly (its digits past the seventeenth are not exact).
std::optional<double> doubleFromSqlitePrintf(std::string_view text);

}  // namespace dupsweep::db
