#pragma once
// Number texts shared by the value functions and the backends (internal to the database layer).

#include <optional>
#include <string>
#include <string_view>

namespace dupsweep::db::detail {

// A decimal literal split into canonical parts: no sign on zero, no leading zeros in `whole`,
// no trailing zeros in `fraction` ("-001.50" -> negative, "1", "5").
struct DecimalParts {
  bool negative = false;
  std::string_view whole;
  std::string_view fraction;
  bool operator==(const DecimalParts&) const = default;
};

// Parts of `[+-]digits[.digits]` (at least one digit, no blanks, no exponent); nullopt otherwise.
std::optional<DecimalParts> parseDecimal(std::string_view text) noexcept;

// Shortest text that reads back as `v`, in fixed notation (no exponent). Requires a finite `v`.
std::string fixedText(double v);

// Shortest text that reads back as `v` (fixed or scientific, whichever is shorter).
std::string shortestText(double v);

// A double as a grid shows it: the shortest text that reads back as `v`, in fixed notation for
// ordinary magnitudes (1e-7 <= |v| < 1e16, and 0), in scientific notation beyond them.
std::string displayDouble(double v);

// What a SQLite column's declared type tells about its values, so that a SQLite table declared
// like the host's SQL Server table yields values of the same kinds: DECIMAL/NUMERIC/MONEY columns
// give decimals, DATE/TIME columns dates, BIT/BOOLEAN columns flags. Both SQLite routes (the
// library and the SQLite ODBC driver) use it.
enum class Declared { Plain, Decimal, DateTime, Boolean };
Declared classifyDeclaredType(std::string_view declaredType) noexcept;

}  // namespace dupsweep::db::detail
