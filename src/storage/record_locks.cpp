#include "storage/record_locks.h"

#include <algorithm>
#include <cstring>

#include "calendar/numeric.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "session/session.h"
#include "storage/record_interface.h"
#include "windows/windows.h"

namespace kestrova {
namespace {

constexpr int kMessageRow = 24;
// The longest pause between two attempts on a locked record: the pauses are
// random so that two waiting workstations do not keep colliding.
constexpr double kMaxRetryPauseMs = 10000.0;

std::string gLockModeStack;

// Reads that take a lock when the file's lock mode asks for one: the Gets,
// the transaction begin, Get Position, Get Direct and the extended Gets.
bool TakesLockBias(int16_t operation) {
  return (operation >= 5 && operation <= 13) || operation == 19 ||
         (operation >= 22 && operation <= 24) || (operation >= 33 && operation <= 35);
}

// What follows the key value in the key buffer: NUL bytes for Get Greater
// (or Equal), so the search starts below every key with that prefix; 0xFF
// for Get Less (or Equal), so it starts above them; blanks otherwise.
char KeyPadding(int16_t operation) {
  if (operation == 8 || operation == 9) return '\0';
  if (operation == 10 || operation == 11) return static_cast<char>(0xFF);
  return ' ';
}

}  // namespace

std::string& LockModeStack() { return gLockModeStack; }

void ResetLockModeStackForTesting() { gLockModeStack.clear(); }

void SetLockMode(int16_t fileNumber, std::string_view options, int16_t& status) {
  const int16_t slot = OpenSlot(fileNumber);
  if (slot == 0) {
    status = 3;
    return;
  }
  FileSlot& s = FileSlots()[static_cast<std::size_t>(slot)];
  for (char c : options) {
    switch (UpperAnsi(c)) {
      case 'D':
        s.lockMode = 0;
        break;
      case 'A':
        s.lockMode = 1;
        break;
      case 'B':
        s.lockMode = 2;
        break;
      case '+':
        gLockModeStack += static_cast<char>(slot);
        gLockModeStack += static_cast<char>(s.lockMode);
        break;
      case '-':
        // The newest entry of this slot, searched from the end.
        for (std::size_t i = gLockModeStack.size() / 2; i-- > 0;) {
          if (static_cast<uint8_t>(gLockModeStack[2 * i]) == slot) {
            s.lockMode = static_cast<int16_t>(static_cast<uint8_t>(gLockModeStack[2 * i + 1]));
            gLockModeStack.erase(2 * i, 2);
            break;
          }
        }
        break;
      default:
        break;
    }
  }
}

std::string_view LockMessageText(std::string_view language) {
  if (language == "SPA") return "FICHERO BLOQUEADO. ESPERE UN MOMENTO.";
  if (language == "GLG") return "FICHEIRO BLOQUEADO. ESPERE UM MOMENTO.";
  if (language == "OCI") return "FICHÈR BLOQUEJAT. ESPERATZ UN MOMENT."_cp;
  return "FITXER BLOQUEJAT. ESPEREU UN MOMENT.";
}

void LockedRecordCall(int16_t slot, int16_t& operation, int16_t& status) {
  if (slot < 1 || slot > kLastSlot || FileSlots()[static_cast<std::size_t>(slot)].fileNumber == 0) {
    status = 3;
    return;
  }
  FileSlot& s = FileSlots()[static_cast<std::size_t>(slot)];
  // Never more than the variable holds, nor than the data buffer carries.
  const auto recordLength = static_cast<std::size_t>(
      std::clamp<int32_t>(std::min(s.recordLength, s.recordCapacity), 0, kDataBufferSize));

  // 1. Lock bias.
  if (TakesLockBias(operation) && s.lockMode != 0)
    operation = static_cast<int16_t>(operation + kLockBias);

  // 2. Attempts, until one is not held up by another client's lock (or the
  //    lock mode does not wait).
  int attempts = 0;
  for (;;) {
    // From the second attempt on the operator sees why the job waits.
    if (attempts == 1) ShowMessageWindow(kMessageRow, LockMessageText(Session().language));
    // The record variable as data.
    char dataBuffer[kDataBufferSize];
    std::memset(dataBuffer, ' ', sizeof dataBuffer);
    if (recordLength > 0) std::memcpy(dataBuffer, s.recordVariable, recordLength);
    uint32_t dataLength = static_cast<uint32_t>(recordLength);
    // The key value, padded as the operation needs (a biased code always
    // gets blanks).
    const std::size_t keyLength = std::min<std::size_t>(s.keyValue.size(), kKeyBufferSize);
    char keyBuffer[kLockedKeyBufferSize];
    std::memset(keyBuffer, KeyPadding(operation), sizeof keyBuffer);
    std::memcpy(keyBuffer, s.keyValue.data(), keyLength);
    // The call.
    status = CallRecordManager(static_cast<uint16_t>(operation), s.positionBlock.data(), dataBuffer,
                               &dataLength, keyBuffer, static_cast<uint8_t>(keyLength),
                               static_cast<int8_t>(s.keyNumber));
    // The record, as far as it came and as long as the file's records.
    const std::size_t returned = std::min<std::size_t>(dataLength, recordLength);
    if (returned > 0) std::memcpy(s.recordVariable, dataBuffer, returned);
    // The key of the record reached.
    s.keyValue.assign(keyBuffer, keyLength);
    // Held by another client in lock mode 1: pause 1 to 10 001 ms and try
    // again.
    if ((status == 84 || status == 85) && s.lockMode == 1) {
      SleepMilliseconds(static_cast<int32_t>(RoundHalfEven(kMaxRetryPauseMs * RandomUnit() + 1)));
      attempts = std::min(attempts + 1, 2);
      continue;
    }
    // Done: the message goes away with the last attempt.
    if (attempts != 0) PopWindow();
    return;
  }
}

}  // namespace kestrova
