// The operations behind BTRCALL, one routine each.  Internal to
// src/recordmanager/: btrcall.cpp checks the call and dispatches here.
#pragma once

#include <cstdint>
#include <string>

#include "recordmanager/client_state.h"

namespace kestrova {

// One call's arguments, with the buffer sizes made safe: `dataSize` is 0
// when there is no data buffer, `keySize` 0 when there is no key buffer.
struct Call {
  uint16_t operation = 0;  // without the lock bias
  uint16_t bias = 0;
  void* positionBlock = nullptr;
  uint8_t* data = nullptr;
  uint32_t dataSize = 0;
  uint32_t* dataLength = nullptr;
  uint8_t* key = nullptr;
  uint32_t keySize = 0;
  int8_t keyNumber = 0;

  void SetDataLength(uint32_t n) const {
    if (dataLength) *dataLength = n;
  }
};

// Copies a key value into the key buffer, as far as it reaches.
void ReturnKeyValue(const Call& call, const std::string& value);

RecordStatus OpGet(const Call& call, Handle& handle);
RecordStatus OpGetDirect(const Call& call, Handle& handle);
RecordStatus OpGetPosition(const Call& call, Handle& handle);
RecordStatus OpInsert(const Call& call, Handle& handle);
RecordStatus OpUpdate(const Call& call, Handle& handle);
RecordStatus OpDelete(const Call& call, Handle& handle);

}  // namespace kestrova
