// STAT.DAT through the Win32 file calls, for the Windows edition.
//
// The same contract as FileSettingsStore (app/settings_store.h), which the
// Linux edition uses, with Windows' own notion of the file: an entry that
// is hidden, a system file or a directory counts as missing, and a file
// with the read-only attribute is never replaced. The new record goes to a
// fresh file beside STAT.DAT, with the old file's hidden and system
// attributes, is flushed to the disk, and is then moved over STAT.DAT in
// one step (MoveFileExA with write-through), so a crash at any moment
// leaves either the old record or the new one. Where the directory allows
// no new file or no such move, STAT.DAT is rewritten in place. No call
// shows a system error box.
#pragma once

#include <string>
#include <string_view>

#include "app/settings_store.h"

namespace rotavox {

// STAT.DAT, or another file of ours (PRESETS.TXT), in the working
// directory.
class Win32SettingsStore final : public SettingsStore {
 public:
  explicit Win32SettingsStore(std::string name = kSettingsFileName) : name_(std::move(name)) {}
  StoredSettings Read() override;
  bool Replace(std::string_view bytes) override;
  void RemoveLeftovers() override;

 private:
  std::string name_;
};

}  // namespace rotavox
