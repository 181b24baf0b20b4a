// Header-driven blocks ("#" in column 80) and their read formats.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "rwfile/fields.h"
#include "rwfile/trrw.h"
#include "rwtest_helpers.h"
#include "util/fatal.h"
#include "util/missing.h"

namespace kavrel {
namespace {

using test::CapturedStream;
using test::decadeLine;

// A line of exactly 80 columns ending in "#".
std::string blockFlagLine(const std::string& text) {
  std::string line = text;
  line.resize(79, ' ');
  return line + "#\n";
}

// Header "(2(2x,i8),t23,a)": count in columns 3-10, year in 13-20, format in 23-30.
std::string headerLine(const std::string& lead, int count, int year, const std::string& format) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%-2.2s%8d  %8d  %-8.8s", lead.c_str(), count, year, format.c_str());
  return std::string(buf) + "\n";
}

struct BlockRead {
  int32_t count = 0;
  std::string id;
  int32_t year = 0;
  std::vector<float> values;
  std::string messages;
};

BlockRead readOne(RwInput& in, CapturedStream& messages) {
  BlockRead r;
  in.setMessageStream(messages.get());
  int32_t counter = 0;
  r.count = trrwRead(in, r.id, r.year, r.values, counter);
  r.messages = messages.text();
  return r;
}

TEST(Datar, BlockWithNHeaderKeepsIdentifier) {
  // "n  " header: the "#" line stays the identifier line. Three values of
  // (10f8.3), one with an explicit point and two with implied decimals.
  const std::string text = blockFlagLine("ABC12345 site notes") + headerLine("n ", 3, 1900, "(10f8.3)") +
                           "   1.5     2345       7\n" + decadeLine("NEXT", 1900, {11, -9999});
  RwInput in = RwInput::fromText(text);
  CapturedStream messages;
  BlockRead r = readOne(in, messages);
  EXPECT_EQ(r.count, 3);
  EXPECT_EQ(r.id, "ABC12345");
  EXPECT_EQ(r.year, 1900);
  ASSERT_EQ(r.values.size(), 3u);
  EXPECT_FLOAT_EQ(r.values[0], 1.5f);
  EXPECT_FLOAT_EQ(r.values[1], 2.345f);
  EXPECT_FLOAT_EQ(r.values[2], 0.007f);
  EXPECT_TRUE(in.lastRead().headerBlock);
  EXPECT_EQ(r.messages, "");

  // The read leaves the input after the block's last value line.
  r = readOne(in, messages);
  EXPECT_EQ(r.id, "NEXT    ");
  EXPECT_EQ(r.count, 1);
}

TEST(Datar, OtherLinesReplaceIdentifierAndValuesSpanLines) {
  // Lines before the values that do not begin with "n  " replace the
  // identifier line, the header itself included; lines without a format in
  // columns 23-30 are skipped. Twelve (5f6.2) values take three lines, a
  // negative one is a missing ring.
  const std::string text = blockFlagLine("OLDID   ") + "XYZ98765 a comment line\n" +
                           headerLine("H9", 12, -45, "(5f6.2)") +
                           "   1.0  2.00   300  4.25   -.5\n"
                           "     6     7     8     9    10\n"
                           "    11    12\n";
  RwInput in = RwInput::fromText(text);
  CapturedStream messages;
  BlockRead r = readOne(in, messages);
  EXPECT_EQ(r.count, 12);
  EXPECT_EQ(r.id, "H9      ");
  EXPECT_EQ(r.year, -45);
  const float expect[] = {1.0f, 2.0f, 3.0f, 4.25f, kMissingValue, 0.06f, 0.07f, 0.08f, 0.09f, 0.1f, 0.11f, 0.12f};
  ASSERT_EQ(r.values.size(), 12u);
  for (std::size_t i = 0; i < 12; ++i) EXPECT_FLOAT_EQ(r.values[i], expect[i]) << i;
  EXPECT_EQ(in.lastRead().negativesAsMissing, 1);
  EXPECT_EQ(in.lineNumber(), 6);
  r = readOne(in, messages);
  EXPECT_EQ(r.count, kEndOfFile);
}

TEST(Datar, FailuresGiveMessagesAndDefinedValues) {
  // A field that is not a number: message, header count, undelivered values missing.
  {
    RwInput in = RwInput::fromText(blockFlagLine("BAD1") + headerLine("n ", 4, 1900, "(4f8.3)") +
                                   "   1.000   abc     3.000   4.000\n");
    CapturedStream messages;
    BlockRead r = readOne(in, messages);
    EXPECT_EQ(r.count, 4);
    EXPECT_EQ(r.messages, ">> sbr datar:  error reading data\n");
    ASSERT_EQ(r.values.size(), 4u);
    EXPECT_FLOAT_EQ(r.values[0], 1.0f);
    EXPECT_EQ(r.values[1], kMissingValue);
    EXPECT_EQ(r.values[3], kMissingValue);
  }
  // End of input among the values.
  {
    RwInput in = RwInput::fromText(blockFlagLine("EOF1") + headerLine("n ", 15, 1900, "(10f8.3)") +
                                   "   1.000   2.000   3.000   4.000   5.000   6.000   7.000   8.000   9.000  10.000\n");
    CapturedStream messages;
    BlockRead r = readOne(in, messages);
    EXPECT_EQ(r.count, 15);
    EXPECT_EQ(r.messages, ">> sbr datar:  unexpected end reading data\n");
    EXPECT_FLOAT_EQ(r.values[9], 10.0f);
    EXPECT_EQ(r.values[10], kMissingValue);
    r = readOne(in, messages);
    EXPECT_EQ(r.count, kEndOfFile);
  }
  // End of input before any header: the end-of-file result.
  {
    RwInput in = RwInput::fromText(blockFlagLine("NOHEAD") + "just text\n");
    CapturedStream messages;
    int32_t counter = 4;
    std::string id;
    int32_t year = 0;
    std::vector<float> v;
    EXPECT_EQ(trrwRead(in, id, year, v, counter), kEndOfFile);
    EXPECT_EQ(counter, kEndOfFile);
  }
  // A block of no values takes no value line: the next series follows.
  {
    RwInput in = RwInput::fromText(blockFlagLine("ZERO") + headerLine("n ", 0, 1900, "(10f8.3)") +
                                   decadeLine("NEXT0", 1900, {5, -9999}));
    CapturedStream messages;
    BlockRead r = readOne(in, messages);
    EXPECT_EQ(r.count, 0);
    EXPECT_EQ(r.messages, "");
    r = readOne(in, messages);
    EXPECT_EQ(r.id, "NEXT0   ");
  }
}

TEST(Datar, UninterpretableFormatGivesHeaderCountOfMissingValues) {
  // A format this reader cannot use, "(2a8)", or one whose reverted part has
  // no numeric field, "(i3,())", which read past its item list: the message,
  // the header's count of missing values, a warning, and the value lines left
  // for the next read.
  struct Case {
    const char* format;
    int32_t count;
  };
  for (const Case c : {Case{"(2a8)", 2}, Case{"(i3,())", 5}, Case{"(i3,(/))", 4}}) {
    RwInput in = RwInput::fromText(blockFlagLine("FMT1") + headerLine("n ", c.count, 1900, c.format) +
                                   "  1\n  2\n  3\n" + decadeLine("AFTER", 1900, {5, -9999}));
    CapturedStream messages;
    BlockRead r = readOne(in, messages);
    EXPECT_EQ(r.count, c.count) << c.format;
    EXPECT_EQ(r.values, std::vector<float>(static_cast<std::size_t>(c.count), kMissingValue));
    EXPECT_EQ(r.messages, ">> sbr datar:  error reading data\n");
    ASSERT_EQ(in.warnings().size(), 1u);
    EXPECT_EQ(in.warnings()[0].message(),
              "line 2, series FMT1: the block's read format " + std::string(c.format) +
                  " cannot be interpreted: all its values are missing");
    r = readOne(in, messages);
    EXPECT_EQ(r.id, "AFTER   ") << c.format;
  }
}

TEST(Datar, CountsBeyondTheCapacityAreCountedNotStored) {
  // 150000 values announced and given: all are counted, the first
  // kMaxSeriesValues kept. An absurd count with no values: the header's count,
  // the capacity of missing values, and the end-of-data message.
  std::string text = blockFlagLine("LONG") + headerLine("n ", 150000, 1900, "(10f8.3)");
  const std::string tenValues = "   1.000   2.000   3.000   4.000   5.000   6.000   7.000   8.000   9.000  10.000\n";
  for (int i = 0; i < 15000; ++i) text += tenValues;
  RwInput in = RwInput::fromText(text + blockFlagLine("HUGE") + headerLine("n ", 99999999, 1900, "(10f8.3)"));
  CapturedStream messages;
  BlockRead r = readOne(in, messages);
  EXPECT_EQ(r.count, 150000);
  ASSERT_EQ(r.values.size(), static_cast<std::size_t>(kMaxSeriesValues));
  EXPECT_FLOAT_EQ(r.values.back(), 10.0f);
  EXPECT_TRUE(in.lastRead().tooLong);
  ASSERT_EQ(in.warnings().size(), 1u);
  EXPECT_EQ(in.warnings()[0].message(), "line 2, series LONG: 150000 values: only the first 100000 are kept");

  r = readOne(in, messages);
  EXPECT_EQ(r.count, 99999999);
  EXPECT_EQ(r.values, std::vector<float>(static_cast<std::size_t>(kMaxSeriesValues), kMissingValue));
  EXPECT_EQ(r.messages, ">> sbr datar:  unexpected end reading data\n");
}

TEST(Datar, RandomBlocksEndCleanly) {
  // Lines of format-like characters with "#" in column 80 drive the block
  // reader through arbitrary headers and formats: every read ends, and no
  // value is negative unless it is the missing marker.
  std::mt19937_64 gen{123456};
  const std::string alphabet = "0123456789  .-()fFiIxXtT/,n#";
  int blocksWithValues = 0;
  for (int round = 0; round < 200; ++round) {
    std::string text;
    for (int l = 0; l < 40; ++l) {
      std::string line(80, ' ');
      for (char& c : line) c = alphabet[gen() % alphabet.size()];
      if (gen() % 3 == 0) line[79] = '#';
      if (gen() % 2 == 0) {
        // A well-formed header part: count, first year, and often a known format.
        char head[24];
        std::snprintf(head, sizeof head, "%8d  %8d", static_cast<int>(gen() % 40), static_cast<int>(gen() % 2000));
        line.replace(2, 18, head);
        if (gen() % 2 == 0) line.replace(22, 8, gen() % 2 == 0 ? "(10f8.3)" : "(3(i4))");
      }
      text += line + "\n";
    }
    RwInput in = RwInput::fromText(text);
    in.setMessageStream(nullptr);
    std::string id;
    int32_t year = 0;
    std::vector<float> v;
    int32_t counter = 0;
    int calls = 0;
    try {
      int32_t n = 0;
      while ((n = trrwRead(in, id, year, v, counter)) != kEndOfFile) {
        ASSERT_LT(++calls, 100);
        ASSERT_EQ(static_cast<std::size_t>(n), v.size());
        for (float x : v) ASSERT_TRUE(x >= 0.0f || x == kMissingValue);
        if (in.lastRead().headerBlock && n > 0) ++blocksWithValues;
      }
    } catch (const Fatal& e) {
      EXPECT_STREQ(e.what(), "sbr trrw:  over 25 text lines");
    }
  }
  EXPECT_GT(blocksWithValues, 50);
}

TEST(ReadFormat, DescriptorsRepeatsAndReversion) {
  using Kind = rw::FormatItem::Kind;
  auto f = rw::parseReadFormat("(10F8.3)");
  ASSERT_TRUE(f);
  ASSERT_EQ(f->items.size(), 10u);
  EXPECT_EQ(f->items[9].kind, Kind::Real);
  EXPECT_EQ(f->items[9].width, 8);
  EXPECT_EQ(f->items[9].decimals, 3);
  EXPECT_EQ(f->reversion, 0u);

  f = rw::parseReadFormat("(i5,2x,3(1x,f6.2),/,t10,i3)");
  ASSERT_TRUE(f);
  ASSERT_EQ(f->items.size(), 11u);
  EXPECT_EQ(f->items[0].kind, Kind::Int);
  EXPECT_EQ(f->items[1].kind, Kind::Skip);
  EXPECT_EQ(f->items[1].width, 2);
  EXPECT_EQ(f->items[2].kind, Kind::Skip);
  EXPECT_EQ(f->items[3].kind, Kind::Real);
  EXPECT_EQ(f->items[8].kind, Kind::NextRecord);
  EXPECT_EQ(f->items[9].kind, Kind::TabTo);
  EXPECT_EQ(f->items[9].width, 10);
  EXPECT_EQ(f->reversion, 2u);  // the last top-level group

  for (const char* bad : {"10f8.3", "(10x)", "(f8)", "(2a8)", "(10f8.3", "(0i5)", "(99999(99999i1))", "",
                          "(i3,())", "(i3,(/))", "(2(i3),(1x))"}) {
    EXPECT_FALSE(rw::parseReadFormat(bad)) << bad;
  }
  // Nesting: a few levels read, thousands are refused (not a stack overflow).
  EXPECT_TRUE(rw::parseReadFormat("(2(2(2(i3))))"));
  EXPECT_FALSE(rw::parseReadFormat(std::string(5000, '(') + "i3" + std::string(5000, ')')));
}

TEST(ReadFormat, FieldValues) {
  int32_t i = 0;
  EXPECT_TRUE(rw::readIntField(" - 1 2", i));
  EXPECT_EQ(i, -12);
  EXPECT_TRUE(rw::readIntField("      ", i));
  EXPECT_EQ(i, 0);
  EXPECT_FALSE(rw::readIntField("   -  ", i));
  EXPECT_FALSE(rw::readIntField("  1-2 ", i));
  EXPECT_FALSE(rw::readIntField("99999999999", i));

  float v = 0.0f;
  struct Case {
    const char* field;
    int32_t decimals;
    float value;
  };
  for (const Case c : {Case{"   1234", 3, 1.234f}, Case{" 12.5  ", 3, 12.5f}, Case{"  -25", 1, -2.5f},
                       Case{" 1.5E2", 0, 150.0f}, Case{"  15-1", 0, 1.5f}, Case{"  12D+1", 1, 12.0f},
                       Case{"       ", 2, 0.0f}, Case{" .25 ", 4, 0.25f}}) {
    ASSERT_TRUE(rw::readRealField(c.field, c.decimals, v)) << c.field;
    EXPECT_FLOAT_EQ(v, c.value) << c.field;
  }
  for (const char* bad : {" 1.2.3", "  abc ", "  1e  ", "   -  ", " 1e999 "}) {
    EXPECT_FALSE(rw::readRealField(bad, 2, v)) << bad;
  }
}

}  // namespace
}  // namespace kavrel
