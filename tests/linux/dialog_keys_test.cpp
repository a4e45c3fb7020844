// The key table (tests/dialog_keys.table) against the Qt dialog, off
// screen, with the real handler behind it: every step's keys go to the
// window as the window system would deliver them, and what is spoken, the
// focus, the two boxes and the frames sent must be what the table says. The
// same table runs against the Windows program under Wine, whose dialog
// manager is the judge (tests/win32/e2e/dialog_keys_test.py).
#include <QApplication>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/options.h"
#include "app/program.h"
#include "common/country_file.h"
#include "fakes.h"
#include "link/wsjtx.h"
#include "ui/qt/qt_main_dialog.h"

#ifndef ROTAVOX_KEY_TABLE
#error "ROTAVOX_KEY_TABLE names the table file"
#endif

namespace rotavox::testing {
namespace {

using Texts = std::vector<std::string>;

struct Step {
  int line = 0;
  std::string keys;
  Texts said;
  std::string focus;
  std::string portBox, goToBox;
  Texts sent;
};
struct Scene {
  std::string record;
  std::vector<std::string> options;  // as on the command line
  std::vector<Step> steps;
};

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// Double-quoted texts ("" included); "-" stands for none.
Texts Quoted(const std::string& field) {
  Texts out;
  if (Trim(field) == "-") return out;
  for (std::size_t i = field.find('"'); i != std::string::npos; i = field.find('"', i + 1)) {
    const std::size_t end = field.find('"', i + 1);
    out.push_back(field.substr(i + 1, end - i - 1));
    i = end;
  }
  return out;
}

Texts Words(const std::string& field) {
  Texts out;
  std::istringstream in(field);
  for (std::string w; in >> w;) {
    if (w != "-") out.push_back(w);
  }
  return out;
}

std::vector<Scene> ReadTable() {
  std::ifstream in(ROTAVOX_KEY_TABLE);
  std::vector<Scene> scenes;
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (Trim(line).empty() || Trim(line)[0] == '#') continue;
    if (line.rfind("scene ", 0) == 0) {
      std::istringstream words(line.substr(6));
      Scene scene;
      words >> scene.record;
      for (std::string option; words >> option;) scene.options.push_back(option);
      scenes.push_back(std::move(scene));
      continue;
    }
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string part; std::getline(fields, part, '|');) f.push_back(part);
    if (f.size() != 6 || scenes.empty()) {
      ADD_FAILURE() << "table line " << number << " is not KEYS | SAID | FOCUS | PORTBOX | GOTOBOX | SENT";
      continue;
    }
    scenes.back().steps.push_back({number, Trim(f[0]), Quoted(f[1]), Trim(f[2]), Quoted(f[3]).at(0),
                                   Quoted(f[4]).at(0), Words(f[5])});
  }
  return scenes;
}

const std::map<int, std::string>& Names() {
  static const std::map<int, std::string> names = {
      {kPortLabel, "PortLabel"},     {kPortBox, "PortBox"},       {kBearingLabel, "BearingLabel"},
      {kBearingBox, "BearingBox"},   {kVoiceCheck, "VoiceCheck"}, {kGoToLabel, "GoToLabel"},
      {kGoToBox, "GoToBox"},         {kStatusLabel, "StatusLabel"}, {kExitButton, "ExitButton"},
      {kStartButton, "StartButton"}, {kGoButton, "GoButton"},     {kCompassView, "CompassView"},
  };
  return names;
}

// One key as xdotool names it ("alt+shift+b", "Return", "9").
void Press(QWindow* window, const std::string& name) {
  Qt::KeyboardModifiers mods;
  std::string key = name;
  for (std::size_t plus; (plus = key.find('+')) != std::string::npos; key = key.substr(plus + 1)) {
    const std::string mod = key.substr(0, plus);
    mods |= mod == "alt" ? Qt::AltModifier : mod == "shift" ? Qt::ShiftModifier : Qt::ControlModifier;
  }
  static const std::map<std::string, Qt::Key> named = {
      {"Tab", Qt::Key_Tab},     {"Return", Qt::Key_Return}, {"Escape", Qt::Key_Escape},
      {"space", Qt::Key_Space}, {"Up", Qt::Key_Up},         {"Down", Qt::Key_Down},
      {"Left", Qt::Key_Left},   {"Right", Qt::Key_Right},
  };
  Qt::Key k;
  if (key.rfind("KP_", 0) == 0 && key.size() == 4) {
    key = key.substr(3);
    mods |= Qt::KeypadModifier;
  }
  if (const auto it = named.find(key); it != named.end()) {
    k = it->second;
  } else {
    ASSERT_EQ(key.size(), 1u) << "unknown key " << name;
    k = static_cast<Qt::Key>(std::toupper(static_cast<unsigned char>(key[0])));
  }
  // The window system reports Shift+Tab as a back tab.
  if (k == Qt::Key_Tab && (mods & Qt::ShiftModifier)) k = Qt::Key_Backtab;
  QTest::keyClick(window, k, mods);
}

