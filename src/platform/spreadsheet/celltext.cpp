#include "platform/spreadsheet/celltext.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace dupsweep::sheet {

std::string generalNumberText(double value) {
  if (std::isnan(value) || std::isinf(value)) return "#NUM!";
  if (value == 0) return "0";
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
