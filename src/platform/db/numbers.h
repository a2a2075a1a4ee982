#pragma once
// Number texts shared by the value functions and the backends.

#include <optional>
#include <string>
#include <string_view>

namespace dupsweep::db::detail {

// Canonical parts: no sign on zero, no leading or trailing zeros ("-001.50" -> -, "1", "5").
struct DecimalParts {
  bool negative = false;
  std::string_view whole;
  std::string_view fraction;
  bool operator==(const DecimalParts&) const = default;
};

// Parts of `[+-]digits[.digits]` (at least one digit, no blanks, no exponent); nullopt otherwise.
std::optional<DecimalParts> parseDecimal(std::string_view text) noexcept;

// Shortest round-trip text in fixed notation. Requires a finite `v`.
std::string fixedText(double v);

std::string shortestText(double v);

// Fixed notation for 1e-7 <= |v| < 1e16 and 0, scientific beyond.
std::string displayDouble(double v);

// What a SQLite column's declared type tells (DECIMAL/NUMERIC/MONEY, DATE/TIME, BIT/BOOLEAN), so
// that both SQLite routes give the kinds SQL Server would.
enum class Declared { Plain, Decimal, DateTime, Boolean };
Declared classifyDeclaredType(std::string_view declaredType) noexcept;

}  // namespace dupsweep::db::detail
