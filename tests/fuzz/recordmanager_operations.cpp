// Random BTRCALL sequences against a small record file: every status is
// acceptable, a crash, a hang or a sanitizer report is not.  Buffers are
// allocated at exactly the lengths passed, so any access beyond them shows.
//
// Input: a list of calls, each 8 header bytes
//   op (1)  bias (1, /64 -> 0..3 * 100)  data length (2)  key length (1)
//   key number (1)  block (1, one of 4 blocks)  payload length (1)
// followed by the payload, which fills the data buffer and then the key
// buffer (the rest stays zero).  Open and Create always name files inside
// the fuzzer's own directory.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "recordmanager/btrcall.h"

namespace {

std::string g_dir;

std::string FileName(int which) { return g_dir + "/f" + std::to_string(which & 1) + ".dat"; }

// A file with a unique integer key, a text key with duplicates and a
// descending two-segment key, so every code path has something to do.
void MakeFile(const std::string& path) {
  std::string description(16 + 16 * 4, '\0');
  auto put16 = [&](std::size_t at, uint16_t v) {
    description[at] = static_cast<char>(v & 0xFF);
    description[at + 1] = static_cast<char>(v >> 8);
  };
  put16(0, 32);
  put16(2, 1024);
  put16(4, 3);
  put16(16, 1), put16(18, 4), put16(20, 0x0100), description[26] = 1;         // key 0: integer
  put16(32, 5), put16(34, 10), put16(36, 0x0001 | 0x0002 | 0x0400);           // key 1: text, dups
  put16(48, 15), put16(50, 2), put16(52, 0x0001 | 0x0004 | 0x0040 | 0x0010);  // key 2 ...
  put16(64, 17), put16(66, 8), put16(68, 0x0001);                             // ... two segments
  std::string key = path + std::string(1, '\0');
  uint32_t length = static_cast<uint32_t>(description.size());
  kestrova::BTRCALL(kestrova::kOpCreate, nullptr, description.data(), &length, key.data(), 255, 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Memory-backed when there is one: inputs that create files would
  // otherwise spend their time syncing a disk.
  char shm[] = "/dev/shm/kestrova-fuzz-XXXXXX";
  char tmp[] = "/tmp/kestrova-fuzz-XXXXXX";
  const char* dir = mkdtemp(shm);
  g_dir = dir ? dir : mkdtemp(tmp);
  MakeFile(g_dir + "/pristine.dat");
  kestrova::BTRCALL(kestrova::kOpReset, nullptr, nullptr, nullptr, nullptr, 0, 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrova;
  BTRCALL(kOpReset, nullptr, nullptr, nullptr, nullptr, 0, 0);
  // Every input starts from the same two files (copied: creating them is
  // the slow part).
  for (int which = 0; which < 2; ++which) {
    std::error_code error;
    std::filesystem::remove(FileName(which) + "-wal", error);
    std::filesystem::remove(FileName(which) + "-shm", error);
    std::filesystem::copy_file(g_dir + "/pristine.dat", FileName(which),
                               std::filesystem::copy_options::overwrite_existing, error);
  }
  uint8_t blocks[4][kPositionBlockSize] = {};
  std::size_t at = 0;
  int calls = 0;
  while (at + 8 <= size && calls++ < 64) {
    const uint8_t* h = data + at;
    at += 8;
    uint16_t op = h[0] % 30;
    const uint16_t bias = static_cast<uint16_t>((h[1] / 64) * 100);
    const uint32_t dataLength = (h[2] | (h[3] << 8)) % 2048;
    const uint8_t keyLength = h[4];
    const int8_t keyNumber = static_cast<int8_t>(h[5]);
    uint8_t* block = blocks[h[6] % 4];
    const std::size_t payload = std::min<std::size_t>(h[7], size - at);

    std::vector<uint8_t> dataBuffer(dataLength);
    std::vector<uint8_t> keyBuffer(keyLength);
    std::size_t used = std::min<std::size_t>(payload, dataLength);
    if (used) std::memcpy(dataBuffer.data(), data + at, used);
    const std::size_t keyUsed = std::min<std::size_t>(payload - used, keyLength);
    if (keyUsed) std::memcpy(keyBuffer.data(), data + at + used, keyUsed);
    at += payload;

    if (op == kOpOpen || op == kOpCreate) {
      // A path of ours in the key buffer, when it fits.
      const std::string path = FileName(h[6] >> 2) + std::string(1, '\0');
      if (path.size() <= keyBuffer.size()) std::memcpy(keyBuffer.data(), path.data(), path.size());
    }
    if (op == kOpCreate && (h[1] & 1)) op = kOpStat;  // creating over and over is slow
    uint32_t length = dataLength;
    BTRCALL(static_cast<uint16_t>(op + bias), block, dataLength ? dataBuffer.data() : nullptr,
            &length, keyLength ? keyBuffer.data() : nullptr, keyLength, keyNumber);
    if (length > dataLength) __builtin_trap();  // claims more than the buffer holds
  }
  BTRCALL(kOpReset, nullptr, nullptr, nullptr, nullptr, 0, 0);
  return 0;
}
