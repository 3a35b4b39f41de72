#!/usr/bin/env bash
# installed_test.sh <build folder>: the tool set installed in a temporary DESTDIR, run on the
# installed examples, manual pages rendered with every groff warning on.
set -euo pipefail
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
sql() { /usr/bin/sqlite3 -batch "$@"; }

root=$tmp/root
DESTDIR=$root cmake --install "$1" --prefix /usr >"$tmp/install.txt"
program=$root/usr/lib/corvista1000
doc=usr/share/doc/corvista1000-tools
man=usr/share/man
for f in usr/lib/corvista1000/{CatalogSync,Reshaper} usr/bin/{CatalogPackage,ShellPackage} \
  $man/man8/{CatalogSync,Reshaper}.8.gz $man/man1/{CatalogPackage,ShellPackage}.1.gz \
  $man/man5/{CatalogSync.dat,ChangeHistory.db}.5.gz \
  $doc/{copyright,changelog.gz,examples/CatalogSync.xls} \
  $doc/examples/catalog.json; do
  [ -f "$root/$f" ] || fail "not installed: /$f"
done

drive=$tmp/drive
database=$drive/Corvista1000/Databases/Corvista1k.mdb
# make_database <file> <example SQL>: the example schema, then that data.
make_database() { for s in analyser-schema "$2"; do sql "$1" <"$root/$doc/examples/$s.sql" >/dev/null; done; }
new_sandbox() {
  rm -rf "$drive"
  mkdir -p "${database%/*}" "$drive/Corvista1000/Logs"
  make_database "$database" demo-analyser-data
}
glucose_rows() { sql "$database" 'SELECT count(*) FROM Tests WHERE Tests_ID = 12'; }
version() { sql "$database" 'SELECT Version_Number FROM SoftwareVersion LIMIT 1'; }

# run <name> <status> <command...>: from a folder of its own; no standard error on success.
mkdir "$tmp/work"
run() {
  local name=$1 expected=$2 status=0
  shift 2
  (cd "$tmp/work" && SYSTEM_DRIVE=$drive "$@") >"$tmp/out.txt" 2>"$tmp/err.txt" || status=$?
  [ "$status" -eq "$expected" ] || fail "$name: exit status $status, expected $expected: $(cat "$tmp/err.txt")"
  [ "$expected" -ne 0 ] || [ ! -s "$tmp/err.txt" ] || fail "$name: standard error: $(cat "$tmp/err.txt")"
}

# QVR of the example workbook, then INSTALL of the package it wrote, each on a fresh sandbox.
cp "$root/$doc/examples/CatalogSync.xls" "$program/"
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

# Reshaper with the demo's shells in the program folder.
for shell in InstallShell ERUShell; do make_database "$program/$shell.mdb" "$shell"; done
before=$(version)
steps=INSTALL,QUERY,STRUCTURE,VERSION
run "ShellPackage plan" 0 "$root/usr/bin/ShellPackage" plan $steps "$program" "$database"
run "Reshaper" 0 "$program/Reshaper" $steps
[ "$(version)" != "$before" ] || fail "Reshaper left the version at $before"
[ -f "$drive/Reshaper.txt" ] || fail "Reshaper wrote no completion marker"
[ ! -e "${database%/*}/InstallShell.mdb" ] || fail "Reshaper left its shell working copy"

for tool in CatalogPackage ShellPackage; do
  run "$tool --help" 0 "$root/usr/bin/$tool" --help
  grep -q "^usage: $tool" "$tmp/out.txt" || fail "$tool --help: $(cat "$tmp/out.txt")"
done
pages=0
while IFS= read -r -d '' page; do
  pages=$((pages + 1))
  warnings=$(zcat "$page" | groff -ww -z -man 2>&1) || fail "${page#"$root"}: groff failed"
  [ -z "$warnings" ] || fail "${page#"$root"}: $warnings"
done < <(find "$root/$man" -name '*.gz' -print0)
[ "$pages" -eq 5 ] || fail "$pages manual pages installed, expected 5"

[ "$failures" -eq 0 ] || exit 1
echo "the installed tool set ran and its $pages manual pages render"
