#include "recordmanager/record_locks_os.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

namespace kestrova {
namespace {

struct flock ByteRange(uint64_t offset, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(offset);
  lock.l_len = 1;
  lock.l_pid = 0;  // must be 0 for open-file-description locks
  return lock;
}

}  // namespace

int OpenLockFile(const std::string& nativeDataPath, bool* readOnly) {
  const std::string path = nativeDataPath + "-lock";
  // 0666: the process's umask decides, so a group sharing the files
  // (umask 002) can all write to the lock file one of them made.
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (readOnly) *readOnly = false;
  // A lock file we may only read still serves a reader: shared locks work,
  // but the change counter cannot be moved and exclusive locks fail, so
  // the caller must not let anything write through it.
  if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 && readOnly) *readOnly = true;
  }
  return fd;
}

void CloseLockFile(int fd) {
  if (fd >= 0) close(fd);
}

OsLockResult LockByte(int fd, uint64_t offset, bool exclusive, bool wait) {
  if (fd < 0) return OsLockResult::kError;
  struct flock lock = ByteRange(offset, exclusive ? F_WRLCK : F_RDLCK);
  for (;;) {
    if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0) return OsLockResult::kAcquired;
    if (errno == EINTR) continue;  // a signal interrupted the wait: wait again
    if (errno == EAGAIN || errno == EACCES) return OsLockResult::kBusy;
    return OsLockResult::kError;
  }
}

void UnlockByte(int fd, uint64_t offset) {
  if (fd < 0) return;
  struct flock lock = ByteRange(offset, F_UNLCK);
  fcntl(fd, F_OFD_SETLK, &lock);
}

namespace {

// Words of the mapping: the counter, the journal's entry count, the count
// when the latest mark was set, then the ring.
constexpr uint64_t kHeadWord = 1;
constexpr uint64_t kMarkHeadWord = 2;
constexpr uint64_t kRingWord = 3;
constexpr std::size_t kMappedBytes = (kRingWord + kJournalSlots) * 8;
constexpr uint64_t kNoteKeysKept = uint64_t{1} << 32;
constexpr uint64_t kNoteMoved = uint64_t{2} << 32;
constexpr uint64_t kNoteAnything = uint64_t{3} << 32;

std::atomic_ref<uint64_t> Word(const uint64_t* counter, uint64_t index) {
  return std::atomic_ref<uint64_t>(*const_cast<uint64_t*>(counter + index));
}

void Note(uint64_t* counter, uint64_t entry) {
  if (!counter) return;
  // One writer at a time (SQLite's write lock): the slot first, then the
  // count that makes it readable.
  const uint64_t head = Word(counter, kHeadWord).load();
  Word(counter, kRingWord + head % kJournalSlots).store(entry);
  Word(counter, kHeadWord).store(head + 1);
}

}  // namespace

uint64_t* MapChangeCounter(int fd) {
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0) return nullptr;
  // Growing the file is harmless when several processes do it; a file that
  // cannot grow is not mapped (a page past its end would fault).
  if (st.st_size < static_cast<off_t>(kMappedBytes) &&
      ftruncate(fd, static_cast<off_t>(kMappedBytes)) != 0) {
    return nullptr;
  }
  void* p = mmap(nullptr, kMappedBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return p == MAP_FAILED ? nullptr : static_cast<uint64_t*>(p);
}

void UnmapChangeCounter(uint64_t* counter) {
  if (counter) munmap(counter, kMappedBytes);
}

void NoteRecordChanged(uint64_t* counter, uint32_t pos, bool keysKept) {
  Note(counter, (keysKept ? kNoteKeysKept : kNoteMoved) | pos);
}

void NoteAnythingChanged(uint64_t* counter) { Note(counter, kNoteAnything); }

JournalView ReadJournal(const uint64_t* counter) {
  JournalView view;
  if (!counter) return view;
  view.usable = true;
  // In this order: a writer that marks after the counter is read notes
  // after the count read before it.
  view.head = Word(counter, kHeadWord).load();
  view.counter = Word(counter, 0).load();
  const uint64_t markHead = Word(counter, kMarkHeadWord).load();
  // A writer between its mark and its commit may have noted records whose
  // change is not visible yet: the next check starts where it began (the
  // mark head of a later writer means this one had committed before).
  view.resume = view.counter % 2 == 0 ? view.head : std::min(markHead, view.head);
  return view;
}

bool SameJournal(const JournalView& a, const JournalView& b) {
  return a.usable && b.usable && a.counter == b.counter && a.head == b.head;
}

bool NotedRecords(const uint64_t* counter, uint64_t from, uint64_t to,
                  std::vector<uint32_t>& keptKeys, std::vector<uint32_t>& moved) {
  keptKeys.clear();
  moved.clear();
  if (!counter || to < from || to - from > kJournalSlots) return false;
  for (uint64_t i = from; i < to; ++i) {
    const uint64_t entry = Word(counter, kRingWord + i % kJournalSlots).load();
    const uint64_t kind = entry & ~uint64_t{0xFFFFFFFF};
    if (kind == kNoteKeysKept) {
      keptKeys.push_back(static_cast<uint32_t>(entry));
    } else if (kind == kNoteMoved) {
      moved.push_back(static_cast<uint32_t>(entry));
    } else {
      return false;
    }
  }
  // Overwritten while read: the ring went round meanwhile.
  return Word(counter, kHeadWord).load() - from <= kJournalSlots;
}

uint64_t MarkChangeStarting(uint64_t* counter) {
  if (!counter) return 0;
  // Where this writer's notes begin, stored before the mark: a reader that
  // sees the mark then sees this count, or a later one of a later writer
  // (whose new mark it will also see).
  Word(counter, kMarkHeadWord).store(Word(counter, kHeadWord).load());
  std::atomic_ref<uint64_t> value(*counter);
  // A writer that died between its two marks left the counter odd: moving
  // to the next odd value still tells every reader that something changed.
  uint64_t v = value.load();
  while (!value.compare_exchange_weak(v, (v | 1) + 2)) {
  }
  return (v | 1) + 2;
}

void MarkChangeDone(uint64_t* counter, uint64_t mark) {
  if (!counter || mark == 0) return;
  // Only the latest writer's mark is turned even: a writer that started
  // after ours (and so after our commit) may still be about to commit.
  uint64_t expected = mark;
  std::atomic_ref<uint64_t>(*counter).compare_exchange_strong(expected, mark + 1);
}

uint64_t ReadChangeCounter(const uint64_t* counter) {
  if (!counter) return 1;  // odd: never trust a cache
  return std::atomic_ref<uint64_t>(*const_cast<uint64_t*>(counter)).load();
}

bool ByteHeldByOther(int fd, uint64_t offset, bool exclusive) {
  if (fd < 0) return false;
  struct flock lock = ByteRange(offset, exclusive ? F_WRLCK : F_RDLCK);
  if (fcntl(fd, F_OFD_GETLK, &lock) != 0) return false;
  return lock.l_type != F_UNLCK;
}

}  // namespace kestrova
