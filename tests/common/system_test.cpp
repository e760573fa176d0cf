// The layer's pure parts, in-process.
#include "system.h"

#include <gtest/gtest.h>

namespace {

using Words = std::vector<std::string>;

TEST(SplitCommandLine, SplitsAsTheWindowsRunTimeDoes) {
  struct Case {
    std::string line;
    Words words;  // the program's own name first
  };
  const Case cases[] = {
      {"prog \"my data\" x", {"prog", "my data", "x"}},
      {"prog \"\"", {"prog"}},
      {"prog \"\" x", {"prog", "x"}},
      {"prog a\"b c\"d", {"prog", "ab cd"}},
      {"prog ab\"c d\"e", {"prog", "abc de"}},
      {"prog \"a\"\"b\"", {"prog", "ab"}},
      {"prog a \"", {"prog", "a"}},
      {"prog\ta\tb", {"prog", "a", "b"}},
      {"\"C:\\Program Files\\bundra.exe\" x", {"C:\\Program Files\\bundra.exe", "x"}},
      {"  prog   x  ", {"prog", "x"}},
      {"prog \x01x\x1F y", {"prog", "x", "y"}},
      {"prog \xE9t\xE9", {"prog", "\xE9t\xE9"}},
      {"prog \"unclosed run", {"prog", "unclosed run"}},
      {std::string("prog a\0b", 8), {"prog", "a"}},
      {"", {}},
      // Empty pairs where an argument would begin, however many, make none.
      {"prog \"\" \"\" x", {"prog", "x"}},
      {"prog \"\"\"\"x", {"prog", "x"}},
      {"prog \"\"", {"prog"}},
      // A quoted run that is not an empty pair at the start keeps its blanks.
      {"prog \" \"", {"prog", " "}},
      {"prog a\"\" b", {"prog", "a", "b"}},
      {"prog a\"", {"prog", "a"}},
      {"prog \"a\tb\" c", {"prog", "a\tb", "c"}},
      {"prog \"x\"\"", {"prog", "x"}},
      {"\"my prog\"", {"my prog"}},
      {"prog \\\"a b\\\"", {"prog", "\\a b\\"}},  // no escape character
  };
  for (const Case& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.words) << c.line;
}

TEST(UpperAscii, ChangesOnlyAsciiLetters) {
  EXPECT_EQ(UpperAscii("data.gob"), "DATA.GOB");
  EXPECT_EQ(UpperAscii("\xE9t\xE9_z{"), "\xE9T\xE9_Z{");
  EXPECT_EQ(UpperAscii(""), "");
  // Every byte: only a..z move, by 0x20; the zero byte and 0x80..0xFF stay.
  std::string all;
  for (int byte = 0; byte < 256; ++byte) all += static_cast<char>(byte);
  const std::string upper = UpperAscii(all);
  ASSERT_EQ(upper.size(), 256u);
  for (int byte = 0; byte < 256; ++byte) {
    const int expected = byte >= 'a' && byte <= 'z' ? byte - 0x20 : byte;
    EXPECT_EQ(static_cast<uint8_t>(upper[byte]), expected) << byte;
  }
}

TEST(FormatInteger, SignedDecimalWithoutPadding) {
  EXPECT_EQ(FormatInteger(0), "0");
  EXPECT_EQ(FormatInteger(-1), "-1");
  EXPECT_EQ(FormatInteger(900), "900");
  EXPECT_EQ(FormatInteger(INT32_MIN), "-2147483648");
  EXPECT_EQ(FormatInteger(INT32_MAX), "2147483647");
}

TEST(MessageFor, TableRowsAndTheGenericForm) {
  const std::pair<int32_t, const char*> rows[] = {
      {2, "File not found"},
      {3, "Invalid filename"},
      {4, "Too many open files"},
      {5, "File access denied"},
      {100, "Read beyond end of file"},
      {101, "Disk full"},
      {106, "Invalid numeric input"},
      {32, "I/O error 32"},
      {131, "I/O error 131"},
      {-7, "I/O error -7"},
  };
  for (const auto& [code, message] : rows) EXPECT_EQ(MessageFor(code), message) << code;
}

TEST(FailureReport, BytesOfTheTwoLines) {
  const EInOutError failure(2, 0x0040ABCD);
  EXPECT_EQ(FormatFailureReport(failure, "bundra"),
            "Exception EInOutError in module bundra at 0040ABCD.\nFile not found.");
  const EOutOfMemory noMemory(0x00401000);
  EXPECT_EQ(FormatFailureReport(noMemory, "spillet"),
            "Exception EOutOfMemory in module spillet at 00401000.\nOut of memory.");
  const Exception dotted("Ends with a dot.", 0xDEADBEEF);
  EXPECT_EQ(FormatFailureReport(dotted, "x"),
            "Exception Exception in module x at DEADBEEF.\nEnds with a dot.");
  const Exception empty("", 1);
  EXPECT_EQ(FormatFailureReport(empty, "x"), "Exception Exception in module x at 00000001.\n");
}

TEST(FailureReport, AddressesTellSitesApartAndAreStable) {
  const Site first = Site::current();
  const Site second = Site::current();
  EXPECT_NE(AddressOf(first), AddressOf(second));
  EXPECT_EQ(AddressOf(first), AddressOf(first));
}

}  // namespace
