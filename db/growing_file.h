// A file that a LOAD DATA LOCAL statement may send while it is still being
// written: the writer notes how many bytes have reached the file and how
// the writing ended; the driver's file reader sends those bytes and waits
// for more instead of taking the current end for the end of the file. An
// export that fails ends the reader with an error, so the load statement
// fails too. (The client library still closes the transfer with its
// end-of-data packet, so the server may keep the part it received: only a
// staging table, which nothing reads before its next drop, is loaded so.)
#ifndef AGENT_DB_GROWING_FILE_H_
#define AGENT_DB_GROWING_FILE_H_

#include <chrono>
#include <cstdint>
#include <string>

#include "base/mutex.h"
#include "base/thread_annotations.h"

namespace agent {

class GrowingFile {
 public:
  // A reader gives up when the file has not grown for stallLimit while its
  // writer has not ended (a server waits no longer for a client's data by
  // default either).
  explicit GrowingFile(std::chrono::milliseconds stallLimit = std::chrono::seconds(30))
      : stallLimit_(stallLimit) {}
  GrowingFile(const GrowingFile&) = delete;
  GrowingFile& operator=(const GrowingFile&) = delete;

  // The writer's side. The file holds bytes bytes that readers may take.
  void grown(std::uint64_t bytes);
  // The file is whole at the bytes last noted.
  void finish();
  // The writing stopped; readers end with reason. Only the first end
  // (finish or fail) counts.
  void fail(const std::string& reason);
  // Whether the writing ended, and whether it failed.
  bool ended() const;
  bool failed() const;

  // The reader's side: waits until the file holds more than offset bytes
  // or its writing ended (or stalled, which counts as failed).
  struct Extent {
    std::uint64_t bytes = 0;  // readable now; no more come once ended
    bool ended = false;
    std::string failure;  // not empty: send nothing more
  };
  Extent waitBeyond(std::uint64_t offset) const;

 private:
  const std::chrono::milliseconds stallLimit_;
  mutable Mutex mutex_;
  mutable CondVar changed_{mutex_};
  std::uint64_t bytes_ GUARDED_BY(mutex_) = 0;
  bool ended_ GUARDED_BY(mutex_) = false;
  std::string failure_ GUARDED_BY(mutex_);
};

}  // namespace agent

#endif  // AGENT_DB_GROWING_FILE_H_
