// In-memory stand-ins for every platform service, and a Rig that wires them
// to the real handler, so that whole operator sessions can be replayed
// without a window, a voice or a serial port.
//
// Everything the operator would notice goes into one log, in order:
//   "say:<text>"           a text handed to a voice
//   "box:<text>|<caption>" a message box
//   "beep"                 the system sound
//   "focus:<id>"           the keyboard focus moved
//   "open:<name>", "close", "send:<bytes>" (STX shown as <STX>, CR as <CR>);
//                          a network line opens as "open:net:HOST:PORT"
//   "note:<text>"          a note for whoever started the program
//   "redraw"               the compass image reached the screen
//   "end"                  the dialog was ended
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/program.h"
#include "app/settings_store.h"
#include "common/context.h"
#include "common/state.h"
#include "display/surface.h"
#include "link/any_rotator.h"
#include "link/serial_port.h"
#include "link/step_inputs.h"
#include "speech/voice.h"
#include "target/countries.h"
#include "target/preset_book.h"
#include "ui/desktop.h"
#include "ui/dialog.h"
#include "ui/handler.h"
#include "ui/messages.h"

namespace rotavox::testing {

using Log = std::vector<std::string>;

inline std::string Visible(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    if (c == '\x02') {
      out += "<STX>";
    } else if (c == '\r') {
      out += "<CR>";
    } else {
      out += c;
    }
  }
  return out;
}

using Handler = std::function<void(unsigned, std::uintptr_t, std::intptr_t)>;

// A dialog that keeps the Win32 dialog manager's habits: text and focus
// changes call the handler back before they return.
class FakeDialog final : public Dialog {
 public:
  explicit FakeDialog(Log& log) : log_(log) {}

  Handler handler;

  struct Control {
    std::string text;
    std::string tip;
    bool enabled = true;
    int check = 0;
  };
  std::map<int, Control> controls;
  int focus = 0;
  bool ended = false;
  std::deque<std::uintptr_t> posted;
  std::map<unsigned, unsigned> timers;  // id -> period

  // The dialog as creation leaves it: no notification is sent.
  void Create(const ProgramState& state) {
    for (int id : {kPortLabel, kPortBox, kBearingLabel, kBearingBox, kVoiceCheck, kGoToLabel,
                   kGoToBox, kStatusLabel, kExitButton, kStartButton, kGoButton, kCompassView}) {
      controls[id] = Control{};
    }
    controls[kPortBox].text = state.PortText;
    controls[kVoiceCheck].check = state.VoiceOn;
  }

  std::string Text(int id) override {
    if (ended) return {};
    auto it = controls.find(id);
    return it == controls.end() ? std::string() : it->second.text;
  }
  void SetText(int id, std::string_view text) override {
    if (ended) return;
    controls[id].text = std::string(text);
    if (IsEditBox(id)) Notify(id, kEnChange);
  }
  void SetToolTip(int id, std::string_view text) override {
    if (ended) return;
    controls[id].tip = std::string(text);
  }
  void Enable(int id, bool enabled) override {
    if (ended) return;
    controls[id].enabled = enabled;
    if (!enabled && focus == id) focus = 0;
  }
  void SetFocus(int id) override {
    if (ended || focus == id) return;
    focus = id;
    log_.push_back("focus:" + std::to_string(id));
    if (IsEditBox(id)) Notify(id, kEnSetFocus);
  }
  int Focused() override { return ended ? 0 : focus; }
  int Check(int id) override { return ended ? 0 : controls[id].check; }
  void SetCheck(int id, int state) override {
    if (!ended) controls[id].check = state;
  }
  void PostCommand(std::uintptr_t wParam, std::intptr_t) override {
    if (!ended) posted.push_back(wParam);
  }
  unsigned SetTimer(unsigned id, unsigned periodMs) override {
    if (ended) return 0;
    timers[id] = periodMs;
    return id;
  }
  void KillTimer(unsigned timerId) override { timers.erase(timerId); }
  void End() override {
    if (ended) return;
    if (handler) handler(kWmClose, 0, 0);
    ended = true;
    timers.clear();
    log_.push_back("end");
  }

