#pragma once

#include <functional>
#include <string>

namespace kline {

// The settings file: one value per call, INI semantics of a private-profile reader. Sections and
// keys match without regard to case; blanks around names and values are dropped; other sections,
// keys and lines stay as they were. Nothing is cached: every call goes to the file.
// A file that cannot be read as text (unreadable, binary or huge) reads as missing values and is
// never rewritten. A write goes to a temporary file of its own beside the file, synced to disk,
// that then replaces the old one: a crash, a full disk or another program saving at the same
// time never leaves a truncated or mixed file. A path that is a symbolic link updates the link's
// target; a read-only file or folder is left as it is.
class IniFile {
 public:
  explicit IniFile(std::string path) : path_(std::move(path)) {}
  const std::string& path() const { return path_; }

  // The value, cut to 254 characters; empty when the file, section or key does not exist.
  std::string read(const std::string& section, const std::string& key) const;
  // Creates the file, section or key as needed. Returns false when nothing could be written.
  bool write(const std::string& section, const std::string& key, const std::string& value) const;

  // Why the last write failed; empty after one that succeeded.
  const std::string& lastError() const { return lastError_; }
  // `report` hears of the first failed write of this file's life, once: the user is told that
  // the settings are not kept, not at every save. A failure from before the call is reported at
  // once. Reporting is no part of the file's content, so a const IniFile takes it.
  void onFirstFailure(std::function<void(const std::string& reason)> report) const;

  static constexpr std::size_t kMaxBytes = 1 << 20;
  static constexpr std::size_t kMaxValue = 254;

 private:
  bool fail(std::string why) const;
  void tellFirstFailure() const;

  std::string path_;
  mutable std::string lastError_;
  mutable std::string firstError_;
  mutable bool unreported_ = false;
  mutable std::function<void(const std::string&)> report_;
};

}  // namespace kline
