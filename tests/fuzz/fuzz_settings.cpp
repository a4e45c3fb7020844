// STAT.DAT as found on disk: any bytes at all.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/settings.h"
#include "app/settings_store.h"
#include "common/state.h"
#include "fakes.h"

namespace {

using namespace rotavox;

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;  // an empty file counts as none, as if not there
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const Settings settings = ParseSettings(bytes);

  // What the program writes, it reads back unchanged, but for the double
  // quotes of a port text, which are left out; the voice field always
  // survives.
  const bool writable = settings.portText.find('"') == std::string::npos;
  const std::string record = FormatSettings(settings);
  Settings stored = settings;
  std::erase(stored.portText, '"');
  Check(ParseSettings(record) == stored);

  // Through a store, as at start-up, and saved and loaded again as at the
  // next start.
  testing::MemorySettingsStore store;
  store.stored = {StoredSettings::Kind::kRead, std::string(bytes)};
  ProgramState state;
  LoadSettings(state, store);
  Check(state.PortText == settings.portText && state.VoiceOn == settings.voiceOn);
  SaveSettings(state, store);
  Check(store.writes.size() == 1 && store.writes[0] == record);
  ProgramState next;
  LoadSettings(next, store);
  if (writable) Check(next.PortText == state.PortText && next.VoiceOn == state.VoiceOn);
  return 0;
}