  // --- what the operator does ---

  // Types `text` into an edit box one character at a time.
  void Type(int id, std::string_view text) {
    for (const char c : text) {
      controls[id].text += c;
      Notify(id, kEnChange);
    }
  }
  // Backspace on an edit box.
  void Erase(int id) {
    if (controls[id].text.empty()) return;
    controls[id].text.pop_back();
    Notify(id, kEnChange);
  }
  // A mouse click: the control takes the focus, a check box toggles, and
  // the command follows. Disabled controls ignore it.
  void Click(int id) {
    if (ended || !controls[id].enabled) return;
    SetFocus(id);
    if (id == kVoiceCheck) controls[id].check = controls[id].check == 0 ? 1 : 0;
    Command(id, kBnClicked);
  }
  // Enter on an edit box or the check box; posted commands run afterwards.
  void PressEnter() {
    Command(kIdOk, kBnClicked);
    Pump();
  }
  void PressAltB() { Command(kBearingHotkey, kAcceleratorCode); }
  void PressEscape() { Command(kIdCancel, kBnClicked); }
  // One tick of every running timer.
  void Tick() {
    std::vector<unsigned> running;
    for (const auto& [id, period] : timers) running.push_back(id);
    for (const unsigned id : running) {
      if (!ended && timers.count(id) != 0 && handler) handler(kWmTimer, id, 0);
    }
  }
  void Command(int id, unsigned code) {
    if (!ended && handler) handler(kWmCommand, MakeCommand(id, code), 0);
  }
  void Pump() {
    while (!posted.empty() && !ended) {
      const std::uintptr_t wParam = posted.front();
      posted.pop_front();
      if (handler) handler(kWmCommand, wParam, 0);
    }
  }
  bool Enabled(int id) { return controls[id].enabled; }
  bool TimerRunning() const { return !timers.empty(); }

  static constexpr unsigned kPollTimerIdForTests = 100;

 private:
  void Notify(int id, unsigned code) {
    if (handler) handler(kWmCommand, MakeCommand(id, code), 0);
  }
  Log& log_;
};

class FakeDesktop final : public Desktop {
 public:
  explicit FakeDesktop(Log& log) : log_(log) {}
  // Runs while a box is open, as the box's own message loop would.
  std::function<void()> whileBoxOpen;
  void MessageBox(std::string_view text, std::string_view caption) override {
    log_.push_back("box:" + std::string(text) + "|" + std::string(caption));
    if (whileBoxOpen) {
      auto during = whileBoxOpen;
      during();
    }
  }
  void Beep() override { log_.push_back("beep"); }
  void Note(std::string_view text) override { log_.push_back("note:" + std::string(text)); }

 private:
  Log& log_;
};

class FakePort final : public SerialPort {
 public:
  explicit FakePort(Log& log) : log_(log) {}
  bool refuseOpen = false;  // as for a port that does not exist
  bool failed = false;      // the device has gone
  bool open = false;
  std::string name;
  std::string waiting;      // bytes received, not yet read
  std::vector<std::string> sent;

  void Arrive(std::string_view bytes) { waiting += bytes; }

  void Open(std::string_view portName) override {
    log_.push_back("open:" + std::string(portName));
    name = std::string(portName);
    open = !refuseOpen;
  }
  void SetLine() override {}
  void Send(std::string_view bytes) override {
    if (!open || failed) return;
    sent.emplace_back(bytes);
    log_.push_back("send:" + Visible(bytes));
  }
  WaitingBytes BytesWaiting() override {
    if (!open) return {};
    if (failed) return {0, true};
    return {waiting.size(), false};
  }
  std::string Receive(std::size_t count) override {
    std::string bytes = waiting.substr(0, count);
    waiting.erase(0, bytes.size());
    return bytes;
  }
  void Close() override {
    if (!open) return;
    open = false;
    log_.push_back("close");
  }

