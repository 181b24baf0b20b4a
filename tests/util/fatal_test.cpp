#include "util/fatal.h"

#include <gtest/gtest.h>

TEST(Fatal, CarriesMessagePauseAndStatus) {
  try {
    throw kavrel::Fatal("sbr trrw:  over 25 text lines", true, 3);
  } catch (const kavrel::Fatal& e) {
    EXPECT_STREQ(e.what(), "sbr trrw:  over 25 text lines");
    EXPECT_TRUE(e.pauseForReturn());
    EXPECT_EQ(e.exitStatus(), 3);
  }
  kavrel::Fatal plain("x");
  EXPECT_FALSE(plain.pauseForReturn());
  EXPECT_EQ(plain.exitStatus(), 1);
}
