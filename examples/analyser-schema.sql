-- The analyser database: the tables the catalogue writer reads and writes,
-- in the engine's declared types (see platform/engine/README.md). A COUNTER
-- column is written "INTEGER PRIMARY KEY" so that SQLite assigns it.
-- Build with: sqlite3 Analyser.mdb < analyser-schema.sql
PRAGMA journal_mode = DELETE;

BEGIN;

CREATE TABLE Tests (
  Tests_ID SHORT PRIMARY KEY NOT NULL,
  Tests_Name TEXT(10),
  Tests_FullName TEXT(50),
  Tests_DefUnits TEXT(10),
  Tests_AltUnits TEXT(10),
  Tests_ReportingUnits TEXT(10),
  Tests_ConvertUnitMultiplier DOUBLE,
  Tests_CalibrationFreq LONG,
  Tests_AssayMin DOUBLE,
  Tests_AssayMax DOUBLE,
  Tests_Formula SHORT,
  Tests_NumReagents SHORT,
  Tests_SigDigits SHORT,
  Tests_CVLow DOUBLE,
  Tests_CVHigh DOUBLE,
  Tests_Color LONG,
  Tests_DiluentReq LONG,
  Tests_DilFactorID LONG,
  Tests_DiluentID LONG,
  Tests_DiluteControl YESNO,
  Tests_NumOfCalibrators BYTE,
  Tests_NumOfReplicates BYTE,
  Tests_Cycles BYTE,
  Tests_MaxSlope DOUBLE,
  Tests_MinSlope DOUBLE,
  Tests_Active YESNO,
  Tests_SampleVol SINGLE,
  Tests_SampleVolKey LONG,
  Tests_P5 DOUBLE,
  Tests_P6 DOUBLE,
  Tests_NumOfRepeatTests LONG,
  -- Kept by the analyser itself; the maintenance programs never write them.
  Tests_Comment MEMO,
  Tests_LastCalibrated DATETIME,
  Tests_CalibrationTime TIME,
  Tests_LotCode CHAR(8)
);

CREATE TABLE TestVolumes (
  TV_ID INTEGER PRIMARY KEY,
  TV_TestsID SHORT NOT NULL,
  TV_Part SHORT NOT NULL,
  TV_ReagentVol LONG,
  TV_RegentVolKey LONG,
  TV_WaterToAssayB LONG,
  TV_InitWater LONG,
  TV_WaterToAssayA LONG,
  TV_WashFill LONG,
  TV_LastWash LONG
);
CREATE INDEX TestVolumes_TestPart ON TestVolumes (TV_TestsID, TV_Part);

CREATE TABLE TestRanges (
  TR_ID INTEGER PRIMARY KEY,
  TR_TestsID SHORT NOT NULL,
  TR_RangeNum SHORT NOT NULL,
  TR_Low DOUBLE,
  TR_High DOUBLE,
  TR_Desc TEXT(20),
  TR_LowOperator SHORT,
  TR_HighOperator SHORT
);
CREATE INDEX TestRanges_TestRange ON TestRanges (TR_TestsID, TR_RangeNum);

CREATE TABLE Kits (
  Kits_ID INTEGER PRIMARY KEY,
  Kits_TestsID SHORT NOT NULL,
  Kits_LotNumber TEXT(20),
  Kits_Expiry DATETIME
);
CREATE INDEX Kits_Test ON Kits (Kits_TestsID);

CREATE TABLE SoftwareVersion (
  Version_ID INTEGER PRIMARY KEY,
  Version_Number TEXT(20)
);
INSERT INTO SoftwareVersion (Version_Number) VALUES ('1.0.0');

COMMIT;
