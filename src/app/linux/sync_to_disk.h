// The FlushToDisk of the settings store of the Linux edition (see
// app/settings_store.h): fsync of a file, or of a directory's entries.
#pragma once

#include <filesystem>

namespace rotavox {

// False when the file cannot be opened or the disk reports a failure. A
// file system that cannot flush a directory at all is not a failure.
bool SyncToDisk(const std::filesystem::path& path);

}  // namespace rotavox
