#include "storage/transactions.h"

#include "recordmanager/status.h"
#include "storage/record_interface.h"

namespace kestrova {
namespace {

// The transaction belongs to the client, not to a file: any position block
// will do, and this one is never bound to a file.
int16_t TransactionCall(uint16_t operation) {
  static uint8_t positionBlock[kPositionBlockBytes] = {};
  uint32_t dataLength = 0;
  char key[kKeyBufferSize] = {};
  return CallRecordManager(operation, positionBlock, nullptr, &dataLength, key, kKeyBufferSize, 0);
}

}  // namespace

int16_t BeginTransaction() { return TransactionCall(kOpBeginTransaction); }
int16_t EndTransaction() { return TransactionCall(kOpEndTransaction); }
int16_t AbortTransaction() { return TransactionCall(kOpAbortTransaction); }

}  // namespace kestrova
