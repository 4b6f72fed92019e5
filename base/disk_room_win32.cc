#ifdef _WIN32

#include "base/disk_room.h"

namespace agent {

bool noRoomToGrow(const std::filesystem::path& file) {
  // Windows has no file size limit of the process: only the disk's room.
  std::error_code ec;
  std::filesystem::space_info space = std::filesystem::space(file.parent_path(), ec);
  return !ec && space.available == 0;
}

}  // namespace agent

#endif  // _WIN32
