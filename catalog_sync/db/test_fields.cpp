#include "catalog_sync/db/test_fields.h"

#include <array>

#include "catalog_sync/db/column_mapping.h"
#include "catalog_sync/records/record_properties.h"

namespace catalog_sync::db {

namespace {

// In the order the columns are set. Where the names part ways, the column
// name is the database's and the property name the record's.
constexpr std::array<ColumnFromProperty, 29> kTestColumns = {{
    {"Tests_Name", "TestName"},
    {"Tests_FullName", "TestFullName"},
    {"Tests_DefUnits", "DefaultUnits"},
    {"Tests_AltUnits", "AlternateUnits"},
    {"Tests_ConvertUnitMultiplier", "ConversionFactor"},
    {"Tests_CalibrationFreq", "CalibrationFreq"},
    {"Tests_AssayMin", "AssayLow"},
    {"Tests_AssayMax", "AssayMax"},
    {"Tests_Formula", "Formula"},
    {"Tests_NumReagents", "NumOfReagents"},
    {"Tests_SigDigits", "RoundOffMethod"},
    {"Tests_CVLow", "LowCV"},
    {"Tests_CVHigh", "HighCV"},
    {"Tests_Color", "Color"},
    {"Tests_DiluentReq", "DilutionRequired"},
    {"Tests_DilFactorID", "DilutionFactor"},
    {"Tests_DiluentID", "DiluentID"},
    {"Tests_DiluteControl", "DiluteControl"},
    {"Tests_NumOfCalibrators", "NumOfCalibrators"},
    {"Tests_NumOfReplicates", "NumOfReplicates"},
    {"Tests_Cycles", "Cycles"},
    {"Tests_MaxSlope", "MaxSlope"},
    {"Tests_MinSlope", "MinSlope"},
    {"Tests_Active", "Active"},
    {"Tests_SampleVol", "SampleVol"},
    {"Tests_SampleVolKey", "SampleVolKey"},
    {"Tests_P5", "P5"},
    {"Tests_P6", "P6"},
    {"Tests_NumOfRepeatTests", "NumOfRepeatTests"},
}};

const std::vector<ColumnSource<Assay>>& TestColumns() {
  static const std::vector<ColumnSource<Assay>> columns =
      ResolveColumns<Assay>(std::span<const ColumnFromProperty>(kTestColumns), AssayProperties());
  return columns;
}

}  // namespace

void WriteTestFields(platform::engine::Database& db, RowEdit& row, const AssayCollection& colAssay,
                     std::int16_t nPosition) {
  SetColumns(row, TestColumns(), colAssay.Item(nPosition));
  row.Update(db);
}

}  // namespace catalog_sync::db
