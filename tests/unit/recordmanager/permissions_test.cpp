// Files shared by several users: what the store creates follows the
// process's umask, and a lock file this user may not write to is refused
// at Open instead of being used half-way.
#include <sys/stat.h>
#include <unistd.h>

#include "child_process.h"
#include "rm_test_support.h"

namespace kestrova::rmtest {
namespace {

constexpr uint16_t kLength = 8;

std::string Description() { return CreateBuffer(kLength, {{{1, 4, 0, kTypeUnsignedBinary}}}); }

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

class PermissionsTest : public RecordManagerTest {
 protected:
  bool DiskStoreOnly() const override { return true; }
  void TearDown() override {
    umask(saved_);
    RecordManagerTest::TearDown();
  }
  mode_t saved_ = umask(022);
};

TEST_F(PermissionsTest, NewFilesFollowTheUmask) {
  struct Case {
    mode_t mask;
    mode_t mode;
  };
  const Case cases[] = {{022, 0644}, {002, 0664}, {077, 0600}, {007, 0660}};
  int round = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE("umask " + std::to_string(c.mask));
    umask(c.mask);
    const std::string path = Path("f" + std::to_string(round++) + ".dat");
    uint8_t block[128] = {};
    ASSERT_EQ(Call(kOpCreate, nullptr, Description(), PathKey(path), -1).status, kStatusOk);
    ASSERT_EQ(Call(kOpOpen, block, "", PathKey(path), 0).status, kStatusOk);
    ASSERT_EQ(Call(kOpInsert, block, U32(1) + "ABCD").status, kStatusOk);
    EXPECT_EQ(ModeOf(path), c.mode);
    EXPECT_EQ(ModeOf(path + "-lock"), c.mode);
    EXPECT_EQ(ModeOf(path + "-wal"), c.mode);
    EXPECT_EQ(ModeOf(path + "-shm"), c.mode);
    Call(kOpClose, block);
  }
}

TEST_F(PermissionsTest, ALockFileThatCanOnlyBeReadIsRefusedAtOpen) {
  const std::string path = Path("shared.dat");
  uint8_t block[128] = {};
  ASSERT_EQ(Call(kOpCreate, nullptr, Description(), PathKey(path), -1).status, kStatusOk);
  ASSERT_EQ(Call(kOpOpen, block, "", PathKey(path), 0).status, kStatusOk);  // makes the lock file
  ASSERT_EQ(Call(kOpInsert, block, U32(1) + "ABCD").status, kStatusOk);
  Call(kOpClose, block);
  // Another member of the group, whose lock file came out 0644 (or 0444).
  ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
  ASSERT_EQ(chmod((path + "-lock").c_str(), 0444), 0);
  Child other([&](Child&) {
    // As root every file is writable: the test runs as an ordinary user.
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 90;
    uint8_t b[128] = {};
    int status = Call(kOpOpen, b, "", PathKey(path), 0).status;
    if (status != kStatusPermissionError) return 10 + (status == kStatusOk ? 0 : 1);
    status = Call(kOpOpen, b, "", PathKey(path), -4).status;
    if (status != kStatusPermissionError) return 20;
    return 0;
  });
  EXPECT_EQ(other.Wait(), 0);
  // No lock file at all for this user: refused the same way.
  ASSERT_EQ(chmod((path + "-lock").c_str(), 0), 0);
  Child stranger([&](Child&) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 90;
    uint8_t b[128] = {};
    return Call(kOpOpen, b, "", PathKey(path), 0).status == kStatusPermissionError ? 0 : 30;
  });
  EXPECT_EQ(stranger.Wait(), 0);
}

}  // namespace
}  // namespace kestrova::rmtest
