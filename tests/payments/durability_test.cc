// A booked payment is durable before the portal hears of it: when the mark
// is sent, every byte the booking wrote to the local database's files has
// been synced to the disk. Read at the file layer the engine writes
// through, and the portal's connection notes when the mark goes out. Without
// the sync a power cut after the mark could lose the receipt while the
// portal shows the payment taken, and no later cycle would book it again.
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "payments/payment_posting.h"
#include "tests/payments/payment_world.h"
#include "tests/support/program_folder.h"

namespace agent {
namespace {

using testing::PaymentWorld;
using testing::StageRun;

// The watching layer: SQLite's default file system under another name,
// whose files, once the real one opened them, get a copy of their methods
// that notes each file's writes and syncs by name (connections on other
// threads write too).
class WatchingLayer {
 public:
  WatchingLayer() : real_(sqlite3_vfs_find(nullptr)), vfs_(*real_) {
    g_layer = this;
    vfs_.zName = "syncwatch";
    vfs_.xOpen = open;
    sqlite3_vfs_register(&vfs_, 1);
  }
  ~WatchingLayer() {
    sqlite3_vfs_unregister(&vfs_);
    sqlite3_vfs_register(real_, 1);
    g_layer = nullptr;
  }
  WatchingLayer(const WatchingLayer&) = delete;
  WatchingLayer& operator=(const WatchingLayer&) = delete;

  // Whether a file whose name ends with suffix has bytes not yet synced.
  bool unsynced(const std::string& suffix) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [name, dirty] : dirty_) {
      if (dirty && name.ends_with(suffix)) return true;
    }
    return false;
  }

 private:
  static int open(sqlite3_vfs*, const char* name, sqlite3_file* f, int flags, int* outFlags) {
    WatchingLayer& self = *g_layer;
    int rc = self.real_->xOpen(self.real_, name, f, flags, outFlags);
    if (f->pMethods == nullptr) return rc;
    std::lock_guard<std::mutex> lock(self.mutex_);
    self.names_[f] = name != nullptr ? name : "";
    auto& copy = self.copies_[f->pMethods];
    if (!copy) {
      copy = std::make_unique<sqlite3_io_methods>(*f->pMethods);
      self.realMethods_[copy.get()] = f->pMethods;
      copy->xWrite = [](sqlite3_file* f, const void* b, int n, sqlite3_int64 o) {
        g_layer->note(f, true);
        return g_layer->realOf(f)->xWrite(f, b, n, o);
      };
      copy->xTruncate = [](sqlite3_file* f, sqlite3_int64 size) {
        g_layer->note(f, true);
        return g_layer->realOf(f)->xTruncate(f, size);
      };
      copy->xSync = [](sqlite3_file* f, int flags) {
        int rc = g_layer->realOf(f)->xSync(f, flags);
        if (rc == SQLITE_OK) g_layer->note(f, false);
        return rc;
      };
    }
    f->pMethods = copy.get();
    return rc;
  }
  void note(sqlite3_file* f, bool dirty) {
    std::lock_guard<std::mutex> lock(mutex_);
    dirty_[names_[f]] = dirty;
  }
  const sqlite3_io_methods* realOf(sqlite3_file* f) {
    std::lock_guard<std::mutex> lock(mutex_);
    return realMethods_[f->pMethods];
  }

  static inline WatchingLayer* g_layer = nullptr;
  sqlite3_vfs* real_;
  sqlite3_vfs vfs_;
  std::mutex mutex_;  // guards the maps
  std::map<sqlite3_file*, std::string> names_;
  std::map<std::string, bool> dirty_;  // by file name
  std::map<const sqlite3_io_methods*, std::unique_ptr<sqlite3_io_methods>> copies_;
  std::map<const sqlite3_io_methods*, const sqlite3_io_methods*> realMethods_;
};

// Another program also marks ORD-1 taken just before this agent's mark: the
// other's mark is kept and the clash named.
TEST(PaymentDurability, TheBookingIsSyncedBeforeTheMarkAndARowTakenMeanwhileKeepsItsMark) {
  WatchingLayer layer;
  PaymentWorld world("durable");
  for (const char* admNo : {"S1", "S2"}) world.office.addStudent(admNo, "Student", {1000});
  world.capture("S1", 400, "ORD-1", 0);
  world.capture("S2", 300, "ORD-2", 1);
  // The seeding's own writes are not synced (the database's usual level):
  // the watch sees them.
  ASSERT_TRUE(layer.unsynced("office.sqlite-wal"));

  // At each mark: whether the office database had unsynced bytes.
  std::vector<bool> unsyncedAtMark;
  testing::BeforeStatement portal(world.remote(), "update rzp_paymentgateway", [&] {
    unsyncedAtMark.push_back(layer.unsynced("office.sqlite-wal") ||
                             layer.unsynced("office.sqlite"));
    if (unsyncedAtMark.size() > 1) return;
    world.remote().execute(
        "update rzp_paymentgateway set frecno = 'OTHER-9', fdownloaddate = now() where forderid "
        "= 'ORD-1'");
  });
  {
    StageRun run(world, world.local(), portal);
    EXPECT_EQ(postGatewayPayments(run.context()), 2u);
  }

  EXPECT_EQ(unsyncedAtMark, (std::vector<bool>{false, false}));
  EXPECT_EQ(world.office.count("paygate"), 2);
  EXPECT_EQ(world.remoteScalar("select group_concat(frecno order by forderid) from "
                               "rzp_paymentgateway"),
            "OTHER-9,000002");
  EXPECT_EQ(testing::journalLinesWith(world.journal,
                                      "'ORD-1' was booked here as receipt 000001 but another "
                                      "program marked it taken on the portal meanwhile (receipt "
                                      "'OTHER-9')"),
            1u);
}

}  // namespace
}  // namespace agent
