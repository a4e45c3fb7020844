// Where the settings record lives: the file STAT.DAT in the current working
// directory.
//
// The store only moves bytes; the record's layout is read and written by
// app/settings.h. FileSettingsStore does it with the C++ standard library;
// an edition may supply its own (the Windows edition uses the Win32 file
// calls).
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

struct StoredSettings {
  enum class Kind {
    kMissing,     // no such plain file (a directory does not count)
    kUnreadable,  // it is there but cannot be read
    kRead,        // `bytes` holds the file, or its first kMaxSettingsRead bytes
  };
  Kind kind = Kind::kMissing;
  std::string bytes;
};

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual StoredSettings Read() = 0;
  // Replaces the file with `bytes` as a whole: afterwards the file holds
  // either its old content or `bytes`, never a part of them. Writes nothing
  // when the file may not be written (read-only, not a plain file). When
  // the directory refuses a new file beside it, or its rename over the old
  // one, a file that may be written is rewritten in place instead (the one
  // case where a crash at the wrong moment can leave a part). Returns
  // whether the new bytes are in place.
  virtual bool Replace(std::string_view bytes) = 0;
  // Removes what saves cut short left beside the file.
  virtual void RemoveLeftovers() {}
};

// Makes what has been written durable: flushes a file's data, or a
// directory's entries, to the disk. False when the disk did not take it.
using FlushToDisk = std::function<bool(const std::filesystem::path&)>;

// STAT.DAT (or another file of ours, such as PRESETS.TXT) in the current
// working directory, resolved at each call.
class FileSettingsStore final : public SettingsStore {
 public:
  FileSettingsStore() = default;
  // With `flush`, a power cut too leaves the old or the new record: the new
  // file is flushed before it takes STAT.DAT's name and the directory after
  // it, and a file rewritten in place is flushed at the end.
  explicit FileSettingsStore(FlushToDisk flush, std::string name = kSettingsFileName)
      : flush_(std::move(flush)), name_(std::move(name)) {}

  StoredSettings Read() override;
  bool Replace(std::string_view bytes) override;
  void RemoveLeftovers() override { RemoveNewRecordLeftovers(name_); }

 private:
  enum class Outcome {
    kDone,     // the new file has taken STAT.DAT's name
    kFailed,   // it could not be written whole: nothing is to be tried
    kRefused,  // the directory took no new file, or no rename
  };
  Outcome ReplaceByRename(const std::filesystem::path& path, std::string_view bytes,
                          bool exists) const;
  bool WriteInPlace(const std::filesystem::path& path, std::string_view bytes) const;
  bool Flush(const std::filesystem::path& path) const { return !flush_ || flush_(path); }

  FlushToDisk flush_;
  std::string name_ = kSettingsFileName;
};

}  // namespace rotavox
