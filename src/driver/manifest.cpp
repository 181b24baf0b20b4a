#include "driver/manifest.h"

#include <openssl/evp.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "driver/output_names.h"
#include "driver/run_context.h"
#include "util/fatal.h"
#include "util/outfile.h"

namespace kavrel {

namespace fs = std::filesystem;

namespace {

// A TOML basic string: quotes, backslashes and control characters escaped.
std::string tomlString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || u == 0x7f) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", u);
      out += buffer;
    } else {
      out += c;
    }
  }
  out += '"';
  return out;
}

void appendEntries(std::string& text, const char* table, const std::vector<ManifestEntry>& list) {
  for (const ManifestEntry& e : list) {
    text += std::string("\n[[") + table + "]]\n";
    text += "name = " + tomlString(e.name) + "\n";
    if (e.sha256.empty()) continue;  // not a regular file
    text += "size = " + std::to_string(e.size) + "\n";
    text += "sha256 = \"" + e.sha256 + "\"\n";
  }
}

struct DigestFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

struct FileClose {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

ManifestEntry fileDigest(const fs::path& path, const fs::path& folder) {
  ManifestEntry entry{path.lexically_relative(folder).string(), 0, {}};
  if (entry.name.empty()) entry.name = path.string();
  // A pipe or device read by the dialogue can't be read a second time.
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return entry;
  const std::unique_ptr<std::FILE, FileClose> f(std::fopen(path.c_str(), "rb"));
  if (!f) throw Fatal("Cannot read file " + path.string() + ": " + std::strerror(errno));
  const std::unique_ptr<EVP_MD_CTX, DigestFree> md(EVP_MD_CTX_new());
  if (!md || EVP_DigestInit_ex(md.get(), EVP_sha256(), nullptr) != 1) {
    throw Fatal("Cannot compute the SHA-256 checksum of " + path.string());
  }
  std::vector<unsigned char> buffer(1 << 16);
  for (;;) {
    const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), f.get());
    if (n > 0) {
      EVP_DigestUpdate(md.get(), buffer.data(), n);
      entry.size += n;
    }
    if (n < buffer.size()) break;
  }
  if (std::ferror(f.get())) {
    throw Fatal("Cannot read file " + path.string() + ": " + std::strerror(errno));
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(md.get(), digest, &length);
  static constexpr char kHex[] = "0123456789abcdef";
  for (unsigned int i = 0; i < length; ++i) {
    entry.sha256 += kHex[digest[i] >> 4];
    entry.sha256 += kHex[digest[i] & 0xf];
  }
  return entry;
}

std::string manifestText(std::string_view version, std::string_view recipe,
                         const std::vector<ManifestEntry>& inputs,
                         const std::vector<ManifestEntry>& outputs) {
  std::string text =
      "# kavrel run manifest: the files this run read and wrote, with their SHA-256 checksums.\n"
      "# Paths are relative to this file's folder.\n\n";
  text += "version = " + tomlString(version) + "\n";
  text += "\n[recipe]\n";
  std::size_t pos = 0;
  while (pos < recipe.size()) {
    std::size_t end = recipe.find('\n', pos);
    if (end == std::string_view::npos) end = recipe.size();
    const std::string_view line = recipe.substr(pos, end - pos);
    if (!line.empty() && line.front() != '#') {
      text.append(line);
      text += '\n';
    }
    pos = end + 1;
  }
  appendEntries(text, "input", inputs);
  appendEntries(text, "output", outputs);
  return text;
}

void writeManifest(const RunContext& ctx, std::string_view recipe,
                   const std::vector<fs::path>& inputs, const std::vector<fs::path>& outputs) {
  const fs::path target = ctx.outputPath(kManifestFileName);
  std::error_code ec;
  fs::path folder = fs::absolute(target, ec).parent_path().lexically_normal();
  std::vector<ManifestEntry> read;
  std::vector<ManifestEntry> written;
  for (const fs::path& p : inputs) read.push_back(fileDigest(p, folder));
  for (const fs::path& p : outputs) written.push_back(fileDigest(p, folder));
  OutputFile file(target);
  file.write(manifestText(ctx.programVersion.empty() ? "unknown" : ctx.programVersion, recipe, read,
                          written));
  file.commit();
}

}  // namespace kavrel
