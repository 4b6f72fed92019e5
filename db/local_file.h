// The one file a remote server may read through LOAD DATA LOCAL INFILE:
// the export file a stage has just written, named by its folder and file
// name and identified by the device and inode it was written as. A driver
// that serves local-file requests itself sends that file and nothing else.
#ifndef AGENT_DB_LOCAL_FILE_H_
#define AGENT_DB_LOCAL_FILE_H_

#include <compare>
#include <cstdint>
#include <filesystem>
#include <memory>

#include "base/private_file.h"
#include "db/growing_file.h"

namespace agent {

// Which file an open descriptor refers to (device and inode on POSIX).
// The identity of the open file fd; an unknown identity when fstat fails.
FileIdentity identityOfDescriptor(int fd);

struct LocalFileGrant {
  std::filesystem::path path;  // the exact path the load statement names
  FileIdentity identity;       // recorded while the file was open for writing
  // Set while the file is still being written (a connection that
  // streamsLocalFiles() sends it as it grows); null: the file is whole.
  std::shared_ptr<const GrowingFile> growing = nullptr;
};

}  // namespace agent

#endif  // AGENT_DB_LOCAL_FILE_H_
