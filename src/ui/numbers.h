#pragma once

#include <cstdint>
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

}  // namespace kline
