// Helpers of the record layer tests: a fresh root and current directory per
// test, dictionaries built from a short key list, records inserted through
// the record manager, and a test double of the entry point that sees every
// call and may answer in the record manager's place.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "calendar/picture_mask.h"
#include "platform/clock.h"
#include "platform/screen.h"
#include "recordmanager/btrcall.h"
#include "session/session.h"
#include "storage/data_files.h"
#include "storage/record_interface.h"
#include "storage/record_locks.h"
#include "support/temp_dir.h"
#include "windows/windows.h"

namespace kestrova::storagetest {

// The slot a file opened first gets: the highest free one.
inline constexpr int16_t kSlot = 40;

struct Segment {
  uint16_t position;  // 1-based
  uint16_t length;
  uint16_t flags = 0;
};

inline std::string U16(uint16_t v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

// A Create buffer: record length, keys as segment lists ("another segment
// follows" is set here), an optional collating table.
inline std::string Description(uint16_t recordLength, const std::vector<std::vector<Segment>>& keys,
                               const std::string& table = {}) {
  std::string out = U16(recordLength) + U16(1024) + U16(static_cast<uint16_t>(keys.size()));
  out.resize(16, '\0');
  for (const auto& key : keys) {
    for (std::size_t i = 0; i < key.size(); ++i) {
      std::string seg = U16(key[i].position) + U16(key[i].length) +
                        U16(static_cast<uint16_t>(key[i].flags | (i + 1 < key.size() ? 0x10 : 0)));
      seg.resize(16, '\0');
      out += seg;
    }
  }
  if (!table.empty()) out += std::string(1, '\xAC') + "UPPER   " + table;
  return out;
}

// The test file: 20-byte records; key 0 the 4 characters at the start, key 1
// a 2-byte binary number at offset 4, duplicates allowed.
inline std::string TestFileDescription() {
  return Description(20, {{{1, 4}}, {{5, 2, 0x04 | 0x01}}});
}

inline std::string TestRecord(const std::string& key, uint16_t number, char fill = '.') {
  std::string r = key + U16(number);
  r.resize(20, fill);
  return r;
}

// What the entry point was called with.
struct SeenCall {
  uint16_t operation = 0;
  std::string key;   // the first keyLength bytes of the key buffer
  int padding = -1;  // the byte after them, when the buffer has one
  uint8_t keyLength = 0;
  int8_t keyNumber = 0;
  uint32_t dataLength = 0;  // on entry
};

// The test double: records each call, then lets `answer` reply (when set);
// a negative answer, or none, passes the call to the record manager.
struct EntryDouble {
  std::vector<SeenCall> calls;
  std::function<int16_t(uint16_t operation, char* data, uint32_t* dataLength, char* key,
                        uint8_t keyLength)>
      answer;
};

inline EntryDouble& Double() {
  static EntryDouble d;
  return d;
}

inline int16_t DoubleEntry(uint16_t operation, void* positionBlock, void* dataBuffer,
                           uint32_t* dataLength, void* keyBuffer, uint8_t keyLength,
                           int8_t keyNumber) {
  SeenCall c;
  c.operation = operation;
  c.keyLength = keyLength;
  c.keyNumber = keyNumber;
  c.dataLength = dataLength ? *dataLength : 0;
  if (keyBuffer != nullptr) {
    c.key.assign(static_cast<const char*>(keyBuffer), keyLength);
    // Every key buffer the layer passes is longer than the key length it
    // states, except the full 255-byte ones.
    if (keyLength < 255)
      c.padding = static_cast<uint8_t>(static_cast<const char*>(keyBuffer)[keyLength]);
  }
  Double().calls.push_back(c);
  if (Double().answer) {
    const int16_t status = Double().answer(operation, static_cast<char*>(dataBuffer), dataLength,
                                           static_cast<char*>(keyBuffer), keyLength);
    if (status >= 0) return status;
  }
  return BTRCALL(operation, positionBlock, dataBuffer, dataLength, keyBuffer, keyLength, keyNumber);
}

// A fresh root (also JOBTMP and the current directory), a clean layer, no
// real pauses, Catalan.
class StorageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BTRCALL(28, nullptr, nullptr, nullptr, nullptr, 0, 0);
    ResetFileSlotsForTesting();
    ResetLockModeStackForTesting();
    ResetSavedStackForTesting();
    ResetSessionForTesting();
    ResetScreenForTesting();
    ResetWindowsForTesting();
    Session().jobRoot = dir_.Path();
    Session().jobTmp = dir_.Path();
    Session().language = "CAT";
    oldDirectory_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.Path());
    pauses_.clear();
    SetSleepHookForTesting([this](int32_t ms) { pauses_.push_back(ms); });
    SeedRandom(7);
    Double() = EntryDouble{};
    RecordManagerEntry() = &DoubleEntry;
  }
  void TearDown() override {
    RecordManagerEntry() = &BTRCALL;
    ResetFiles();
    ResetFileSlotsForTesting();
    SetSleepHookForTesting({});
    std::filesystem::current_path(oldDirectory_);
    Double() = EntryDouble{};
  }

  // Writes the dictionary of a base name under ddf/.
  void WriteDictionary(const std::string& base, const std::string& description) {
    dir_.Write("ddf/" + base + ".xdf",
               U16(static_cast<uint16_t>(description.size())) + description);
  }

  // Creates (through its dictionary) and opens the test file under
  // `fileNumber`, bound to `record_`, and inserts the records.
  void OpenTestFile(int16_t fileNumber, const std::vector<std::string>& records,
                    const std::string& base = "Prova") {
    WriteDictionary(base, TestFileDescription());
    std::filesystem::create_directories(dir_.Path() + "DADES");
    ASSERT_EQ(OpenDataFile(fileNumber, dir_.Path() + "DADES\\" + base, Variable()), 0);
    FileSlot& s = FileSlots()[static_cast<std::size_t>(OpenSlot(fileNumber))];
    for (std::string r : records) {
      uint32_t length = static_cast<uint32_t>(r.size());
      char key[255] = {};
      ASSERT_EQ(BTRCALL(2, s.positionBlock.data(), r.data(), &length, key, 255, 0), 0);
    }
    Double().calls.clear();
  }

  RecordVariable Variable() { return {record_, sizeof record_, 20}; }
  std::string Record(std::size_t n = 20) const {
    return std::string(reinterpret_cast<const char*>(record_), n);
  }
  std::vector<uint16_t> Operations() const {
    std::vector<uint16_t> ops;
    for (const SeenCall& c : Double().calls) ops.push_back(c.operation);
    return ops;
  }

  testing::TempDir dir_;
  std::filesystem::path oldDirectory_;
  std::vector<int32_t> pauses_;
  uint8_t record_[64] = {};
};

}  // namespace kestrova::storagetest
