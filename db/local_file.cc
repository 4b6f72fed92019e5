#include "db/local_file.h"

#include <sys/stat.h>

namespace agent {

FileIdentity identityOfDescriptor(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return {};
  return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

}  // namespace agent
