#include "controller/Preferences.h"

#include <gtest/gtest.h>

#include <limits>

namespace brontide {
namespace {

TEST(Preferences_Parse, NumbersMustBeWholeAndFinite) {
  struct Row {
    const char* text;
    std::optional<double> value;
  };
  for (const auto& row : {Row{"0.5", 0.5}, Row{"1", 1.0}, Row{"-0.25", -0.25}, Row{"1e-3", 0.001},
                          Row{"abc", {}}, Row{"nan", {}}, Row{"NaN", {}}, Row{"inf", {}}, Row{"-inf", {}},
                          Row{"1e400", {}}, Row{" 0.5", {}}, Row{"0.5 ", {}}, Row{"0,5", {}}, Row{"1x", {}},
                          Row{"", {}}}) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(parseNumber(row.text), row.value);
  }
}

TEST(Preferences_Parse, FlagsAreTrueOrFalseInAnyCase) {
  EXPECT_EQ(parseFlag("true"), true);
  EXPECT_EQ(parseFlag("FALSE"), false);
  EXPECT_EQ(parseFlag("True"), true);
  for (const char* text : {"", "1", "yes", "true ", "verdadero"}) EXPECT_EQ(parseFlag(text), std::nullopt) << text;
}

TEST(Preferences_Parse, FormattedNumbersReadBackExactly) {
  for (const double value : {0.0, 0.3, 1.0, 0.1 + 0.2, 1.0 / 3, 5e-324, std::numeric_limits<double>::max()}) {
    EXPECT_EQ(parseNumber(formatNumber(value)), value) << formatNumber(value);
  }
  EXPECT_EQ(formatNumber(0.3), "0.3");
}

}  // namespace
}  // namespace brontide
