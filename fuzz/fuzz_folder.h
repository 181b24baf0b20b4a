// A start folder for the command-line and recipe harnesses: made once per
// process in the temporary folder, holding a small ring-width file ex.rwl
// and its pith-offset file ex.pith, so that inputs naming them pass the file
// checks and reach the later ones.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace kavrel::fuzz {

inline void writeFile(const std::filesystem::path& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

// Never destroyed, so that the removal at exit can still name it.
inline const std::filesystem::path& startFolder() {
  static const std::filesystem::path* folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "kavrel-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    const auto* made = new std::filesystem::path(pattern);
    writeFile(*made / "ex.rwl",
              "EX01    1900   120   130   140   150   160   170   180   190   200   210\n"
              "EX01    1910   220   230   999\n");
    writeFile(*made / "ex.pith", "  5\n");
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(startFolder(), ec);
    });
    return made;
  }();
  return *folder;
}

// Number of entries below `folder`, to check that nothing was written there.
inline std::size_t entryCount(const std::filesystem::path& folder) {
  std::size_t n = 0;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    ++n;
  return n;
}

}  // namespace kavrel::fuzz
