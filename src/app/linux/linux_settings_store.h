// The files of the Linux edition (STAT.DAT, PRESETS.TXT, the country file)
// with the system's own calls where the C++ library falls short (see
// FileSettingsStore in app/settings_store.h):
//  - a file is opened without waiting and read only when it is a plain
//    file, so that a FIFO or a device put in its place never holds up the
//    window;
//  - a new record's file is made with O_CREAT | O_EXCL, so that nothing
//    already there under its name (a link to elsewhere, say) is written
//    through;
//  - a change holds flock on the lock file beside the file;
//  - what is written is flushed to the disk (SyncToDisk).
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "app/settings_store.h"

namespace rotavox {

class LinuxSettingsStore : public FileSettingsStore {
 public:
  explicit LinuxSettingsStore(std::string name = kSettingsFileName, std::size_t readLimit = kMaxSettingsRead);

 protected:
  StoredSettings ReadFile(const std::filesystem::path& path, std::size_t limit) override;
  Made MakeFresh(const std::filesystem::path& path, std::string_view bytes) override;
  bool Locked(const std::filesystem::path& path, const std::function<void()>& work) override;
};

}  // namespace rotavox
