// kavrel: regional curve standardisation of tree-ring width series by age and
// growth-rate class. Without arguments the dialogue asks for everything; the
// command line module handles the arguments and maps the run's end to the
// exit status.
#include <csignal>

#include "cli/command_line.h"

int main(int argc, char** argv) {
  // A write beyond a file size limit then fails like a write to a full disk,
  // with a message and the scratch file removed, instead of killing the run.
  std::signal(SIGXFSZ, SIG_IGN);
  return kavrel::cli::cliMain(argc, argv);
}
