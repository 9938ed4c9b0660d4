#pragma once

#include <string>

namespace kline {

// The settings file: one value per call, INI semantics of a private-profile reader. Sections and
// keys match without regard to case; blanks around names and values are dropped; other sections,
// keys and lines stay as they were. Nothing is cached: every call goes to the file.
// A file that cannot be read as text (unreadable, binary or huge) reads as missing values and is
// never rewritten. A write goes to a temporary file that then replaces the old one, so a crash or
// a full disk never leaves a truncated file.
class IniFile {
 public:
  explicit IniFile(std::string path) : path_(std::move(path)) {}
  const std::string& path() const { return path_; }

  // The value, cut to 254 characters; empty when the file, section or key does not exist.
  std::string read(const std::string& section, const std::string& key) const;
  // Creates the file, section or key as needed. Returns false when nothing could be written.
  bool write(const std::string& section, const std::string& key, const std::string& value) const;

  static constexpr std::size_t kMaxBytes = 1 << 20;
  static constexpr std::size_t kMaxValue = 254;

 private:
  std::string path_;
};

}  // namespace kline
