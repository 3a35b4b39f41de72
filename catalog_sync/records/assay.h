// One assay definition as it travels through a catalogue update: 33 plain
// stored properties, filled by the workbook import or the package reader and
// only read afterwards.
//
// Setters never fail: range checking is the caller's conversion of its raw
// value to the setter's type. Three setters normalise what they are given:
// `SetMode` (upper-cased, spaces trimmed) and `SetDiluteControl`/`SetActive`
// (the flag rule, see FlagFromValue). A new record holds 0, "" and false.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/core/value.h"

namespace catalog_sync {

// The flag rule of `DiluteControl` and `Active`: the value turned into text
// (a boolean as true/false, a number as its decimal text, empty as ""),
// upper-cased and trimmed of spaces, is exactly "YES" or "TRUE". Null, an
// error value and every other text give false. Never throws.
bool FlagFromValue(const platform::Value& value);

class Assay {
 public:
  // Accessors in the record's historic order; setter first, then getter.
  void SetNumOfRepeatTests(std::int32_t lRepTests) { num_of_repeat_tests_ = lRepTests; }
  std::int32_t NumOfRepeatTests() const { return num_of_repeat_tests_; }
  void SetP5(double dP5) { p5_ = dP5; }
  double P5() const { return p5_; }
  void SetP6(double dP6) { p6_ = dP6; }
  double P6() const { return p6_; }
  // Stores the text upper-cased and trimmed of spaces (tabs stay); any text,
  // also an empty one, is accepted: only the change dispatch gives "ADD",
  // "MODIFY" and "DELETE" a meaning.
  void SetMode(std::string_view sMode);
  const std::string& Mode() const { return mode_; }
  void SetTestNumber(std::int16_t nTestNumber) { test_number_ = nTestNumber; }
  std::int16_t TestNumber() const { return test_number_; }
  void SetTestName(std::string sTestName) { test_name_ = std::move(sTestName); }
  const std::string& TestName() const { return test_name_; }
  void SetTestFullName(std::string sTestFullName) { test_full_name_ = std::move(sTestFullName); }
  const std::string& TestFullName() const { return test_full_name_; }
  void SetDefaultUnits(std::string sDefaultUnits) { default_units_ = std::move(sDefaultUnits); }
  const std::string& DefaultUnits() const { return default_units_; }
  void SetAlternateUnits(std::string sAlternateUnits) {
    alternate_units_ = std::move(sAlternateUnits);
  }
  const std::string& AlternateUnits() const { return alternate_units_; }
  void SetConversionFactor(double dConversionFactor) { conversion_factor_ = dConversionFactor; }
  double ConversionFactor() const { return conversion_factor_; }
  void SetCalibrationFreq(std::int32_t lCalibrationFreq) { calibration_freq_ = lCalibrationFreq; }
  std::int32_t CalibrationFreq() const { return calibration_freq_; }
  void SetAssayLow(double dAssayLow) { assay_low_ = dAssayLow; }
  double AssayLow() const { return assay_low_; }
  void SetAssayMax(double dAssayMax) { assay_max_ = dAssayMax; }
  double AssayMax() const { return assay_max_; }
  void SetNormalLow(double dNormalLow) { normal_low_ = dNormalLow; }
  double NormalLow() const { return normal_low_; }
  void SetNormalHigh(double dNormalHigh) { normal_high_ = dNormalHigh; }
  double NormalHigh() const { return normal_high_; }
  void SetFormula(std::int16_t nFormula) { formula_ = nFormula; }
  std::int16_t Formula() const { return formula_; }
  void SetNumOfReagents(std::int16_t nNumOfReagents) { num_of_reagents_ = nNumOfReagents; }
  std::int16_t NumOfReagents() const { return num_of_reagents_; }
  void SetRoundOffMethod(std::int16_t nRoundOffMethod) { round_off_method_ = nRoundOffMethod; }
  std::int16_t RoundOffMethod() const { return round_off_method_; }
  void SetLowCV(double dLowCV) { low_cv_ = dLowCV; }
  double LowCV() const { return low_cv_; }
  void SetHighCV(double dHighCV) { high_cv_ = dHighCV; }
  double HighCV() const { return high_cv_; }
  void SetColor(std::int32_t lColor) { color_ = lColor; }
  std::int32_t Color() const { return color_; }
  void SetDilutionRequired(std::int32_t lDilutionRequired) {
    dilution_required_ = lDilutionRequired;
  }
  std::int32_t DilutionRequired() const { return dilution_required_; }
  void SetDilutionFactor(std::int32_t lDilutionFactor) { dilution_factor_ = lDilutionFactor; }
  std::int32_t DilutionFactor() const { return dilution_factor_; }
  void SetDiluentID(std::int32_t lDiluentID) { diluent_id_ = lDiluentID; }
  std::int32_t DiluentID() const { return diluent_id_; }
  // Applies the flag rule; the getter gives a value holding a boolean.
  void SetDiluteControl(const platform::Value& vDiluteControl) {
    dilute_control_ = FlagFromValue(vDiluteControl);
  }
  platform::Value DiluteControl() const { return platform::Value(dilute_control_); }
  void SetNumOfCalibrators(std::uint8_t byNumOfCalibrators) {
    num_of_calibrators_ = byNumOfCalibrators;
  }
  std::uint8_t NumOfCalibrators() const { return num_of_calibrators_; }
  void SetNumOfReplicates(std::uint8_t byNumOfReplicates) {
    num_of_replicates_ = byNumOfReplicates;
  }
  std::uint8_t NumOfReplicates() const { return num_of_replicates_; }
  void SetCycles(std::uint8_t byCycles) { cycles_ = byCycles; }
  std::uint8_t Cycles() const { return cycles_; }
  void SetMaxSlope(double dMaxSlope) { max_slope_ = dMaxSlope; }
  double MaxSlope() const { return max_slope_; }
  void SetMinSlope(double dMinSlope) { min_slope_ = dMinSlope; }
  double MinSlope() const { return min_slope_; }
  // Applies the flag rule; the getter gives a value holding a boolean.
  void SetActive(const platform::Value& vActive) { active_ = FlagFromValue(vActive); }
  platform::Value Active() const { return platform::Value(active_); }
  void SetSampleVol(float fSampleVol) { sample_vol_ = fSampleVol; }
  float SampleVol() const { return sample_vol_; }
  void SetSampleVolKey(std::int32_t lSampleVolKey) { sample_vol_key_ = lSampleVolKey; }
  std::int32_t SampleVolKey() const { return sample_vol_key_; }

