-- The shell database of an "INSTALL" upgrade (release 2.1.0), beside
-- Reshaper as InstallShell.mdb. It holds the release's tables (so that its
-- saved SELECTs are valid views) and what the upgrade brings:
--   StructureInfo  the fields to add, with type word, size and properties
--   DefaultData    action statements run after the fields were added
--   VersionInfo    where the version stamp goes, and its value
--   SavedQueries   the saved queries, stored as the engine stores them: one
--                  row (Name, SQL) each, and a view of the same name per SELECT
-- Build with:
--   sqlite3 InstallShell.mdb < analyser-schema.sql
--   sqlite3 InstallShell.mdb < InstallShell.sql
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

-- Type words are compared upper-cased and trimmed. A row without a size
-- takes the size of the most recent earlier row that had one.
INSERT INTO StructureInfo VALUES
  -- present already: left exactly as it is
  ('Tests', 'Tests_Name', 'TEXT', '10', NULL, NULL, NULL, NULL, NULL),
  -- size, no zero-length text
  ('Tests', 'Tests_Barcode', 'text', '20', NULL, 0, 0, NULL, NULL),
  -- a validation rule with its message
  ('Tests', 'Tests_OnBoardDays', 'integer', NULL, NULL, NULL, NULL, 'Between 1 And 365',
   'On-board stability is 1 to 365 days'),
  ('Tests', 'Tests_Dilution', ' double ', NULL, '1', NULL, NULL, '>= 1',
   'The dilution factor is at least 1'),
  ('Tests', 'Tests_ReflexTest', 'BOOLEAN', NULL, 'False', NULL, NULL, NULL, NULL),
  -- a default value and required: the default data fills the existing rows
  ('TestVolumes', 'TV_DeadVolume', 'LONG', NULL, '0', -1, NULL, '>= 0', NULL),
  ('TestRanges', 'TR_Flag', 'BYTE', NULL, '0', NULL, NULL, NULL, NULL),
  -- every property null: the engine's defaults
  ('Kits', 'Kits_Opened', 'DATE', NULL, NULL, NULL, NULL, NULL, NULL),
  ('Kits', 'Kits_Code', 'CHAR', '6', NULL, NULL, NULL, NULL, NULL),
  ('Kits', 'Kits_Price', 'CURRENCY', NULL, NULL, NULL, NULL, NULL, NULL);

CREATE TABLE VersionInfo (
  TableName TEXT(64),
  FieldName TEXT(64),
  VersionNumber TEXT(20)
);
INSERT INTO VersionInfo VALUES ('SoftwareVersion', 'Version_Number', '2.1.0');

CREATE TABLE DefaultData (SQL MEMO);
INSERT INTO DefaultData VALUES
  -- hits the existing key 1: the row is skipped, the run goes on
  ('INSERT INTO SoftwareVersion (Version_ID, Version_Number) VALUES (1, ''0.0.0'')'),
  ('  UPDATE TestVolumes SET TV_DeadVolume = 25  '),
  ('UPDATE Tests SET Tests_OnBoardDays = 30, Tests_Dilution = 1 WHERE Tests_Active <> 0'),
  ('UPDATE Kits SET Kits_Code = UCASE(substr(Kits_LotNumber, 1, 6))');

CREATE TABLE IF NOT EXISTS SavedQueries (Name TEXT(255) NOT NULL, SQL MEMO NOT NULL);
INSERT INTO SavedQueries (Name, SQL) VALUES
  ('qryActiveTests',
   'SELECT Tests_ID, Tests_Name, Tests_FullName FROM Tests WHERE Tests_Active <> 0 ORDER BY Tests_ID'),
  ('qryTestVolumes',
   'SELECT Tests.Tests_Name, TestVolumes.TV_Part, TestVolumes.TV_ReagentVol FROM Tests INNER JOIN TestVolumes ON TestVolumes.TV_TestsID = Tests.Tests_ID'),
  ('qryUpperLotNumbers', 'UPDATE Kits SET Kits_LotNumber = UCASE(Kits_LotNumber)'),
  ('qryDeleteExpiredKits', 'DELETE FROM Kits WHERE Kits_Expiry < ''2000-01-01 00:00:00''');
CREATE VIEW "qryActiveTests" AS
  SELECT Tests_ID, Tests_Name, Tests_FullName FROM Tests WHERE Tests_Active <> 0 ORDER BY Tests_ID;
CREATE VIEW "qryTestVolumes" AS
  SELECT Tests.Tests_Name, TestVolumes.TV_Part, TestVolumes.TV_ReagentVol FROM Tests INNER JOIN TestVolumes ON TestVolumes.TV_TestsID = Tests.Tests_ID;

COMMIT;
