// Files and folders that only the agent's own account may read: the export
// files (student personal data, initial passwords) and the journal. Other
// local users must neither read them nor swap them for links between the
// moment the agent deletes a file and the moment it writes it again.
//
// The calls of the operating system stand in one platform file each
// (private_file_posix.cc, private_file_win32.cc); this header is the whole
// contract.
#ifndef AGENT_BASE_PRIVATE_FILE_H_
#define AGENT_BASE_PRIVATE_FILE_H_

#include <compare>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace agent {

// What tells one file from another on its volume, whatever its name: device
// and inode on POSIX, volume serial number and file index on Windows. The
// remote driver's local-infile handler compares the file it is asked for
// with the identity of the file the cycle wrote.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;  // the file index on Windows
  bool known() const { return device != 0 || inode != 0; }
  auto operator<=>(const FileIdentity&) const = default;
};

// A file just created for writing, and which file it is.
struct CreatedFile {
  std::FILE* stream = nullptr;  // binary, owned by the caller (fclose)
  FileIdentity identity;
};

// Creates path for writing, readable and writable by the owner alone (0600
// on POSIX), only when nothing stands at path: an existing file, a link
// (even one that leads nowhere) or anything else is refused, never
// followed. Throws std::system_error naming the system's reason.
CreatedFile createPrivateFile(const std::filesystem::path& path);

// The identity of what stands at path without following a link (a link's
// own identity), or nullopt when nothing does.
std::optional<FileIdentity> identityAt(const std::filesystem::path& path);

// How an owner-only folder was found.
enum class FolderAccess {
  Created,    // it was missing and is made owner-only
  OwnerOnly,  // it was there and no one else had access
  Narrowed,   // it was there with access for others, now taken away
};

// Makes folder (and missing parents) when it does not exist and takes away
// every access of other users (0700 on POSIX). On Windows the folder keeps
// the access of its parent (see docs/security.md) and is reported
// OwnerOnly. Throws std::system_error when the folder cannot be made or
// changed, or a file stands in its place.
FolderAccess makeOwnerOnlyFolder(const std::filesystem::path& folder);

// Takes away every access of other users from the existing file at path
// (0600 on POSIX; nothing on Windows), without following a link. Returns
// true when there was such access. Throws std::system_error.
bool narrowToOwner(const std::filesystem::path& file);

// True when users other than the owner (and, on Windows, other than
// SYSTEM, the administrators and the owner) may read what stands at path:
// on POSIX a group or others bit, on Windows an ACL that grants reading to
// Everyone, Authenticated Users, Users or interactive users, or no ACL at
// all. False when nothing stands at path.
bool othersMayRead(const std::filesystem::path& path);
// How an administrator takes that access away, in the platform's words.
const char* narrowAccessAdvice();

// Replaces the file at path with text as a whole: written beside it
// (<path>.new, owner-only), synced, then renamed over path, so that a reader
// sees the old file or the new one, never a part. Returns an empty text, or
// what went wrong.
std::string replaceFileWhole(const std::filesystem::path& path, std::string_view text);

// Whether this process may write to what stands at path.
bool mayWrite(const std::filesystem::path& path);

// A regular file opened for reading, never through a link at its last
// component; the handle is closed by the destructor. The remote driver
// sends the export file it was granted through one of these.
class FileReader {
 public:
  // Why an open was refused.
  enum class Refusal { None, Link, NotRegular, Other };
  struct Opened;

  // Opens path for reading. A link (symbolic link or, on Windows, any
  // reparse point) or anything but a regular file is refused and nothing is
  // read from it.
  static Opened open(const std::filesystem::path& path);

  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  const FileIdentity& identity() const { return identity_; }
  // Up to length bytes into buffer: the count read, 0 at the end of the
  // file. Throws std::system_error.
  std::size_t read(char* buffer, std::size_t length);

 private:
  FileReader(std::intptr_t handle, FileIdentity identity) : handle_(handle), identity_(identity) {}
  std::intptr_t handle_;  // a descriptor on POSIX, a HANDLE on Windows
  FileIdentity identity_;
};

struct FileReader::Opened {
  std::unique_ptr<FileReader> file;  // null when refused
  Refusal refusal = Refusal::None;
  std::string reason;  // the system's words when refused
};

}  // namespace agent

#endif  // AGENT_BASE_PRIVATE_FILE_H_
