// The texts of --help and --version.
#pragma once

#include <string>

namespace kavrel::cli {

// Usage, every option, the recipe keys and the exit statuses.
std::string helpText();

// "kavrel VERSION" and, where the build knew it, " (commit HASH)", then a newline.
std::string versionText();

}  // namespace kavrel::cli
