// ShellPackage check: the faults of a shell database that would stop an
// upgrade, all of them in one pass, before the shell ships.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "shell_package/findings.h"

namespace shell_package {

struct CheckReport {
  std::string shell;
  std::optional<std::string> database;  // the target checked against, if any
  std::string mode;                     // "INSTALL" or "ERU"
  std::vector<Finding> problems;        // each one would make a run fail
  std::vector<Finding> notes;           // what the run would do, for the reader
};

// Checks the shell at `shell_path` for `mode`: every StructureInfo row (table
// and field named, type word known, size valid for the type, properties
// convertible, validation rule translatable), a VersionInfo row, and that
// every DefaultData statement and saved query prepares against the shell's
// own tables with its structure applied. With `database_path` also against
// that target as the run would meet it: listed tables present, each field's
// presence, the structure step run on a copy, default data and queries
// preparing on the result, the version table and field with a row. Neither
// file is changed (both are read as in-memory copies). Throws
// platform::Error when a file cannot be read as a database.
CheckReport CheckShell(const std::string& shell_path,
                       const std::optional<std::string>& database_path, const std::string& mode);

// The mode a shell is for, from its file name: "ERU" for ERUShell.mdb, else
// "INSTALL".
std::string ModeOfShell(const std::string& shell_path);

}  // namespace shell_package
