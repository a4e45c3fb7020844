// STAT.DAT through the C++ standard library (see settings_store.h).
//
// The file is replaced rather than rewritten: the new record goes to a
// fresh file beside it, which is then renamed over STAT.DAT. A crash, a
// full disk or a kill at any moment leaves either the old or the new
// record. Only where the directory allows no such replacement is STAT.DAT
// rewritten in place, which is still better than losing the record. What
// the library cannot do as it should (open without waiting, make a file
// only if it is new, lock) is in the virtual functions that an edition's
// store overrides.
#include "app/settings_store.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <cstdio>
#include <random>
#include <string_view>
#include <system_error>

namespace rotavox {
namespace {

namespace fs = std::filesystem;

constexpr fs::perms kAnyWrite = fs::perms::owner_write | fs::perms::group_write |
                                fs::perms::others_write;

// How many names a new record tries before the directory counts as
// refusing new files.
constexpr int kFreshNameAttempts = 16;

// Whether an existing STAT.DAT may be replaced: a plain file that is not
// read-only and that we could open for writing.
bool MayReplace(const fs::path& path, fs::file_status status) {
  if (!fs::is_regular_file(status)) return false;
  if ((status.permissions() & kAnyWrite) == fs::perms::none) return false;
  std::ofstream probe(path, std::ios::binary | std::ios::app);  // appends nothing
  return probe.is_open();
}

}  // namespace

bool SettingsStore::Change(const std::function<std::string(std::string_view)>& change) {
  const StoredSettings stored = Read();
  // What could not be read would be lost by the replacement.
  if (stored.kind == StoredSettings::Kind::kUnreadable || stored.cut) return false;
  return Replace(change(stored.bytes));
}

bool IsNewRecordName(std::string_view name, std::string_view file) {
  const std::string_view end = ".new";
  if (name.size() <= file.size() + 1 + end.size() || !name.starts_with(file) || name[file.size()] != '.' ||
      !name.ends_with(end)) {
    return false;
  }
  const std::string_view digits = name.substr(file.size() + 1, name.size() - file.size() - 1 - end.size());
  return digits.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
}

void RemoveNewRecordLeftovers(std::string_view file) {
  const auto now = fs::file_time_type::clock::now();
  std::error_code ec;
  fs::directory_iterator it(".", ec);
  for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
    const fs::path& path = it->path();
    std::error_code fileEc;
    if (!IsNewRecordName(path.filename().string(), file) || it->is_symlink(fileEc) ||
        !it->is_regular_file(fileEc)) {
      continue;
    }
    const auto written = fs::last_write_time(path, fileEc);
    if (!fileEc && now - written > kLeftoverAge) fs::remove(path, fileEc);
  }
}

StoredSettings FileSettingsStore::Read() {
  const fs::path path(name_);
  StoredSettings stored = ReadFile(path, readLimit_);
  if (stored.kind == StoredSettings::Kind::kRead) {
    // Another user's file (left by a run as root) that is not marked
    // read-only: kept, and the operator is told.
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    stored.unwritable = (status.permissions() & kAnyWrite) != fs::perms::none && !MayReplace(path, status);
  }
  return stored;
}

StoredSettings FileSettingsStore::ReadFile(const fs::path& path, std::size_t limit) {
  StoredSettings stored;
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (!fs::exists(status) || fs::is_directory(status)) {
    stored.kind = StoredSettings::Kind::kMissing;
    return stored;
  }
  // A pipe or device would block or never end: only a plain file is read.
  stored.kind = StoredSettings::Kind::kUnreadable;
  if (!fs::is_regular_file(status)) return stored;
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) return stored;
  std::string bytes(limit + 1, '\0');  // one more tells a longer file
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) return stored;
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  stored.cut = bytes.size() > limit;
  if (stored.cut) bytes.resize(limit);
  stored.kind = StoredSettings::Kind::kRead;
  stored.bytes = std::move(bytes);
  return stored;
}

FileSettingsStore::Made FileSettingsStore::MakeFresh(const fs::path& path, std::string_view bytes) {
  std::error_code ec;
  if (fs::exists(fs::symlink_status(path, ec))) return Made::kTaken;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out.is_open()) return Made::kRefused;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out.fail()) return Made::kWritten;
  fs::remove(path, ec);
  return Made::kFailed;
}

bool FileSettingsStore::Locked(const fs::path&, const std::function<void()>& work) {
  work();
  return true;
}

bool FileSettingsStore::Change(const std::function<std::string(std::string_view)>& change) {
  bool changed = false;
  const bool held = Locked(fs::path(name_ + kLockSuffix), [&] { changed = SettingsStore::Change(change); });
  return held && changed;
}

bool FileSettingsStore::Replace(std::string_view bytes) {
  const fs::path path(name_);
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(path, ec);
  const bool exists = fs::exists(status);
  if (exists && !MayReplace(path, fs::status(path, ec))) return false;

  switch (ReplaceByRename(path, bytes, exists)) {
    case Outcome::kDone:
      return true;
    case Outcome::kFailed:
      return false;
    case Outcome::kRefused:
      // The directory takes no new file, or no rename over STAT.DAT (a
      // read-only folder; a sticky one such as /tmp when STAT.DAT belongs
      // to another user), while STAT.DAT itself may be written.
      return exists && WriteInPlace(path, bytes);
  }
  return false;
}

FileSettingsStore::Outcome FileSettingsStore::ReplaceByRename(const fs::path& path,
                                                              std::string_view bytes, bool exists) {
  std::error_code ec;
  // A new name beside the file, made only if nothing has it.
  std::random_device entropy;
  std::mt19937_64 generator((static_cast<std::uint64_t>(entropy()) << 32) ^ entropy());
  fs::path fresh;
  Made made = Made::kTaken;
  for (int attempt = 0; attempt < kFreshNameAttempts && made == Made::kTaken; ++attempt) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%016llx.new", static_cast<unsigned long long>(generator()));
    fresh = name_ + suffix;
    made = MakeFresh(fresh, bytes);
  }
  if (made == Made::kTaken || made == Made::kRefused) return Outcome::kRefused;
  // A new file that cannot be written whole (a full disk) or flushed says
  // the disk is in trouble: STAT.DAT is better left alone then.
  if (made == Made::kFailed) return Outcome::kFailed;
  // Keep the old file's permissions on the new one.
  if (exists) fs::permissions(fresh, fs::status(path, ec).permissions(), ec);
  if (!Flush(fresh)) {
    fs::remove(fresh, ec);
    return Outcome::kFailed;
  }
  fs::rename(fresh, path, ec);
  if (ec) {
    fs::remove(fresh, ec);
    return Outcome::kRefused;
  }
  // The rename itself lasts only once the directory is on the disk.
  Flush(fs::path("."));
  return Outcome::kDone;
}

bool FileSettingsStore::WriteInPlace(const fs::path& path, std::string_view bytes) const {
  // Opened for reading and writing, the file is not emptied. The part about
  // to be overwritten is kept, so that a write that fails half-way (a full
  // disk) can put it back rather than leave a mix of two records.
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  if (!file.is_open()) return false;
  std::string old(bytes.size(), '\0');
  file.read(old.data(), static_cast<std::streamsize>(old.size()));
  old.resize(static_cast<std::size_t>(file.gcount()));
  file.clear();
  file.seekp(0);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.flush();
  if (file.fail()) {
    file.clear();
    file.seekp(0);
    file.write(old.data(), static_cast<std::streamsize>(old.size()));
    return false;
  }
  file.close();
  std::error_code ec;
  fs::resize_file(path, bytes.size(), ec);
  return !ec && Flush(path);
}

}  // namespace rotavox
