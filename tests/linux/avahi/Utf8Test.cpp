#include "linux/avahi/Utf8.h"

#include <gtest/gtest.h>

namespace brontide::linux::avahi {
namespace {

struct Row {
  std::string in;
  std::string valid;
};

class Utf8Test : public ::testing::TestWithParam<Row> {};

TEST_P(Utf8Test, ValidUtf8_ReplacesOnlyMalformedBytes) { EXPECT_EQ(validUtf8(GetParam().in), GetParam().valid); }

const std::string kBad = "\xEF\xBF\xBD";

INSTANTIATE_TEST_SUITE_P(
    Bytes, Utf8Test,
    ::testing::Values(Row{"", ""}, Row{"Salón", "Salón"}, Row{"🎉 ok", "🎉 ok"}, Row{"a\tb", "a\tb"},
                      Row{"\xff", kBad}, Row{"Sal\xf3n", "Sal" + kBad + "n"},           // Latin-1
                      Row{"\xC0\xAF", kBad + kBad},                                    // overlong "/"
                      Row{"\xED\xA0\x80", kBad + kBad + kBad},                         // surrogate
                      Row{"\xF4\x90\x80\x80", kBad + kBad + kBad + kBad},              // above U+10FFFF
                      Row{"abc\xE2\x82", "abc" + kBad + kBad},                         // cut short
                      Row{"\xE2\x82\xAC\x80", "\xE2\x82\xAC" + kBad}));                // stray continuation

TEST(PrintableTest, Printable_EscapesControlCharacters) {
  EXPECT_EQ(printable("Tab\tSalto\n\x7f\xff"), "Tab\\x09Salto\\x0a\\x7f" + kBad);
}

}  // namespace
}  // namespace brontide::linux::avahi
