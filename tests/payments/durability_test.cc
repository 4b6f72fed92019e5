// A booked payment is durable before the portal hears of it: when the mark
// is sent, every byte the booking wrote to the local database's files has
// been synced to the disk. Read at the file layer the engine writes
// through: a watching layer over SQLite's own notes each file's writes and
// syncs, and the portal's connection notes when the mark goes out. Without
// the sync a power cut after the mark could lose the receipt while the
// portal shows the payment taken, and no later cycle would book it again.
#include <sqlite3.h>

#include <gtest/gtest.h>

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

// Which files have bytes written and not yet synced, by name.
class UnsyncedFiles {
 public:
  void wrote(const std::string& name) { set(name, true); }
  void synced(const std::string& name) { set(name, false); }
  // Whether a file whose name ends with suffix has unsynced bytes.
  bool any(const std::string& suffix) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [name, dirty] : dirty_) {
      if (dirty && name.ends_with(suffix)) return true;
    }
    return false;
  }

 private:
  void set(const std::string& name, bool dirty) {
    std::lock_guard<std::mutex> lock(mutex_);
    dirty_[name] = dirty;
  }
  mutable std::mutex mutex_;  // guards dirty_ (connections on other threads write too)
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

int fileClose(sqlite3_file* f) {
  return real(f)->pMethods->xClose(real(f));
}
int fileRead(sqlite3_file* f, void* b, int n, sqlite3_int64 o) {
  return real(f)->pMethods->xRead(real(f), b, n, o);
}
int fileWrite(sqlite3_file* f, const void* b, int n, sqlite3_int64 o) {
  g_files->wrote(nameOf(f));
  return real(f)->pMethods->xWrite(real(f), b, n, o);
}
int fileTruncate(sqlite3_file* f, sqlite3_int64 size) {
  g_files->wrote(nameOf(f));
  return real(f)->pMethods->xTruncate(real(f), size);
}
int fileSync(sqlite3_file* f, int flags) {
  int rc = real(f)->pMethods->xSync(real(f), flags);
  if (rc == SQLITE_OK) g_files->synced(nameOf(f));
  return rc;
}
int fileSize(sqlite3_file* f, sqlite3_int64* s) {
  return real(f)->pMethods->xFileSize(real(f), s);
}
int fileLock(sqlite3_file* f, int l) {
  return real(f)->pMethods->xLock(real(f), l);
}
int fileUnlock(sqlite3_file* f, int l) {
  return real(f)->pMethods->xUnlock(real(f), l);
}
int fileReserved(sqlite3_file* f, int* r) {
  return real(f)->pMethods->xCheckReservedLock(real(f), r);
}
int fileControl(sqlite3_file* f, int op, void* a) {
  return real(f)->pMethods->xFileControl(real(f), op, a);
}
int fileSector(sqlite3_file* f) {
  return real(f)->pMethods->xSectorSize(real(f));
}
int fileDevice(sqlite3_file* f) {
  return real(f)->pMethods->xDeviceCharacteristics(real(f));
}
int shmMap(sqlite3_file* f, int i, int sz, int e, void volatile** p) {
  return real(f)->pMethods->xShmMap(real(f), i, sz, e, p);
}
int shmLock(sqlite3_file* f, int o, int n, int fl) {
  return real(f)->pMethods->xShmLock(real(f), o, n, fl);
}
void shmBarrier(sqlite3_file* f) {
  real(f)->pMethods->xShmBarrier(real(f));
}
int shmUnmap(sqlite3_file* f, int d) {
  return real(f)->pMethods->xShmUnmap(real(f), d);
}
int fetch(sqlite3_file* f, sqlite3_int64 o, int n, void** p) {
  return real(f)->pMethods->xFetch(real(f), o, n, p);
}
int unfetch(sqlite3_file* f, sqlite3_int64 o, void* p) {
  return real(f)->pMethods->xUnfetch(real(f), o, p);
}

const sqlite3_io_methods kWatchedMethods = {
    3,        fileClose,  fileRead,     fileWrite,   fileTruncate, fileSync,   fileSize,
    fileLock, fileUnlock, fileReserved, fileControl, fileSector,   fileDevice, shmMap,
    shmLock,  shmBarrier, shmUnmap,     fetch,       unfetch};

int vfsOpen(sqlite3_vfs*, const char* name, sqlite3_file* f, int flags, int* outFlags) {
  WatchedFile* w = watched(f);
  w->name = name;
  int rc = g_real->xOpen(g_real, name, w->real(), flags, outFlags);
  w->base.pMethods = w->real()->pMethods != nullptr ? &kWatchedMethods : nullptr;
  return rc;
}
int vfsDelete(sqlite3_vfs*, const char* n, int s) {
  return g_real->xDelete(g_real, n, s);
}
int vfsAccess(sqlite3_vfs*, const char* n, int f, int* o) {
  return g_real->xAccess(g_real, n, f, o);
}
int vfsFullPath(sqlite3_vfs*, const char* n, int sz, char* out) {
  return g_real->xFullPathname(g_real, n, sz, out);
}
int vfsRandomness(sqlite3_vfs*, int n, char* out) {
  return g_real->xRandomness(g_real, n, out);
}
int vfsSleep(sqlite3_vfs*, int us) {
  return g_real->xSleep(g_real, us);
}
int vfsTime(sqlite3_vfs*, double* t) {
  return g_real->xCurrentTime(g_real, t);
}
int vfsLastError(sqlite3_vfs*, int n, char* out) {
  return g_real->xGetLastError(g_real, n, out);
}
int vfsTime64(sqlite3_vfs*, sqlite3_int64* t) {
  return g_real->xCurrentTimeInt64(g_real, t);
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
    vfs_.xDelete = vfsDelete;
    vfs_.xAccess = vfsAccess;
    vfs_.xFullPathname = vfsFullPath;
    vfs_.xRandomness = vfsRandomness;
    vfs_.xSleep = vfsSleep;
    vfs_.xCurrentTime = vfsTime;
    vfs_.xGetLastError = vfsLastError;
    vfs_.xCurrentTimeInt64 = vfsTime64;
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
