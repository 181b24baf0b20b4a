// One pass over one age/growth class: the class raw file is read back, each
// series is placed on the cambial-age axis by its pith offset, the class's
// mean by age is fitted with a regional curve, and the age-aligned file, the
// class index file and the class's part of the combined index file are
// written. The first pass also chooses the curve type by scoring three
// default fits; a revision pass uses the type chosen in the curve-fit menu.
// Regional Curve Standardisation: Briffa et al. 1992, Climate Dynamics 7:111.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "driver/run_results.h"
#include "fit/detrend2.h"
#include "rcs/rcs_pass.h"
#include "util/missing.h"

namespace kavrel {

struct RunContext;

// Runs the pass for class classNumber (1..5).
//   revision = false: first pass. Scores the linear, negative exponential and
//     general exponential fits on the class's series, writes
//     "Processing file: ...", "total number of series = n" and the
//     "Default Curve fit: ..." line to the screen and the log, and fits the
//     winner.
//   revision = true: fits with the method code ctx.detrend.option (set by the
//     curve-fit menu) and writes none of those lines.
// Reads ctx.store.classPithOffsets and the class raw file; updates
// ctx.classFileNames (the age-aligned name), ctx.indexFileNames,
// ctx.seriesInClass, ctx.maxAgeAllClasses and ctx.maxRawValue, and replaces
// the class's entry of ctx.results by this pass (mean by age, sample depths,
// curve, method and parameters, index series). Appends the
// index series to ctx.combinedIndexFile when indices are wanted (the file
// must then be open). Raises Fatal when a file can't be opened or written.
void classPass(RunContext& ctx, int32_t classNumber, bool revision);

// classPass in two steps, so that the signal-free loop can run between them.
struct ClassPass {
  std::vector<ClassSeries> series;  // as read back from the class raw file
  ClassResult result;               // everything but curveByAge
  std::vector<float> curve;         // the curve by age the files are written from
  int32_t curveOption = 0;          // method used, or kNoCurveFitted
  int32_t optionAsked = 0;          // method code the pass asked for
  DetrendOptions settingsBefore;    // fitting settings before the pass's fit
};
// Reads the class file, scores and chooses the default (first pass), writes
// the pass's screen and log lines and fits the curve; writes no file.
ClassPass computeClassPass(RunContext& ctx, int32_t classNumber, bool revision);
// Writes the age-aligned file and the indices from pass.curve and keeps the
// pass in ctx (as classPass does).
void writeClassPass(RunContext& ctx, int32_t classNumber, const ClassPass& pass);
// The same from any curve by age: curveOption goes to ctx.classCurveOptions,
// result (with curve as its curveByAge) to ctx.results.
void writeClassFiles(RunContext& ctx, int32_t classNumber, std::span<const ClassSeries> series,
                     std::span<const float> curve, int32_t curveOption, const ClassResult& result);

// "shortlowV6_raw" -> "shortlowV6_raw_agealigned.txt": the first 15
// characters of the raw name, "_agealigned.txt", blanks removed.
std::string ageAlignedFileName(std::string_view rawName);

// "shortlowV6_raw_agealigned.txt" -> "shortlowV6_raw_agealigned.indx.txt":
// the name up to and including its first '.', then "indx.txt".
std::string indexFileName(std::string_view ageAlignedName);

// The age-aligned table: a header line ("#age", "f", the identifiers) and
// one line per age 1..classMaxAge (age, curve, each series' value), items
// separated by a TAB and seven blanks, written as free-format lines.
void appendAgeAlignedHeader(std::string& out, std::span<const ClassSeries> series);
void appendAgeAlignedLine(std::string& out, int32_t age, float curve,
                          std::span<const ClassSeries> series);

// "Class 3 (longhigh)": the start of every added line about a class.
std::string classLabel(const RunContext& ctx, int32_t classNumber);

}  // namespace kavrel
