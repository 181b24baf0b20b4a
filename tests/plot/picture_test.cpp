// Picture files of the chronology page and of the regional-curve page.
#include "plot/picture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "image_check.h"
#include "page_fixture.h"
#include "plot/chronplt.h"
#include "plot/rcs_figure.h"
#include "plot_test_support.h"
#include "support/testdata.h"
#include "util/fatal.h"

namespace kavrel {
namespace {

namespace fs = std::filesystem;
using plottest::PageBox;
using plottest::ScratchDir;
using test::readTextFile;

PictureTarget targetFor(const std::string& name, PageSize size = {}) {
  const PictureTargetResult r = pictureTarget(name, size);
  if (!r.target) throw std::runtime_error(r.message);
  return *r.target;
}

// Checks that the file is a picture of its format; returns what is wrong.
std::string formatProblem(const std::string& path, PictureFormat format) {
  const std::string text = readTextFile(path);
  switch (format) {
    case PictureFormat::PostScript:
      if (text.rfind("%!PS-Adobe", 0) != 0 || text.find("%%EOF") == std::string::npos) {
        return "not PostScript";
      }
      return "";
    case PictureFormat::Pdf: {
      const auto objects = plottest::pdfObjectCount(text);
      if (!objects || *objects < 3) return "PDF structure broken";
      return text.find("/Type /Page ") == std::string::npos ? "no page" : "";
    }
    case PictureFormat::Svg: {
      const auto root = plottest::xmlRootTag(text);
      if (!root || root->rfind("<svg", 0) != 0) return "not well-formed svg";
      return root->find("viewBox=\"0 0 720 540\"") == std::string::npos ? "svg page size" : "";
    }
    case PictureFormat::Png:
      return plottest::readPng(path) ? "" : "PNG does not decode";
  }
  return "unknown format";
}

TEST(Picture, DeviceFromExtensionAndPageSize) {
  struct Case {
    const char* name;
    const char* device;  // nullptr: refused
    bool pixels;
  };
  const Case cases[] = {{"page.ps", "psc", false},        {"out/Chron.PDF", "pdfcairo", false},
                        {"a.b.png", "pngcairo", true},    {"rc.Svg", "svgcairo", false},
                        {"page.jpg", nullptr, false},     {"page", nullptr, false},
                        {"page.png.txt", nullptr, false}, {".png", nullptr, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PictureTargetResult r = pictureTarget(c.name, PageSize{640, 480});
    if (c.device == nullptr) {
      EXPECT_FALSE(r.target);
      EXPECT_EQ(r.message, "The picture file name " + std::string(c.name) +
                               " must end in .ps, .pdf, .png or .svg");
      continue;
    }
    ASSERT_TRUE(r.target) << r.message;
    EXPECT_EQ(r.target->device, c.device);
    EXPECT_EQ(r.target->pixels.has_value(), c.pixels);
    if (c.pixels) {
      EXPECT_EQ(r.target->pixels->width, 640);
    }
  }

  struct Size {
    const char* text;
    int32_t width;  // 0: refused
    int32_t height;
  };
  const Size sizes[] = {{"1600x1200", 1600, 1200},
                        {"800X600", 800, 600},
                        {"100x8000", 100, 8000},
                        {"99x600", 0, 0},
                        {"800x8001", 0, 0},
                        {"800x", 0, 0},
                        {"800*600", 0, 0},
                        {"800x600x2", 0, 0},
                        {"8OOx600", 0, 0},
                        {"99999999999x600", 0, 0}};
  for (const Size& s : sizes) {
    SCOPED_TRACE(s.text);
    const PageSizeResult r = parsePageSize(s.text);
    if (s.width == 0) {
      EXPECT_FALSE(r.size);
      EXPECT_EQ(r.message, "The page size " + std::string(s.text) +
                               " must be WIDTHxHEIGHT in pixels, each 100 to 8000");
    } else {
      ASSERT_TRUE(r.size) << r.message;
      EXPECT_EQ(r.size->width, s.width);
      EXPECT_EQ(r.size->height, s.height);
    }
  }
  EXPECT_EQ(plotText("n = 3, #1 \xc3\xa9t\xc3\xa9\n"), "n = 3, ##1 ??t???");
}

// 120 years 1801-1920 around the reference line, no value in 1850, the
// signal weak in 1801-1830 and 1891-1900.
ChronologyPlotData chronologyData() {
  ChronologyPlotData d;
  d.firstYear = 1801;
  for (int32_t i = 0; i < 120; ++i) {
    const int32_t year = 1801 + i;
    const bool gap = year == 1850;
    d.index.push_back(gap ? std::nullopt : std::optional<double>(1.0 + 0.3 * std::sin(0.37 * i)));
    d.depth.push_back(gap ? 0 : 1 + i / 3);
    d.weak.push_back(year <= 1830 || (year >= 1891 && year <= 1900));
  }
  d.title = "RCS chronology (ratios) #1";
  return d;
}

// The part of a panel between two years (both included).
PageBox yearBand(const PanelBox& panel, double firstYear, double lastYear) {
  const double xLow = 1800.5, xHigh = 1920.5;  // 1801 - 0.5 .. 1920 + 0.5
  const double w = panel.right - panel.left;
  return {panel.left + w * (firstYear - 0.5 - xLow) / (xHigh - xLow),
          panel.left + w * (lastYear + 0.5 - xLow) / (xHigh - xLow), panel.bottom, panel.top};
}

TEST(ChronologyPicture, PngPanelsAndShadingOtherFormatsParse) {
  setPlotEnvironment();
  ScratchDir dir;
  const ChronologyPlotData data = chronologyData();
  const PictureTarget png = targetFor("chron.png", PageSize{900, 700});
  EXPECT_TRUE(drawChronologyPicture(data, "scratch.part", png).empty());

  const auto size = plottest::pngHeaderSize("scratch.part");
  ASSERT_TRUE(size);
  EXPECT_EQ(size->first, 900u);
  EXPECT_EQ(size->second, 700u);
  const auto img = plottest::readPng("scratch.part");
  ASSERT_TRUE(img);
  const auto& bg = kChronBackground;
  const auto& shade = kChronShade;
  auto u8 = [](int32_t v) { return static_cast<uint8_t>(v); };
  for (const PanelBox& panel : {kChronIndexPanel, kChronDepthPanel}) {
    SCOPED_TRACE(panel.bottom);
    const PageBox all{panel.left, panel.right, panel.bottom, panel.top};
    EXPECT_GT(pixelsOtherThan(*img, all, 3, u8(bg.r), u8(bg.g), u8(bg.b)), 500);
    // Shaded where the signal is weak, nowhere else; the years between
    // still hold the drawing.
    const PageBox weak = yearBand(panel, 1803, 1828);
    const PageBox strong = yearBand(panel, 1833, 1888);
    EXPECT_GT(pixelsOf(*img, weak, u8(shade.r), u8(shade.g), u8(shade.b)), 1000);
    EXPECT_EQ(pixelsOf(*img, strong, u8(shade.r), u8(shade.g), u8(shade.b)), 0);
    EXPECT_GT(pixelsOtherThan(*img, strong, 3, u8(bg.r), u8(bg.g), u8(bg.b)), 100);
  }

  for (const char* name : {"chron.pdf", "chron.svg", "chron.ps"}) {
    SCOPED_TRACE(name);
    const PictureTarget t = targetFor(name);
    const std::string path = std::string(name) + ".part";
    EXPECT_TRUE(drawChronologyPicture(data, path, t).empty());
    EXPECT_EQ(formatProblem(path, t.format), "");
  }

  // The smoothed line is drawn in its colour in the upper panel only, and
  // the EPS panel holds its drawing.
  const Rgb& sm = kChronSmooth;
  const PageBox upper{kChronIndexPanel.left, kChronIndexPanel.right, kChronIndexPanel.bottom,
                      kChronIndexPanel.top};
  const PageBox middle{kChronEpsPanel.left, kChronEpsPanel.right, kChronEpsPanel.bottom,
                       kChronEpsPanel.top};
  EXPECT_EQ(pixelsOf(*img, upper, u8(sm.r), u8(sm.g), u8(sm.b)), 0);
  EXPECT_GT(pixelsOtherThan(*img, middle, 3, u8(bg.r), u8(bg.g), u8(bg.b)), 100);
  ChronologyPlotData smoothed = data;
  smoothed.smooth = data.index;
  smoothed.smoothName = "30-year spline";
  smoothed.eps = {{1825.5, 0.8}, {1850.5, 0.9}};
  ASSERT_TRUE(drawChronologyPicture(smoothed, "smooth.png", png).empty());
  const auto withSmooth = plottest::readPng("smooth.png");
  ASSERT_TRUE(withSmooth);
  EXPECT_GT(pixelsOf(*withSmooth, upper, u8(sm.r), u8(sm.g), u8(sm.b)), 200);

  // An empty chronology still gives a page.
  EXPECT_NO_THROW(drawChronologyPicture(ChronologyPlotData{}, "empty.png", png));
  EXPECT_EQ(formatProblem("empty.png", PictureFormat::Png), "");
}

TEST(ChronologyPicture, FailuresEndTheDrawingCleanly) {
  setPlotEnvironment();
  ScratchDir dir;
  ChronologyPlotData data = chronologyData();
  const PictureTarget png = targetFor("c.png");
  try {
    drawChronologyPicture(data, "no/such/folder/c.png", png);
    FAIL() << "no Fatal";
  } catch (const Fatal& e) {
    EXPECT_EQ(std::string(e.what()),
              "Can't open file no/such/folder/c.png: No such file or directory");
  }
  PictureTarget unknown = png;
  unknown.device = "nodevice";
  try {
    drawChronologyPicture(data, "c.png", unknown);
    FAIL() << "no Fatal";
  } catch (const Fatal& e) {
    EXPECT_EQ(std::string(e.what()), "The PLplot device nodevice is not available");
  }
  EXPECT_THROW(drawChronologyPicture(data, "-", png), Fatal);
  data.weak.pop_back();
  EXPECT_THROW(drawChronologyPicture(data, "c.png", png), std::invalid_argument);
  // After the failures PLplot still draws.
  data.weak.clear();
  EXPECT_NO_THROW(drawChronologyPicture(data, "c.png", png));
  EXPECT_EQ(formatProblem("c.png", PictureFormat::Png), "");
}

// The figure of runs without questions in every format, each picture
// complete; a missing class file ends the drawing before the picture file
// exists.
TEST(RegionalCurveFigurePicture, EveryFormatAndMissingFiles) {
  setPlotEnvironment();
  ScratchDir dir;
  const auto five = plottest::writeFiveClasses();
  RegionalCurveFigure figure;
  figure.title = "Site AB, ab.rwl: regional curves by class";
  for (const char* name : {"rc.png", "rc.pdf", "rc.svg", "rc.ps"}) {
    SCOPED_TRACE(name);
    const PictureTarget t = targetFor(name);
    EXPECT_TRUE(drawRegionalCurveFigure(five.inputs, figure, name, t).empty());
    EXPECT_EQ(formatProblem(name, t.format), "");
  }
  const auto size = plottest::pngHeaderSize("rc.png");
  ASSERT_TRUE(size);
  EXPECT_EQ(*size, std::make_pair(1600u, 1200u));

  // Every complete picture ends with its format's end marker; the same file
  // cut short anywhere (a full disk) is told apart, and so is a missing file.
  for (const char* name : {"rc.png", "rc.pdf", "rc.svg", "rc.ps"}) {
    SCOPED_TRACE(name);
    const PictureFormat format = targetFor(name).format;
    EXPECT_EQ(incompletePicture(name, format), "");
    const std::string text = readTextFile(name);
    for (const size_t kept : {size_t{0}, size_t{4096}, text.size() / 2, text.size() - 3}) {
      std::ofstream("cut", std::ios::binary) << text.substr(0, kept);
      EXPECT_NE(incompletePicture("cut", format), "") << kept << " bytes kept";
    }
    EXPECT_NE(incompletePicture("missing", format), "");
  }

  // A missing class file ends the drawing before the picture file exists.
  std::remove(plottest::kAgeAlignedNames[4]);
  try {
    drawRegionalCurveFigure(five.inputs, figure, "missing.png", targetFor("missing.png"));
    FAIL() << "no Fatal";
  } catch (const Fatal& e) {
    EXPECT_NE(std::string(e.what()).find("medV6_raw_agealigned.txt"), std::string::npos);
  }
  EXPECT_FALSE(fs::exists("missing.png"));
}

}  // namespace
}  // namespace kavrel
