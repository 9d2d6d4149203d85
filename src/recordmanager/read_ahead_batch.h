// Keeping a batch of records read ahead up to date with what other clients
// changed, shared by both stores: the disk store learns the changed records
// from its change journal, the server store from its commit notices.
//
// A batch is the records a plain Get Next/Previous read ahead, in key
// order, from the handle's position on: `ahead`, of which `aheadNext` is
// the next to give out.  A handle type has those two, `aheadPlaces` and
// `aheadStale` (below).
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "recordmanager/store.h"

namespace kestrova {

// Whether (key, place) of `row` comes after (`key`, `seq`) in the stepping
// direction.
inline bool After(const StoreRow& row, const std::string& key, int64_t seq, bool forward) {
  const int order = row.encodedKey.compare(key);
  if (order != 0) return forward ? order > 0 : order < 0;
  return forward ? row.seq > seq : row.seq < seq;
}

// The index in the batch of the record at `pos` not yet given out, or -1.
// The batch's places by position (`aheadPlaces`, (pos, index) sorted) are
// made when first needed and made again after a record is dropped: a writer
// in flight has its changes named again at every step, so the look-up must
// not walk the batch.
template <typename Handle>
long HeldAt(Handle& handle, uint32_t pos) {
  auto& places = handle.aheadPlaces;
  if (places.empty()) {
    places.reserve(handle.ahead.size());
    for (std::size_t i = 0; i < handle.ahead.size(); ++i) {
      places.emplace_back(handle.ahead[i].pos, static_cast<uint32_t>(i));
    }
    std::sort(places.begin(), places.end());
  }
  const auto it = std::lower_bound(places.begin(), places.end(), std::make_pair(pos, uint32_t{0}));
  if (it == places.end() || it->first != pos || it->second < handle.aheadNext) return -1;
  return it->second;
}

// Records further on that others changed in place (`aheadStale`): read
// again at their turn rather than at every step.
template <typename Handle>
bool IsStale(const Handle& handle, uint32_t pos) {
  return std::find(handle.aheadStale.begin(), handle.aheadStale.end(), pos) != handle.aheadStale.end();
}

// Brings the batch up to date with the records others changed since it was
// last brought up to date: `kept` changed with every key as it was (updated
// in place, or deleted), `moved` may now be anywhere along a key (inserted,
// or a key changed).  One held further on whose keys stayed is only
// marked, and read again at its turn: its place in the batch cannot have
// changed.  The one whose turn it is, if marked, and every moved one are
// read again now, through `readAgain(positions, rows)` (false: give up),
// which fills (still there, record) for each.  One that is gone or left the
// batch's stretch of the key (from `key`/`seq`, the handle's position, to
// the last record held) is dropped; one that is now inside the stretch and
// was not there before makes the batch unusable.  False: read a fresh
// batch.
template <typename Handle, typename ReadAgain>
bool BringBatchUpToDate(Handle& handle, const std::string& key, int64_t seq, bool forward,
                        const std::vector<uint32_t>& kept, std::vector<uint32_t> moved,
                        ReadAgain readAgain) {
  auto& ahead = handle.ahead;
  for (uint32_t pos : kept) {
    if (HeldAt(handle, pos) >= 0 && !IsStale(handle, pos)) handle.aheadStale.push_back(pos);
  }
  std::vector<uint32_t> again = std::move(moved);
  if (IsStale(handle, ahead[handle.aheadNext].pos)) again.push_back(ahead[handle.aheadNext].pos);
  std::sort(again.begin(), again.end());
  again.erase(std::unique(again.begin(), again.end()), again.end());
  std::vector<std::pair<bool, StoreRow>> fresh;
  if (!again.empty() && !readAgain(again, fresh)) return false;

  if (again.empty()) return true;  // the record whose turn it is was not marked
  const std::string lastKey = ahead.back().encodedKey;
  const int64_t lastSeq = ahead.back().seq;
  for (std::size_t i = 0; i < again.size(); ++i) {
    auto& [present, row] = fresh[i];
    const long at = HeldAt(handle, again[i]);
    const bool inStretch = present && !row.keyIsNull && After(row, key, seq, forward) &&
                           !After(row, lastKey, lastSeq, forward);
    std::erase(handle.aheadStale, again[i]);
    if (at >= 0 && inStretch && row.encodedKey == ahead[at].encodedKey && row.seq == ahead[at].seq) {
      ahead[at] = std::move(row);  // changed in place
      continue;
    }
    if (at >= 0) {
      ahead.erase(ahead.begin() + at);
      handle.aheadPlaces.clear();
    }
    if (inStretch) return false;
  }
  // The record whose turn it was is gone and the next is marked too: it is
  // simplest read afresh.
  return handle.aheadNext < ahead.size() && !IsStale(handle, ahead[handle.aheadNext].pos);
}

}  // namespace kestrova
