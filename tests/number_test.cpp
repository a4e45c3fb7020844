// Reading, rounding and writing numbers.
#include "common/number.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace rotavox {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::int32_t kMax32 = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin32 = std::numeric_limits<std::int32_t>::min();

// A number is read from the start of a text after blanks, tabs and line
// feeds: "&" radix forms or a decimal with sign, point and E/D exponent.
// Reading stops at the first character that cannot continue the number, a
// text without a number is 0, and a value beyond a double is infinite.
TEST(NumberValue, ReadsTheNumberAtTheStartOfTheText) {
  const std::string manyNines(400, '9');
  const struct {
    const char* name;
    std::string text;
    double value;
  } cases[] = {
      {"empty", "", 0}, {"zero", "0", 0}, {"whole", "42", 42}, {"minus", "-42", -42},
      {"plus", "+7", 7}, {"fraction", "3.25", 3.25}, {"no integer digits", ".5", 0.5},
      {"negative no integer digits", "-.5", -0.5}, {"trailing point", "5.", 5},
      {"leading zeros", "007", 7}, {"exponent E", "1E3", 1000}, {"exponent e", "1e3", 1000},
      {"exponent D", "1D2", 100}, {"exponent d negative", "1d-2", 0.01},
      {"exponent with plus", "2.5E+1", 25}, {"exponent leading zeros", "1E+05", 100000},
      {"E without digits", "1e", 1}, {"E and sign without digits", "1E-", 1},
      {"E then letter", "1Ex", 1}, {"stops at letter", "12abc", 12},
      {"stops at second point", "1.2.3", 1.2}, {"stops at comma", "1,5", 1},
      {"stops at blank", "1 5", 1}, {"stops after exponent", "1e5x", 100000},
      {"blanks tabs and line feeds skipped", " \t\n 7", 7}, {"CR is not skipped", "\r7", 0},
      {"vertical tab is not skipped", "\v7", 0}, {"form feed is not skipped", "\f7", 0},
      {"blank after sign", "- 5", 0}, {"sign alone", "-", 0}, {"point alone", ".", 0},
      {"letters", "abc", 0}, {"no inf word", "inf", 0}, {"no nan word", "nan", 0},
      {"hex", "&H1F", 31}, {"hex lower case", "&hff", 255}, {"hex stops at G", "&HFG", 15},
      {"binary", "&B101", 5}, {"binary stops at 2", "&b102", 2}, {"octal O", "&O17", 15},
      {"octal Q", "&q17", 15}, {"octal stops at 8", "&Q178", 15},
      {"ampersand digit is octal", "&17", 15}, {"ampersand 8 is no octal digit", "&8", 0},
      {"ampersand alone", "&", 0}, {"radix letter without digits", "&H", 0},
      {"unknown radix letter", "&X1", 0}, {"no sign in radix form", "&H-1", 0},
      {"radix after blanks", " &H10", 16}, {"overflow", "9E9", 9e9},
      {"beyond double", "1E400", kInf}, {"beyond double negative", "-1E400", -kInf},
      {"below double", "1E-400", 0}, {"huge exponent digits", "1E99999999999999999999999", kInf},
      {"huge negative exponent digits", "1E-99999999999999999999999", 0},
      {"zero with huge exponent", "0E99999999999999999999", 0}, {"many digits", manyNines, kInf},
      {"many digits scaled back", "1" + std::string(400, '0') + "E-400", 1},
      {"many fraction zeros scaled up", "0." + std::string(400, '0') + "1E400", 0.1},
      {"radix overflow", "&H" + std::string(300, 'F'), kInf},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_DOUBLE_EQ(NumberValue(c.text), c.value) << "text: " << c.text.substr(0, 40);
  }
}

// An exact half goes to the even neighbour; everything else to the nearest.
TEST(RoundHalfEven, ExactHalvesGoToTheEvenNeighbour) {
  const struct {
    double value;
    double rounded;
  } cases[] = {
      {0, 0},       {0.5, 0},     {1.5, 2},      {2.5, 2},     {3.5, 4},
      {-0.5, 0},    {-1.5, -2},   {-2.5, -2},    {-3.5, -4},   {2.4999, 2},
      {2.5000001, 3}, {-2.6, -3}, {122.5, 122},  {123.5, 124},
      {0.49999999999999994, 0},  // just below a half
      {4503599627370495.5, 4503599627370496},
      {1e300, 1e300},  {kInf, kInf}, {-kInf, -kInf},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(RoundHalfEven(c.value), c.rounded);
  }
  EXPECT_TRUE(std::isnan(RoundHalfEven(std::nan(""))));
}

// Rounded as above, then held inside the 32-bit range; NaN is 0.
TEST(ToInt32, RoundsAndSaturates) {
  const struct {
    double value;
    std::int32_t whole;
  } cases[] = {
      {0, 0}, {2.5, 2}, {-2.5, -2}, {1.5, 2}, {-3.5, -4}, {2147483646.5, 2147483646},
      {2147483647.4, kMax32}, {2147483647.5, kMax32}, {2147483648.0, kMax32},
      {-2147483648.5, kMin32}, {-2147483649.0, kMin32}, {9e9, kMax32}, {-9e9, kMin32},
      {kInf, kMax32}, {-kInf, kMin32}, {std::nan(""), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(ToInt32(c.value), c.whole);
  }
}

TEST(ToInt32, ReadTextsSaturate) {
  EXPECT_EQ(ToInt32(NumberValue("9E9")), kMax32);
  EXPECT_EQ(ToInt32(NumberValue("-9E9")), kMin32);
  EXPECT_EQ(ToInt32(NumberValue("1E400")), kMax32);
}

// A lead blank for zero and positive values, "-" for negative ones, then the
// digits without leading zeros.
TEST(NumberText, BlankOrMinusThenDigits) {
  const struct {
    std::int64_t value;
    const char* text;
  } cases[] = {
      {0, " 0"}, {5, " 5"}, {1045, " 1045"}, {-7, "-7"}, {-10, "-10"},
      {std::numeric_limits<std::int64_t>::max(), " 9223372036854775807"},
      {std::numeric_limits<std::int64_t>::min(), "-9223372036854775808"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(NumberText(c.value), c.text);
  }
}

}  // namespace
}  // namespace rotavox
