// C stdio files: an owning pointer that closes the file, and a line reader.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace kavrel {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Reads one whole line without its line end (LF or CRLF); false at end of file.
inline bool readTextLine(std::FILE* f, std::string& line) {
  line.clear();
  int ch = 0;
  bool any = false;
  while ((ch = std::fgetc(f)) != EOF) {
    any = true;
    if (ch == '\n') break;
    line.push_back(static_cast<char>(ch));
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return any;
}

}  // namespace kavrel
