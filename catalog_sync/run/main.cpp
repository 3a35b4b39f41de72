// CatalogSync QVR | INSTALL: brings the assay catalogue into the analyser
// database. See mod_main.h.
#include <string>

#include "catalog_sync/run/mod_main.h"

int main(int argc, char** argv) {
  // The program has always been given its arguments as one string.
  std::string arguments;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) arguments += ' ';
    arguments += argv[i];
  }
  return catalog_sync::ExitStatus(catalog_sync::RunCatalogSync(arguments));
}
