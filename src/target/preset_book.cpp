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
  // A file that cannot be read whole is not replaced, which would lose the
  // rest of it.
  const StoredSettings stored = file_->Read();
  const bool whole = stored.kind == StoredSettings::Kind::kMissing ||
                     (stored.kind == StoredSettings::Kind::kRead && stored.bytes.size() < kMaxSettingsRead);
  if (!whole) return false;
  const std::string bytes = StorePreset(stored.bytes, number, target);
  if (!file_->Replace(bytes)) return false;
  presets_ = ParsePresets(bytes);
  return true;
}

}  // namespace rotavox
