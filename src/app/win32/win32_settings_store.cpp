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
HANDLE CreateFreshSibling(const char* file, DWORD attributes, std::string* name) {
  const unsigned long long stamp = GetTickCount64();
  for (unsigned attempt = 0; attempt < 16; ++attempt) {
    char candidate[64];
    std::snprintf(candidate, sizeof candidate, "%s.%08lx%04llx%02x.new", file,
                  static_cast<unsigned long>(GetCurrentProcessId()), stamp & 0xffff, attempt);
    const HANDLE handle = CreateFileA(candidate, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      attributes, nullptr);
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
bool MayReplace(const char* file, DWORD attributes) {
  if ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) return false;
  File probe(CreateFileA(file, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
  return probe.IsOpen();
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
bool WriteInPlace(const char* name, std::string_view bytes) {
  File file(CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
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

}  // namespace

StoredSettings Win32SettingsStore::Read() {
  QuietErrors quiet;
  StoredSettings stored;
  WIN32_FIND_DATAA entry{};
  const HANDLE search = FindFirstFileA(name_.c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return stored;  // kMissing
  FindClose(search);
  if ((entry.dwFileAttributes & kNotCounted) != 0) return stored;

  stored.kind = StoredSettings::Kind::kUnreadable;
  File file(CreateFileA(name_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsOpen()) return stored;
  std::string bytes;
  std::string buffer(64 * 1024, '\0');
  while (bytes.size() < kMaxSettingsRead) {
    DWORD read = 0;
    if (!ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
      return stored;
    }
    if (read == 0) break;
    bytes.append(buffer.data(), read);
  }
  if (bytes.size() > kMaxSettingsRead) bytes.resize(kMaxSettingsRead);
  stored.kind = StoredSettings::Kind::kRead;
  stored.bytes = std::move(bytes);
  return stored;
}

void Win32SettingsStore::RemoveLeftovers() {
  QuietErrors quiet;
  RemoveNewRecordLeftovers(name_);
}

bool Win32SettingsStore::Replace(std::string_view bytes) {
  QuietErrors quiet;
  const char* name = name_.c_str();
  const DWORD attributes = GetFileAttributesA(name);
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (exists && !MayReplace(name, attributes)) return false;

  // The new file has the old one's attributes from the start, so that a
  // hidden or system STAT.DAT stays so.
  std::string freshName;
  File fresh(CreateFreshSibling(name, KeptAttributes(attributes), &freshName));
  if (!fresh.IsOpen()) return exists && WriteInPlace(name, bytes);
  bool written = WriteAll(fresh.get(), bytes) && FlushFileBuffers(fresh.get()) != 0;
  written = fresh.Close() && written;
  if (!written) {
    // A full disk or a failing one: STAT.DAT is better left alone.
    DeleteFileA(freshName.c_str());
    return false;
  }
  if (MoveFileExA(freshName.c_str(), name,
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
    return true;
  }
  // The directory refuses the rename (permission to create files without
  // the right to delete them): the record goes into the file itself.
  DeleteFileA(freshName.c_str());
  return exists && WriteInPlace(name, bytes);
}

}  // namespace rotavox
