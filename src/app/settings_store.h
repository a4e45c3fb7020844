// Where the settings record lives: the file STAT.DAT in the current working
// directory.
//
// The store only moves bytes; the record's layout is read and written by
// app/settings.h. FileSettingsStore does it with the C++ standard library;
// an edition may supply its own (the Windows edition uses the Win32 file
// calls).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace rotavox {

inline constexpr const char* kSettingsFileName = "STAT.DAT";
// Read() takes at most this many bytes from the start of the file: the
// record is one short line, and a huge file must not slow the start.
inline constexpr std::size_t kMaxSettingsRead = 64 * 1024;

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
  // when the file may not be written (read-only, not a plain file) or the
  // directory refuses new files. Returns whether the new bytes are in place.
  virtual bool Replace(std::string_view bytes) = 0;
};

// STAT.DAT in the current working directory, resolved at each call.
class FileSettingsStore final : public SettingsStore {
 public:
  StoredSettings Read() override;
  bool Replace(std::string_view bytes) override;
};

}  // namespace rotavox
