// Pages saved as picture files. The format follows the file name's
// extension: ".ps" colour PostScript through PLplot's "psc" device (as the
// plot menu saves), ".pdf", ".png" and ".svg" through PLplot's cairo devices
// (pdfcairo, pngcairo, svgcairo). A PNG page has a size in pixels; the
// other formats keep their device's page (PDF and SVG 720 x 540 points).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavrel {

enum class PictureFormat { PostScript, Pdf, Png, Svg };

// Page size of a PNG picture in pixels.
struct PageSize {
  int32_t width = 1600;   // kMinPageSide..kMaxPageSide
  int32_t height = 1200;  // kMinPageSide..kMaxPageSide
};
// Sides outside these limits give unreadable text or an image too large
// to keep in memory while it is drawn.
inline constexpr int32_t kMinPageSide = 100;
inline constexpr int32_t kMaxPageSide = 8000;

// How a picture is drawn.
struct PictureTarget {
  PictureFormat format = PictureFormat::Png;
  std::string device;              // PLplot device name
  std::optional<PageSize> pixels;  // page size for the PNG device; none keeps the device's page
};

struct PictureTargetResult {
  std::optional<PictureTarget> target;  // empty when the name is refused
  std::string message;                  // why it was refused
};

// The target for a picture file name (extension case ignored); pngSize
// applies to PNG only. Other extensions are refused with a message that
// names the file and the accepted extensions.
[[nodiscard]] PictureTargetResult pictureTarget(std::string_view fileName, PageSize pngSize = {});

struct PageSizeResult {
  std::optional<PageSize> size;  // empty when the text is refused
  std::string message;           // why it was refused
};

// Reads "WIDTHxHEIGHT" in pixels (e.g. "1600x1200"; 'X' also separates).
[[nodiscard]] PageSizeResult parsePageSize(std::string_view text);

// Text as PLplot draws it literally: '#' (PLplot's escape character) doubled
// and bytes outside printable ASCII replaced by '?'.
std::string plotText(std::string_view text);

// Why the picture file at path is not a complete file of its format: its
// end marker is missing (PNG: the IEND chunk last; PDF and PostScript:
// "%%EOF"; SVG: "</svg>", each followed only by white space). PLplot reports
// no failed write, so a full disk or a file size limit shows only as a file
// cut short. Empty when the file is complete.
std::string incompletePicture(const std::string& path, PictureFormat format);

// Draws one picture into the file at path (the caller's scratch name; the
// caller renames it into place and removes it after a failure). setup runs
// before the device is initialised (colour map, background), draw after it,
// on one page. Returns PLplot's messages of aborted, non-fatal operations.
// Throws Fatal when the device is not available, the file can't be opened,
// or PLplot fails fatally; the stream is closed in every case.
std::vector<std::string> drawPicture(const std::string& path, const PictureTarget& target,
                                     const std::function<void()>& setup,
                                     const std::function<void()>& draw);

}  // namespace kavrel
