#pragma once
// The text a cell shows for a value read from a workbook file: numbers in the general format,
// booleans, dates and times.

#include <string>
#include <string_view>

namespace dupsweep::sheet {

// The general-format text of a number: the shortest text that reads back as the same value,
// without an exponent for magnitudes from 1e-9 up to 1e16 ("1234.5", "100", "0.1", "-0.25"),
// in scientific form beyond ("1e+20", "1.5e-12"). Zero (also negative zero) is "0"; a NaN or an
// infinity is "#NUM!".
std::string generalNumberText(double value);

// "TRUE" or "FALSE".
std::string booleanText(bool value);

// "YYYY-MM-DD", followed by " HH:MM:SS" when the time is not midnight; fractional seconds keep
// their shortest decimals ("2024-01-31 08:05:09.5").
std::string dateTimeText(int year, int month, int day, int hour, int minute, double second);

// The text of a raw value whose type the file leaves open (a CSV field): a field that is wholly
// a decimal number shows as generalNumberText() of it ("1.50" -> "1.5"); any other field is
// kept as it stands.
std::string autoText(std::string_view raw);

}  // namespace dupsweep::sheet