 private:
  Log& log_;
};

// A TCP line in memory: it connects when the test says so, or not at all.
class FakeNetworkLine final : public NetworkLine {
 public:
  explicit FakeNetworkLine(Log& log) : log_(log) {}
  bool connected = false;   // the far end took the connection
  bool lost = false;        // and then dropped it
  std::string trouble;      // what Trouble says
  std::string waiting;      // bytes received, not yet read
  NetworkAddress address;

  void Open(const NetworkAddress& to) override {
    address = to;
    log_.push_back("open:net:" + to.host + ":" + std::to_string(to.port) + (to.telnet ? ":telnet" : ""));
  }
  // Frames before the connection is up wait for it, as on a real line.
  void Send(std::string_view bytes) override {
    if (!lost) log_.push_back("send:" + Visible(bytes));
  }
  WaitingBytes BytesWaiting() override {
    if (lost) return {0, true};
    return {connected ? waiting.size() : 0, false};
  }
  std::string Receive(std::size_t count) override {
    std::string bytes = waiting.substr(0, count);
    waiting.erase(0, bytes.size());
    return bytes;
  }
  void Close() override { log_.push_back("close:net"); }
  // A line that never connects is a server that refuses, unless the test
  // says otherwise.
  std::string Trouble() override {
    return trouble.empty() && !connected ? "Connection refused by " + address.host : trouble;
  }

 private:
  Log& log_;
};

class FakeVoices final : public VoiceProvider {
 public:
  explicit FakeVoices(Log& log) : log_(log) {}
  bool available = true;
  VoiceResult speakResult = VoiceResult::kDone;
  VoiceResult waitResult = VoiceResult::kDone;
  int created = 0;
  int alive = 0;  // voices not yet dropped
  int waits = 0;

  std::unique_ptr<Voice> CreateVoice() override {
    if (!available) return nullptr;
    ++created;
    return std::make_unique<FakeVoice>(*this);
  }

 private:
  class FakeVoice final : public Voice {
   public:
    explicit FakeVoice(FakeVoices& owner) : owner_(owner) { ++owner_.alive; }
    ~FakeVoice() override { --owner_.alive; }
    VoiceResult Speak(std::string_view text) override {
      owner_.log_.push_back("say:" + std::string(text));
      return owner_.speakResult;
    }
    VoiceResult WaitUntilDone() override {
      ++owner_.waits;
      return owner_.waitResult;
    }

   private:
    FakeVoices& owner_;
  };
  Log& log_;
};

// Records drawing commands; "redraw" also goes to the shared log.
class FakeSurface final : public Surface {
 public:
  explicit FakeSurface(Log& log) : log_(log) {}
  bool available = true;
  Size size{248, 252};
  std::vector<std::string> ops;

  bool Available() override { return available; }
  Size ClientSize() override { return size; }
  void Fill(Colour colour) override { ops.push_back("fill " + Name(colour)); }
  void SetPen(int width, Colour colour) override {
    ops.push_back("pen " + std::to_string(width) + " " + Name(colour));
  }
  void Ellipse(int l, int t, int r, int b, std::optional<Colour> fill) override {
    ops.push_back("ellipse " + Box(l, t, r, b) + Fill(fill));
  }
  void Rectangle(int l, int t, int r, int b, std::optional<Colour> fill) override {
    ops.push_back("rect " + Box(l, t, r, b) + Fill(fill));
  }
  void SetPixel(int x, int y, Colour colour) override {
    ops.push_back("pixel " + Xy(x, y) + " " + Name(colour));
  }
  void MoveTo(int x, int y) override { ops.push_back("move " + Xy(x, y)); }
  void LineTo(int x, int y) override { ops.push_back("line " + Xy(x, y)); }
  void Redraw() override {
    ops.push_back("redraw");
    log_.push_back("redraw");
  }

