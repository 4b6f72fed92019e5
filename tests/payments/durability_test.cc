// A booked payment is durable before the portal hears of it: when the mark
// is sent, every byte the booking wrote to the local database's files has
// been synced to the disk. Read at the file layer the engine writes
// through: a watching layer over SQLite's own notes each file's writes and
// syncs, and the portal's connection notes when the mark goes out. Without
// the sync a power cut after the mark could lose the receipt while the
// portal shows the payment taken, and no later cycle would book it again.
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "payments/payment_posting.h"
#include "tests/payments/payment_world.h"

namespace agent {
namespace {

using testing::PaymentWorld;
using testing::StageRun;

// Which files have bytes written and not yet synced, by name (connections
// on other threads write too).
class UnsyncedFiles {
 public:
  void set(const std::string& name, bool dirty) {
    std::lock_guard<std::mutex> lock(mutex_);
    dirty_[name] = dirty;
  }
  // Whether a file whose name ends with suffix has unsynced bytes.
  bool any(const std::string& suffix) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::any_of(dirty_.begin(), dirty_.end(), [&](const auto& file) {
      return file.second && file.first.ends_with(suffix);
    });
  }

 private:
  mutable std::mutex mutex_;  // guards dirty_
  std::map<std::string, bool> dirty_;
};

UnsyncedFiles* g_files = nullptr;
sqlite3_vfs* g_real = nullptr;

// A file of the watching layer: its name, then the real file.
struct WatchedFile {
  sqlite3_file base;
  const char* name;  // valid until xClose, as SQLite promises
  sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};
WatchedFile* watched(sqlite3_file* f) {
  return reinterpret_cast<WatchedFile*>(f);
}
sqlite3_file* real(sqlite3_file* f) {
  return watched(f)->real();
}
std::string nameOf(sqlite3_file* f) {
  return watched(f)->name != nullptr ? watched(f)->name : "";
}

// Passes a call of the file layer to the real file beneath.
template <auto Method, typename R, typename... A>
R toRealFile(sqlite3_file* f, A... a) {
  return (real(f)->pMethods->*Method)(real(f), a...);
}
// Passes a call of the VFS to the real one beneath.
template <auto Method, typename R, typename... A>
R toRealVfs(sqlite3_vfs*, A... a) {
  return (g_real->*Method)(g_real, a...);
}

// The calls that change a file's bytes or make them durable are noted.
int fileWrite(sqlite3_file* f, const void* b, int n, sqlite3_int64 o) {
  g_files->set(nameOf(f), true);
  return real(f)->pMethods->xWrite(real(f), b, n, o);
}
int fileTruncate(sqlite3_file* f, sqlite3_int64 size) {
  g_files->set(nameOf(f), true);
  return real(f)->pMethods->xTruncate(real(f), size);
}
int fileSync(sqlite3_file* f, int flags) {
  int rc = real(f)->pMethods->xSync(real(f), flags);
  if (rc == SQLITE_OK) g_files->set(nameOf(f), false);
  return rc;
}

using Io = sqlite3_io_methods;
const sqlite3_io_methods kWatchedMethods = {3,
                                            toRealFile<&Io::xClose>,
                                            toRealFile<&Io::xRead>,
                                            fileWrite,
                                            fileTruncate,
                                            fileSync,
                                            toRealFile<&Io::xFileSize>,
                                            toRealFile<&Io::xLock>,
                                            toRealFile<&Io::xUnlock>,
                                            toRealFile<&Io::xCheckReservedLock>,
                                            toRealFile<&Io::xFileControl>,
                                            toRealFile<&Io::xSectorSize>,
                                            toRealFile<&Io::xDeviceCharacteristics>,
                                            toRealFile<&Io::xShmMap>,
                                            toRealFile<&Io::xShmLock>,
                                            toRealFile<&Io::xShmBarrier>,
                                            toRealFile<&Io::xShmUnmap>,
                                            toRealFile<&Io::xFetch>,
                                            toRealFile<&Io::xUnfetch>};

int vfsOpen(sqlite3_vfs*, const char* name, sqlite3_file* f, int flags, int* outFlags) {
  WatchedFile* w = watched(f);
  w->name = name;
  int rc = g_real->xOpen(g_real, name, w->real(), flags, outFlags);
  w->base.pMethods = w->real()->pMethods != nullptr ? &kWatchedMethods : nullptr;
  return rc;
}

// The watching layer as the process's default while it lives.
class WatchingLayer {
 public:
  WatchingLayer() {
    g_real = sqlite3_vfs_find(nullptr);
    g_files = &files;
    vfs_.iVersion = 2;
    vfs_.szOsFile = static_cast<int>(sizeof(WatchedFile)) + g_real->szOsFile;
    vfs_.mxPathname = g_real->mxPathname;
    vfs_.zName = "syncwatch";
    vfs_.xOpen = vfsOpen;
    vfs_.xDelete = toRealVfs<&sqlite3_vfs::xDelete>;
    vfs_.xAccess = toRealVfs<&sqlite3_vfs::xAccess>;
    vfs_.xFullPathname = toRealVfs<&sqlite3_vfs::xFullPathname>;
    vfs_.xRandomness = toRealVfs<&sqlite3_vfs::xRandomness>;
    vfs_.xSleep = toRealVfs<&sqlite3_vfs::xSleep>;
    vfs_.xCurrentTime = toRealVfs<&sqlite3_vfs::xCurrentTime>;
    vfs_.xGetLastError = toRealVfs<&sqlite3_vfs::xGetLastError>;
    vfs_.xCurrentTimeInt64 = toRealVfs<&sqlite3_vfs::xCurrentTimeInt64>;
    sqlite3_vfs_register(&vfs_, 1);
  }
  ~WatchingLayer() {
    sqlite3_vfs_unregister(&vfs_);
    sqlite3_vfs_register(g_real, 1);
  }
  WatchingLayer(const WatchingLayer&) = delete;
  WatchingLayer& operator=(const WatchingLayer&) = delete;

  UnsyncedFiles files;

 private:
  sqlite3_vfs vfs_{};
};

TEST(PaymentDurability, TheBookingIsSyncedToDiskBeforeThePortalIsMarked) {
  WatchingLayer layer;
  PaymentWorld world("durable");
  world.twoPendingPayments();
  // The seeding's own writes are not synced (the database's usual level):
  // the watch sees them.
  ASSERT_TRUE(layer.files.any("office.sqlite-wal"));

  // At each mark: whether the office database had unsynced bytes.
  std::vector<bool> unsyncedAtMark;
  testing::BeforeStatement portal(world.remote(), "update rzp_paymentgateway", [&] {
    unsyncedAtMark.push_back(layer.files.any("office.sqlite-wal") ||
                             layer.files.any("office.sqlite"));
  });
  {
    StageRun run(world, world.local(), portal);
    EXPECT_EQ(postGatewayPayments(run.context()), 2u);
  }

  EXPECT_EQ(unsyncedAtMark, (std::vector<bool>{false, false}));
  EXPECT_EQ(world.office.count("paygate"), 2);
  EXPECT_EQ(world.remoteScalar("select count(*) from rzp_paymentgateway where frecno is null"),
            "0");
}

}  // namespace
}  // namespace agent
