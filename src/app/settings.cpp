// Reading and writing the settings record (see settings.h).
#include "app/settings.h"

#include "app/settings_store.h"
#include "common/number.h"
#include "common/state.h"

namespace rotavox {
namespace {

// A cursor over the record's bytes.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}

  bool AtEnd() const { return at_ >= bytes_.size(); }
  char Peek() const { return bytes_[at_]; }
  char Next() { return bytes_[at_++]; }

  void SkipBlanks() {
    while (!AtEnd() && Peek() == ' ') ++at_;
  }

  // Consumes the comma or CR (with an LF right after it) that ends a field.
  void EndField() {
    if (AtEnd()) return;
    const char c = Next();
    if (c == '\r' && !AtEnd() && Peek() == '\n') ++at_;
  }

 private:
  std::string_view bytes_;
  std::size_t at_ = 0;
};

std::string ReadPortField(Reader& in) {
  std::string value;
  in.SkipBlanks();
  if (!in.AtEnd() && in.Peek() == '"') {
    in.Next();
    while (!in.AtEnd() && in.Peek() != '"') value += in.Next();
    if (!in.AtEnd()) in.Next();  // the closing quote
    // Whatever stands between the closing quote and the field's end is
    // skipped, so a stray byte there cannot hide the voice field.
    while (!in.AtEnd() && in.Peek() != ',' && in.Peek() != '\r') in.Next();
    in.EndField();
    return value;
  }
  while (!in.AtEnd() && in.Peek() != ',' && in.Peek() != '\r') {
    const char c = in.Next();
    if (c != '\t' && c != '\n') value += c;
  }
  in.EndField();
  return value;
}

std::int32_t ReadVoiceField(Reader& in) {
  std::string text;
  in.SkipBlanks();
  while (!in.AtEnd() && in.Peek() != ',' && in.Peek() != ' ' && in.Peek() != '\r') {
    const char c = in.Next();
    if (c != '\t' && c != '\n') text += c;
  }
  return ToInt32(NumberValue(text));
}

}  // namespace

Settings ParseSettings(std::string_view bytes) {
  Reader in(bytes);
  Settings settings;
  settings.portText = ReadPortField(in);
  settings.voiceOn = ReadVoiceField(in);
  return settings;
}

std::string FormatSettings(const Settings& settings) {
  std::string record = "\"";
  for (const char c : settings.portText) {
    if (c != '"') record += c;
  }
  return record + "\"," + std::to_string(settings.voiceOn) + "\r\n";
}

void LoadSettings(ProgramState& state, SettingsStore& store) {
  const StoredSettings stored = store.Read();
  switch (stored.kind) {
    case StoredSettings::Kind::kUnreadable:
      // Another user's file (left by a run as root) or one held locked:
      // the program starts as without one, and the record stays its
      // owner's.
      state.KeepSettingsFile = true;
      state.StartWarnings.push_back(kSettingsUnreadableSpoken);
      [[fallthrough]];
    case StoredSettings::Kind::kMissing:
      state.PortText.clear();
      state.VoiceOn = 1;
      break;
    case StoredSettings::Kind::kRead: {
      if (stored.unwritable) {
        state.KeepSettingsFile = true;
        state.StartWarnings.push_back(kSettingsUnwritableSpoken);
      }
      // Never written by this program (speech off is saved as "",0), an
      // empty file counts as none.
      if (stored.bytes.empty()) {
        state.VoiceOn = 1;
        break;
      }
      Settings settings = ParseSettings(stored.bytes);
      state.PortText = std::move(settings.portText);
      state.VoiceOn = settings.voiceOn;
      break;
    }
  }
}

void SaveSettings(const ProgramState& state, SettingsStore& store) {
  // What this run knows would only replace a record it never saw.
  if (state.KeepSettingsFile) return;
  store.Replace(FormatSettings({state.PortText, state.VoiceOn}));
}

}  // namespace rotavox
