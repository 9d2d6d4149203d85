// Create buffers from anywhere: the description check must refuse every
// malformed one with a status, and whatever it accepts must serialise back
// to the same description and encode keys within bounds.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "recordmanager/file_description.h"
#include "recordmanager/key_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrova;
  // Exactly `size` bytes on the heap, so a read past the end is caught.
  std::vector<uint8_t> buffer(data, data + size);
  FileDescription description;
  if (ParseFileDescription(buffer.data(), buffer.size(), description) != kStatusOk) return 0;

  const std::string serialized = SerializeFileDescription(description);
  FileDescription again;
  if (ParseFileDescription(reinterpret_cast<const uint8_t*>(serialized.data()), serialized.size(),
                           again) != kStatusOk ||
      SerializeFileDescription(again) != serialized) {
    __builtin_trap();
  }
  // Keys of a record made of the input's bytes.
  std::string record(description.recordLength, '\0');
  std::memcpy(record.data(), data, std::min<size_t>(size, record.size()));
  for (std::size_t k = 0; k < description.keys.size(); ++k) {
    const std::string value = KeyValueOfRecord(description, static_cast<int>(k),
                                               reinterpret_cast<const uint8_t*>(record.data()));
    const std::string encoded = EncodeKeyValue(description, static_cast<int>(k), value);
    if (encoded.size() != static_cast<size_t>(description.keys[k].length)) __builtin_trap();
    IsNullKeyValue(description, static_cast<int>(k), value);
  }
  return 0;
}
