// The run report: which series went into which class (or why none), what
// curve and parameters each class got, and how many series stand behind each
// age of a curve. Three CSV tables (header row, comma separators, '.'
// decimals, one record per row, so that R's read.csv and pandas read them
// without options) and a short table of the classes for the screen. Built
// from RunResults; the caller writes the files.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>
#include <string_view>

#include "driver/run_results.h"

namespace kavrel {

inline constexpr const char* kSeriesCsvName = "kavrel_series.csv";
inline constexpr const char* kClassesCsvName = "kavrel_classes.csv";
inline constexpr const char* kCurvesCsvName = "kavrel_curves.csv";

// Short class names, in class order (the raw class file names without
// "V6_raw").
inline constexpr std::array<const char*, kClassCount> kClassNames = {"shorthigh", "shortlow",
                                                                     "longhigh", "longlow", "med"};

// The classes of a run: five, or the one class "all" of a single curve.
int32_t classCountOf(const RunResults& results);
std::string classNameOf(const RunResults& results, int32_t classNumber);

// One warning line per failed check of a class (narrow start dates, early
// growth correlated with the start year), for the screen.
std::vector<std::string> diagnosticWarnings(const RunResults& results);

// A real as the shortest text that reads back as the same value, in the C
// locale ("0.125", "1.5e-07"); empty for a value that is not finite. A
// negative zero is written as "0".
std::string csvReal(float v);
std::string csvReal(double v);

// A text field, in double quotes (inner quotes doubled) when it holds a
// comma, a quote, a line break or a leading or trailing blank.
std::string csvText(std::string_view text);

// Name and model of a curve by the method code detrend2 reports: e.g.
// "Hugershoff" and "y = a*u^c*exp(b*u) + k, u = t + s". Codes without a
// method of their own are cubic smoothing splines.
std::string_view curveName(int32_t option);
std::string_view curveModel(int32_t option);

// The fitted curve's parameters in named columns; empty where the method has
// none. The exponential models are written with a signed rate b: y =
// a*exp(b*t) + k and y = a*u^c*exp(b*u) + k, u = t + s, where t = 1, 2, ...
// numbers the ages with data in order. Lines: y = b*t + k (b the slope, k the
// intercept; a horizontal line has b = 0 and k = the mean). Smoothers:
// spline stiffness in years (the starting stiffness for the age-dependent
// spline), lowess span as a fraction of the series, super smoother bass
// alpha, running-median window.
struct CurveColumns {
  std::optional<float> a{}, b{}, c{}, s{}, k{};  // model parameters
  std::optional<int32_t> stiffness{};  // spline stiffness, years
  std::optional<float> span{};         // lowess span, fraction of the series (0..1)
  std::optional<float> alpha{};        // super smoother bass control, 0..9
  std::optional<int32_t> window{};     // running-median window, values
};
CurveColumns curveColumns(const ClassResult& result);

// Residual sum of squares, in double precision, of the curve against the
// mean by age over the ages with data where the curve has a value; none when
// there is no such age.
std::optional<double> curveRss(const ClassResult& result);

// Smallest sample depth over the ages with data where the curve has a value.
std::optional<int32_t> minCurveDepth(const ClassResult& result);

// The three tables, appended to `out`.
//   series:  series,id,first_year,last_year,rings,missing_rings,pith_offset,
//            total_age,third1_median,third2_median,third3_median,class,
//            class_name,screened_out,screened_value
//   classes: class,name,series,min_total_age,max_total_age,threshold_kind,
//            threshold,pass,option_asked,option,curve,a,b,c,s,k,stiffness,
//            span,alpha,window,rss,ages_with_data,min_depth,at_bound
//   curves:  class,age,t,depth,mean,curve (ages 1..classMaxAge of each class)
void appendSeriesCsv(std::string& out, const RunResults& results);
void appendClassesCsv(std::string& out, const RunResults& results);
void appendCurvesCsv(std::string& out, const RunResults& results);

// The screen table of the five classes: series, total-age range and curve,
// one line per class, lines separated by newlines.
std::string classTable(const RunResults& results);

}  // namespace kavrel
