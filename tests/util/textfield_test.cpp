#include "util/textfield.h"

#include <gtest/gtest.h>

#include <string>

namespace kavrel {
namespace {

TEST(TextField, BlankAndLalign) {
  std::string s = "ab\tc";
  blank(fieldOf(s));
  EXPECT_EQ(s, "    ");
  std::string empty;
  blank(fieldOf(empty));  // length 0: nothing happens
  EXPECT_EQ(empty, "");

  std::string f = "   ab  ";
  lalign(fieldOf(f));
  EXPECT_EQ(f, "ab     ");
  std::string starts = "x  b   ";
  lalign(fieldOf(starts));
  EXPECT_EQ(starts, "x  b   ");
  std::string allBlank = "       ";
  lalign(fieldOf(allBlank));
  EXPECT_EQ(allBlank, "       ");
  // Only code 32 is a blank: a leading tab stays.
  std::string tab = "\t ab";
  lalign(fieldOf(tab));
  EXPECT_EQ(tab, "\t ab");
  std::string full = "  abcde";
  lalign(fieldOf(full));
  EXPECT_EQ(full, "abcde  ");
}

TEST(TextField, Stringclean) {
  std::string s = "a b c.txt   ";
  stringclean(fieldOf(s), 12);
  EXPECT_EQ(s, "abc.txt     ");
  std::string allBlank(12, ' ');
  stringclean(fieldOf(allBlank), 12);
  EXPECT_EQ(allBlank, std::string(12, ' '));
  std::string tight = "abc.txt     ";
  stringclean(fieldOf(tight), 12);
  EXPECT_EQ(tight, "abc.txt     ");
  // Positions after n are left alone.
  std::string part = "a b  c d";
  stringclean(fieldOf(part), 4);
  EXPECT_EQ(part, "ab   c d");
  // A field whose last position is not blank still gets the squeeze.
  std::string last = " a bc";
  stringclean(fieldOf(last), 5);
  EXPECT_EQ(last, "abc  ");
  // n beyond the field is clamped; n <= 0 does nothing.
  std::string shortField = " x ";
  stringclean(fieldOf(shortField), 60);
  EXPECT_EQ(shortField, "x  ");
  stringclean(fieldOf(shortField), 0);
  EXPECT_EQ(shortField, "x  ");
}

TEST(TextField, Fnd1char) {
  const std::string s = "abc.rwl ";
  EXPECT_EQ(fnd1char(s, 8, '.'), 4);
  EXPECT_EQ(fnd1char(s, 8, 'z'), 9);
  EXPECT_EQ(fnd1char(s, 3, '.'), 4);  // beyond the searched part
  EXPECT_EQ(fnd1char(s, 8, 'a'), 1);
  EXPECT_EQ(fnd1char("a.b.c", 5, '.'), 2);  // the first occurrence
  EXPECT_EQ(fnd1char(s, 0, 'a'), 1);
  EXPECT_EQ(fnd1char(s, -3, 'a'), 1);
  EXPECT_EQ(fnd1char(s, 60, 'z'), 61);  // n longer than the field
}

TEST(TextField, FixedFieldPadsAndCuts) {
  FixedField<8> id("ABC123");
  EXPECT_EQ(id.str(), "ABC123  ");
  EXPECT_EQ(id.trimmed(), "ABC123");
  id.assign("TOOLONGID9");
  EXPECT_EQ(id.str(), "TOOLONGI");
  FixedField<60> name;
  EXPECT_EQ(name.str(), std::string(60, ' '));
  name.assign("  gp .rwl");
  stringclean(name.span(), 60);
  EXPECT_EQ(name.trimmed(), "gp.rwl");
  EXPECT_EQ(fnd1char(name.span(), 60, '.'), 3);
  EXPECT_EQ(FixedField<4>("ab"), FixedField<4>("ab  "));
}

}  // namespace
}  // namespace kavrel
