-- The shell database of an "ERU" run (back to release 2.0.0), beside
-- Reshaper as ERUShell.mdb: StructureInfo lists the fields to remove (only
-- Table and Name are read), VersionInfo the version to stamp, SavedQueries
-- the earlier release's queries. DefaultData is never run in mode "ERU".
-- Build with:
--   sqlite3 ERUShell.mdb < analyser-schema.sql
--   sqlite3 ERUShell.mdb < ERUShell.sql
PRAGMA journal_mode = DELETE;

BEGIN;

CREATE TABLE StructureInfo (
  "Table" TEXT(64),
  Name TEXT(64),
  DataType TEXT(20),
  Size TEXT(10),
  DefaultData TEXT(255),
  Required YESNO,
  AllowZeroLength YESNO,
  ValidationRule TEXT(255),
  ValidationText TEXT(255)
);
INSERT INTO StructureInfo ("Table", Name) VALUES
  ('Tests', 'Tests_Barcode'),
  ('Tests', 'Tests_OnBoardDays'),
  ('Tests', 'Tests_Dilution'),
  ('Tests', 'Tests_ReflexTest'),
  ('TestVolumes', 'TV_DeadVolume'),
  ('TestRanges', 'TR_Flag'),
  ('Kits', 'Kits_Opened'),
  ('Kits', 'Kits_Code'),
  ('Kits', 'Kits_Price'),
  -- names no field: nothing happens
  ('Tests', 'Tests_NeverAdded');

CREATE TABLE VersionInfo (
  TableName TEXT(64),
  FieldName TEXT(64),
  VersionNumber TEXT(20)
);
INSERT INTO VersionInfo VALUES ('SoftwareVersion', 'Version_Number', '2.0.0');

CREATE TABLE DefaultData (SQL MEMO);

CREATE TABLE IF NOT EXISTS SavedQueries (Name TEXT(255) NOT NULL, SQL MEMO NOT NULL);
INSERT INTO SavedQueries (Name, SQL) VALUES
  ('qryActiveTests', 'SELECT Tests_ID, Tests_Name FROM Tests WHERE Tests_Active <> 0');
CREATE VIEW "qryActiveTests" AS
  SELECT Tests_ID, Tests_Name FROM Tests WHERE Tests_Active <> 0;

COMMIT;
