-- Three tests with their reagent volumes, normal ranges and kits, for the
-- demo. Load after analyser-schema.sql:
--   sqlite3 Analyser.mdb < analyser-sample-data.sql
BEGIN;

INSERT INTO Tests (Tests_ID, Tests_Name, Tests_FullName, Tests_DefUnits, Tests_AltUnits,
  Tests_ReportingUnits, Tests_ConvertUnitMultiplier, Tests_CalibrationFreq, Tests_AssayMin,
  Tests_AssayMax, Tests_Formula, Tests_NumReagents, Tests_SigDigits, Tests_CVLow, Tests_CVHigh,
  Tests_Color, Tests_DiluentReq, Tests_DilFactorID, Tests_DiluentID, Tests_DiluteControl,
  Tests_NumOfCalibrators, Tests_NumOfReplicates, Tests_Cycles, Tests_MaxSlope, Tests_MinSlope,
  Tests_Active, Tests_SampleVol, Tests_SampleVolKey, Tests_P5, Tests_P6, Tests_NumOfRepeatTests)
VALUES
  (1, 'GLU', 'Glucose', 'mg/dL', 'mmol/L', 'mg/dL', 0.0555, 30, 0, 500, 1, 1, 0, 2, 5,
   255, 0, 0, 0, 0, 3, 2, 10, 1.5, 0.5, -1, 3.0, 3, 0, 0, 1),
  (2, 'CHOL', 'Cholesterol', 'mg/dL', 'mmol/L', 'mg/dL', 0.0259, 30, 0, 600, 1, 1, 0, 2, 5,
   65280, 0, 0, 0, 0, 3, 2, 10, 1.5, 0.5, -1, 2.5, 2, 0, 0, 1),
  (3, 'ALT', 'Alanine aminotransferase', 'U/L', 'ukat/L', 'U/L', 0.0167, 14, 0, 1000, 2, 2, 0,
   3, 6, 16711680, 1, 2, 1, -1, 4, 3, 12, 2.0, 0.2, -1, 10.0, 10, 1.25, 0.75, 2);

INSERT INTO TestVolumes (TV_TestsID, TV_Part, TV_ReagentVol, TV_RegentVolKey, TV_WaterToAssayB,
  TV_InitWater, TV_WaterToAssayA, TV_WashFill, TV_LastWash)
VALUES
  (1, 0, 200, 20, 0, 50, 0, 300, 100),
  (2, 0, 180, 18, 0, 50, 0, 300, 100),
  (3, 0, 150, 15, 10, 40, 10, 300, 100),
  (3, 1, 50, 5, 0, 20, 0, 300, 100);

INSERT INTO TestRanges (TR_TestsID, TR_RangeNum, TR_Low, TR_High, TR_Desc, TR_LowOperator,
  TR_HighOperator)
VALUES
  (1, 1, 70, 110, 'NORMAL', 0, 0),
  (2, 1, 0, 200, 'NORMAL', 0, 0),
  (3, 1, 7, 56, 'NORMAL', 0, 0);

INSERT INTO Kits (Kits_TestsID, Kits_LotNumber, Kits_Expiry)
VALUES
  (1, 'GLU-2401', '2025-06-30 00:00:00'),
  (2, 'CHOL-2403', '2025-09-30 00:00:00'),
  (3, 'ALT-2402', '2025-03-31 00:00:00'),
  (3, 'ALT-2405', '2025-12-31 00:00:00');

COMMIT;
