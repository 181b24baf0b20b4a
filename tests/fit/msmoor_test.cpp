// Running medians: the known fixed points (monotone series, a spike, the
// whole-series window), the even-window reduction written back, the input
// errors with their messages and pauses, and the pass limit.
#include "fit/msmoor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>


namespace kavrel {
namespace {


TEST(Msmoor, FixedPointsAndWindows) {
  std::vector<float> work(101);
  // Window 1 copies the series; the sum of changes is 0 after one pass.
  std::vector<float> s = {3.5f, 1.25f, 9.0f, 0.5f}, curve(4, -1.0f);
  int32_t window = 1;
  MsmoorResult r = msmoor(s, curve, work, 4, window, 2000);
  EXPECT_EQ(r.errorCode, 0);
  EXPECT_EQ(r.passes, 1);
  EXPECT_EQ(curve, s);

  // A monotone series is a fixed point away from the ends; the ends take the
  // first and last full-window medians (k = 2).
  std::vector<float> mono = {0.5f, 0.75f, 1.5f, 2.25f, 2.5f, 3.75f, 4.0f, 6.5f};
  curve.assign(8, 0.0f);
  window = 5;
  r = msmoor(mono, curve, work, 8, window, 2000);
  // The first pass changes the ends, the second nothing; the series then
  // holds the second pass's input.
  EXPECT_EQ(r.errorCode, 0);
  EXPECT_EQ(r.passes, 2);
  EXPECT_EQ(curve, (std::vector<float>{1.5f, 1.5f, 1.5f, 2.25f, 2.5f, 3.75f, 3.75f, 3.75f}));
  EXPECT_EQ(mono, curve);

  // A spike of k = 2 values in a constant series of window 5 goes in the
  // first pass; the second pass changes nothing.
  std::vector<float> spike(15, 2.385f);
  spike[6] = 40.0f;
  spike[7] = -7.0f;
  curve.assign(15, 0.0f);
  window = 5;
  r = msmoor(spike, curve, work, 15, window, 2000);
  EXPECT_EQ(r.errorCode, 0);
  EXPECT_EQ(r.passes, 2);
  EXPECT_EQ(curve, std::vector<float>(15, 2.385f));

  // Window n with n odd: the median of the whole series everywhere. An even
  // window is lowered by one and the caller sees the lowered value.
  std::vector<float> y = {4.0f, 9.5f, 1.0f, 7.25f, 3.0f, 8.0f, 2.0f};
  curve.assign(7, 0.0f);
  window = 7;
  r = msmoor(y, curve, work, 7, window, 2000);
  EXPECT_EQ(r.errorCode, 0);
  EXPECT_EQ(curve, std::vector<float>(7, 4.0f));
  std::vector<float> y2 = {4.0f, 9.5f, 1.0f, 7.25f, 3.0f, 8.0f, 2.0f}, c3(7), c4(7);
  window = 4;
  r = msmoor(y2, c4, work, 7, window, 2000);
  EXPECT_EQ(window, 3);
  EXPECT_EQ(r.errorCode, 0);
  y2 = {4.0f, 9.5f, 1.0f, 7.25f, 3.0f, 8.0f, 2.0f};
  int32_t three = 3;
  (void)msmoor(y2, c3, work, 7, three, 2000);
  EXPECT_EQ(c4, c3);
}

TEST(Msmoor, InputErrorsAndPassLimit) {
  std::vector<float> work(100);
  struct Case { int32_t n, window, capacity, code, windowAfter; };
  for (const Case c : {Case{3, 5, 2000, 1, 5}, Case{9, 5, 8, 1, 5}, Case{9, 11, 10, 2, 11},
                       Case{9, 0, 2000, 3, -1}, Case{9, -4, 2000, 3, -5},
                       Case{3, 4, 2000, 1, 3}}) {
    FitNotes notes;
    std::vector<float> s(9, 1.5f), curve(9, -5.0f);
    int32_t window = c.window;
    const MsmoorResult r = msmoor(s, curve, work, c.n, window, c.capacity, &notes);
    EXPECT_EQ(r.errorCode, c.code) << c.n << " " << c.window;
    EXPECT_EQ(window, c.windowAfter);
    EXPECT_EQ(curve, std::vector<float>(9, -5.0f));
    EXPECT_EQ(notesText(notes), "\n input error " + std::to_string(c.code) + " in msmoor.\n");
    EXPECT_EQ(notes.pauses, std::vector<size_t>{1});  // a wait for Return after the line
  }
  {
    FitNotes notes;
    std::vector<float> s(9, 1.5f), curve(9, -5.0f);
    EXPECT_EQ(msmoo(s, curve, work, 9, 4, 2000, &notes), 3);
    EXPECT_EQ(notesText(notes), "\n input error 3 in msmoo.\n");
    EXPECT_EQ(notes.pauses, std::vector<size_t>{1});
    EXPECT_EQ(curve, std::vector<float>(9, -5.0f));
  }

  // Alternating values need about n / 2 passes of window 3 to settle: after
  // ten passes msmoor gives up with the tenth pass in curve and series.
  const int n = 40;
  std::vector<float> alt(n), curve(n), expected(n), tmp(n);
  for (int i = 0; i < n; ++i) alt[i] = (i % 2 == 0) ? 0.25f : 1.75f;
  expected = alt;
  for (int p = 0; p < 10; ++p) {
    ASSERT_EQ(msmoo(expected, tmp, work, n, 3, 2000), 0);
    expected = tmp;
  }
  FitNotes notes;
  int32_t window = 3;
  const MsmoorResult r = msmoor(alt, curve, work, n, window, 2000, &notes);
  EXPECT_EQ(r.errorCode, kMsmoorNoConvergence);
  EXPECT_EQ(r.passes, 11);
  EXPECT_EQ(curve, expected);
  EXPECT_EQ(alt, expected);
  EXPECT_EQ(notesText(notes), "\n *** maximum iterations reached in msmoor ***\n");
  EXPECT_TRUE(notes.pauses.empty());
}

}  // namespace
}  // namespace kavrel
