// The combined index file "KavrelV6indx.raw.txt" between passes: before a
// class is refitted, its old index series are removed from the file, so that
// the revision pass can append the new ones and the file holds exactly one
// copy of every series. The rewrite goes through a scratch file that is
// renamed over the combined file, so the combined file is never missing or
// half written, even when the program is killed in the middle.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace kavrel {

// Scratch copy of the combined file while a class's series are removed.
inline constexpr const char* kCombinedScratchFileName = "temp.txt";

// What a removal did.
struct RemovalResult {
  int32_t classSeries = 0;  // series read from the class index file
  int32_t removed = 0;      // series dropped from the combined file
  int32_t kept = 0;         // series of other classes kept in place
  // Series of the class index file that had no copy in the combined file
  // (classSeries - removed); 0 for a consistent pair of files.
  int32_t notFound() const { return classSeries - removed; }
};

// Points where a test can stop the rewrite, to check that an interruption
// leaves the old or the new file whole. Unset hooks do nothing.
struct RemovalHooks {
  std::function<void(int32_t seriesWritten)> afterSeriesWritten;  // scratch file, per series
  std::function<void()> beforeRename;                              // scratch file complete
};

// Removes the series of one class from the combined file.
// Every series of classIndexFile (read with the ring-width reader) removes
// exactly one series of combinedFile with the same identifier (all 8
// characters), first year and values, the first such one not yet removed; so
// a series of another class that shares an identifier stays. Every other line
// of the combined file is copied byte for byte, in order. The result is written
// to scratchFile, flushed to disk and renamed over combinedFile.
// Raises Fatal when either file can't be opened or read, or the scratch file
// can't be written or renamed; the combined file is then unchanged.
RemovalResult removeClassSeries(const std::string& classIndexFile,
                                const std::string& combinedFile,
                                const std::string& scratchFile = kCombinedScratchFileName,
                                const RemovalHooks& hooks = {});

// Opens the combined file for appending; it must exist. Raises Fatal when it
// doesn't or can't be opened.
std::FILE* reopenCombinedForAppend(const std::string& combinedFile);

}  // namespace kavrel
