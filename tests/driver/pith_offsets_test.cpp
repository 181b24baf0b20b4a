// Pith-offset read formats and records: the offered forms (iW), (nX,iW) and
// their comma-separated combinations, blank fields, and records that do not
// fit the format.
#include "driver/pith_offsets.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace kavrel {
namespace {

// A read-only stream over text (closed by the caller).
std::FILE* streamOf(const std::string& text) {
  std::FILE* f = std::tmpfile();
  std::fwrite(text.data(), 1, text.size(), f);
  std::rewind(f);
  return f;
}

TEST(PithFormat, OfferedFormsAndCombinations) {
  auto f = parsePithFormat("(i3)");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->skip, 0);
  EXPECT_EQ(f->width, 3);

  f = parsePithFormat("(50x,i3)");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->skip, 50);
  EXPECT_EQ(f->width, 3);

  // Upper case, blanks, a bare X (one column), several skips, and items after
  // the integer field (ignored: one value is read per record).
  f = parsePithFormat(" ( 2X , x,7x, I5, 10x ,i2) ");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->skip, 10);
  EXPECT_EQ(f->width, 5);
}

TEST(PithFormat, UnsupportedFormsAreRejectedWithAReason) {
  for (const char* bad : {"i3", "(i3", "()", "(f5.2)", "(10x)", "(i)", "(i0)", "(a8,i3)", "(3i)",
                          "(i3,,2x)", "(-2x,i3)", "(2.5x,i3)", "(i99999999999)"}) {
    std::string why;
    EXPECT_FALSE(parsePithFormat(bad, &why)) << bad;
    EXPECT_FALSE(why.empty()) << bad;
  }
  std::string why;
  parsePithFormat("(f5.2)", &why);
  EXPECT_NE(why.find("f5.2"), std::string::npos) << why;
}

TEST(PithFormat, FieldReading) {
  const PithFormat i3{0, 3};
  const PithFormat skip4i3{4, 3};
  int32_t v = -1;
  EXPECT_TRUE(readPithField("78", i3, v));  // short record: padded with blanks
  EXPECT_EQ(v, 78);
  EXPECT_TRUE(readPithField(" 47", i3, v));
  EXPECT_EQ(v, 47);
  EXPECT_TRUE(readPithField("1234", i3, v));  // only the first 3 columns count
  EXPECT_EQ(v, 123);
  EXPECT_TRUE(readPithField("", i3, v));  // blank field reads 0
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(readPithField("   ", i3, v));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(readPithField("1 2", i3, v));  // embedded blanks are ignored
  EXPECT_EQ(v, 12);
  EXPECT_TRUE(readPithField(" -5", i3, v));
  EXPECT_EQ(v, -5);
  EXPECT_TRUE(readPithField("KVR1 19 trailing", skip4i3, v));
  EXPECT_EQ(v, 19);
  EXPECT_TRUE(readPithField("KVR", skip4i3, v));  // record ends before the field
  EXPECT_EQ(v, 0);

  EXPECT_FALSE(readPithField("abc", i3, v));
  EXPECT_FALSE(readPithField("1.5", i3, v));
  EXPECT_FALSE(readPithField("  -", i3, v));
  EXPECT_FALSE(readPithField("5-", i3, v));
  EXPECT_FALSE(readPithField("99999999999", PithFormat{0, 11}, v));  // beyond 32 bits
}

TEST(PithFormat, FileReading) {
  const PithFormat i3{0, 3};
  // CRLF and LF lines, a last line without a newline.
  std::FILE* f = streamOf("5\r\n  7\n\n 9");
  PithReadResult r = readPithOffsets(f, i3, 10000);
  std::fclose(f);
  EXPECT_EQ(r.badRecord, 0);
  EXPECT_EQ(r.offsets, (std::vector<int32_t>{5, 7, 0, 9}));

  f = streamOf("");
  r = readPithOffsets(f, i3, 10000);
  std::fclose(f);
  EXPECT_EQ(r.badRecord, 0);
  EXPECT_TRUE(r.offsets.empty());

  // Only the first maxRecords records are read.
  std::string many;
  for (int i = 0; i < 10005; ++i) many += std::to_string(i % 1000) + "\n";
  f = streamOf(many);
  r = readPithOffsets(f, i3, 10000);
  std::fclose(f);
  EXPECT_EQ(r.badRecord, 0);
  ASSERT_EQ(r.offsets.size(), 10000u);
  EXPECT_EQ(r.offsets.back(), 9999 % 1000);

  // Letters where digits are expected: the record number is reported.
  f = streamOf("12\n 3\nab\n4\n");
  r = readPithOffsets(f, i3, 10000);
  std::fclose(f);
  EXPECT_EQ(r.badRecord, 3);
  EXPECT_FALSE(r.negative);
  EXPECT_EQ(r.offsets, (std::vector<int32_t>{12, 3}));

  // A negative number of rings can't be used either.
  f = streamOf("12\n -4\n7\n");
  r = readPithOffsets(f, i3, 10000);
  std::fclose(f);
  EXPECT_EQ(r.badRecord, 2);
  EXPECT_TRUE(r.negative);
  EXPECT_EQ(r.offsets, (std::vector<int32_t>{12}));
}

}  // namespace
}  // namespace kavrel
