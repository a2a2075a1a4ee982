#include "engine/rescale.h"

#include <charconv>
#include <cmath>

#include "model/records.h"

namespace dupsweep {
namespace {

using Wide = __int128;

bool isNumberKind(db::ValueKind kind) {
  return kind == db::ValueKind::Integer || kind == db::ValueKind::Floating ||
         kind == db::ValueKind::Decimal;
}

// A number as an exact decimal: mantissa x 10^exponent, and the decimals it is stored with.
struct Exact {
  Wide mantissa = 0;
  int exponent = 0;
  int decimals = 0;
  bool ok = false;  // false for what has no exact decimal here (NaN, infinity, over 36 digits)
};

// Reads "-1234.50", "4.2e+04": sign, digits with at most one point, an optional exponent.
Exact parseDecimal(std::string_view text) {
  Exact x;
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int digits = 0, fraction = 0;
  bool point = false, any = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (c < '0' || c > '9') break;
    any = true;
    if (point) ++fraction;
    if (x.mantissa == 0 && c == '0') {
      continue;  // leading zeros add no digit
    }
    if (++digits > 36) return Exact{};
    x.mantissa = x.mantissa * 10 + (c - '0');
  }
  if (!any) return Exact{};
  int power = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && text[i] == '+') ++i;
    const auto [end, ec] = std::from_chars(text.data() + i, text.data() + text.size(), power);
    if (ec != std::errc() || power < -400 || power > 400) return Exact{};
    i = static_cast<std::size_t>(end - text.data());
  }
  if (i != text.size()) return Exact{};
  x.exponent = power - fraction;
  x.decimals = x.exponent < 0 ? -x.exponent : 0;
  if (negative) x.mantissa = -x.mantissa;
  x.ok = true;
  return x;
}

Exact exactOf(const db::CellView& v) {
  switch (v.kind) {
    case db::ValueKind::Integer: {
      Exact x;
      x.mantissa = v.integer;
      x.ok = true;
      return x;
    }
    case db::ValueKind::Decimal:
      return parseDecimal(v.bytes);
    case db::ValueKind::Floating: {
      if (!std::isfinite(v.floating)) return Exact{};
      char text[40];
      const auto [end, ec] = std::to_chars(text, text + sizeof text, v.floating);
      if (ec != std::errc()) return Exact{};
      Exact x = parseDecimal(std::string_view(text, static_cast<std::size_t>(end - text)));
      // The decimals a floating value shows: its shortest text's, at most six.
      if (x.decimals > 6) x.decimals = 6;
      return x;
    }
    default:
      return Exact{};
  }
}

Wide power10(int n) {
  Wide p = 1;
  for (int i = 0; i < n; ++i) p *= 10;
  return p;
}

int digitsOf(Wide m) {
  if (m < 0) m = -m;
  int n = 0;
  while (m != 0) {
    m /= 10;
    ++n;
  }
  return n;
}

// m x 10^shift as an integer, rounded half away from zero; nullopt when it would leave 37 digits.
std::optional<Wide> shifted(Wide m, int shift) {
  if (m == 0) return Wide{0};
  if (shift >= 0) {
    if (digitsOf(m) + shift > 37) return std::nullopt;
    return m * power10(shift);
  }
  if (-shift > 37) return Wide{0};  // far below half a unit
  const Wide divisor = power10(-shift);
  const bool negative = m < 0;
  const Wide magnitude = negative ? -m : m;
  Wide quotient = magnitude / divisor;
  if ((magnitude % divisor) * 2 >= divisor) ++quotient;
  return negative ? -quotient : quotient;
}

bool isZero(const db::CellView& v) {
  switch (v.kind) {
    case db::ValueKind::Integer:
      return v.integer == 0;
    case db::ValueKind::Floating:
      return v.floating == 0;
    case db::ValueKind::Decimal:
      for (char c : v.bytes)
        if (c >= '1' && c <= '9') return false;
      return true;
    default:
      return false;
  }
}

