// kavrel: regional curve standardisation of tree-ring width series by age and
// growth-rate class. The driver runs the whole dialogue; a fatal condition
// ends the run with its message and a non-zero exit status.
#include <cstdio>

#include "util/fatal.h"

int main() {
  try {
    std::fputs(" kavrel: the run driver is not built yet.\n", stdout);
    return 1;
  } catch (const kavrel::Fatal& e) {
    std::fprintf(stdout, " %s\n", e.what());
    return e.exitStatus();
  }
}
