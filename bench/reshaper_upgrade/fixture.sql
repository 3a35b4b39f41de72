-- Bulk rows for the Reshaper benchmark, loaded after analyser-schema.sql and
-- analyser-sample-data.sql: an analyser database of about 500 MB whose
-- catalogue tables have a large site's size (20,000 tests, three volume rows
-- each, 100,000 kits) and whose bulk is the result history, which the upgrade
-- does not touch but compaction copies.
PRAGMA journal_mode = DELETE;
BEGIN;

WITH RECURSIVE n(i) AS (SELECT 100 UNION ALL SELECT i + 1 FROM n WHERE i < 20099)
INSERT INTO Tests (Tests_ID, Tests_Name, Tests_FullName, Tests_DefUnits, Tests_Active,
                   Tests_SampleVol, Tests_NumOfRepeatTests)
SELECT i, 'T' || i, 'Benchmark test ' || i, 'mg/dL', -1, 3.0, 1 FROM n;

WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 59999)
INSERT INTO TestVolumes (TV_TestsID, TV_Part, TV_ReagentVol, TV_RegentVolKey, TV_WaterToAssayB,
                         TV_InitWater, TV_WaterToAssayA, TV_WashFill, TV_LastWash)
SELECT 100 + i / 3, i % 3, 150, 15, 0, 40, 0, 300, 100 FROM n;

WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 99999)
INSERT INTO Kits (Kits_TestsID, Kits_LotNumber, Kits_Expiry)
SELECT 100 + i % 20000, 'lot-' || i, '2026-12-31 00:00:00' FROM n;

CREATE TABLE Results (
  Results_ID INTEGER PRIMARY KEY,
  Results_TestsID SHORT NOT NULL,
  Results_Value DOUBLE,
  Results_Time DATETIME,
  Results_Sample TEXT(20),
  Results_Comment TEXT(100)
);
WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 3999999)
INSERT INTO Results (Results_TestsID, Results_Value, Results_Time, Results_Sample, Results_Comment)
SELECT 100 + i % 20000, (i % 977) / 7.0,
       datetime(1600000000 + i * 37, 'unixepoch'), printf('S%09d', i),
       printf('%.60c run %d', 'r', i / 96)
FROM n;
CREATE INDEX Results_Test ON Results (Results_TestsID);

COMMIT;
