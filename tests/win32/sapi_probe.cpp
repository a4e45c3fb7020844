// Checks, on Windows or under Wine, that the SAPI voice of the program
// reaches whatever is registered as SAPI.SpVoice, here the test voice of
// fake_sapi/ (register it first: regsvr32 fake_sapi.dll).
//
// Prints one line per check and exits with 0 when all pass, 1 otherwise, 2
// when SAPI.SpVoice is not the test voice (nothing to check against).
// The calls are logged to a fresh file in the temporary folder, unless
// ROTAVOX_FAKE_SAPI_LOG already names one.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "speech/win32/sapi_voice.h"

namespace {

// The class of fake_sapi.dll.
const CLSID kFakeVoiceClsid = {
    0x5e0c7a1d, 0x8f43, 0x4b6e, {0x9d, 0x27, 0x3a, 0x1f, 0x6c, 0x0b, 0x9e, 0x52}};

int g_failures = 0;

void Check(bool ok, const char* what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
  if (!ok) ++g_failures;
}

// The log file, and whether it was made here (and is removed at the end).
std::string LogPath(bool* ours) {
  char path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA("ROTAVOX_FAKE_SAPI_LOG", path, MAX_PATH);
  *ours = !(length > 0 && length < MAX_PATH);
  if (!*ours) return path;
  char folder[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  GetTempFileNameA(folder, "rvs", 0, path);
  SetEnvironmentVariableA("ROTAVOX_FAKE_SAPI_LOG", path);
  return path;
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Truncate(const std::string& path) { std::ofstream(path, std::ios::binary | std::ios::trunc); }

// One voice from the provider speaks `text` and waits; returns the log.
std::string SpeakOnce(const std::string& log, const std::string& text, bool* speakDone,
                      bool* waitDone) {
  Truncate(log);
  rotavox::SapiVoiceProvider voices;
  std::unique_ptr<rotavox::Voice> voice = voices.CreateVoice();
  if (!voice) return "(no voice)";
  *speakDone = voice->Speak(text) == rotavox::VoiceResult::kDone;
  *waitDone = voice->WaitUntilDone() == rotavox::VoiceResult::kDone;
  return Contents(log);
}

}  // namespace

int main() {
  if (FAILED(CoInitialize(nullptr))) {
    std::printf("FAIL CoInitialize\n");
    return 1;
  }
  bool ownLog = false;
  const std::string log = LogPath(&ownLog);
  std::printf("log: %s\n", log.c_str());

  CLSID clsid{};
  const bool found = SUCCEEDED(CLSIDFromProgID(L"SAPI.SpVoice", &clsid));
  Check(found, "CLSIDFromProgID(\"SAPI.SpVoice\") succeeds");
  if (!found || !IsEqualCLSID(clsid, kFakeVoiceClsid)) {
    std::printf("SAPI.SpVoice is not the test voice; register fake_sapi.dll first\n");
    if (ownLog) DeleteFileA(log.c_str());
    CoUninitialize();
    return 2;
  }
  Check(true, "SAPI.SpVoice names the test voice's class");
  IDispatch* dispatch = nullptr;
  Check(SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                   IID_IDispatch, reinterpret_cast<void**>(&dispatch))),
        "CoCreateInstance gives its IDispatch");
  if (dispatch != nullptr) dispatch->Release();

  bool speakDone = false;
  bool waitDone = false;
  std::string lines = SpeakOnce(log, "On bearing 0 9 0 ", &speakDone, &waitDone);
  Check(speakDone && waitDone, "Speak and WaitUntilDone report done");
  Check(lines == "Speak On bearing 0 9 0 \nWaitUntilDone -1\n",
        "the voice is told \"On bearing 0 9 0 \" (trailing blank kept), then to wait with -1");
  if (lines != "Speak On bearing 0 9 0 \nWaitUntilDone -1\n") std::printf("log was:\n%s", lines.c_str());

  lines = SpeakOnce(log, "", &speakDone, &waitDone);
  Check(speakDone && waitDone && lines == "Speak \nWaitUntilDone -1\n",
        "an empty text is still spoken and waited for");

  // The bytes are in the ANSI code page; checked where that is Windows-1252.
  if (GetACP() == 1252) {
    lines = SpeakOnce(log, "Caf\xe9 \x80", &speakDone, &waitDone);
    Check(lines == "Speak Caf\xc3\xa9 \xe2\x82\xac\nWaitUntilDone -1\n",
          "bytes above 127 reach the voice through the ANSI code page");
  } else {
    std::printf("skip ANSI code page check (code page %u)\n", GetACP());
  }

  // A Speak that fails is reported as a failed call, and the wait still
  // works on the same voice.
  SetEnvironmentVariableA("ROTAVOX_FAKE_SAPI_FAIL", "Speak");
  lines = SpeakOnce(log, "Goodbye", &speakDone, &waitDone);
  SetEnvironmentVariableA("ROTAVOX_FAKE_SAPI_FAIL", nullptr);
  Check(!speakDone && waitDone && lines == "Speak Goodbye\nWaitUntilDone -1\n",
        "a failing Speak is a failed call; WaitUntilDone still runs");

  // A voice per call, several calls in a row.
  Truncate(log);
  {
    rotavox::SapiVoiceProvider voices;
    for (int i = 0; i < 3; ++i) {
      auto voice = voices.CreateVoice();
      if (voice) voice->Speak(std::to_string(i));
    }
  }
  Check(Contents(log) == "Speak 0\nSpeak 1\nSpeak 2\n", "three voices in a row each reach the voice");

  if (ownLog) DeleteFileA(log.c_str());
  CoUninitialize();
  std::printf("%s\n", g_failures == 0 ? "all passed" : "some failed");
  return g_failures == 0 ? 0 : 1;
}
