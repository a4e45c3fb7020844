// The country file on first need (see countries.h).
#include "target/countries.h"

#include "app/settings_store.h"

namespace rotavox {

const CountryFile& Countries::File() {
  if (!read_ && file_ != nullptr) {
    const StoredSettings file = file_->Read();
    if (file.kind == StoredSettings::Kind::kMissing) return none_;
    const bool whole = file.kind == StoredSettings::Kind::kRead && !file.cut;
    read_ = whole ? CountryFile::Parse(file.bytes) : CountryFile();
  }
  return read_ ? *read_ : none_;
}

}  // namespace rotavox
