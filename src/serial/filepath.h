#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kline {

// File names are UTF-8 text everywhere in the program (the windows give them so, and so do the
// command line's arguments). The system's own form is UTF-16 on Windows, where a narrow name
// would be read in the ANSI code page and a user folder such as C:\Users\Jérôme lost: every
// file is opened through these.
std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string PathToUtf8(const std::filesystem::path& path);

}  // namespace kline
