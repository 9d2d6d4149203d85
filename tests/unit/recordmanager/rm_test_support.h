// Helpers of the record manager tests: Create buffers from a short key
// list, a call wrapper with safe buffers, and a fresh directory per test.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "recordmanager/btrcall.h"
#include "recordmanager/file_description.h"
#include "pg_cluster.h"

namespace kestrova::rmtest {

struct Seg {
  uint16_t position;  // 1-based
  uint16_t length;
  uint16_t flags = 0;
  uint8_t type = 0;
  uint8_t nullValue = 0;
};

inline void Put16(std::string& s, std::size_t at, uint16_t v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>(v >> 8);
}

inline std::string U16(uint16_t v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}
inline std::string U32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}
inline uint32_t ReadU32(const std::string& s, std::size_t at = 0) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[at + i]);
  return v;
}

// A Create buffer: keys given as lists of segments ("segment follows" is set
// for the caller), with an optional collating table.
inline std::string CreateBuffer(uint16_t recordLength, const std::vector<std::vector<Seg>>& keys,
                                const std::string& table = {}) {
  std::string out(kFileDescriptionSize, '\0');
  Put16(out, 0, recordLength);
  Put16(out, 2, 1024);
  Put16(out, 4, static_cast<uint16_t>(keys.size()));
  for (const auto& key : keys) {
    for (std::size_t i = 0; i < key.size(); ++i) {
      std::string seg(kSegmentDescriptionSize, '\0');
      Put16(seg, 0, key[i].position);
      Put16(seg, 2, key[i].length);
      uint16_t flags = key[i].flags;
      if (i + 1 < key.size()) flags |= kKeySegmented;
      if (key[i].type != 0) flags |= kKeyExtendedType;
      Put16(seg, 4, flags);
      seg[10] = static_cast<char>(key[i].type);
      seg[11] = static_cast<char>(key[i].nullValue);
      out += seg;
    }
  }
  if (!table.empty()) {
    out += static_cast<char>(kCollationSignature);
    out += "UPPER   ";
    out += table;
  }
  return out;
}

struct Answer {
  int16_t status = 0;
  std::string data;  // the bytes returned (data length on exit)
  std::string key;   // the whole key buffer after the call
};

// One BTRCALL with buffers the size of what is passed, or `dataSize` when
// larger; the key buffer is 255 bytes (`key` copied at its start).
inline Answer Call(uint16_t op, void* block, const std::string& data = {},
                   const std::string& key = {}, int8_t keyNumber = 0, uint32_t dataSize = 0,
                   uint8_t keyLength = 255) {
  std::vector<uint8_t> dataBuffer(std::max<std::size_t>(data.size(), dataSize) + 1, 0xEE);
  std::copy(data.begin(), data.end(), dataBuffer.begin());
  uint32_t length = dataSize ? dataSize : static_cast<uint32_t>(data.size());
  std::vector<uint8_t> keyBuffer(std::max<std::size_t>(keyLength, key.size()) + 1, 0);
  std::copy(key.begin(), key.end(), keyBuffer.begin());
  Answer a;
  a.status = BTRCALL(op, block, dataBuffer.data(), &length, keyBuffer.data(), keyLength, keyNumber);
  a.data.assign(reinterpret_cast<char*>(dataBuffer.data()),
                std::min<std::size_t>(length, dataBuffer.size()));
  a.key.assign(reinterpret_cast<char*>(keyBuffer.data()), keyLength);
  return a;
}

inline std::string PathKey(const std::string& path) { return path + std::string(1, '\0'); }

// A fresh directory per test, removed afterwards; every file is closed by a
// Reset before and after.  In the PostgreSQL half of the run the directory
// holds a setting file that puts its record files into a schema of the
// test's own; tests of what only the files on disk have are skipped there.
class RecordManagerTest : public ::testing::Test {
 protected:
  virtual bool DiskStoreOnly() const { return false; }
  void SetUp() override {
    char templ[] = "/tmp/kestrova-rm-XXXXXX";
    dir_ = mkdtemp(templ);
    BTRCALL(kOpReset, nullptr, nullptr, nullptr, nullptr, 0, 0);
    if (PgTestMode()) {
      if (DiskStoreOnly()) GTEST_SKIP() << "a test of the record files on disk";
      if (!PgUnavailable().empty()) GTEST_SKIP() << PgUnavailable();
      schema_ = std::filesystem::path(dir_).filename().string();
      WritePgSetting(dir_, schema_);
    }
  }
  void TearDown() override {
    BTRCALL(kOpReset, nullptr, nullptr, nullptr, nullptr, 0, 0);
    if (!schema_.empty()) DropPgSchema(schema_);
    std::filesystem::remove_all(dir_);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // Creates and opens a file; the block is this fixture's `block_`.
  void CreateAndOpen(const std::string& name, const std::string& createBuffer,
                     uint8_t* block = nullptr) {
    ASSERT_EQ(Call(kOpCreate, nullptr, createBuffer, PathKey(Path(name)), -1).status, kStatusOk);
    ASSERT_EQ(Call(kOpOpen, block ? block : block_, "", PathKey(Path(name)), 0).status, kStatusOk);
  }

  std::string dir_;
  std::string schema_;  // the test's schema in the PostgreSQL half
  uint8_t block_[128] = {};
};

}  // namespace kestrova::rmtest
