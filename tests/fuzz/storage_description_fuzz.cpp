// The file description comes from the record manager's Stat answer; a
// damaged or foreign file may answer anything.  Key lengths, comparable keys
// and key searches over any answer must stay inside their buffers.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "storage/record_interface.h"
#include "storage/stat_description.h"

namespace {

std::string gAnswer;

int16_t AnswerEntry(uint16_t operation, void*, void* dataBuffer, uint32_t* dataLength, void*,
                    uint8_t, int8_t) {
  if (operation != 15) return 0;
  const std::size_t n = std::min<std::size_t>(gAnswer.size(), *dataLength);
  std::memcpy(dataBuffer, gAnswer.data(), n);
  *dataLength = static_cast<uint32_t>(n);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrova;
  if (size < 2) return 0;
  // The first byte picks the key number, the second the key value's length.
  const auto keyNumber = static_cast<int16_t>(data[0] % 8);
  const std::size_t valueLength = data[1];
  gAnswer.assign(reinterpret_cast<const char*>(data) + 2, size - 2);
  (void)ParseStatDescription(gAnswer);

  static uint8_t record[kDataBufferSize];
  ResetFileSlotsForTesting();
  FileSlot& slot = FileSlots()[1];
  slot.fileNumber = 1;
  slot.recordVariable = record;
  slot.recordCapacity = sizeof record;
  slot.recordLength = 100;
  slot.keyNumber = keyNumber;
  RecordManagerEntry() = &AnswerEntry;
  const std::string value = gAnswer.substr(0, valueLength);
  (void)KeyAndRecordLength(1, keyNumber);
  (void)ComparableKey(value, 1);
  (void)RecordCount(1);
  (void)FindByKey(1, keyNumber, value, static_cast<int16_t>(data[0] % 3) - 1);
  (void)CurrentComparableKey(1);
  (void)PeekWithinBound(1, data[0] % 4, value);
  return 0;
}
