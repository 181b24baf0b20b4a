// kavrel: regional curve standardisation of tree-ring width series by age and
// growth-rate class. The driver runs the whole dialogue; a fatal condition
// ends the run with its message, the log closed, and a non-zero exit status.
#include <exception>

#include "driver/driver.h"
#include "util/console.h"

int main() {
  kavrel::RunLog log;
  kavrel::RunContext ctx(kavrel::stdConsole(), log);
  try {
    kavrel::runProgram(ctx);
    return 0;
  } catch (const kavrel::Fatal& e) {
    return kavrel::reportFatal(ctx, e);
  } catch (const std::exception& e) {
    return kavrel::reportInternalError(ctx, e);
  }
}
