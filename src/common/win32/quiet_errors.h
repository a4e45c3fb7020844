// Windows edition: keeps the system from showing an error box of its own (a
// missing or failing device, a removed disk) while file and port calls run,
// and restores the previous error mode afterwards.
#pragma once

#include <windows.h>

namespace rotavox {

class QuietErrors {
 public:
  QuietErrors() : previous_(SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX)) {}
  ~QuietErrors() { SetErrorMode(previous_); }
  QuietErrors(const QuietErrors&) = delete;
  QuietErrors& operator=(const QuietErrors&) = delete;

 private:
  UINT previous_;
};

}  // namespace rotavox
