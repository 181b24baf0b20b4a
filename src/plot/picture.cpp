// Picture files: device choice, page size and one guarded PLplot drawing.
#include "plot/picture.h"

#include <plplot.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "plot/plplot_guard.h"
#include "util/fatal.h"

namespace kavrel {

namespace {

struct Extension {
  const char* suffix;
  PictureFormat format;
  const char* device;
};
constexpr Extension kExtensions[] = {{".ps", PictureFormat::PostScript, "psc"},
                                     {".pdf", PictureFormat::Pdf, "pdfcairo"},
                                     {".png", PictureFormat::Png, "pngcairo"},
                                     {".svg", PictureFormat::Svg, "svgcairo"}};

std::string lowerCase(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// A side of the page: all digits, within the limits.
std::optional<int32_t> pageSide(std::string_view text) {
  int32_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  if (v < kMinPageSide || v > kMaxPageSide) return std::nullopt;
  return v;
}

// The last bytes of a file (at most n); empty when it can't be read.
std::string fileTail(const std::string& path, long n) {
  std::string tail;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return tail;
  if (std::fseek(f, 0, SEEK_END) == 0) {
    const long size = std::ftell(f);
    const long start = size > n ? size - n : 0;
    if (size > 0 && std::fseek(f, start, SEEK_SET) == 0) {
      tail.resize(static_cast<size_t>(size - start));
      tail.resize(std::fread(tail.data(), 1, tail.size(), f));
    }
  }
  std::fclose(f);
  return tail;
}

bool isBlank(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// Whether text ends with marker followed by nothing but white space.
bool endsWithMarker(std::string text, std::string_view marker) {
  while (!text.empty() && isBlank(text.back())) text.pop_back();
  return text.ends_with(marker);
}

}  // namespace

std::string incompletePicture(const std::string& path, PictureFormat format) {
  // An empty IEND chunk: length 0, type, CRC.
  static constexpr char kIend[] = "\0\0\0\0IEND\xAE\x42\x60\x82";
  static constexpr std::string_view kPngEnd(kIend, sizeof kIend - 1);
  const std::string tail = fileTail(path, 1024);
  switch (format) {
    case PictureFormat::Png:
      if (tail.ends_with(kPngEnd)) return {};
      return "the picture is cut short (the PNG end chunk IEND is missing)";
    case PictureFormat::Pdf:
    case PictureFormat::PostScript:
      if (endsWithMarker(tail, "%%EOF")) return {};
      return "the picture is cut short (its end line %%EOF is missing)";
    case PictureFormat::Svg:
      if (endsWithMarker(tail, "</svg>")) return {};
      return "the picture is cut short (its end tag </svg> is missing)";
  }
  return "the picture format is unknown";
}

PictureTargetResult pictureTarget(std::string_view fileName, PageSize pngSize) {
  PictureTargetResult result;
  const std::string ext = lowerCase(std::filesystem::path(fileName).extension().string());
  for (const Extension& e : kExtensions) {
    if (ext != e.suffix) continue;
    PictureTarget t;
    t.format = e.format;
    t.device = e.device;
    if (e.format == PictureFormat::Png) t.pixels = pngSize;
    result.target = t;
    return result;
  }
  result.message =
      "The picture file name " + std::string(fileName) + " must end in .ps, .pdf, .png or .svg";
  return result;
}

PageSizeResult parsePageSize(std::string_view text) {
  PageSizeResult result;
  const size_t x = text.find_first_of("xX");
  if (x != std::string_view::npos) {
    const auto w = pageSide(text.substr(0, x));
    const auto h = pageSide(text.substr(x + 1));
    if (w && h) {
      result.size = PageSize{*w, *h};
      return result;
    }
  }
  result.message = "The page size " + std::string(text) + " must be WIDTHxHEIGHT in pixels, each " +
                   std::to_string(kMinPageSide) + " to " + std::to_string(kMaxPageSide);
  return result;
}

std::string plotText(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '#') {
      out += "##";
    } else if (c < ' ' || c > '~') {
      out += '?';
    } else {
      out += c;
    }
  }
  return out;
}

std::vector<std::string> drawPicture(const std::string& path, const PictureTarget& target,
                                     const std::function<void()>& setup,
                                     const std::function<void()>& draw) {
  guardPlotStream();
  if (!plotDeviceAvailable(target.device)) {
    throw Fatal("The PLplot device " + target.device + " is not available");
  }
  // PLplot would ask for another name on standard input when it cannot open
  // the file, and "-" would send the picture to standard output.
  if (path.empty() || path == "-") throw Fatal("No file name for the picture");
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fclose(f);
  } else {
    throw Fatal("Can't open file " + path + ": " + std::strerror(errno));
  }
  plsdev(target.device.c_str());
  plsfnam(path.c_str());
  plspause(0);
  if (target.pixels) plspage(0.0, 0.0, target.pixels->width, target.pixels->height, 0, 0);
  try {
    setup();
    plinit();
    draw();
    plend();
  } catch (...) {
    endPlotStreamQuietly();
    throw;
  }
  return takePlotWarnings();
}

}  // namespace kavrel
