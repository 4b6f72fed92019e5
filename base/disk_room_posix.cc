#ifndef _WIN32

#include <sys/resource.h>

#include "base/disk_room.h"

namespace agent {

bool noRoomToGrow(const std::filesystem::path& file) {
  std::error_code ec;
  std::filesystem::space_info space = std::filesystem::space(file.parent_path(), ec);
  if (!ec && space.available == 0) return true;
  rlimit limit{};
  if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return false;
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  // Within a page of the limit: the next page cannot be written.
  return !ec && size + 65536 >= limit.rlim_cur;
}

}  // namespace agent

#endif  // !_WIN32
