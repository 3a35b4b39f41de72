-- Writes, from a shell database, the SQL that makes the same changes as a
-- Reshaper INSTALL,QUERY,STRUCTURE,VERSION run, for the sqlite3 tool: the
-- saved queries as the engine stores them, ALTER TABLE ADD COLUMN for each
-- field the target lacks, the default-data statements (UCASE is the
-- engine's function; the tool has upper()) and the version in the first
-- row; the caller adds the VACUUM. Every statement commits
-- on its own, as the program's changes do.
-- Run: sqlite3 -batch shell.mdb -cmd "ATTACH 'target.mdb' AS target" < reference_sql.sql
.mode list
.headers off
SELECT 'CREATE TABLE IF NOT EXISTS SavedQueries (Name TEXT(255) NOT NULL, SQL MEMO NOT NULL);';
SELECT 'DELETE FROM SavedQueries WHERE Name = ' || quote(Name) || ';'
       || ' DROP VIEW IF EXISTS "' || Name || '";'
       || ' INSERT INTO SavedQueries (Name, SQL) VALUES (' || quote(Name) || ', ' || quote(SQL) || ');'
       || CASE WHEN upper(substr(ltrim(SQL), 1, 6)) = 'SELECT'
               THEN ' CREATE VIEW "' || Name || '" AS ' || SQL || ';' ELSE '' END
FROM SavedQueries ORDER BY rowid;
SELECT 'ALTER TABLE "' || s."Table" || '" ADD COLUMN "' || s.Name || '" '
       || CASE upper(trim(s.DataType))
            WHEN 'TEXT' THEN 'TEXT(' || coalesce(s.Size, '255') || ')'
            WHEN 'CHAR' THEN 'CHAR(' || coalesce(s.Size, '255') || ')'
            WHEN 'BOOLEAN' THEN 'YESNO' WHEN 'INTEGER' THEN 'SHORT' WHEN 'DATE' THEN 'DATETIME'
            ELSE upper(trim(s.DataType)) END
       || CASE WHEN s.DefaultData IS NULL THEN '' ELSE ' DEFAULT ' || quote(s.DefaultData) END || ';'
FROM StructureInfo AS s
WHERE NOT EXISTS (SELECT 1 FROM pragma_table_info(s."Table", 'target') AS f WHERE f.name = s.Name)
ORDER BY s.rowid;
-- The engine skips rows that a key or constraint refuses; the tool's form of that is OR IGNORE.
SELECT CASE WHEN upper(substr(s, 1, 12)) = 'INSERT INTO ' THEN 'INSERT OR IGNORE INTO ' || substr(s, 13)
            ELSE s END || ';'
FROM (SELECT replace(trim(SQL), 'UCASE(', 'upper(') AS s FROM DefaultData ORDER BY rowid);
SELECT 'UPDATE "' || TableName || '" SET "' || FieldName || '" = ' || quote(VersionNumber)
       || ' WHERE rowid = (SELECT min(rowid) FROM "' || TableName || '");'
FROM VersionInfo ORDER BY rowid LIMIT 1;
