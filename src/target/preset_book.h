// The operator's nine presets and their file, PRESETS.TXT, as a service of
// the running program: what the file held at start or at the last store,
// and the store itself, which reads the file again just before it changes
// one line, so that an edit made meanwhile is kept.
#pragma once

#include <string_view>

#include "common/presets.h"

namespace rotavox {

class SettingsStore;

class PresetBook {
 public:
  // `file` keeps PRESETS.TXT; none: nothing can be stored.
  explicit PresetBook(SettingsStore* file = nullptr) : file_(file) {}

  // Reads the file (none, or one that cannot be read: every preset empty)
  // and clears away what saves cut short left beside it.
  void Load();
  // Preset `number`, 1 to kPresetCount.
  const Preset& At(int number) const { return presets_[static_cast<std::size_t>(number - 1)]; }
  bool CanStore() const { return file_ != nullptr; }
  // Sets preset `number` to `target` in the file, keeping the rest of it.
  // False, with nothing changed, when the file cannot be read whole or
  // written.
  bool Store(int number, std::string_view target);

 private:
  SettingsStore* file_;
  Presets presets_{};
};

}  // namespace rotavox