  static std::string Name(Colour c) {
    if (c.buttonFace) return "face";
    if (c == kBlack) return "black";
    if (c == kYellow) return "yellow";
    if (c == kAmber) return "amber";
    return std::to_string(c.red) + "," + std::to_string(c.green) + "," + std::to_string(c.blue);
  }

 private:
  static std::string Xy(int x, int y) { return std::to_string(x) + "," + std::to_string(y); }
  static std::string Box(int l, int t, int r, int b) { return Xy(l, t) + " " + Xy(r, b); }
  static std::string Fill(std::optional<Colour> fill) {
    return fill ? " fill " + Name(*fill) : " hollow";
  }
  Log& log_;
};

class FakeSteps final : public StepInputs {
 public:
  std::int16_t clockwise = 0;
  std::int16_t anticlockwise = 0;
  std::int16_t Clockwise() override { return clockwise; }
  std::int16_t Anticlockwise() override { return anticlockwise; }
};

class MemorySettingsStore final : public SettingsStore {
 public:
  StoredSettings stored;  // missing unless a test says otherwise
  bool writable = true;
  std::vector<std::string> writes;

  StoredSettings Read() override { return stored; }
  bool Replace(std::string_view bytes) override {
    if (!writable) return false;
    writes.emplace_back(bytes);
    stored = {StoredSettings::Kind::kRead, std::string(bytes)};
    return true;
  }
};

// Time as a test replays it: it stands still until the test moves it on.
class FakeClock final : public Clock {
 public:
  TimePoint now = TimePoint(std::chrono::hours(1000));
  TimePoint Now() const override { return now; }
  void Advance(std::chrono::milliseconds elapsed) { now += elapsed; }
};

// Every fake wired to the real handler.
struct Rig {
  Log log;
  ProgramState state;
  FakeDialog dialog{log};
  FakeDesktop desktop{log};
  FakePort port{log};
  FakeNetworkLine network{log};
  FakeClock clock;
  AnyRotator rotator{state, port, &network, &clock};
  FakeVoices voices{log};
  FakeSurface surface{log};
  FakeSteps steps;
  MemorySettingsStore store;
  MemorySettingsStore presetsFile;    // PRESETS.TXT
  PresetBook presets{&presetsFile};
  MemorySettingsStore countriesFile;  // the country file, missing unless a test says otherwise
  Countries countries{&countriesFile};
  Context context{state, dialog, desktop, rotator, voices, surface, steps, nullptr, &presets, &countries, nullptr, &clock};

  Rig() {
    dialog.handler = [this](unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
      HandleDialogMessage(context, message, wParam, lParam);
    };
  }

  // Start-up up to the dialog's first message, with the given settings
  // file content, then the handler's start-up.
  void StartWithFile(std::string_view statDat) {
    store.stored = {StoredSettings::Kind::kRead, std::string(statDat)};
    Start();
  }
  void Start() {
    StartProgram(state, store);
    dialog.Create(state);
    HandleDialogMessage(context, kWmInitDialog, 0, 0);
  }

  // START with the port box as it is, then the box's first answer.
  void StartLink() { dialog.Click(kStartButton); }

  // Entries of the log of one kind ("say", "send", ...), without the prefix.
  std::vector<std::string> Entries(std::string_view kind) const {
    std::vector<std::string> out;
    const std::string prefix = std::string(kind) + ":";
    for (const auto& entry : log) {
      if (entry.rfind(prefix, 0) == 0) {
        out.push_back(entry.substr(prefix.size()));
      } else if (entry == kind) {
        out.push_back("");
      }
    }
    return out;
  }
  std::vector<std::string> Said() const { return Entries("say"); }
  std::vector<std::string> Sent() const { return Entries("send"); }
  std::vector<std::string> Boxes() const { return Entries("box"); }
  int Beeps() const { return static_cast<int>(Entries("beep").size()); }
  void ClearLog() { log.clear(); }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) dialog.Tick();
  }
};

}  // namespace rotavox::testing
