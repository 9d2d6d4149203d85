// A writer beside a stepping reader, for the record manager's benchmarks:
// another process that updates random records of the same file (Get Equal,
// then Update of a byte that is in no key), each its own commit, as fast as
// it can.
#pragma once

#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "recordmanager/btrcall.h"
#include "recordmanager/status.h"

namespace kestrova {

// Starts the writer on `path`, whose key 0 is a 4-byte number from 0 to
// `records` - 1; the child updates byte `byteInNoKey` until it is killed.
inline pid_t StartRandomUpdater(const std::string& path, uint32_t records, uint16_t recordLength,
                                std::size_t byteInNoKey) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  uint8_t block[128] = {};
  std::string pathKey = path + std::string(1, '\0');
  uint32_t length = 0;
  if (BTRCALL(kOpOpen, block, nullptr, &length, pathKey.data(), 255, 0) != 0) _exit(1);
  std::mt19937 random(getpid());
  std::vector<uint8_t> data(recordLength);
  for (;;) {
    uint32_t id = random() % records;
    uint8_t key[255] = {};
    std::memcpy(key, &id, 4);
    length = recordLength;
    if (BTRCALL(kOpGetEqual, block, data.data(), &length, key, 255, 0) != 0) continue;
    data[byteInNoKey] = static_cast<uint8_t>(data[byteInNoKey] + 1);
    length = recordLength;
    BTRCALL(kOpUpdate, block, data.data(), &length, key, 255, 0);
  }
}

// Runs `step` (a benchmark of stepping alone) while the writer works.
template <typename Step>
void StepBesideWriter(benchmark::State& state, const std::string& path, uint32_t records,
                      uint16_t recordLength, std::size_t byteInNoKey, Step step) {
  const pid_t writer = StartRandomUpdater(path, records, recordLength, byteInNoKey);
  usleep(200000);  // the writer is under way
  step(state);
  kill(writer, SIGKILL);
  waitpid(writer, nullptr, 0);
}

}  // namespace kestrova
