// The country file on first need (see countries.h).
#include "target/countries.h"

namespace rotavox {

const CountryFile& Countries::File() {
  if (!file_) file_ = path_.empty() ? CountryFile() : CountryFile::Read(path_);
  return *file_;
}

}  // namespace rotavox
