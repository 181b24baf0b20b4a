#include "image_check.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/testdata.h"

namespace kavrel::plottest {

std::optional<std::pair<uint32_t, uint32_t>> pngHeaderSize(const std::string& path) {
  const std::string data = test::readTextFile(path);
  static const char kSignature[] = "\x89PNG\r\n\x1a\n";
  if (data.size() < 24 || data.compare(0, 8, kSignature, 8) != 0 ||
      data.compare(12, 4, "IHDR") != 0) {
    return std::nullopt;
  }
  auto bigEndian = [&](size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<uint8_t>(data[at + i]);
    return v;
  };
  return std::make_pair(bigEndian(16), bigEndian(20));
}

bool RgbImage::is(uint32_t x, uint32_t y, uint8_t r, uint8_t g, uint8_t b) const {
  const size_t at = (static_cast<size_t>(y) * width + x) * 3;
  return pixels[at] == r && pixels[at + 1] == g && pixels[at + 2] == b;
}

std::optional<RgbImage> readPng(const std::string& path) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) return std::nullopt;
  image.format = PNG_FORMAT_RGB;
  RgbImage img;
  img.width = image.width;
  img.height = image.height;
  img.pixels.resize(PNG_IMAGE_SIZE(image));
  // Transparent pixels (none expected) are composed onto white.
  png_color white{255, 255, 255};
  if (png_image_finish_read(&image, &white, img.pixels.data(), 0, nullptr) == 0) {
    png_image_free(&image);
    return std::nullopt;
  }
  return img;
}

namespace {

// Pixel bounds of a page box: columns x0..x1-1, rows y0..y1-1 (top row 0).
struct PixelBox {
  int64_t x0, x1, y0, y1;
};
PixelBox pixelBox(const RgbImage& img, const PageBox& box, int32_t inset) {
  const double w = img.width, h = img.height;
  return {static_cast<int64_t>(std::ceil(box.left * w)) + inset,
          static_cast<int64_t>(std::floor(box.right * w)) - inset,
          static_cast<int64_t>(std::ceil((1.0 - box.top) * h)) + inset,
          static_cast<int64_t>(std::floor((1.0 - box.bottom) * h)) - inset};
}

template <typename Pred>
int64_t countPixels(const RgbImage& img, const PixelBox& p, Pred pred) {
  int64_t n = 0;
  for (int64_t y = std::max<int64_t>(p.y0, 0); y < std::min<int64_t>(p.y1, img.height); ++y) {
    for (int64_t x = std::max<int64_t>(p.x0, 0); x < std::min<int64_t>(p.x1, img.width); ++x) {
      if (pred(static_cast<uint32_t>(x), static_cast<uint32_t>(y))) ++n;
    }
  }
  return n;
}

}  // namespace

int64_t pixelsOtherThan(const RgbImage& img, const PageBox& box, int32_t inset, uint8_t r,
                        uint8_t g, uint8_t b) {
  return countPixels(img, pixelBox(img, box, inset),
                     [&](uint32_t x, uint32_t y) { return !img.is(x, y, r, g, b); });
}

int64_t pixelsOf(const RgbImage& img, const PageBox& box, uint8_t r, uint8_t g, uint8_t b) {
  return countPixels(img, pixelBox(img, box, 0),
                     [&](uint32_t x, uint32_t y) { return img.is(x, y, r, g, b); });
}

std::optional<std::string> xmlRootTag(const std::string& text) {
  std::vector<std::string> open;
  std::string root;
  int32_t roots = 0;
  size_t p = 0;
  while ((p = text.find('<', p)) != std::string::npos) {
    if (text.compare(p, 4, "<!--") == 0) {
      p = text.find("-->", p);
      if (p == std::string::npos) return std::nullopt;
      continue;
    }
    const size_t end = text.find('>', p);
    if (end == std::string::npos) return std::nullopt;
    const std::string tag = text.substr(p, end - p + 1);
    p = end + 1;
    if (tag[1] == '?' || tag[1] == '!') continue;
    const size_t nameEnd = tag.find_first_of(" \t\r\n/>", 1);
    if (tag[1] == '/') {
      const std::string name = tag.substr(2, tag.find_first_of(" \t\r\n>", 2) - 2);
      if (open.empty() || open.back() != name) return std::nullopt;
      open.pop_back();
      continue;
    }
    if (open.empty()) {
      ++roots;
      root = tag;
    }
    if (tag[tag.size() - 2] != '/') open.push_back(tag.substr(1, nameEnd - 1));
  }
  if (!open.empty() || roots != 1) return std::nullopt;
  return root;
}

std::optional<int32_t> pdfObjectCount(const std::string& text) {
  if (text.rfind("%PDF-1.", 0) != 0) return std::nullopt;
  const size_t eof = text.rfind("%%EOF");
  const size_t sx = text.rfind("startxref");
  if (eof == std::string::npos || sx == std::string::npos || sx > eof) return std::nullopt;
  const size_t xref = std::strtoul(text.c_str() + sx + 9, nullptr, 10);
  if (xref >= text.size() || text.compare(xref, 4, "xref") != 0) return std::nullopt;
  // "xref", then a subsection "first count", then count 20-byte entries.
  const char* q = text.c_str() + xref + 4;
  char* next = nullptr;
  const long first = std::strtol(q, &next, 10);
  const long count = std::strtol(next, &next, 10);
  while (*next == ' ' || *next == '\r' || *next == '\n') ++next;
  int32_t used = 0;
  for (long i = 0; i < count; ++i) {
    const char* entry = next + 20 * i;
    if (entry + 20 > text.c_str() + text.size()) return std::nullopt;
    if (entry[17] != 'n') continue;
    const size_t offset = std::strtoul(entry, nullptr, 10);
    const std::string expect = std::to_string(first + i) + " 0 obj";
    if (text.compare(offset, expect.size(), expect) != 0) return std::nullopt;
    ++used;
  }
  return used;
}

}  // namespace kavrel::plottest
