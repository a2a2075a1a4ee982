#pragma once
// The text a cell shows for a value read from a workbook file: numbers in the general format or
// under a spreadsheet number format code, booleans, dates and times.

#include <cstddef>
#include <string>
#include <string_view>

namespace dupsweep::sheet {

// The general-format text of a number: the shortest text of the value rounded to 15 significant
// digits (as spreadsheet programs show General), without an exponent for magnitudes from 1e-9 up to 1e16 ("1234.5", "100", "0.1", "-0.25"),
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

// How a number of days counts dates: from 1899-12-30 with the leap day 1900-02-29 that Excel
// keeps (serial 60), or from 1904-01-01.
enum class DateSystem { from1900, from1904 };

// The number format code of a built-in number format identifier of an xlsx file (0 "General",
// 10 "0.00%", 14 "m/d/yyyy", 49 "@", the Chinese date forms 27-36 and 50-58 ...); empty for an
// identifier with no built-in format.
std::string_view builtinNumberFormat(std::size_t id) noexcept;

// The text of `value` under number format code `code`, as a spreadsheet shows it: sections for
// positive, negative and zero values and text; digit placeholders 0 # ?, decimal point, thousands
// separators and scaling commas, percent, scientific notation; quoted and escaped literals,
// currency symbols in brackets ("[$$-409]#,##0.00" -> "$1,234.50"); colours are
// ignored; conditions ("[>999]", "[=0]") choose the section; fractions ("# ?/?", "?/8"); dates
// and times (y m d h s, AM/PM, elapsed [h], fractions of seconds) from the day count of `system`.
// "General" and an empty code give generalNumberText(); a code this function cannot render (a
// date out of range) also gives generalNumberText().
std::string formattedNumberText(double value, std::string_view code,
                                DateSystem system = DateSystem::from1900);

// The text of a text cell under number format code `code`: its text section (the fourth, or a
// code of one section holding @) with its literals and spaces around the text ("_(@_)" ->
// " text "); the text as it stands when the code has no text section.
std::string formattedText(std::string_view text, std::string_view code);

}  // namespace dupsweep::sheet
