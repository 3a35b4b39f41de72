// Reshaper: upgrades the analyser database from a shell database.
#include <csignal>
#include <string>

#include "reshaper/mod_main.h"

int main(int argc, char** argv) {
  // Standard error may be a pipe whose reader has gone: a message that
  // cannot be written then fails as a write, and the run's restore and
  // clean-up still happen, instead of the process dying at its first message.
  std::signal(SIGPIPE, SIG_IGN);
  // The one argument string of the process: the arguments joined by single
  // blanks, unaltered, so a quoted command line keeps its quotation marks.
  std::string command_line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) command_line += ' ';
    command_line += argv[i];
  }
  return reshaper::Main(command_line);
}
