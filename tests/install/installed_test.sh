#!/usr/bin/env bash
# The tool set as installed: `cmake --install` into a temporary DESTDIR with
# the package's prefix, then the installed programs run from there on a
# sandbox analyser made from the installed examples (the demo's catalogue and
# shells), from a working folder of their own, and every installed manual
# page rendered with every groff warning on.
#   installed_test.sh <build folder>
set -euo pipefail
build=$1
sqlite=/usr/bin/sqlite3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

root=$tmp/root
DESTDIR=$root cmake --install "$build" --prefix /usr >"$tmp/install.txt"
program=$root/usr/lib/corvista1000
examples=$root/usr/share/doc/corvista1000-tools/examples

for f in usr/lib/corvista1000/CatalogSync usr/lib/corvista1000/Reshaper \
  usr/bin/CatalogPackage usr/bin/ShellPackage \
  usr/share/man/man8/CatalogSync.8.gz usr/share/man/man8/Reshaper.8.gz \
  usr/share/man/man1/CatalogPackage.1.gz usr/share/man/man1/ShellPackage.1.gz \
  usr/share/man/man5/CatalogSync.dat.5.gz \
  usr/share/doc/corvista1000-tools/copyright usr/share/doc/corvista1000-tools/changelog.gz \
  usr/share/doc/corvista1000-tools/examples/CatalogSync.xls \
  usr/share/doc/corvista1000-tools/examples/catalog.json; do
  [ -f "$root/$f" ] || fail "not installed: /$f"
done

# A sandbox analyser: the system drive and the demo's database.
drive=$tmp/drive
database=$drive/Corvista1000/Databases/Corvista1k.mdb
new_sandbox() {
  rm -rf "$drive"
  mkdir -p "${database%/*}" "$drive/Corvista1000/Logs"
  "$sqlite" -batch "$database" <"$examples/analyser-schema.sql" >/dev/null
  "$sqlite" -batch "$database" <"$examples/demo-analyser-data.sql" >/dev/null
}
glucose_rows() { "$sqlite" -batch "$database" 'SELECT count(*) FROM Tests WHERE Tests_ID = 12'; }

# run <name> <expected status> <command...>: from a working folder that holds
# none of the program's files; nothing on standard error when it succeeds.
mkdir "$tmp/work"
run() {
  local name=$1 expected=$2 status=0
  shift 2
  (cd "$tmp/work" && SYSTEM_DRIVE=$drive "$@") >"$tmp/out.txt" 2>"$tmp/err.txt" || status=$?
  [ "$status" -eq "$expected" ] || fail "$name: exit status $status, expected $expected: $(cat "$tmp/err.txt")"
  [ "$expected" -ne 0 ] || [ ! -s "$tmp/err.txt" ] || fail "$name: standard error: $(cat "$tmp/err.txt")"
}

# CatalogSync QVR with the example workbook dropped into the program folder,
# then INSTALL of the package it wrote on a fresh sandbox.
cp "$examples/CatalogSync.xls" "$program/"
for keyword in QVR INSTALL; do
  new_sandbox
  [ "$(glucose_rows)" = 0 ] || fail "the sandbox already holds test 12"
  run "CatalogSync $keyword" 0 "$program/CatalogSync" "$keyword"
  [ "$(glucose_rows)" = 1 ] || fail "CatalogSync $keyword did not add test 12"
  [ -f "$drive/CatalogSync.txt" ] || fail "CatalogSync $keyword wrote no completion marker"
done
[ -f "$program/CatalogSync.dat" ] || fail "CatalogSync QVR wrote no package beside itself"
run "CatalogPackage dump" 0 "$root/usr/bin/CatalogPackage" dump "$program/CatalogSync.dat"
run "CatalogSync with an unknown word" 2 "$program/CatalogSync" --help

# Reshaper with the demo's shells dropped into the program folder.
for shell in InstallShell ERUShell; do
  "$sqlite" -batch "$program/$shell.mdb" <"$examples/analyser-schema.sql" >/dev/null
  "$sqlite" -batch "$program/$shell.mdb" <"$examples/$shell.sql" >/dev/null
done
version() { "$sqlite" -batch "$database" 'SELECT Version_Number FROM SoftwareVersion LIMIT 1'; }
before=$(version)
run "ShellPackage plan" 0 "$root/usr/bin/ShellPackage" plan INSTALL,QUERY,STRUCTURE,VERSION \
  "$program" "$database"
run "Reshaper" 0 "$program/Reshaper" INSTALL,QUERY,STRUCTURE,VERSION
[ "$(version)" != "$before" ] || fail "Reshaper left the version at $before"
[ -f "$drive/Reshaper.txt" ] || fail "Reshaper wrote no completion marker"
[ ! -e "${database%/*}/InstallShell.mdb" ] || fail "Reshaper left its shell working copy"

for tool in CatalogPackage ShellPackage; do
  run "$tool --help" 0 "$root/usr/bin/$tool" --help
  grep -q "^usage: $tool" "$tmp/out.txt" || fail "$tool --help: $(cat "$tmp/out.txt")"
done

# Every installed manual page renders without a warning.
pages=0
while IFS= read -r -d '' page; do
  pages=$((pages + 1))
  warnings=$(zcat "$page" | groff -ww -z -man 2>&1) || fail "${page#"$root"}: groff failed"
  [ -z "$warnings" ] || fail "${page#"$root"}: $warnings"
done < <(find "$root/usr/share/man" -name '*.gz' -print0)
[ "$pages" -eq 5 ] || fail "$pages manual pages installed, expected 5"

[ "$failures" -eq 0 ] || exit 1
echo "the installed tool set ran and its $pages manual pages render"
