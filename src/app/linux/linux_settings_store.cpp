// The Linux edition's files through the system's calls (see
// linux_settings_store.h).
#include "app/linux/linux_settings_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

#include "app/linux/sync_to_disk.h"

namespace rotavox {
namespace {

// How often a lock held by another program is tried again.
constexpr std::chrono::milliseconds kLockRetry{10};

// Closes a descriptor when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closes now; false when the close reports a failure (data not written).
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

LinuxSettingsStore::LinuxSettingsStore(std::string name, std::size_t readLimit)
    : FileSettingsStore(SyncToDisk, std::move(name), readLimit) {}

StoredSettings LinuxSettingsStore::ReadFile(const std::filesystem::path& path, std::size_t limit) {
  StoredSettings stored;
  // Looked at first, so that a device is never opened (opening a serial
  // port raises its lines); the open then waits for nothing, and what it
  // opened is looked at again, since the name may have changed hands.
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    stored.kind = errno == ENOENT || errno == ENOTDIR ? StoredSettings::Kind::kMissing
                                                      : StoredSettings::Kind::kUnreadable;
    return stored;
  }
  if (S_ISDIR(info.st_mode)) return stored;  // kMissing
  stored.kind = StoredSettings::Kind::kUnreadable;
  if (!S_ISREG(info.st_mode)) return stored;
  const Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return stored;
  std::string bytes(limit + 1, '\0');  // one more tells a longer file
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t part = ::read(file.get(), bytes.data() + got, bytes.size() - got);
    if (part < 0 && errno == EINTR) continue;
    if (part < 0) return stored;
    if (part == 0) break;
    got += static_cast<std::size_t>(part);
  }
  bytes.resize(got);
  stored.cut = got > limit;
  if (stored.cut) bytes.resize(limit);
  stored.kind = StoredSettings::Kind::kRead;
  stored.bytes = std::move(bytes);
  return stored;
}

FileSettingsStore::Made LinuxSettingsStore::MakeFresh(const std::filesystem::path& path, std::string_view bytes) {
  // O_EXCL also refuses a symbolic link of that name, wherever it points.
  Descriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666));
  if (file.get() < 0) return errno == EEXIST ? Made::kTaken : Made::kRefused;
  const bool written = WriteAll(file.get(), bytes);
  if (file.Close() && written) return Made::kWritten;
  ::unlink(path.c_str());
  return Made::kFailed;
}

bool LinuxSettingsStore::Locked(const std::filesystem::path& path, const std::function<void()>& work) {
  // Read-only suffices for flock, so another user's lock file serves too.
  const Descriptor lock(::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0644));
  if (lock.get() < 0) {
    // No lock file can be had here (a folder that takes no new file, where
    // the file itself can only be rewritten in place): as without a lock.
    work();
    return true;
  }
  const auto until = std::chrono::steady_clock::now() + kLockWait;
  while (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) break;  // no locks on this file system
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(kLockRetry);
  }
  work();
  return true;  // the lock goes with the descriptor
}

}  // namespace rotavox
