// STAT.DAT through the Win32 file calls (see win32_settings_store.h).
#include "app/win32/win32_settings_store.h"
#include "common/win32/quiet_errors.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

namespace rotavox {
namespace {

constexpr DWORD kNotCounted =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;
// Largest single ReadFile or WriteFile.
constexpr DWORD kChunk = 1 << 20;
// How often a lock held by another program is tried again.
constexpr DWORD kLockRetryMs = 10;

// Closes a file handle when it goes out of scope.
class File {
 public:
  explicit File(HANDLE handle) : handle_(handle) {}
  ~File() {
    if (IsOpen()) CloseHandle(handle_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  // Closes now; false when the close reports a failure.
  bool Close() {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return CloseHandle(handle) != 0;
  }

 private:
  HANDLE handle_;
};

std::wstring Wide(const std::string& utf8) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(std::max(size, 0)), L'\0');
  if (size > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
  return wide;
}

bool WriteAll(HANDLE handle, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD part = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), kChunk));
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data(), part, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

// Creates a new, empty file beside STAT.DAT under a name no other file
// has, with `attributes`; its name in *name. An invalid handle when the
// directory refuses new files.
HANDLE CreateFreshSibling(const std::wstring& file, DWORD attributes, std::wstring* name) {
  const unsigned long long stamp = GetTickCount64();
  for (unsigned attempt = 0; attempt < 16; ++attempt) {
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, ".%08lx%04llx%02x.new", static_cast<unsigned long>(GetCurrentProcessId()),
                  stamp & 0xffff, attempt);
    const std::wstring candidate = file + Wide(suffix);
    const HANDLE handle = CreateFileW(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      *name = candidate;
      return handle;
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  return INVALID_HANDLE_VALUE;
}

// Whether an existing STAT.DAT may be replaced: a plain file without the
// read-only attribute that we could open for writing (so not held open by
// another program either).
bool MayReplace(const wchar_t* file, DWORD attributes) {
  if ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) return false;
  File probe(CreateFileW(file, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return probe.IsOpen();
}

// A file without the read-only attribute that the system will not let us
// write (another user's): not one merely held open by another program.
bool Unwritable(const wchar_t* file, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return false;
  File probe(CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return !probe.IsOpen() && GetLastError() == ERROR_ACCESS_DENIED;
}

// The attributes of an existing STAT.DAT that its replacement keeps: hidden
// and system, the archive flag and the indexing opt-out.
DWORD KeptAttributes(DWORD attributes) {
  if (attributes == INVALID_FILE_ATTRIBUTES) return FILE_ATTRIBUTE_NORMAL;
  const DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                   FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  return kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL;
}

// Rewrites STAT.DAT in its place, when the directory allows no replacement:
// opened as it is (its attributes stay), written, cut to the record's
// length and flushed. The part about to be overwritten is kept, so that a
// write that fails half-way can put it back rather than leave a mix of two
// records.
bool WriteInPlace(const wchar_t* name, std::string_view bytes) {
  File file(CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                        nullptr));
  if (!file.IsOpen()) return false;
  std::string old(bytes.size(), '\0');
  std::size_t got = 0;
  while (got < old.size()) {
    DWORD read = 0;
    const DWORD part = static_cast<DWORD>(std::min<std::size_t>(old.size() - got, kChunk));
    if (!ReadFile(file.get(), old.data() + got, part, &read, nullptr) || read == 0) break;
    got += read;
  }
  old.resize(got);
  if (SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return false;
  if (!WriteAll(file.get(), bytes)) {
    SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);
    WriteAll(file.get(), old);
    return false;
  }
  return SetEndOfFile(file.get()) != 0 && FlushFileBuffers(file.get()) != 0 && file.Close();
}

// The lock file beside a file, made if missing; another user's serves
// read-only too. Every opener shares it: what it holds is LockFileEx's.
HANDLE OpenLockFile(const std::wstring& name) {
  constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const HANDLE lock = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (lock != INVALID_HANDLE_VALUE) return lock;
  return CreateFileW(name.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

Win32SettingsStore::Win32SettingsStore(std::string name, std::size_t readLimit)
    : name_(std::move(name)), wide_(Wide(name_)), readLimit_(readLimit) {}

StoredSettings Win32SettingsStore::Read() {
  QuietErrors quiet;
  StoredSettings stored;
  WIN32_FIND_DATAW entry{};
  const HANDLE search = FindFirstFileW(wide_.c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return stored;  // kMissing
  FindClose(search);
  if ((entry.dwFileAttributes & kNotCounted) != 0) return stored;

  stored.kind = StoredSettings::Kind::kUnreadable;
  {
    File file(CreateFileW(wide_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    // A device or a pipe would never end, or wait for a writer.
    if (!file.IsOpen() || GetFileType(file.get()) != FILE_TYPE_DISK) return stored;
    std::string bytes(readLimit_ + 1, '\0');  // one more tells a longer file
    std::size_t got = 0;
    while (got < bytes.size()) {
      DWORD read = 0;
      const DWORD part = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - got, kChunk));
      if (!ReadFile(file.get(), bytes.data() + got, part, &read, nullptr)) return stored;
      if (read == 0) break;
      got += read;
    }
    bytes.resize(got);
    stored.cut = got > readLimit_;
    if (stored.cut) bytes.resize(readLimit_);
    stored.kind = StoredSettings::Kind::kRead;
    stored.bytes = std::move(bytes);
  }
  stored.unwritable = Unwritable(wide_.c_str(), entry.dwFileAttributes);
  return stored;
}

void Win32SettingsStore::RemoveLeftovers() {
  QuietErrors quiet;
  RemoveNewRecordLeftovers(name_);
}

bool Win32SettingsStore::Replace(std::string_view bytes) {
  QuietErrors quiet;
  const wchar_t* name = wide_.c_str();
  const DWORD attributes = GetFileAttributesW(name);
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (exists && !MayReplace(name, attributes)) return false;

  // The new file has the old one's attributes from the start, so that a
  // hidden or system STAT.DAT stays so.
  std::wstring freshName;
  File fresh(CreateFreshSibling(wide_, KeptAttributes(attributes), &freshName));
  if (!fresh.IsOpen()) return exists && WriteInPlace(name, bytes);
  bool written = WriteAll(fresh.get(), bytes) && FlushFileBuffers(fresh.get()) != 0;
  written = fresh.Close() && written;
  if (!written) {
    // A full disk or a failing one: STAT.DAT is better left alone.
    DeleteFileW(freshName.c_str());
    return false;
  }
  if (MoveFileExW(freshName.c_str(), name, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
    return true;
  }
  // The directory refuses the rename (permission to create files without
  // the right to delete them): the record goes into the file itself.
  DeleteFileW(freshName.c_str());
  return exists && WriteInPlace(name, bytes);
}

bool Win32SettingsStore::Change(const std::function<std::string(std::string_view)>& change) {
  QuietErrors quiet;
  File lock(OpenLockFile(wide_ + Wide(kLockSuffix)));
  // No lock file can be had here (a folder that takes no new file, where
  // the file itself can only be rewritten in place): as without a lock.
  if (!lock.IsOpen()) return SettingsStore::Change(change);
  OVERLAPPED whole{};
  const ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(kLockWait.count()) * 1000;
  while (!LockFileEx(lock.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole)) {
    if (GetLastError() != ERROR_LOCK_VIOLATION || GetTickCount64() >= until) return false;
    Sleep(kLockRetryMs);
  }
  const bool changed = SettingsStore::Change(change);
  UnlockFileEx(lock.get(), 0, 1, 0, &whole);
  return changed;
}

}  // namespace rotavox
