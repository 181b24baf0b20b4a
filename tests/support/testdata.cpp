#include "support/testdata.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace kavrel::test {

std::string sharedDataPath(const std::string& relative) {
  return std::string(KAVREL_SHARED_DATA) + "/" + relative;
}

bool sharedDataAvailable(const std::string& relative) {
  return std::filesystem::is_regular_file(sharedDataPath(relative));
}

std::string kavrelExe() { return KAVREL_EXE; }

std::string sourceDir() { return KAVREL_SOURCE_DIR; }

std::string readTextFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<float> firstSeries(const std::string& path) {
  std::ifstream in(path);
  std::vector<float> values;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id;
    int year = 0, v = 0;
    fields >> id >> year;
    while (fields >> v) {
      if (v == 999) return values;
      values.push_back(static_cast<float>(v));
    }
  }
  return values;
}

}  // namespace kavrel::test
