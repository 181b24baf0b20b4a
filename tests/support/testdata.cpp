#include "support/testdata.h"

#include <filesystem>

namespace kavrel::test {

std::string sharedDataPath(const std::string& relative) {
  return std::string(KAVREL_SHARED_DATA) + "/" + relative;
}

bool sharedDataAvailable(const std::string& relative) {
  return std::filesystem::is_regular_file(sharedDataPath(relative));
}

std::string kavrelExe() { return KAVREL_EXE; }

std::string sourceDir() { return KAVREL_SOURCE_DIR; }

}  // namespace kavrel::test
