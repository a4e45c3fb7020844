// Reading and writing numbers in the program's texts.
//
// Every number the program reads (the voice switch in STAT.DAT, the typed
// bearing, the fields of the C BOX's replies) goes through NumberValue, and
// every whole number it writes out for display or speech goes through
// NumberText. Values become integers only through RoundHalfEven and
// ToInt32, so one rounding rule holds everywhere.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rotavox {

// Reads the number at the start of `text`.
//
// Leading blanks, tabs and line feeds are skipped. Then either:
//  - "&" and a radix letter in either case followed by digits of that radix
//    ("&H" hexadecimal, "&B" binary, "&O" or "&Q" octal), or "&" directly
//    followed by an octal digit;
//  - a decimal number: optional sign, digits, optional point and more
//    digits, optional exponent brought in by E or D (either case) with an
//    optional sign.
// Reading stops at the first character that cannot continue the number; a
// text with no number at its start gives 0. Values too large for a double
// come back as plus or minus infinity, never as undefined behaviour.
double NumberValue(std::string_view text);

// Nearest whole number, an exact half going to the even neighbour
// (2.5 -> 2, 3.5 -> 4, -2.5 -> -2). NaN and infinities are passed through.
double RoundHalfEven(double value);

// RoundHalfEven, then clamped to the 32-bit signed range. NaN gives 0.
// This is how every read value becomes one of the program's integers.
std::int32_t ToInt32(double value);

// The number as text: a blank for zero or a positive value, "-" for a
// negative one, then the digits without leading zeros (1045 -> " 1045").
// Callers pick characters from it by position and rely on the lead blank.
std::string NumberText(std::int64_t value);

// A whole word read as a decimal number (one sign, "+" or "-", allowed), a point or
// a comma as the decimal mark, as station programs and data files write
// them; anything left over, or no finite value, makes it no number.
std::optional<double> ReadDecimal(std::string_view word);

}  // namespace rotavox
