// The end of the desktop session under a running Linux edition: the
// settings are saved as at EXIT (SaveSettingsNow) when the program is ended
// by SIGTERM, SIGHUP or SIGINT (logout, shutdown, a closed terminal, kill,
// Ctrl+C), or by Qt's exit() when the X connection is lost.
#pragma once

namespace rotavox {

// Call once, with the QApplication in place: the signals are taken up by
// its event loop, where the program's state may be read. A signal saves
// and then ends the process as the signal itself would have; a second one,
// or a thread that does not get back to its event loop within a few
// seconds, ends it at once.
void SaveSettingsWhenTheSessionEnds();

}  // namespace rotavox
