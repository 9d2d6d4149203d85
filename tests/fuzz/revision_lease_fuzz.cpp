// Unit and lease-transition records come from files other programs of the
// suite write, and the index table from outside figures: any bytes in them,
// and any regime or application date, must evaluate without a crash, a
// hang or an undefined conversion.
#include <cstdint>
#include <cstring>
#include <string>

#include "revision/lease_rules.h"
#include "revision/parameters.h"
#include "unit/revision/memory_records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrova;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  auto take = [&bytes](std::size_t from, std::size_t n) {
    return from < bytes.size() ? bytes.substr(from, n) : std::string();
  };
  testing::InstallMemoryRecords();
  ResetLeaseValuesForTesting();
  // The first bytes: regime, arrears months and application date; then the
  // unit (343 bytes) and the transition (57); the rest price-index records
  // of 15 bytes and concept records of 26.
  int16_t regime = 0;
  int16_t months = 0;
  std::memcpy(&regime, take(0, 2).append(2, '\0').data(), 2);
  std::memcpy(&months, take(2, 2).append(2, '\0').data(), 2);
  Revision().Regime = regime;
  Revision().ArrearsMonths = months;
  Revision().ApplicationDate = take(4, 4);
  testing::SetRecordBuffer(kUnitFile, take(8, 343));
  testing::SetRecordBuffer(kLeaseTransitionFile, take(351, 57));
  std::size_t at = 408;
  for (int i = 0; i < 64 && at < bytes.size(); ++i, at += 15) {
    testing::AddRecord(kPriceIndexFile, take(at, 15));
  }
  for (int i = 0; i < 16 && at < bytes.size(); ++i, at += 26) {
    testing::AddRecord(kConceptTypeFile, take(at, 26));
  }
  EvaluateLease();
  return 0;
}
