#pragma once

// The texts of the help and of the man page from one source: each example and each note is
// written once, in a table, and shown by `--help` as text and by `--man-sections` as the man
// page's sections, so that help2man need not guess their layout (it joins lines it takes for a
// paragraph).
#include <CLI/CLI.hpp>
#include <span>
#include <string>

namespace kline {

// A command line and what it does.
struct Example {
  const char* command;
  const char* what;
};

// "Examples:" and each command with what it does below it, indented, for a help's footer.
std::string HelpExamples(std::span<const Example> examples);
// Each paragraph wrapped to the help's width, a blank line before each.
std::string HelpParagraphs(std::span<const char* const> paragraphs);

// Text set as roff: backslashes and minus signs escaped, no line taken for a request.
std::string Roff(const std::string& text);
// Each example as a tagged paragraph of the man page: the command in bold on its own line.
std::string ManExamples(std::span<const Example> examples);
// The options of `app` (but --help) as tagged paragraphs: name, its value's kind, what it does.
std::string ManOptions(const CLI::App& app);
// Each paragraph as a paragraph of the man page.
std::string ManParagraphs(std::span<const char* const> paragraphs);

}  // namespace kline
