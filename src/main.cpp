// kavrel: regional curve standardisation of tree-ring width series by age and
// growth-rate class. Without arguments the dialogue asks for everything; the
// command line module handles the arguments and maps the run's end to the
// exit status.
#include "cli/command_line.h"

int main(int argc, char** argv) { return kavrel::cli::cliMain(argc, argv); }