// a = round(b x 10^k, decimals of a), both numbers other than zero.
bool roundsTo(const db::CellView& a, const db::CellView& b, int k) {
  const Exact x = exactOf(a);
  const Exact y = exactOf(b);
  if (!x.ok || !y.ok) return false;
  const int d = x.decimals;
  // a x 10^d must be a whole number: a floating value with more than six decimals is none.
  if (x.exponent + d < 0) return false;
  const std::optional<Wide> left = shifted(x.mantissa, x.exponent + d);
  const std::optional<Wide> right = shifted(y.mantissa, y.exponent + k + d);
  return left && right && *left == *right;
}

}  // namespace

void appendScaleInvariantKey(const db::CellView& value, std::string& out) {
  if (value.kind == db::ValueKind::Null) {
    out += 'N';
  } else if (isNumberKind(value.kind)) {
    if (isZero(value))
      out += 'Z';
    else if (value.kind == db::ValueKind::Floating && value.floating != value.floating)
      out += 'X';
    else
      out += (value.kind == db::ValueKind::Integer    ? value.integer < 0
              : value.kind == db::ValueKind::Floating ? value.floating < 0
                                                      : value.bytes.find('-') == 0)
                 ? 'M'
                 : 'P';
  } else {
    db::appendValueKey(value, out);
  }
}

bool isNonZeroNumber(const db::CellView& value) {
  return isNumberKind(value.kind) && !isZero(value);
}

double magnitudeOf(const db::CellView& value) {
  switch (value.kind) {
    case db::ValueKind::Integer:
      return std::fabs(static_cast<double>(value.integer));
    case db::ValueKind::Floating:
      return std::fabs(value.floating);
    case db::ValueKind::Decimal: {
      std::string_view text = value.bytes;
      if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
      double d = 0;
      std::from_chars(text.data(), text.data() + text.size(), d);
      return d;
    }
    default:
      return 0;
  }
}

bool isRescaledValue(const db::CellView& a, const db::CellView& b, int exponent) {
  const bool numberA = isNumberKind(a.kind), numberB = isNumberKind(b.kind);
  if (numberA != numberB) return false;
  if (!numberA) return db::sameValue(a, b);
  const bool zeroA = isZero(a), zeroB = isZero(b);
  return zeroA == zeroB && (zeroA || roundsTo(a, b, exponent));
}

bool isRescaledCopy(const db::RowSet& copy, const db::RowSet& original, int exponent) {
  if (copy.rowCount() != original.rowCount() || copy.columnCount() != original.columnCount() ||
      copy.rowCount() == 0)
    return false;
  int nonZero = 0;
  for (int r = 0; r < copy.rowCount(); ++r)
    for (int c = kFirstFigureColumn; c < copy.columnCount(); ++c) {
      const db::CellView a = copy.view(r, c);
      const db::CellView b = original.view(r, c);
      const bool numberA = isNumberKind(a.kind), numberB = isNumberKind(b.kind);
      if (numberA != numberB) return false;
      if (!numberA) {
        if (!db::sameValue(a, b)) return false;
        continue;
      }
      const bool zeroA = isZero(a), zeroB = isZero(b);
      if (zeroA != zeroB) return false;
      if (zeroA) continue;
      if (!roundsTo(a, b, exponent)) return false;
      ++nonZero;
    }
  return nonZero >= 3;
}

std::optional<int> rescaleExponent(const db::RowSet& s, const db::RowSet& d) {
  for (int k = 1; k <= kMaxScaleExponent; ++k)
    for (int e : {k, -k})
      if (isRescaledCopy(s, d, e)) return e;
  for (int k = 1; k <= kMaxScaleExponent; ++k)
    for (int e : {k, -k})
      if (isRescaledCopy(d, s, e)) return -e;
  return std::nullopt;
}

std::string scaleFactorText(int exponent) {
  std::string text = exponent > 0 ? "×1" : "÷1";
  text.append(static_cast<std::size_t>(exponent > 0 ? exponent : -exponent), '0');
  return text;
}

double scaleFactor(int exponent) { return std::pow(10.0, exponent); }

}  // namespace dupsweep
