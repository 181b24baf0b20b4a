// Cores of one tree: series whose identifiers share their first K characters
// are taken as cores of one tree, as collections name cores after their tree
// ("ABC01A", "ABC01B").
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kavrel {

// The tree number of each identifier: 0 for the first identifier's tree, then
// 1, 2, ... in the order trees first appear. Identifiers with equal first
// treeChars characters (the whole identifier when it is shorter) share a
// number; treeChars 0 makes every series its own tree, duplicated
// identifiers included.
std::vector<int32_t> treeNumbers(std::span<const std::string> ids, int32_t treeChars);

}  // namespace kavrel