TEST(DialogKeysTable, TheQtDialogDoesWhatTheDialogManagerDoes) {
  const std::vector<Scene> scenes = ReadTable();
  ASSERT_FALSE(scenes.empty());
  for (const Scene& scene : scenes) {
    QtMainDialog dialog;
    Rig rig;  // its fakes, with the Qt dialog in place of the fake one
    rig.store.stored = {StoredSettings::Kind::kRead, scene.record + "\r\n"};
    const ParsedOptions parsed = ParseOptions(scene.options);
    ASSERT_EQ(parsed.error, "");
    rig.state.HomeLocator = parsed.options.home;
    rig.state.ScreenReader = parsed.options.screenReader;
    rig.state.OwnCall = parsed.options.call;
    rig.state.Wsjtx = parsed.options.wsjtx.port != 0;
    FileSettingsStore countryFile(
        nullptr, parsed.options.countryFile.empty() ? "/usr/share/hamradio-files/cty.dat" : parsed.options.countryFile,
        kMaxCountryFileBytes);
    Countries countries(&countryFile);
    WsjtxStatuses wsjtx;  // what the station server would hand over
    Context context{rig.state,       dialog, rig.desktop, rig.rotator,  rig.voices,
                    dialog.Compass(), dialog, nullptr,     &rig.presets, &countries,
                    rig.state.Wsjtx ? &wsjtx : nullptr};
    StartProgram(rig.state, rig.store);
    dialog.CreateMainDialog(context);
    HandleDialogMessage(context, kWmInitDialog, 0, 0);
    dialog.ShowMainDialog();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    QWindow* window = dialog.windowHandle();

    for (const Step& step : scene.steps) {
      SCOPED_TRACE("table line " + std::to_string(step.line) + ": " + step.keys);
      const std::size_t said = rig.Said().size(), sent = rig.port.sent.size();
      if (step.keys.rfind("box:", 0) == 0) {
        std::istringstream lines(step.keys.substr(4));
        for (std::string reply; std::getline(lines, reply, ';');) rig.port.Arrive("\x02" + Trim(reply) + "\r");
      } else if (step.keys.rfind("wsjtx:", 0) == 0) {
        std::istringstream fields(step.keys.substr(6));
        WsjtxStatus status{"WSJT-X", "", "", ""};
        fields >> status.dxCall >> status.dxGrid;
        wsjtx.Put(status);
      } else if (step.keys != "wait") {
        std::istringstream keys(step.keys);
        for (std::string key; keys >> key;) {
          Press(window, key);
          QTest::qWait(20);
        }
      }
      // Posted commands and a few ticks; the alarm takes 51 ticks.
      const int settle = step.keys == "wait" || step.keys.rfind("wsjtx:", 0) == 0 ? 6000 : 300;
      (void)QTest::qWaitFor([&] { return rig.Said().size() >= said + step.said.size(); }, settle);
      QTest::qWait(200);

      const Texts all = rig.Said();
      EXPECT_EQ(Texts(all.begin() + static_cast<long>(said), all.end()), step.said);
      const QWidget* focus = QApplication::focusWidget();
      const int id = focus ? focus->objectName().mid(7).toInt() : 0;
      EXPECT_EQ(Names().count(id) ? Names().at(id) : "none", step.focus);
      EXPECT_EQ(dialog.Text(kPortBox), step.portBox);
      EXPECT_EQ(dialog.Text(kGoToBox), step.goToBox);
      Texts frames;
      for (std::size_t i = sent; i < rig.port.sent.size(); ++i) {
        const std::string& f = rig.port.sent[i];
        frames.push_back(f.size() >= 2 ? f.substr(1, f.size() - 2) : f);
      }
      EXPECT_EQ(frames, step.sent);
    }
    dialog.End();
  }
}

}  // namespace
}  // namespace rotavox::testing
