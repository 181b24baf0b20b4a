#include "chron/trees.h"

#include <string_view>
#include <unordered_map>

namespace kavrel {

std::vector<int32_t> treeNumbers(std::span<const std::string> ids, int32_t treeChars) {
  std::vector<int32_t> numbers(ids.size());
  if (treeChars <= 0) {
    for (size_t i = 0; i < ids.size(); ++i) numbers[i] = static_cast<int32_t>(i);
    return numbers;
  }
  std::unordered_map<std::string_view, int32_t> seen;
  for (size_t i = 0; i < ids.size(); ++i) {
    const std::string_view key = std::string_view(ids[i]).substr(0, static_cast<size_t>(treeChars));
    numbers[i] = seen.try_emplace(key, static_cast<int32_t>(seen.size())).first->second;
  }
  return numbers;
}

}  // namespace kavrel
