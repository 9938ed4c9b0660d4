#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kline {

// The leading-number parse used for every number a user types: blanks are skipped, then an
// optional sign, digits, a decimal point and an exponent are read as far as they go; "&H" starts
// a hexadecimal number. "12ab" reads as 12, text without a leading number as 0.
double Val(const std::string& text);

// Rounds to the nearest whole number, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
int64_t RoundHalfEven(double x);

// A typed number as a whole number: Val, then half-to-even rounding, saturated to 32 bits.
int32_t WholeNumber(const std::string& text);

// The decimal separator of plain form and the format patterns: the system's in the window, "."
// on the command line and in tests. Set once at start-up.
void SetDecimalSeparator(char sep);
char DecimalSeparator();

// A value field's text as the number it shows, for the observers that keep values (the chart,
// the recording, the report): the whole text, blanks around it, an optional sign, digits and one
// decimal mark (the window's separator or "."); "." alone is how "##.##" shows zero. Anything
// else (" ----", empty, "12a") shows no number.
std::optional<double> FieldValue(const std::string& text);

// Plain form: the shortest decimal text of a double, up to 15 significant digits, no exponent in
// the ranges used here, no trailing zeros (3.464, 13.375, -5, 12.5).
std::string PlainForm(double x);

// The numeric format patterns of the windows, rounding halves away from zero:
//   "##.##" at most two decimals, no forced digits (.5, 125., -2.96, and "." for zero);
//   "0.00"  exactly two decimals and at least one integer digit;
//   "0.#"   at most one decimal and at least one integer digit (105.7, 105.).
std::string FormatNumber(double x, const std::string& pattern);

}  // namespace kline
