// The country file as a service of the running program: read the first
// time a callsign or Alt+A needs it, so that the window never waits for it
// at start, and kept for the rest of the run.
#pragma once

#include <optional>

#include "common/country_file.h"

namespace rotavox {

class SettingsStore;

class Countries {
 public:
  // The file that `file` reads (at most kMaxCountryFileBytes, never
  // waiting on it); none: no file.
  explicit Countries(SettingsStore* file = nullptr) : file_(file) {}
  // A file already read (tests, benchmarks).
  explicit Countries(CountryFile file) : read_(std::move(file)) {}

  // The file, read now if this is its first need. One that is not there
  // yet is looked for again at the next need; one that is no plain file,
  // cannot be read or is too long for a country file counts as empty.
  const CountryFile& File();

 private:
  SettingsStore* file_ = nullptr;
  std::optional<CountryFile> read_;
  CountryFile none_;
};

}  // namespace rotavox
