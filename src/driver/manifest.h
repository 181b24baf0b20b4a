// The manifest of a run, "kavrel_manifest.toml" in the output folder: the
// program's version, the run's recipe, and the name, size and SHA-256 of
// every file the run read and wrote, so that the files of a run can be told
// from those of another and checked later.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kavrel {

struct RunContext;

// A file as the manifest lists it.
struct ManifestEntry {
  std::string name;     // path relative to the manifest's folder
  std::uintmax_t size;  // bytes
  std::string sha256;   // 64 lowercase hex digits; empty: not a regular file
};

// SHA-256 of the file at path as lowercase hex, with its size (none for
// what is not a regular file, such as a pipe); the name is relative to
// folder. Raises Fatal naming the file when it can't be read.
ManifestEntry fileDigest(const std::filesystem::path& path, const std::filesystem::path& folder);

// The manifest's TOML text: version, the recipe's settings as the table
// [recipe] (its comment lines left out), then one [[input]] and one
// [[output]] table per file.
std::string manifestText(std::string_view version, std::string_view recipe,
                         const std::vector<ManifestEntry>& inputs,
                         const std::vector<ManifestEntry>& outputs);

// Writes the manifest of the run into ctx's output folder through the
// checked writer; inputs and outputs are absolute paths. Raises Fatal when a
// file can't be read or the manifest can't be written.
void writeManifest(const RunContext& ctx, std::string_view recipe,
                   const std::vector<std::filesystem::path>& inputs,
                   const std::vector<std::filesystem::path>& outputs);

}  // namespace kavrel
