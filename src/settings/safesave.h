#pragma once

#include <filesystem>
#include <fstream>
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

// Puts `text` in place of `target` (made afresh when it does not exist; an existing file's
// permissions are kept where the system has them). Empty, or why not.
std::string ReplaceContent(const std::filesystem::path& target, const std::filesystem::path& dir,
                           const std::string& text, bool exists);

// Opens `path` to read it whole. While another program replaces the file, Windows refuses to open
// it for a few milliseconds: that is waited out, so a save elsewhere never reads as a missing file.
std::ifstream OpenForReading(const std::filesystem::path& path);

}  // namespace kline
