// The reagent and water volumes of one reagent part (0, 1 or 2) of an assay:
// nine plain stored properties, a new record holding 0 in each.
//
// `TestsID` and `Part` repeat what the record's cell in the test-volume table
// already says (the owning assay's `TestNumber`, the part index); every filler
// sets them, but the package writer and the database writer derive both from
// the position instead of reading them back.
#pragma once

#include <cstdint>

namespace catalog_sync {

class TestVolume {
 public:
  void SetTestsID(std::int32_t lTestsID) { tests_id_ = lTestsID; }
  std::int32_t TestsID() const { return tests_id_; }
  void SetPart(std::uint8_t byPart) { part_ = byPart; }
  std::uint8_t Part() const { return part_; }
  // 0 means the assay has no such reagent part.
  void SetReagentVol(std::int32_t lReagentVol) { reagent_vol_ = lReagentVol; }
  std::int32_t ReagentVol() const { return reagent_vol_; }
  void SetWaterToAssayB(std::int32_t lWaterToAssayB) { water_to_assay_b_ = lWaterToAssayB; }
  std::int32_t WaterToAssayB() const { return water_to_assay_b_; }
  void SetInitWater(std::int32_t lInitWater) { init_water_ = lInitWater; }
  std::int32_t InitWater() const { return init_water_; }
  void SetWaterToAssayA(std::int32_t lWaterToAssayA) { water_to_assay_a_ = lWaterToAssayA; }
  std::int32_t WaterToAssayA() const { return water_to_assay_a_; }
  void SetWashFill(std::int32_t lWashFill) { wash_fill_ = lWashFill; }
  std::int32_t WashFill() const { return wash_fill_; }
  void SetRegentVolKey(std::int32_t lRegentVolKey) { regent_vol_key_ = lRegentVolKey; }
  std::int32_t RegentVolKey() const { return regent_vol_key_; }
  void SetLastWash(std::int32_t lLastWash) { last_wash_ = lLastWash; }
  std::int32_t LastWash() const { return last_wash_; }

 private:
  std::int32_t tests_id_ = 0;
  std::uint8_t part_ = 0;
  std::int32_t reagent_vol_ = 0;
  std::int32_t water_to_assay_b_ = 0;
  std::int32_t init_water_ = 0;
  std::int32_t water_to_assay_a_ = 0;
  std::int32_t wash_fill_ = 0;
  std::int32_t regent_vol_key_ = 0;
  std::int32_t last_wash_ = 0;
};

}  // namespace catalog_sync
