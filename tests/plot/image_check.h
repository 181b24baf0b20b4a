// Checks of picture files that do not depend on the program's own code: the
// PNG header and pixels (through libpng), the structure of PDF and SVG files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kavrel::plottest {

// Width and height from a PNG file's IHDR chunk; nothing when the file does
// not start with the PNG signature and an IHDR chunk.
std::optional<std::pair<uint32_t, uint32_t>> pngHeaderSize(const std::string& path);

// A decoded PNG as 8-bit RGB rows, top row first.
struct RgbImage {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> pixels;  // 3 bytes per pixel

  bool is(uint32_t x, uint32_t y, uint8_t r, uint8_t g, uint8_t b) const;
};
std::optional<RgbImage> readPng(const std::string& path);

// A rectangle of the page in fractions, x from the left and y from the
// bottom (PLplot's viewport convention).
struct PageBox {
  double left, right, bottom, top;
};

// Pixels inside the box, shrunk by `inset` pixels on every side, that differ
// from the colour given.
int64_t pixelsOtherThan(const RgbImage& img, const PageBox& box, int32_t inset, uint8_t r,
                        uint8_t g, uint8_t b);
// Pixels inside the box of exactly the colour given.
int64_t pixelsOf(const RgbImage& img, const PageBox& box, uint8_t r, uint8_t g, uint8_t b);

// An XML document checked for balanced tags: every element closed in order,
// one root element. Returns the root's start tag, or nothing when the
// document is not well formed.
std::optional<std::string> xmlRootTag(const std::string& text);

// A PDF checked as a reader would start: header, trailer with startxref
// pointing at the cross-reference table, each of whose in-use entries points
// at "N 0 obj" for its object number. Returns the number of in-use objects,
// or nothing when the structure is broken.
std::optional<int32_t> pdfObjectCount(const std::string& text);

}  // namespace kavrel::plottest
