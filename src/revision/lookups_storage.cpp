// The revision's record access bound to the job's record layer: key 0 of
// the file, and the record variable the file was opened with.
#include "revision/lookups.h"

#include <algorithm>

#include "storage/record_interface.h"

namespace kestrova {

namespace {

int16_t LayerFind(int16_t fileNumber, std::string_view keyValue, int16_t mode) {
  return FindByKey(fileNumber, 0, keyValue, mode);
}

int16_t LayerStep(int16_t fileNumber) { return StepRecords(fileNumber, 1); }

int32_t LayerPosition(int16_t fileNumber) { return GetRecordPosition(fileNumber); }

int16_t LayerGoTo(int16_t fileNumber, int32_t position) {
  return GoToRecordPosition(fileNumber, position);
}

std::string_view LayerRecord(int16_t fileNumber) {
  const int16_t slot = OpenSlot(fileNumber);
  if (slot <= 0) return {};
  const FileSlot& s = FileSlots()[static_cast<std::size_t>(slot)];
  if (s.recordVariable == nullptr) return {};
  const int32_t length = std::min(s.recordLength, s.recordCapacity);
  return {reinterpret_cast<const char*>(s.recordVariable),
          static_cast<std::size_t>(std::max<int32_t>(length, 0))};
}

}  // namespace

RecordAccess StorageRecordAccess() {
  return {LayerFind, LayerStep, LayerPosition, LayerGoTo, LayerRecord};
}

}  // namespace kestrova
