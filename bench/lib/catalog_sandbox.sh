# Sandboxes for CatalogSync INSTALL benchmarks, sourced by bench/*.bench.
# A sandbox <dir> holds a system drive with the analyser database and the
# Logs folder (so the run writes its change history), a program folder with
# CatalogSync and its package, and the fixture database that every run
# starts from.

# catalog_sandbox_setup <dir> <existing tests> <new assays>
catalog_sandbox_setup() {
  local dir=$1
  mkdir -p "$dir/drive/Corvista1000/Databases" "$dir/drive/Corvista1000/Logs" "$dir/program"
  cp "$programs/CatalogSync" "$dir/program/"
  "$bench_bin/catalog_install_fixture" examples/analyser-schema.sql "$dir/fixture.mdb" \
    "$dir/program/CatalogSync.dat" "$2" "$3"
}

# The database as the fixture made it, nothing else beside it, no marker, no
# history yet.
catalog_sandbox_prepare() {
  local dir=$1
  rm -f "$dir/drive/Corvista1000/Databases"/* "$dir/drive/CatalogSync.txt" \
    "$dir/drive/Corvista1000/Logs"/*
  cp "$dir/fixture.mdb" "$dir/drive/Corvista1000/Databases/Corvista1k.mdb"
}

catalog_sandbox_database() { echo "$1/drive/Corvista1000/Databases/Corvista1k.mdb"; }

catalog_sandbox_tests() { /usr/bin/sqlite3 "$(catalog_sandbox_database "$1")" "SELECT count(*) FROM Tests"; }

catalog_sandbox_history() { echo "$1/drive/Corvista1000/Logs/ChangeHistory.db"; }

# catalog_sandbox_history_check <dir> <rows of changes expected>: the run
# recorded every assay in one row of changes and sealed its record.
catalog_sandbox_history_check() {
  local rows
  rows=$(/usr/bin/sqlite3 "$(catalog_sandbox_history "$1")" \
    "SELECT count(*) FROM Changes WHERE (SELECT count(*) FROM Seals) = 1")
  [ "$rows" = "$2" ] || { echo "$1: expected $2 sealed rows of changes, found $rows" >&2; return 1; }
}

# catalog_sandbox_check <dir> <tests expected>: the run wrote every test.
catalog_sandbox_check() {
  local tests
  tests=$(catalog_sandbox_tests "$1")
  [ "$tests" = "$2" ] || { echo "$1: expected $2 tests, found $tests" >&2; return 1; }
}
