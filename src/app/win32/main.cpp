// Entry point of the Windows edition: puts together the platform (Win32
// dialog and GDI compass, COM port, SAPI voice, message box and system
// beep, STAT.DAT in the working directory) and runs the program.
//
// Unlike the Linux edition it takes no options: the command line is
// ignored, the ports are the system's COM devices and the voice is the one
// registered as SAPI.SpVoice. COM is initialised for the thread by the
// dialog's session, around the whole run.
#include "app/program.h"
#include "app/win32/win32_settings_store.h"
#include "link/win32/win32_serial_port.h"
#include "speech/win32/sapi_voice.h"
#include "ui/win32/win32_desktop.h"
#include "ui/win32/win32_main_dialog.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
  // A missing disk or a port that cannot be opened must not bring up a
  // system error box: the program notices failures in its own way.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

  rotavox::Win32MainDialog dialog;
  rotavox::Win32Desktop desktop;
  rotavox::Win32SerialPort port;
  rotavox::SapiVoiceProvider voices;
  rotavox::Win32SettingsStore settings;
  rotavox::Platform platform{dialog, dialog,           desktop, port, voices,
                             dialog.Compass(), dialog, settings};
  rotavox::RunProgram(platform);
  return 0;
}