 private:
  std::int16_t test_number_ = 0;
  std::string test_name_;
  std::string test_full_name_;
  std::string default_units_;
  std::string alternate_units_;
  double conversion_factor_ = 0;
  std::int32_t calibration_freq_ = 0;
  double assay_low_ = 0;
  double assay_max_ = 0;
  double normal_low_ = 0;
  double normal_high_ = 0;
  std::int16_t formula_ = 0;
  std::int16_t num_of_reagents_ = 0;
  std::int16_t round_off_method_ = 0;
  double low_cv_ = 0;
  double high_cv_ = 0;
  std::int32_t color_ = 0;
  std::int32_t dilution_required_ = 0;
  std::int32_t dilution_factor_ = 0;
  std::int32_t diluent_id_ = 0;
  bool dilute_control_ = false;
  std::uint8_t num_of_calibrators_ = 0;
  std::uint8_t num_of_replicates_ = 0;
  std::uint8_t cycles_ = 0;
  double max_slope_ = 0;
  double min_slope_ = 0;
  bool active_ = false;
  std::string mode_;
  float sample_vol_ = 0;
  std::int32_t sample_vol_key_ = 0;
  double p5_ = 0;
  double p6_ = 0;
  std::int32_t num_of_repeat_tests_ = 0;
};

}  // namespace catalog_sync
