// The country file as a service of the running program: read the first
// time a callsign or Alt+A needs it, so that the window never waits for
// it at start, and kept for the rest of the run.
#pragma once

#include <optional>
#include <string>

#include "common/country_file.h"

namespace rotavox {

class Countries {
 public:
  // The file at `path`; an empty path is no file.
  explicit Countries(std::string path = {}) : path_(std::move(path)) {}
  // A file already read (tests, benchmarks).
  explicit Countries(CountryFile file) : file_(std::move(file)) {}

  // The file, read now if this is its first need; empty when it cannot be
  // read.
  const CountryFile& File();

 private:
  std::string path_;
  std::optional<CountryFile> file_;
};

}  // namespace rotavox
