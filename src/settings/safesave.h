#pragma once

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace kline {

// Replacing a small file's whole content so that a crash, a full disk or another program saving
// at the same time never leaves it truncated or mixed: the new text goes to a file of its own
// beside the target, synced to disk, which then takes the target's place in one step. How each
// system does it lives in safesave_unix.cpp and safesave_win.cpp.

// Empty when `target` (which exists when `exists`) may be replaced by a file made in `dir`; else
// why not, in words for the user. A file nobody may write is meant to stay as it is.
std::string CheckReplaceable(const std::filesystem::path& target, const std::filesystem::path& dir,
                             bool exists);

// The system calls of one save, in the order ReplaceContent makes them: create the new file,
// write it, sync it to disk, close it, rename it over the target, sync the folder (remove the new
// file instead of renaming it when a step fails). Each returns empty, or the system's words for
// why not. One object serves one save; the system's own is the default, a test may watch it.
class SaveSteps {
 public:
  virtual ~SaveSteps() = default;
  // A file of its own beside `target` (name.XXXXXX), named in `tmp`; a replacement keeps the old
  // file's owner and mode where the system has them.
  virtual std::string create(const std::filesystem::path& target, bool exists,
                             std::filesystem::path& tmp) = 0;
  virtual std::string write(const std::string& text) = 0;  // all of it
  virtual std::string sync() = 0;                          // the written bytes to the disk
  virtual std::string close() = 0;
  virtual std::string rename(const std::filesystem::path& tmp,
                             const std::filesystem::path& target) = 0;  // in one step
  // Makes the rename itself durable where the system needs it; the rename is done either way.
  virtual void syncFolder(const std::filesystem::path& dir) = 0;
  virtual void remove(const std::filesystem::path& tmp) = 0;
};

// The system's steps (safesave_unix.cpp, safesave_win.cpp).
std::unique_ptr<SaveSteps> SystemSaveSteps();

// Puts `text` in place of `target` (made afresh when it does not exist; an existing file's
// permissions are kept where the system has them). Empty, or why not; the target is as it was
// unless the rename was done.
std::string ReplaceContent(const std::filesystem::path& target, const std::filesystem::path& dir,
                           const std::string& text, bool exists);
std::string ReplaceContent(const std::filesystem::path& target, const std::filesystem::path& dir,
                           const std::string& text, bool exists, SaveSteps& steps);

// Opens `path` to read it whole. While another program replaces the file, Windows refuses to open
// it for a few milliseconds: that is waited out, so a save elsewhere never reads as a missing file.
std::ifstream OpenForReading(const std::filesystem::path& path);

}  // namespace kline
