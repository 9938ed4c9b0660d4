#pragma once

// Helpers of the settings file's tests: whole-file reads and writes, and big versions of the file
// that a torn or mixed save cannot pass for.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace kline::test {

inline std::string slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void spit(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A settings file of a few hundred KB, its [Hardware] section first; `fill` tells the versions
// apart, and a torn or mixed file matches none of them.
constexpr std::size_t kBlob = 300000;
inline std::string bigSettings(char fill) {
  return "[Hardware]\r\nCom=3\r\nEcu=1\r\n\r\n[Data]\r\nBlob=" + std::string(kBlob, fill) +
         "\r\nEnd=1\r\n";
}
inline bool isVersion(const std::string& text, const std::string& fills) {
  auto blob = text.find("Blob=");
  if (blob == std::string::npos || (blob += 5) >= text.size()) return false;
  return fills.find(text[blob]) != std::string::npos && text == bigSettings(text[blob]);
}

// The names in the folder of `path`.
inline std::vector<std::string> folderEntries(const std::filesystem::path& path) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(path.parent_path(), ec))
    names.push_back(e.path().filename().string());
  return names;
}

}  // namespace kline::test
