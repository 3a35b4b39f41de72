#!/usr/bin/env bash
# The reference for the Reshaper benchmark: the sqlite3 tool makes the same
# changes (SQL from reference_sql.sql) and compacts the target in place, as
# the program does; the shell working copy is made and removed as the program
# makes and removes it.
# Usage: reference.sh <changes.sql> <program folder> <databases folder>
set -euo pipefail
changes=$1 program=$2 databases=$3
cp "$program/InstallShell.mdb" "$databases/InstallShell.mdb"
/usr/bin/sqlite3 -batch "$databases/Corvista1k.mdb" < "$changes" > /dev/null
rm "$databases/InstallShell.mdb"
