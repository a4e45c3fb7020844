// Whole poll ticks through the real handler, fed by a C BOX that sends
// anything, while the operator presses GO and holds the step inputs.
//
// The first byte sets the scene: speech on or off, a voice that is lost,
// no voice at all, a message box that runs ticks while it is open. Then
// each operation takes one byte and its operands from the data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fakes.h"
#include "link/poll.h"
#include "link/protocol.h"

namespace {

using namespace rotavox;
using namespace rotavox::testing;

void Check(bool ok) {
  if (!ok) std::abort();
}

bool IsFrame(const std::string& frame) {
  return frame.size() >= 2 && frame.front() == kStx && frame.back() == kCr &&
         frame.find_first_of("\x02\r", 1) == frame.size() - 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string_view in(reinterpret_cast<const char*>(data) + 1, size - 1);
  const auto next = [&in]() -> unsigned {
    if (in.empty()) return 0;
    const auto b = static_cast<unsigned char>(in[0]);
    in.remove_prefix(1);
    return b;
  };
  const auto take = [&in](std::size_t n) {
    const std::string_view part = in.substr(0, n);
    in.remove_prefix(part.size());
    return part;
  };

  Rig rig;
  const unsigned scene = data[0];
  int depth = 0;
  if (scene & 2) rig.voices.speakResult = VoiceResult::kLost;
  if (scene & 4) rig.voices.available = false;
  if (scene & 8) {
    rig.desktop.whileBoxOpen = [&] {
      if (depth >= 2) return;
      ++depth;
      rig.dialog.Tick();
      --depth;
    };
  }
  rig.StartWithFile((scene & 1) ? "\"3\",1\r\n" : "\"3\",0\r\n");
  rig.StartLink();

  std::size_t checked = 0;
  while (!in.empty()) {
    const unsigned op = next();
    switch (op % 8) {
      case 0: case 1: case 2:  // one reception
        rig.port.Arrive(take(next()));
        rig.dialog.Tick();
        break;
      case 3:  // a silence, long enough to reach the alarm
        rig.Ticks(static_cast<int>(next() % 64));
        break;
      case 4: {  // a bearing typed and sent with GO or with Enter
        rig.dialog.controls[kGoToBox].text.clear();
        rig.dialog.Type(kGoToBox, take(next() % 8));
        if (op & 8) {
          rig.dialog.Click(kGoButton);
        } else {
          rig.dialog.SetFocus(kGoToBox);
          rig.dialog.PressEnter();
        }
        break;
      }
      case 5:  // the step inputs, held or let go
        rig.steps.clockwise = (op & 8) ? -32768 : 0;
        rig.steps.anticlockwise = (op & 16) ? -1 : 0;
        rig.dialog.Tick();
        break;
      case 6:  // START again, as after an alarm, or the voice switched
        if (op & 8) {
          rig.dialog.Click(kVoiceCheck);
        } else {
          rig.StartLink();
        }
        break;
      case 7:  // the device goes away, or comes back
        rig.port.failed = (op & 8) != 0;
        rig.dialog.Tick();
        break;
    }
    const ProgramState& s = rig.state;
    Check(s.RxText.size() <= kMaxRxText);
    Check(s.ReplyPending >= 0 && s.ReplyPending <= 1);
    Check(s.SilentTicks >= 0 && s.SilentTicks <= kAlarmRaised);
    for (; checked < rig.port.sent.size(); ++checked) Check(IsFrame(rig.port.sent[checked]));
  }
  return 0;
}
