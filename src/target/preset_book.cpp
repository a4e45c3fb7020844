// The presets and their file (see preset_book.h).
#include "target/preset_book.h"

#include <string>

#include "app/settings_store.h"

namespace rotavox {

void PresetBook::Load() {
  if (file_ == nullptr) return;
  const StoredSettings stored = file_->Read();
  file_->RemoveLeftovers();
  presets_ = stored.kind == StoredSettings::Kind::kRead ? ParsePresets(stored.bytes) : Presets{};
}

bool PresetBook::Store(int number, std::string_view target) {
  if (file_ == nullptr) return false;
  // Read again just before, under the file's lock, so that an edit made
  // meanwhile and another program's store are kept; a file that cannot be
  // read whole is not replaced, which would lose the rest.
  std::string bytes;
  if (!file_->Change([&](std::string_view old) { return bytes = StorePreset(old, number, target); })) return false;
  presets_ = ParsePresets(bytes);
  return true;
}

}  // namespace rotavox
