// The handle table behind the position blocks, shared by both stores.
//
// A position block holds a marker (which store it belongs to), the handle's
// index and a token that only that handle carries, so a block that was
// overwritten, copied from a closed handle or inherited from another
// process is recognised as not open.  A handle type has `used` and `token`.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace kestrova {

inline constexpr std::size_t kPositionBlockSize = 128;

// The handle the block names, or nullptr.
template <typename Handle>
Handle* HandleInBlock(std::vector<Handle>& handles, const uint8_t (&marker)[4],
                      const void* positionBlock) {
  if (positionBlock == nullptr) return nullptr;
  const auto* block = static_cast<const uint8_t*>(positionBlock);
  if (std::memcmp(block, marker, 4) != 0) return nullptr;
  uint32_t index = 0;
  uint64_t token = 0;
  std::memcpy(&index, block + 4, 4);
  std::memcpy(&token, block + 8, 8);
  if (index >= handles.size()) return nullptr;
  Handle& handle = handles[index];
  if (!handle.used || handle.token != token) return nullptr;
  return &handle;
}

// Claims the first free handle (a fresh one), gives it the next token and
// writes its reference into the block.
template <typename Handle>
Handle& ClaimHandle(std::vector<Handle>& handles, uint64_t& nextToken,
                    const uint8_t (&marker)[4], void* positionBlock) {
  std::size_t index = 0;
  while (index < handles.size() && handles[index].used) ++index;
  if (index == handles.size()) handles.emplace_back();
  Handle& handle = handles[index];
  handle = Handle{};
  handle.used = true;
  handle.token = ++nextToken;
  auto* block = static_cast<uint8_t*>(positionBlock);
  std::memset(block, 0, kPositionBlockSize);
  std::memcpy(block, marker, 4);
  const auto index32 = static_cast<uint32_t>(index);
  std::memcpy(block + 4, &index32, 4);
  std::memcpy(block + 8, &handle.token, 8);
  return handle;
}

}  // namespace kestrova
