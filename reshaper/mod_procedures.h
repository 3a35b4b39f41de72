// modProcedures: the upgrade steps. Each step traps every failure of its own
// and answers true when it completed; on false, `failure` says where and why
// it stopped. Nothing a step changed before its failure is undone: no step
// opens a transaction. Each single change goes through `seam` (step_change.h)
// when one is given, so that a caller can wrap it.
//
// REQUIRES (all but CompactTarget): `target` and `shell` are open; the steps
// use them and leave them open.
#pragma once

#include <string>

#include "platform/core/value.h"
#include "platform/engine/database.h"
#include "reshaper/step_change.h"
#include "reshaper/step_failure.h"

namespace reshaper {

using platform::engine::Database;

// Gives the target every saved query of the shell: a shell query replaces the
// target query of exactly the same name or is added. Target queries the shell
// lacks stay. A change: one query replaced or added.
bool CreateQueries(Database& target, Database& shell, StepFailure* failure,
                   const ChangeSeam& seam = nullptr);

// Adds (mode "INSTALL") or removes (any other mode) the fields that the
// shell's table StructureInfo lists. A field present under exactly its name
// is left as it is in mode "INSTALL". A change: one field added or removed,
// its definition the declared type and the properties it gets or had.
bool UpdateStructure(Database& target, Database& shell, const std::string& sMode,
                     StepFailure* failure, const ChangeSeam& seam = nullptr);

// The engine's field type code (a 16-bit number) for a type word of
// StructureInfo, compared upper-cased and trimmed; the text "Error" for any
// other word and for a value without a text form (null).
platform::Value MapFieldType(const platform::Value& vType);

// The size text a StructureInfo row's new field gets: the row's own `Size`
// when it is not null, else the one `sSize` carries from the most recent
// earlier row that had one ("" before any). Updates and answers `sSize`.
const std::string& CarrySizeText(const platform::Value& vSize, std::string& sSize);

// Whether a StructureInfo row's `DefaultData` gives its new field a default:
// null, no text and spaces only give none.
bool GivesDefault(const platform::Value& vDefault);

// Stores the shell's VersionInfo.VersionNumber (first row) in the first row
// of the target table and field that the row names. Never adds a row. One
// change: the field's value before and the shell's after.
bool UpdateVersion(Database& target, Database& shell, StepFailure* failure,
                   const ChangeSeam& seam = nullptr);

// Runs the shell's DefaultData statements, trimmed of spaces, in the order
// the engine returns them. Rows a statement cannot change (a key it would
// duplicate) are skipped; a statement that cannot run stops the step. A
// change: one statement.
bool UpdateDefaultData(Database& target, Database& shell, StepFailure* failure,
                       const ChangeSeam& seam = nullptr);

// Compacts the target database in place through the engine (under SQLite's
// locks and journal: other clients' commits are kept, the target keeps its
// inode, owner, mode and links, and a crash leaves the old or the new whole
// database). A scratch file "Temp.mdb" left beside it is deleted before and
// none is left after; a lock held past the busy timeout fails the step with
// the target as it was.
// REQUIRES: no connection of this process has the target open.
bool CompactTarget(StepFailure* failure);

}  // namespace reshaper
