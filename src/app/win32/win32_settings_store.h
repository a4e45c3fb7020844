// STAT.DAT through the Win32 file calls, for the Windows edition; and the
// program's other files of that kind, PRESETS.TXT and the country file.
//
// The same contract as FileSettingsStore (app/settings_store.h), which the
// Linux edition uses, with Windows' own notion of the file: an entry that
// is hidden, a system file or a directory counts as missing, a file with
// the read-only attribute is never replaced, and only a file on a disk is
// read (not a device or a pipe). The new record goes to a fresh file beside
// STAT.DAT (CREATE_NEW), with the old file's hidden and system attributes,
// is flushed to the disk, and is then moved over STAT.DAT in one step
// (MoveFileExW with write-through), so a crash at any moment leaves either
// the old record or the new one. Where the directory allows no new file or
// no such move, STAT.DAT is rewritten in place. A change locks the lock
// file beside the file (LockFileEx). Names are UTF-8, used as wide paths,
// so that any path the system can hold is reached. No call shows a system
// error box.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "app/settings_store.h"

namespace rotavox {

// STAT.DAT, or another file of ours (PRESETS.TXT), in the working
// directory, or a file at any path (the country file). Read takes at most
// `readLimit` bytes.
class Win32SettingsStore final : public SettingsStore {
 public:
  explicit Win32SettingsStore(std::string name = kSettingsFileName, std::size_t readLimit = kMaxSettingsRead);
  StoredSettings Read() override;
  bool Replace(std::string_view bytes) override;
  bool Change(const std::function<std::string(std::string_view)>& change) override;
  void RemoveLeftovers() override;

 private:
  std::string name_;    // UTF-8
  std::wstring wide_;   // the same, for the system's calls
  std::size_t readLimit_;
};

}  // namespace rotavox
