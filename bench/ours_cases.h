// The record-manager benchmarks' file and the cases timed through BTRCALL,
// the same for either store: 100 000 records of 100 bytes, key 0 a 4-byte
// unsigned number, key 1 a 20-byte text with duplicates.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "beside_writer.h"
#include "recordmanager/btrcall.h"
#include "recordmanager/file_description.h"
#include "recordmanager/status.h"

namespace kestrova::bench {

inline constexpr uint32_t kRecords = 100000;
inline constexpr uint16_t kLength = 100;

// The position block of the file the cases time, and its path.
inline uint8_t g_block[128];
inline std::string g_path;

inline std::string Record(uint32_t id) {
  std::string r(kLength, ' ');
  std::memcpy(r.data(), &id, 4);
  const std::string name = "NAME" + std::to_string(id % 5000);
  std::memcpy(r.data() + 4, name.data(), name.size());
  return r;
}

inline int16_t Call(uint16_t op, void* data, uint32_t length, void* key, int8_t keyNumber = 0) {
  uint8_t keyBuffer[255] = {};
  if (key) std::memcpy(keyBuffer, key, 4);
  return BTRCALL(op, g_block, data, &length, keyBuffer, 255, keyNumber);
}

// Creates the file at `path` (the store is the one its place says), opens
// it in g_block and fills it, the records inserted out of key order.
inline bool CreateBenchFile(const std::string& path) {
  g_path = path;
  auto put16 = [](std::string& s, std::size_t at, uint16_t v) {
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>(v >> 8);
  };
  std::string description(16 + 32, '\0');
  put16(description, 0, kLength);
  put16(description, 2, 4096);
  put16(description, 4, 2);
  put16(description, 16, 1);
  put16(description, 18, 4);
  put16(description, 20, kKeyBinary);
  put16(description, 32, 5);
  put16(description, 34, 20);
  put16(description, 36, kKeyDuplicates | kKeyModifiable);
  std::string pathKey = path + std::string(1, '\0');
  uint32_t length = static_cast<uint32_t>(description.size());
  if (BTRCALL(kOpCreate, nullptr, description.data(), &length, pathKey.data(), 255, -1) != 0) return false;
  length = 0;
  if (BTRCALL(kOpOpen, g_block, nullptr, &length, pathKey.data(), 255, 0) != 0) return false;
  BTRCALL(kOpBeginTransaction, nullptr, nullptr, nullptr, nullptr, 0, 0);
  for (uint32_t id = 0; id < kRecords; ++id) {
    std::string r = Record(id * 7 % kRecords);
    Call(kOpInsert, r.data(), kLength, nullptr);
  }
  return BTRCALL(kOpEndTransaction, nullptr, nullptr, nullptr, nullptr, 0, 0) == 0;
}

inline void BM_StepOurs(benchmark::State& state) {
  uint8_t data[kLength];
  for (auto _ : state) {
    uint32_t n = 0;
    for (int16_t s = Call(kOpGetFirst, data, kLength, nullptr); s == 0;
         s = Call(kOpGetNext, data, kLength, nullptr)) {
      ++n;
    }
    if (n != kRecords) state.SkipWithError("not every record was reached");
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}

inline void BM_StepBesideWriter(benchmark::State& state) {
  StepBesideWriter(state, g_path, kRecords, kLength, 60, BM_StepOurs);
}

inline void BM_EqualOurs(benchmark::State& state) {
  std::mt19937 random(42);
  uint8_t data[kLength];
  for (auto _ : state) {
    uint32_t id = random() % kRecords;
    if (Call(kOpGetEqual, data, kLength, &id) != 0) state.SkipWithError("not found");
  }
  state.SetItemsProcessed(state.iterations());
}

inline void BM_UpdateOurs(benchmark::State& state) {
  std::mt19937 random(7);
  uint8_t data[kLength];
  for (auto _ : state) {
    uint32_t id = random() % kRecords;
    Call(kOpGetEqual, data, kLength, &id);
    data[50] = static_cast<uint8_t>(data[50] + 1);
    if (Call(kOpUpdate, data, kLength, nullptr) != 0) state.SkipWithError("update failed");
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace kestrova::bench
