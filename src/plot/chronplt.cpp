// Drawing of the chronology page.
#include "plot/chronplt.h"

#include <plplot.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace kavrel {

namespace {

// Colour-map-0 entries the page sets for itself.
constexpr PLINT kWhite = 0;
constexpr PLINT kIndexColour = 1;
constexpr PLINT kReferenceColour = 2;
constexpr PLINT kShadeColour = 3;
constexpr PLINT kDepthColour = 4;
constexpr PLINT kSecondColour = 5;
constexpr PLINT kSmoothColour = 6;
constexpr PLINT kBandColour = 7;
constexpr PLINT kBlack = 15;

constexpr PLINT kDashed = 2;  // PLplot line style of the reference line

void setPageColours() {
  plscol0(kWhite, 255, 255, 255);
  plscol0(kBlack, 0, 0, 0);
  plscol0(kIndexColour, 20, 60, 150);
  plscol0(kReferenceColour, 200, 30, 30);
  plscol0(kShadeColour, kChronShade.r, kChronShade.g, kChronShade.b);
  plscol0(kDepthColour, 40, 110, 60);
  plscol0(kSecondColour, 230, 120, 0);
  plscol0(kSmoothColour, kChronSmooth.r, kChronSmooth.g, kChronSmooth.b);
  plscol0(kBandColour, 190, 205, 235);
  plscolbg(kChronBackground.r, kChronBackground.g, kChronBackground.b);
}

bool hasValue(const std::optional<double>& v) { return v && std::isfinite(*v); }

// Value range of the upper panel: the values and the reference line, with a
// margin; a flat range is widened so that PLplot gets a usable window.
std::pair<double, double> indexRange(const ChronologyPlotData& d) {
  double low = d.referenceLevel;
  double high = d.referenceLevel;
  // The band does not widen the range: a band of a few trees can be far
  // wider than the chronology, and the panel clips it.
  for (const auto* values : {&d.index, &d.second}) {
    for (const auto& v : *values) {
      if (!hasValue(v)) continue;
      low = std::min(low, *v);
      high = std::max(high, *v);
    }
  }
  const double margin = high > low ? 0.05 * (high - low) : 0.5;
  return {low - margin, high + margin};
}

// Fills the bands of shaded years from yLow to yHigh.
void shadeWeakYears(const ChronologyPlotData& d, double yLow, double yHigh) {
  plcol0(kShadeColour);
  const size_t n = d.weak.size();
  for (size_t i = 0; i < n;) {
    if (!d.weak[i]) {
      ++i;
      continue;
    }
    size_t j = i;
    while (j + 1 < n && d.weak[j + 1]) ++j;
    const double x0 = d.firstYear + static_cast<double>(i) - 0.5;
    const double x1 = d.firstYear + static_cast<double>(j) + 0.5;
    PLFLT xs[4] = {x0, x1, x1, x0};
    PLFLT ys[4] = {yLow, yLow, yHigh, yHigh};
    plfill(4, xs, ys);
    i = j + 1;
  }
}

// The confidence band: one filled area per run of consecutive years with
// both bounds, along the lower bound and back along the upper one.
void drawBand(const ChronologyPlotData& d) {
  plcol0(kBandColour);
  const size_t n = std::min(d.bandLower.size(), d.bandUpper.size());
  std::vector<PLFLT> xs, ys;
  for (size_t i = 0; i < n;) {
    if (!hasValue(d.bandLower[i]) || !hasValue(d.bandUpper[i])) {
      ++i;
      continue;
    }
    size_t j = i;
    while (j + 1 < n && hasValue(d.bandLower[j + 1]) && hasValue(d.bandUpper[j + 1])) ++j;
    xs.clear();
    ys.clear();
    // A single year is drawn as a bar one year wide.
    const double halfYear = i == j ? 0.5 : 0.0;
    for (size_t k = i; k <= j; ++k) {
      xs.push_back(d.firstYear + static_cast<double>(k) - (k == i ? halfYear : 0.0));
      ys.push_back(*d.bandLower[k]);
    }
    if (i == j) {
      xs.push_back(d.firstYear + static_cast<double>(j) + halfYear);
      ys.push_back(*d.bandLower[j]);
      xs.push_back(d.firstYear + static_cast<double>(j) + halfYear);
      ys.push_back(*d.bandUpper[j]);
    }
    for (size_t k = j + 1; k-- > i;) {
      xs.push_back(d.firstYear + static_cast<double>(k) - (k == i ? halfYear : 0.0));
      ys.push_back(*d.bandUpper[k]);
    }
    plfill(static_cast<PLINT>(xs.size()), xs.data(), ys.data());
    i = j + 1;
  }
}

// The chronology as lines through consecutive years with values; a year
// with no neighbour gets a point.
void drawIndexLine(const ChronologyPlotData& d, const std::vector<std::optional<double>>& values,
                   PLINT colour) {
  plcol0(colour);
  plwidth(1.5);
  std::vector<PLFLT> xs, ys;
  auto flush = [&] {
    if (xs.size() == 1) plpoin(1, xs.data(), ys.data(), 1);
    if (xs.size() > 1) plline(static_cast<PLINT>(xs.size()), xs.data(), ys.data());
    xs.clear();
    ys.clear();
  };
  for (size_t i = 0; i < values.size(); ++i) {
    if (!hasValue(values[i])) {
      flush();
      continue;
    }
    xs.push_back(d.firstYear + static_cast<double>(i));
    ys.push_back(*values[i]);
  }
  flush();
  plwidth(1.0);
}

// The depth as steps: each year a level from y - 0.5 to y + 0.5.
void drawDepthSteps(const ChronologyPlotData& d) {
  plcol0(kDepthColour);
  std::vector<PLFLT> xs, ys;
  xs.reserve(2 * d.depth.size());
  ys.reserve(2 * d.depth.size());
  for (size_t i = 0; i < d.depth.size(); ++i) {
    const double year = d.firstYear + static_cast<double>(i);
    xs.push_back(year - 0.5);
    xs.push_back(year + 0.5);
    ys.push_back(d.depth[i]);
    ys.push_back(d.depth[i]);
  }
  if (!xs.empty()) plline(static_cast<PLINT>(xs.size()), xs.data(), ys.data());
}

void setPanel(const PanelBox& box) { plvpor(box.left, box.right, box.bottom, box.top); }

// The smoothed line, heavier than the chronology, and its name above the
// upper panel's left end.
void drawSmoothLine(const ChronologyPlotData& d) {
  if (d.smooth.empty()) return;
  plwidth(2.5);
  drawIndexLine(d, d.smooth, kSmoothColour);
  plwidth(1.0);
  plcol0(kSmoothColour);
  plmtex("t", 0.8, 0.0, 0.0, plotText(d.smoothName).c_str());
}

// The middle panel: running EPS at the windows' middle years, joined, over
// the dashed threshold line.
void drawEpsPanel(const ChronologyPlotData& d, double xLow, double xHigh) {
  double low = 0.0;
  for (const auto& [year, eps] : d.eps) low = std::min(low, eps);
  setPanel(kChronEpsPanel);
  plwind(xLow, xHigh, low, 1.0);
  plcol0(kReferenceColour);
  pllsty(kDashed);
  PLFLT tx[2] = {xLow, xHigh};
  PLFLT ty[2] = {d.epsThreshold, d.epsThreshold};
  plline(2, tx, ty);
  pllsty(1);
  plcol0(kIndexColour);
  std::vector<PLFLT> xs, ys;
  for (const auto& [year, eps] : d.eps) {
    xs.push_back(year);
    ys.push_back(eps);
  }
  if (!xs.empty()) {
    plline(static_cast<PLINT>(xs.size()), xs.data(), ys.data());
    plpoin(static_cast<PLINT>(xs.size()), xs.data(), ys.data(), 17);
  }
  plcol0(kBlack);
  plschr(0.0, 0.8);
  plbox("bcst", 0.0, 0, "bcnstv", 0.5, 5);
  pllab("", "EPS", "");
  plschr(0.0, 1.0);
}

void drawPage(const ChronologyPlotData& d) {
  const auto years = static_cast<double>(std::max<size_t>(d.index.size(), 1));
  const double xLow = d.firstYear - 0.5;
  const double xHigh = xLow + years;
  const bool anyWeak = std::find(d.weak.begin(), d.weak.end(), true) != d.weak.end();

  pladv(0);
  const auto [yLow, yHigh] = indexRange(d);
  setPanel(kChronIndexPanel);
  plwind(xLow, xHigh, yLow, yHigh);
  shadeWeakYears(d, yLow, yHigh);
  drawBand(d);
  plcol0(kReferenceColour);
  pllsty(kDashed);
  PLFLT rx[2] = {xLow, xHigh};
  PLFLT ry[2] = {d.referenceLevel, d.referenceLevel};
  plline(2, rx, ry);
  pllsty(1);
  drawIndexLine(d, d.index, kIndexColour);
  if (!d.second.empty()) drawIndexLine(d, d.second, kSecondColour);
  drawSmoothLine(d);
  if (!d.second.empty()) {
    // The legend: each name in its line's colour, top left inside the panel.
    plcol0(kIndexColour);
    plmtex("t", -1.5, 0.02, 0.0, plotText(d.indexName).c_str());
    plcol0(kSecondColour);
    plmtex("t", -3.0, 0.02, 0.0, plotText(d.secondName).c_str());
  }
  if (!d.bandName.empty() && !d.bandLower.empty()) {
    plcol0(kIndexColour);
    plmtex("t", d.second.empty() ? -1.5 : -4.5, 0.02, 0.0, plotText(d.bandName).c_str());
  }
  plcol0(kBlack);
  plbox("bcnst", 0.0, 0, "bcnstv", 0.0, 0);
  pllab("", plotText(d.indexLabel).c_str(), plotText(d.title).c_str());
  if (anyWeak) plmtex("t", 0.8, 1.0, 1.0, plotText(d.weakLabel).c_str());

  drawEpsPanel(d, xLow, xHigh);

  int32_t maxDepth = 0;
  for (int32_t v : d.depth) maxDepth = std::max(maxDepth, v);
  const double depthTop = maxDepth > 0 ? 1.05 * maxDepth : 1.0;
  setPanel(kChronDepthPanel);
  plwind(xLow, xHigh, 0.0, depthTop);
  shadeWeakYears(d, 0.0, depthTop);
  drawDepthSteps(d);
  plcol0(kBlack);
  plbox("bcnst", 0.0, 0, "bcnstv", 0.0, 0);
  pllab("Year", "Sample depth", "");
}

}  // namespace

std::vector<std::string> drawChronologyPicture(const ChronologyPlotData& data,
                                               const std::string& path,
                                               const PictureTarget& target) {
  if (data.depth.size() != data.index.size() ||
      (!data.second.empty() && data.second.size() != data.index.size()) ||
      (!data.smooth.empty() && data.smooth.size() != data.index.size()) ||
      (!data.weak.empty() && data.weak.size() != data.index.size()) ||
      data.bandLower.size() != data.bandUpper.size() ||
      (!data.bandLower.empty() && data.bandLower.size() != data.index.size())) {
    throw std::invalid_argument("chronology page: depth and weak must have one entry per year");
  }
  return drawPicture(path, target, setPageColours, [&] { drawPage(data); });
}

}  // namespace kavrel
