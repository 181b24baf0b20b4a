#include "driver/driver.h"

#include <cstdio>

namespace kavrel {

void writeTermination(RunContext& ctx) {
  ctx.log.close();
  std::fputs("\n *************************************\n", stdout);
  std::fputs(" Normal Termination of Program\n", stdout);
  std::fputs(" *************************************\n\n", stdout);
  std::fflush(stdout);
}

void runProgram(RunContext& ctx) {
  ctx.log.open();
  writeTermination(ctx);
}

}  // namespace kavrel
