-- The analyser as the demo finds it before `CatalogSync INSTALL` applies
-- examples/catalog.json: four tests, three of which the catalogue touches.
--   14 ALB   older settings; the catalogue's MODIFY overwrites them, but the
--            site's reporting units and its normal range stay (INSTALL)
--   30 ALT   two reagent parts and a second, non-normal range
--   18 Trig  stored in mixed case; the catalogue's DELETE of "TRIG" removes
--            it with its volumes, ranges and kits
--    5 UREA  not in the catalogue: untouched
-- Load after analyser-schema.sql:
--   sqlite3 Corvista1k.mdb < demo-analyser-data.sql
BEGIN;

INSERT INTO Tests (Tests_ID, Tests_Name, Tests_FullName, Tests_DefUnits, Tests_AltUnits,
  Tests_ReportingUnits, Tests_ConvertUnitMultiplier, Tests_CalibrationFreq, Tests_AssayMin,
  Tests_AssayMax, Tests_Formula, Tests_NumReagents, Tests_SigDigits, Tests_CVLow, Tests_CVHigh,
  Tests_Color, Tests_DiluentReq, Tests_DilFactorID, Tests_DiluentID, Tests_DiluteControl,
  Tests_NumOfCalibrators, Tests_NumOfReplicates, Tests_Cycles, Tests_MaxSlope, Tests_MinSlope,
  Tests_Active, Tests_SampleVol, Tests_SampleVolKey, Tests_P5, Tests_P6, Tests_NumOfRepeatTests,
  Tests_Comment)
VALUES
  (5, 'UREA', 'Urea nitrogen', 'mg/dL', 'mmol/L', 'mg/dL', 0.357, 30, 2, 150, 1, 1, 1, 0, 5,
   8421504, 0, 0, 0, 0, 2, 2, 10, 0, 0, -1, 3.0, 1, 0, 0, 1, NULL),
  (14, 'ALB', 'Albumin (BCG, 2019)', 'g/dL', 'g/L', 'g/L', 10, 14, 0.5, 6.0, 1, 1, 1, 0, 6,
   65280, 0, 0, 0, 0, 2, 3, 10, 0, 0, -1, 3.0, 1, 0, 0, 1, 'reported in g/L on site'),
  (30, 'ALT', 'Alanine aminotransferase', 'U/L', 'ukat/L', 'U/L', 0.0167, 14, 5, 400, 4, 2, 0,
   0, 6, 255, 1, 2, 1, -1, 1, 2, 12, 0, 0, -1, 12.0, 1, 0, 0, 2, NULL),
  (18, 'Trig', 'Triglycerides', 'mg/dL', 'mmol/L', 'mg/dL', 0.01129, 30, 5, 1000, 1, 1, 2, 0,
   5, 255, 0, 0, 0, 0, 2, 2, 10, 0, 0, -1, 2.0, 1, 0, 0, 1, NULL);

INSERT INTO TestVolumes (TV_TestsID, TV_Part, TV_ReagentVol, TV_RegentVolKey, TV_WaterToAssayB,
  TV_InitWater, TV_WaterToAssayA, TV_WashFill, TV_LastWash)
VALUES
  (5, 0, 220, 11, 20, 15, 25, 120, 80),
  (14, 0, 240, 11, 20, 15, 25, 100, 80),
  (14, 1, 30, 21, 0, 10, 0, 100, 80),
  (30, 0, 180, 11, 20, 15, 25, 120, 80),
  (30, 1, 45, 21, 20, 15, 25, 120, 80),
  (18, 0, 250, 11, 20, 15, 25, 120, 80);

INSERT INTO TestRanges (TR_TestsID, TR_RangeNum, TR_Low, TR_High, TR_Desc, TR_LowOperator,
  TR_HighOperator)
VALUES
  (5, 1, 7, 20, 'NORMAL', 0, 0),
  (14, 1, 3.4, 5.4, 'NORMAL', 0, 0),
  (30, 1, 5, 40, 'NORMAL', 0, 0),
  (30, 2, 200, 400, 'CRITICAL', 1, 0),
  (18, 1, 0, 150, 'NORMAL', 0, 0);

INSERT INTO Kits (Kits_TestsID, Kits_LotNumber, Kits_Expiry)
VALUES
  (14, 'ALB-2407', '2025-11-30 00:00:00'),
  (18, 'TRIG-2402', '2025-04-30 00:00:00'),
  (18, 'TRIG-2406', '2025-10-31 00:00:00');

COMMIT;
