#include "gob_format.h"

#include <gtest/gtest.h>

TEST(GobFormat, Int32FieldsAreLittleEndianAndSigned) {
  const Bytes4 bytes = EncodeInt32(0x01020304);
  EXPECT_EQ(bytes, (Bytes4{4, 3, 2, 1}));
  const uint8_t minusOne[] = {0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(DecodeInt32(minusOne), -1);
  const uint8_t twoToThe31[] = {0x00, 0x00, 0x00, 0x80};
  EXPECT_EQ(DecodeInt32(twoToThe31), INT32_MIN);
}

TEST(GobFormat, NameFieldTakesBytesUpToFirstZeroOrAll128) {
  TIndexEntry entry;
  SetName(entry, "3DO\\KY.3DO");
  EXPECT_EQ(NameOf(entry), "3DO\\KY.3DO");
  EXPECT_EQ(entry.name[10], '\0');
  EXPECT_EQ(entry.name[127], '\0');

  const std::string full(128, 'x');
  SetName(entry, full);
  EXPECT_EQ(NameOf(entry), full);

  SetName(entry, "");
  EXPECT_EQ(NameOf(entry), "");
}

TEST(GobFormat, IndexEntryRoundTripsThrough136Bytes) {
  TIndexEntry entry;
  entry.offset = 152;
  entry.size = -1;
  SetName(entry, "A.TXT");
  const IndexEntryBytes bytes = EncodeIndexEntry(entry);
  EXPECT_EQ(bytes[0], 152);
  EXPECT_EQ(bytes[4], 0xFF);
  EXPECT_EQ(bytes[8], 'A');
  const TIndexEntry back = DecodeIndexEntry(bytes);
  EXPECT_EQ(back.offset, 152);
  EXPECT_EQ(back.size, -1);
  EXPECT_EQ(NameOf(back), "A.TXT");
}

TEST(GobFormat, UnsafeNamesAreThoseThatLeaveTheFolder) {
  struct Case {
    const char* name;
    bool unsafe;
  };
  const Case cases[] = {
      {"A.TXT", false},      {"3DO\\KY.3DO", false}, {"", false},       {"..A", false},
      {"A..\\B", false},     {".\\A", false},        {"a/b", false},    {"\\A.TXT", true},
      {"/etc/passwd", true}, {"C:\\X.DAT", true},    {"c:X.DAT", true}, {"..", true},
      {"..\\X", true},       {"A\\..\\..\\X", true}, {"A/../X", true},  {"A\\..", true},
      {"A\\...\\X", true},   {"A\\.. \\X", true},    {"1:X", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsUnsafeName(c.name), c.unsafe) << c.name;
}
