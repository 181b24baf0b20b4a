#include "driver/report.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "fit/detrend2_smoothing.h"

namespace kavrel {

namespace {

template <typename T>
std::string shortestText(T v) {
  if (!std::isfinite(v)) return "";
  if (v == T(0)) return "0";
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  return ec == std::errc{} ? std::string(buf, end) : std::string();
}

std::string field(const std::optional<float>& v) { return v ? csvReal(*v) : std::string(); }
std::string field(const std::optional<double>& v) { return v ? csvReal(*v) : std::string(); }
std::string field(const std::optional<int32_t>& v) {
  return v ? std::to_string(*v) : std::string();
}

// A value of the store, empty where it is the missing marker.
std::string valueField(float v) { return v == kMissingValue ? std::string() : csvReal(v); }

// The identifier without its trailing blanks.
std::string trimmedId(const std::string& id) {
  const size_t end = id.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : id.substr(0, end + 1);
}

const char* screenCode(ScreenReason why) {
  switch (why) {
    case ScreenReason::highValue:
      return "high_value";
    case ScreenReason::ageBand:
      return "age_band";
    case ScreenReason::firstYearBand:
      return "first_year_band";
    case ScreenReason::tooLong:
      return "too_long";
    case ScreenReason::noValues:
      return "no_values";
    case ScreenReason::none:
      break;
  }
  return "";
}

std::string screenedValueField(const SeriesRecord& r) {
  switch (r.screened) {
    case ScreenReason::highValue:
      return csvReal(static_cast<float>(r.screenedValue));
    case ScreenReason::ageBand:
    case ScreenReason::firstYearBand:
    case ScreenReason::tooLong:
      return std::to_string(static_cast<int64_t>(r.screenedValue));
    case ScreenReason::none:
    case ScreenReason::noValues:
      break;
  }
  return "";
}

// The curve value at the i-th age with data; the missing marker where none.
float curveAtDataAge(const ClassResult& r, size_t i) {
  const auto j = static_cast<size_t>(r.meanAges[i] - 1);
  return j < r.curveByAge.size() ? r.curveByAge[j] : kMissingValue;
}

// The parameters on a bound of the growth-curve domain, separated by ';'.
std::string atBoundField(const ClassResult& r) {
  std::string out;
  for (const std::string& name : r.atBound) out += (out.empty() ? "" : ";") + name;
  return out;
}

struct CurveText {
  const char* name;
  const char* model;
};

CurveText curveText(int32_t option) {
  switch (option) {
    case 1:
    case 2:
      return {"negative exponential", "y = a*exp(b*t) + k, b < 0, k >= 0"};
    case 3:
      return {"general negative exponential", "y = a*exp(b*t) + k, b < 0"};
    case 4:
      return {"straight line", "y = b*t + k"};
    case 5:
      return {"straight line, not rising", "y = b*t + k, b <= 0"};
    case 6:
      return {"horizontal line at the mean", "y = k"};
    case 7:
      return {"Hugershoff", "y = a*u^c*exp(b*u) + k, u = t + s"};
    case 8:
      return {"general exponential", "y = a*u*exp(b*u) + k, u = t + s"};
    case -5:
      return {"super smoother", "Friedman's variable-span smoother with bass control alpha"};
    case -4:
      return {"robust lowess", "locally weighted regression with robustness steps, span a "
                               "fraction of the series"};
    case -3:
      return {"running medians", "repeated running medians of the window"};
    case -2:
      return {"age-dependent spline", "cubic smoothing spline whose stiffness grows by 1 year "
                                      "per age from its start, end upturn removed"};
    case -1:
      return {"first differences", "cubic smoothing spline of the mean without its first age, "
                                   "for a first-difference index"};
    default:
      return {"cubic smoothing spline", "50 % cutoff at the stiffness in years"};
  }
}

bool isSmoothingSplineCode(int32_t option) {
  return option == 0 || option == 9 || (option <= -6 && option >= -9) || option >= 10 ||
         option <= -10;
}

}  // namespace

std::vector<std::string> diagnosticWarnings(const RunResults& results) {
  std::vector<std::string> lines;
  char line[320];
  for (int32_t c = 1; c <= classCountOf(results); ++c) {
    const ClassResult& r = results.classes[static_cast<size_t>(c - 1)];
    const ClassDiagnostics& d = r.diagnostics;
    const std::string name = classNameOf(results, c);
    if (d.narrowStart) {
      std::snprintf(line, sizeof line,
                    " Warning: class %d (%s): 90%% of its series start within %.0f years, under a "
                    "third of their mean length (%.0f rings): age and year can't be told apart",
                    c, name.c_str(), *d.startP95 - *d.startP05, *d.meanRings);
      lines.emplace_back(line);
    }
    if (d.modernSampleBias) {
      std::snprintf(line, sizeof line,
                    " Warning: class %d (%s): early growth and first year correlate (r = %.2f "
                    "over %d series): possible modern-sample bias",
                    c, name.c_str(), *d.earlyGrowthR, r.seriesCount);
      lines.emplace_back(line);
    }
  }
  return lines;
}

int32_t classCountOf(const RunResults& results) { return results.singleCurve ? 1 : kClassCount; }

std::string classNameOf(const RunResults& results, int32_t classNumber) {
  if (results.singleCurve) return "all";
  return kClassNames[static_cast<size_t>(classNumber - 1)];
}

std::string csvReal(float v) { return shortestText(v); }
std::string csvReal(double v) { return shortestText(v); }

std::string csvText(std::string_view text) {
  const bool quote = text.find_first_of(",\"\r\n") != std::string_view::npos ||
                     (!text.empty() && (text.front() == ' ' || text.back() == ' '));
  if (!quote) return std::string(text);
  std::string out = "\"";
  for (char ch : text) {
    if (ch == '"') out += '"';
    out += ch;
  }
  out += '"';
  return out;
}

std::string_view curveName(int32_t option) { return curveText(option).name; }
std::string_view curveModel(int32_t option) { return curveText(option).model; }

CurveColumns curveColumns(const ClassResult& r) {
  CurveColumns col;
  if (!r.fitted) return col;
  const CurveParams& p = r.params;
  const auto n = static_cast<int32_t>(r.meanValues.size());
  switch (r.optionUsed) {
    case 1:
    case 2:
    case 3:
      // Stored as the decline rate |b| of a*exp(-|b|*t) + k; both methods keep
      // only declining curves.
      col.a = p[0];
      col.b = -p[1];
      col.k = p[4];
      break;
    case 4:
    case 5:
    case 6:
      col.b = p[2];
      col.k = p[4];
      break;
    case 7:
    case 8:
      col.a = p[0];
      col.b = -p[2];  // stored as the decline rate |b|; the domain keeps b <= 0
      col.c = p[1];
      col.s = p[5];
      col.k = p[4];
      break;
    case -5:
      col.alpha = r.settings.fitParam;
      break;
    case -4:
      col.span = r.settings.fitParam;
      break;
    case -3:
      col.window = r.settings.span;
      break;
    case -2:
      col.stiffness = ageDependentStartStiffness(r.settings.startStiffness);
      break;
    case -1:
      col.stiffness = (n - 1) / 3;
      break;
    default:
      if (isSmoothingSplineCode(r.optionUsed)) {
        col.stiffness = splineCodeStiffness(r.optionUsed, n);
      }
      break;
  }
  return col;
}

std::optional<double> curveRss(const ClassResult& r) {
  if (!r.fitted) return std::nullopt;
  double rss = 0.0;
  bool any = false;
  for (size_t i = 0; i < r.meanAges.size() && i < r.meanValues.size(); ++i) {
    const float curve = curveAtDataAge(r, i);
    if (curve == kMissingValue) continue;
    const double d = static_cast<double>(r.meanValues[i]) - static_cast<double>(curve);
    rss += d * d;
    any = true;
  }
  return any ? std::optional<double>(rss) : std::nullopt;
}

std::optional<int32_t> minCurveDepth(const ClassResult& r) {
  std::optional<int32_t> least;
  for (size_t i = 0; i < r.meanAges.size() && i < r.depths.size(); ++i) {
    if (curveAtDataAge(r, i) == kMissingValue) continue;
    if (!least || r.depths[i] < *least) least = r.depths[i];
  }
  return least;
}

void appendSeriesCsv(std::string& out, const RunResults& results) {
  out +=
      "series,id,first_year,last_year,rings,missing_rings,pith_offset,total_age,third1_median,"
      "third2_median,third3_median,class,class_name,screened_out,screened_value,decade_id\n";
  int32_t number = 0;
  for (const SeriesRecord& r : results.series) {
    const bool classed = r.classNumber >= 1 && r.classNumber <= kClassCount;
    const bool accepted = r.storeIndex > 0;
    const std::string decadeId = trimmedId(r.id);
    out += std::to_string(++number) + ',' + csvText(r.fullName.empty() ? decadeId : r.fullName) +
           ',' +
           std::to_string(r.firstYear) + ',' +
           (r.rings > 0 ? std::to_string(r.firstYear + r.rings - 1) : std::string()) + ',' +
           std::to_string(r.rings) + ',' + std::to_string(r.missingRings) + ',' +
           field(r.pithOffset) + ',' +
           (accepted && results.classified ? std::to_string(r.totalAge) : std::string());
    for (float m : r.thirdMedians) out += ',' + (accepted ? valueField(m) : std::string());
    out += ',';
    if (classed) {
      out += std::to_string(r.classNumber) + ',' + classNameOf(results, r.classNumber);
    } else {
      out += ',';
    }
    out += std::string(",") + screenCode(r.screened) + ',' + screenedValueField(r) + ',' +
           csvText(decadeId) + '\n';
  }
}

void appendClassesCsv(std::string& out, const RunResults& results) {
  out +=
      "class,name,series,min_total_age,max_total_age,threshold_kind,threshold,pass,option_asked,"
      "option,curve,a,b,c,s,k,stiffness,span,alpha,window,rss,ages_with_data,min_depth,at_bound";
  // The single-curve and signal-free forms add the checks of their classes.
  const bool diagnostics = results.singleCurve || results.signalFree;
  if (diagnostics) {
    out += ",start_p05,start_p95,mean_rings,early_growth_r,narrow_start,modern_sample_bias";
  }
  out += '\n';
  for (int32_t c = 1; c <= classCountOf(results); ++c) {
    const ClassResult& r = results.classes[static_cast<size_t>(c - 1)];
    const bool any = r.seriesCount > 0;
    out += std::to_string(c) + ',' + classNameOf(results, c) + ',' +
           std::to_string(r.seriesCount) + ',' + (any ? std::to_string(r.minTotalAge) : "") +
           ',' + (any ? std::to_string(r.maxTotalAge) : "") + ',';
    if (results.classified) {
      out += std::string(results.meanThreshold ? "mean" : "median") + ',' +
             csvReal(results.ageThreshold);
    } else {
      out += ',';
    }
    out += ',' + std::string(r.passed ? (r.revision ? "revision" : "first") : "") + ',';
    if (r.fitted) {
      out += std::to_string(r.optionAsked) + ',' + std::to_string(r.optionUsed) + ',' +
             csvText(std::string(curveName(r.optionUsed)) + ": " +
                     std::string(curveModel(r.optionUsed)));
    } else {
      out += ",,";
    }
    const CurveColumns col = curveColumns(r);
    out += ',' + field(col.a) + ',' + field(col.b) + ',' + field(col.c) + ',' + field(col.s) +
           ',' + field(col.k) + ',' + field(col.stiffness) + ',' + field(col.span) + ',' +
           field(col.alpha) + ',' + field(col.window) + ',' + field(curveRss(r)) + ',' +
           (r.passed ? std::to_string(r.meanAges.size()) : "") + ',' + field(minCurveDepth(r)) +
           ',' + atBoundField(r);
    if (diagnostics) {
      const ClassDiagnostics& d = r.diagnostics;
      const bool checked = d.meanRings.has_value();
      out += ',' + field(d.startP05) + ',' + field(d.startP95) + ',' + field(d.meanRings) + ',' +
             field(d.earlyGrowthR) + ',' + (checked ? (d.narrowStart ? "true" : "false") : "") + ',' +
             (checked ? (d.modernSampleBias ? "true" : "false") : "");
    }
    out += '\n';
  }
}

void appendCurvesCsv(std::string& out, const RunResults& results) {
  // Signal-free runs add the pass-0 curve beside the final one.
  const bool pass0 = std::any_of(results.classes.begin(), results.classes.end(),
                                 [](const ClassResult& r) { return !r.curvePass0ByAge.empty(); });
  out += pass0 ? "class,age,t,depth,mean,curve,curve_pass0\n" : "class,age,t,depth,mean,curve\n";
  for (int32_t c = 1; c <= classCountOf(results); ++c) {
    const ClassResult& r = results.classes[static_cast<size_t>(c - 1)];
    const std::string prefix = std::to_string(c) + ',';
    size_t i = 0;  // next age with data
    for (int32_t age = 1; age <= r.classMaxAge; ++age) {
      out += prefix + std::to_string(age) + ',';
      if (i < r.meanAges.size() && r.meanAges[i] == age) {
        out += std::to_string(i + 1) + ',' + std::to_string(r.depths[i]) + ',' +
               csvReal(r.meanValues[i]);
        ++i;
      } else {
        out += ",0,";
      }
      const auto j = static_cast<size_t>(age - 1);
      out += ',' + (j < r.curveByAge.size() ? valueField(r.curveByAge[j]) : std::string());
      if (pass0) {
        out += ',' + (j < r.curvePass0ByAge.size() ? valueField(r.curvePass0ByAge[j]) : std::string());
      }
      out += '\n';
    }
  }
}

std::string classTable(const RunResults& results) {
  std::string text = "\n Class          Series   Total ages   Curve";
  char line[160];
  for (int32_t c = 1; c <= classCountOf(results); ++c) {
    const ClassResult& r = results.classes[static_cast<size_t>(c - 1)];
    std::string ages = "-";
    if (r.seriesCount > 0) ages = std::to_string(r.minTotalAge) + "-" + std::to_string(r.maxTotalAge);
    std::string curve = "none";
    if (r.fitted) curve = std::to_string(r.optionUsed) + " " + std::string(curveName(r.optionUsed));
    std::snprintf(line, sizeof line, "\n %d %-10s %8d   %-10s   %s", c,
                  classNameOf(results, c).c_str(), r.seriesCount, ages.c_str(),
                  curve.c_str());
    text += line;
  }
  return text;
}

}  // namespace kavrel
