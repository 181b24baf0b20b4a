// Writer of the decade chronology layout.
#include "chron/crn.h"

#include <cmath>
#include <filesystem>
#include <vector>

#include "util/fixedformat.h"

namespace kavrel {

namespace {

constexpr int32_t kSiteWidth = 6;
constexpr int32_t kDecade = 10;

// Columns: site (a6), decade year (i4), ten pairs of index (i4) and depth (i3).
constexpr std::string_view kLineLayout = "(a6,i4,10(i4,i3))";

// First year of the decade holding year (rounding toward minus infinity).
int32_t decadeOf(int32_t year) {
  const int32_t q = year / kDecade;
  return (year % kDecade < 0 ? q - 1 : q) * kDecade;
}

std::string cleanSite(std::string_view site) {
  std::string s(site.substr(0, kSiteWidth));
  for (char& c : s) {
    if (c < ' ' || c > '~') c = '_';
  }
  s.resize(kSiteWidth, ' ');
  return s;
}

struct Pair {
  int32_t index = kCrnMissing;
  int32_t depth = 0;
};

}  // namespace

std::string crnSiteCode(std::string_view inputFileName) {
  std::string code = std::filesystem::path(inputFileName).stem().string().substr(0, kSiteWidth);
  // Only the characters a given site code may hold: a blank, comma or dot
  // would shift or split the fields of a reader that splits on them.
  for (char& c : code) {
    const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_';
    if (!kept) c = '_';
  }
  return code;
}

CrnWriteResult appendCrn(std::string& out, std::string_view site, const Chronology& chronology) {
  CrnWriteResult result;
  if (chronology.kind != IndexKind::Ratio) {
    result.status = CrnStatus::NotRatios;
    result.message = "the decade chronology layout holds ratio indices only";
    return result;
  }
  if (chronology.years.empty()) {
    result.status = CrnStatus::Empty;
    result.message = "the chronology holds no values";
    return result;
  }
  const int32_t first = chronology.years.front().year;
  const int32_t last = chronology.years.back().year;
  const int32_t firstDecade = decadeOf(first);
  const int32_t lastDecade = decadeOf(last);
  if (firstDecade < kCrnMinDecade || lastDecade > kCrnMaxDecade) {
    result.status = CrnStatus::YearsOutOfRange;
    result.message = "years " + std::to_string(first) + " to " + std::to_string(last) +
                     " do not fit the layout's four-column decade years";
    return result;
  }

  const std::string code = cleanSite(site);
  std::vector<FmtArg> args;
  std::string text;
  for (int32_t decade = firstDecade; decade <= lastDecade; decade += kDecade) {
    args.clear();
    args.emplace_back(code);
    args.emplace_back(decade);
    for (int32_t year = decade; year < decade + kDecade; ++year) {
      Pair p;
      if (year >= first && year <= last) {
        const ChronologyYear& row = chronology.years[static_cast<size_t>(year - first)];
        if (row.robustMean && std::isfinite(*row.robustMean)) {
          p.depth = row.depth;
          if (p.depth > kCrnMaxDepth) {
            p.depth = kCrnMaxDepth;
            ++result.cappedDepths;
          }
          const double scaled = *row.robustMean * 1000.0;
          // Bounds half a unit inside the field so that rounding stays in it.
          if (scaled > kCrnMinIndex - 0.5 && scaled < kCrnMaxIndex + 0.5) {
            p.index = static_cast<int32_t>(std::lround(scaled));
          } else {
            ++result.unwritableIndices;
          }
        }
      }
      args.emplace_back(p.index);
      args.emplace_back(p.depth);
    }
    text += formatLayout(kLineLayout, args);
    text += '\n';
  }
  out += text;
  return result;
}

}  // namespace kavrel
