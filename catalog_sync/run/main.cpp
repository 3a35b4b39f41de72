// CatalogSync QVR | INSTALL: brings the assay catalogue into the analyser
// database. See mod_main.h.
#include <csignal>
#include <string>

#include "catalog_sync/run/mod_main.h"

int main(int argc, char** argv) {
  // Standard error may be a pipe whose reader has gone: a message that
  // cannot be written then fails as a write, and the run's restore and
  // clean-up still happen, instead of the process dying at its first message.
  std::signal(SIGPIPE, SIG_IGN);
  // The program has always been given its arguments as one string.
  std::string arguments;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) arguments += ' ';
    arguments += argv[i];
  }
  return catalog_sync::ExitStatus(catalog_sync::RunCatalogSync(arguments));
}
