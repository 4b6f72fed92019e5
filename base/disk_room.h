// Whether a file can grow: a write that failed for want of room (a full
// disk, a file size limit) is named as such, where the library that wrote
// reports only an input/output error (disk_room_posix.cc,
// disk_room_win32.cc).
#ifndef AGENT_BASE_DISK_ROOM_H_
#define AGENT_BASE_DISK_ROOM_H_

#include <filesystem>

namespace agent {

// True when the disk holding file has no room left for its owner, or file
// has reached the process's file size limit.
bool noRoomToGrow(const std::filesystem::path& file);

}  // namespace agent

#endif  // AGENT_BASE_DISK_ROOM_H_
