// SyncToDisk (see sync_to_disk.h).
#include "app/linux/sync_to_disk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace rotavox {

bool SyncToDisk(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return false;
  const bool directory = S_ISDIR(info.st_mode);
  // Any descriptor of a file flushes all of its written data.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (directory ? O_DIRECTORY : O_NONBLOCK));
  if (fd < 0) return false;
  int result = ::fsync(fd);
  while (result != 0 && errno == EINTR) result = ::fsync(fd);
  const bool unsupported = result != 0 && (errno == EINVAL || errno == ENOTSUP);
  ::close(fd);
  return result == 0 || (directory && unsupported);
}

}  // namespace rotavox
