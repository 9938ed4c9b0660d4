#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <random>

#include "serial/filepath.h"
#include "settings/safesave.h"

namespace kline {

namespace {

namespace fs = std::filesystem;

// The system's words for an error code, as UTF-8 without the closing period.
std::string errorText(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring w = n ? std::wstring(text, n) : L"error " + std::to_wstring(code);
  if (text) LocalFree(text);
  while (!w.empty() &&
         (w.back() == L'\r' || w.back() == L'\n' || w.back() == L' ' || w.back() == L'.'))
    w.pop_back();
  return PathToUtf8(fs::path(w));
}

std::string lastErrorText() {
  return errorText(GetLastError());
}

// Creates a file of its own beside `target` (name.XXXXXX), shared with nobody while it is
// written: two programs saving at once never share one.
HANDLE createTemp(const fs::path& target, fs::path& name) {
  static const wchar_t kChars[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device rd;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::wstring suffix = L".";
    for (int i = 0; i < 6; ++i) suffix += kChars[rd() % (sizeof kChars / sizeof *kChars - 1)];
    name = target;
    name += suffix;
    HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return h;
  }
  return INVALID_HANDLE_VALUE;
}

// Another program (or another klinediag) reading the file at this moment holds it without
// delete sharing, and the replacement is refused until it lets go: a reader is done within a
// few milliseconds, so try again for a while.
bool busy(DWORD code) {
  return code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED ||
         code == ERROR_LOCK_VIOLATION;
}

// Puts `tmp` in the place of `target` in one step. Returns 0, or the error code.
DWORD putInPlace(const fs::path& tmp, const fs::path& target) {
  DWORD code = 0;
  for (int attempt = 0; attempt < 200; ++attempt) {
    if (MoveFileExW(tmp.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return 0;
    code = GetLastError();
    if (!busy(code)) return code;
    Sleep(10);
  }
  return code;
}

// The save's steps through the system's calls on one handle.
class WinSaveSteps : public SaveSteps {
 public:
  ~WinSaveSteps() override {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }

  std::string create(const fs::path& target, bool exists, fs::path& tmp) override {
    h_ = createTemp(target, tmp);
    if (h_ == INVALID_HANDLE_VALUE) return lastErrorText();
    // A replacement keeps the old file's attributes (hidden, say), given to the new file once it
    // is closed; its access rights are the folder's, as for any file made there.
    attributes_ = exists ? GetFileAttributesW(target.c_str()) : INVALID_FILE_ATTRIBUTES;
    return {};
  }

  std::string write(const std::string& text) override {
    for (std::size_t done = 0; done < text.size();) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1 << 20));
      DWORD n = 0;
      if (!WriteFile(h_, text.data() + done, chunk, &n, nullptr)) return lastErrorText();
      done += n;
    }
    return {};
  }

  std::string sync() override { return FlushFileBuffers(h_) ? std::string() : lastErrorText(); }

  std::string close() override {
    HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return CloseHandle(h) ? std::string() : lastErrorText();
  }

  std::string rename(const fs::path& tmp, const fs::path& target) override {
    if (attributes_ != INVALID_FILE_ATTRIBUTES)
      SetFileAttributesW(
          tmp.c_str(), attributes_ & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED));
    const DWORD code = putInPlace(tmp, target);
    return code ? errorText(code) : std::string();
  }

  // The move is written through: the folder needs no sync of its own.
  void syncFolder(const fs::path&) override {}

  void remove(const fs::path& tmp) override { DeleteFileW(tmp.c_str()); }

 private:
  HANDLE h_ = INVALID_HANDLE_VALUE;
  DWORD attributes_ = INVALID_FILE_ATTRIBUTES;
};

}  // namespace

std::ifstream OpenForReading(const fs::path& path) {
  for (int attempt = 0;; ++attempt) {
    std::ifstream in(path, std::ios::binary);
    // A sharing violation reads as "permission denied"; a file that is gone is not waited for.
    if (in || errno != EACCES || attempt == 50) return in;
    Sleep(10);
  }
}

std::string CheckReplaceable(const fs::path& target, const fs::path& dir, bool exists) {
  if (exists) {
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
      return "the file is read-only";
  }
  // A folder's read-only attribute says nothing about writing in it (the system uses it for
  // folders it shows in its own way): the attempt to create a file tells.
  const DWORD folder = GetFileAttributesW(dir.c_str());
  if (folder == INVALID_FILE_ATTRIBUTES)
    return "cannot write in the folder " + PathToUtf8(dir) + ": " + lastErrorText();
  if (!(folder & FILE_ATTRIBUTE_DIRECTORY))
    return "cannot write in the folder " + PathToUtf8(dir) + ": it is not a folder";
  return {};
}

std::unique_ptr<SaveSteps> SystemSaveSteps() {
  return std::make_unique<WinSaveSteps>();
}

}  // namespace kline
