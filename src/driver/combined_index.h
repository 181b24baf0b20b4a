// The combined index file "KavrelV6indx.raw.txt" between passes: before a
// class is refitted, its old index series are removed from the file, so that
// the revision pass can append the new ones and the file holds exactly one
// copy of every series. The rewrite goes through a scratch file that is
// renamed over the combined file, so the combined file is never missing or
// half written, even when the program is killed in the middle.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "util/outfile.h"

namespace kavrel {

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
  std::function<void()> beforeRename;                             // scratch file complete
};

// Replacement of one class's series in the combined file. The constructor
// reads the class index file (the class's old series) and writes every line
// of the combined file except those old series to the scratch file: each old
// series (read with the ring-width reader) removes exactly one series of the
// combined file with the same identifier (all 8 characters), first year and
// values, the first such one not yet removed, so a series of another class
// that shares an identifier stays. Every other line is copied byte for byte,
// in order. The scratch file (an OutputFile beside the combined file, under a
// name no other file has) then stays open at its end for the class's new
// series; commit() puts it on disk and renames it over the combined file in
// one step. Until then the combined file is untouched, and an object
// destroyed without commit() removes the scratch file: a run that stops or is
// killed at any point leaves the old or the new combined file, whole.
// Raises Fatal when either file can't be opened or read, or the scratch file
// can't be written or renamed.
class CombinedIndexRewrite {
 public:
  CombinedIndexRewrite(const std::string& classIndexFile, const std::string& combinedFile,
                       RemovalHooks hooks = {});
  ~CombinedIndexRewrite();
  CombinedIndexRewrite(const CombinedIndexRewrite&) = delete;
  CombinedIndexRewrite& operator=(const CombinedIndexRewrite&) = delete;

  // The scratch file, open for writing at its end; nullptr after commit().
  OutputFile* file() { return scratch_ && !committed_ ? &*scratch_ : nullptr; }
  // What the removal did.
  const RemovalResult& result() const { return result_; }
  // Flushes and syncs the scratch file, closes it and renames it over the
  // combined file.
  void commit();

 private:
  RemovalHooks hooks_;
  std::optional<OutputFile> scratch_;
  bool committed_ = false;
  RemovalResult result_;
};

// Removes the series of one class from the combined file at once: a
// CombinedIndexRewrite committed without new series.
RemovalResult removeClassSeries(const std::string& classIndexFile, const std::string& combinedFile,
                                const RemovalHooks& hooks = {});

}  // namespace kavrel
