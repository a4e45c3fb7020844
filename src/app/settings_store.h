// Where the settings record lives: the file STAT.DAT in the current working
// directory; and the program's other files of the same kind, PRESETS.TXT
// beside it and the country file.
//
// The store only moves bytes; the record's layout is read and written by
// app/settings.h. FileSettingsStore does it with the C++ standard library,
// and the Linux edition's store refines it with the system's own calls
// (app/linux/linux_settings_store.h); the Windows edition uses the Win32
// file calls.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace rotavox {

inline constexpr const char* kSettingsFileName = "STAT.DAT";
// Read() takes at most this many bytes from the start of the file: the
// record is one short line, and a huge file must not slow the start.
inline constexpr std::size_t kMaxSettingsRead = 64 * 1024;

// A new record is written beside its file (STAT.DAT, PRESETS.TXT) under a
// name of this form, the file's name + "." + hex digits + ".new", before it
// takes the file's place. One older than kLeftoverAge is what a save cut
// short (the process killed, the power gone) left behind; a younger one may
// be another instance's save under way.
bool IsNewRecordName(std::string_view name, std::string_view file = kSettingsFileName);
inline constexpr std::chrono::seconds kLeftoverAge{60};
// Removes such files of `file` older than kLeftoverAge from the working
// directory.
void RemoveNewRecordLeftovers(std::string_view file = kSettingsFileName);

// A change of a file (SettingsStore::Change) holds the lock file named like
// it with this after (PRESETS.TXT.lock), waiting at most kLockWait for
// another program to let it go. The lock file stays, so that there is
// always one and the same file to lock.
inline constexpr const char* kLockSuffix = ".lock";
inline constexpr std::chrono::seconds kLockWait{2};

struct StoredSettings {
  enum class Kind {
    kMissing,     // no such plain file (a directory does not count)
    kUnreadable,  // it is there but cannot be read (or is no plain file)
    kRead,        // `bytes` holds the file, or its start (see `cut`)
  };
  Kind kind = Kind::kMissing;
  std::string bytes;
  // The file is longer than the store reads: `bytes` holds only its start.
  bool cut = false;
  // Read, but it cannot be written though it is not read-only (another
  // user's file): it will not be replaced.
  bool unwritable = false;
};

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // The file, or its start: each store reads at most as many bytes as it
  // was made for.
  virtual StoredSettings Read() = 0;
  // Replaces the file with `bytes` as a whole: afterwards the file holds
  // either its old content or `bytes`, never a part of them. Writes nothing
  // when the file may not be written (read-only, not a plain file). When
  // the directory refuses a new file beside it, or its rename over the old
  // one, a file that may be written is rewritten in place instead (the one
  // case where a crash at the wrong moment can leave a part). Returns
  // whether the new bytes are in place.
  virtual bool Replace(std::string_view bytes) = 0;
  // Replaces the file with what `change` makes of its bytes (of none when
  // it is missing), read just before. Nothing is written when the file
  // cannot be read whole (unreadable, or cut). The files of the editions
  // hold the lock file (kLockSuffix) from the read to the replacement, so
  // that two programs changing the file at once keep both changes; here
  // nothing is locked. Returns whether the new bytes are in place.
  virtual bool Change(const std::function<std::string(std::string_view)>& change);
  // Removes what saves cut short left beside the file.
  virtual void RemoveLeftovers() {}
};

// Makes what has been written durable: flushes a file's data, or a
// directory's entries, to the disk. False when the disk did not take it.
using FlushToDisk = std::function<bool(const std::filesystem::path&)>;

// STAT.DAT (or another file of ours, such as PRESETS.TXT) in the current
// working directory, resolved at each call, or a file at any path.
//
// With the library alone, a file's name is looked at before it is opened
// (a FIFO put there in between would be waited on), a new record's name is
// looked at before the file is made, and a change locks nothing. An
// edition's store does these with the system's own calls, overriding
// ReadFile, MakeFresh and Locked.
class FileSettingsStore : public SettingsStore {
 public:
  FileSettingsStore() = default;
  // With `flush`, a power cut too leaves the old or the new record: the new
  // file is flushed before it takes STAT.DAT's name and the directory after
  // it, and a file rewritten in place is flushed at the end. Read takes at
  // most `readLimit` bytes.
  explicit FileSettingsStore(FlushToDisk flush, std::string name = kSettingsFileName,
                             std::size_t readLimit = kMaxSettingsRead)
      : flush_(std::move(flush)), name_(std::move(name)), readLimit_(readLimit) {}

  StoredSettings Read() override;
  bool Replace(std::string_view bytes) override;
  bool Change(const std::function<std::string(std::string_view)>& change) override;
  void RemoveLeftovers() override { RemoveNewRecordLeftovers(name_); }

 protected:
  // The plain file at `path`: at most `limit` bytes of it, with `cut` set
  // when there are more. A directory counts as missing; anything else
  // that is no plain file, or cannot be read, is kUnreadable.
  virtual StoredSettings ReadFile(const std::filesystem::path& path, std::size_t limit);
  enum class Made {
    kWritten,  // made, with all of `bytes` in it
    kTaken,    // something of that name is there already
    kRefused,  // the directory takes no new file
    kFailed,   // made, but not written whole (a full disk): removed again
  };
  // Makes the file `path`, which must not be there in any form (not even
  // as a link to elsewhere), holding `bytes`.
  virtual Made MakeFresh(const std::filesystem::path& path, std::string_view bytes);
  // Runs `work` while holding the lock file `path` (made if missing);
  // false, without running it, when another program holds it for longer
  // than kLockWait.
  virtual bool Locked(const std::filesystem::path& path, const std::function<void()>& work);

 private:
  enum class Outcome {
    kDone,     // the new file has taken STAT.DAT's name
    kFailed,   // it could not be written whole: nothing is to be tried
    kRefused,  // the directory took no new file, or no rename
  };
  Outcome ReplaceByRename(const std::filesystem::path& path, std::string_view bytes, bool exists);
  bool WriteInPlace(const std::filesystem::path& path, std::string_view bytes) const;
  bool Flush(const std::filesystem::path& path) const { return !flush_ || flush_(path); }

  FlushToDisk flush_;
  std::string name_ = kSettingsFileName;
  std::size_t readLimit_ = kMaxSettingsRead;
};

}  // namespace rotavox
