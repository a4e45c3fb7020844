// The end of the desktop session under a running Linux edition: the
// settings are saved as at EXIT (SaveSettingsNow) when the program is ended
// by SIGTERM, SIGHUP or SIGINT (logout, shutdown, a closed terminal, kill,
// Ctrl+C), or by Qt's exit() when the X connection is lost.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "app/settings_store.h"

namespace rotavox {

// Call once, with the QApplication in place: the signals are taken up by
// its event loop, where the program's state may be read. A signal saves
// and then ends the process as the signal itself would have; a second one,
// or a thread that does not get back to its event loop within a few
// seconds, ends it at once.
void SaveSettingsWhenTheSessionEnds();

// The store for the program to save through (STAT.DAT, PRESETS.TXT): while
// it is replacing or changing the file, a second signal waits for the save
// to end rather than cut it short (the first one ends the process right
// after it), so no half-made new record is left beside the file.
class SignalSafeSettings final : public SettingsStore {
 public:
  explicit SignalSafeSettings(SettingsStore& store) : store_(store) {}
  StoredSettings Read() override { return store_.Read(); }
  bool Replace(std::string_view bytes) override;
  bool Change(const std::function<std::string(std::string_view)>& change) override;
  void RemoveLeftovers() override { store_.RemoveLeftovers(); }

 private:
  SettingsStore& store_;
};

}  // namespace rotavox
