#pragma once
// Rescaled copies: the same figures in another unit of money. One sheet is a rescaled copy of
// another when both have the same rows and figure columns, the same NULLs, texts and other values
// that are no numbers in the same cells, a zero wherever the other has a zero, and every other
// number a of the copy equal to b x 10^k of the original (k = +-1 to +-4, one k for the sheet)
// once b x 10^k is rounded, half away from zero, to the decimals a is stored with: a decimal's
// scale, for a floating value the decimals its shortest text shows (at most 6), none for an
// integer. A sheet with fewer than three non-zero numbers is never a rescaled copy. The values are
// worked with as exact decimals, so 0.1 x 10 is 1 and a rounding is never a floating-point one.

#include <optional>
#include <string>

#include "platform/db/db.h"

namespace dupsweep {

// The exponents of ten tried: 10^1 to 10^kMaxScaleExponent and their inverses.
inline constexpr int kMaxScaleExponent = 4;

// Appends a key of what a rescaling and the rounding after it leave unchanged in a value: NULL,
// a zero, the sign of any other number, and every value that is no number as itself (the key of
// db::appendValueKey). Two sheets of which one is a rescaled copy of the other have the same keys
// cell by cell.
void appendScaleInvariantKey(const db::CellView& value, std::string& out);

// Whether the value is a number (integer, decimal, floating) other than zero.
bool isNonZeroNumber(const db::CellView& value);

// The absolute value of a number as a double (0 for what is no number). For a copy a of an
// original b with exponent k, the largest magnitude of a lies within 0.5 of the largest of b
// times 10^k, since no rounding moves a value by more than half a unit of its last decimal.
double magnitudeOf(const db::CellView& value);

// Whether the value `a` of a copy is the value `b` of its original times 10^exponent by the rule
// above (a value that is no number: the same value).
bool isRescaledValue(const db::CellView& a, const db::CellView& b, int exponent);

// Whether every figure of `copy` (columns from kFirstFigureColumn on) is its cell of `original`
// times 10^exponent by the rule above, and the sheet has at least three non-zero numbers.
// Requires the same row count and columns of both; exponent in +-1..+-kMaxScaleExponent.
bool isRescaledCopy(const db::RowSet& copy, const db::RowSet& original, int exponent);

// The exponent e such that S's figures are D's x 10^e: S as the copy of D with k = 1, -1, 2, -2,
// ... (e = k), then D as the copy of S (e = -k); the first that holds. nullopt when none holds,
// the row counts or columns differ, or the sheet has fewer than three non-zero numbers.
std::optional<int> rescaleExponent(const db::RowSet& s, const db::RowSet& d);

// The factor 10^exponent as the operator reads it: "×1000", "÷10000".
std::string scaleFactorText(int exponent);

// The factor 10^exponent as a number: 1000, 0.001.
double scaleFactor(int exponent);

}  // namespace dupsweep
