#include "helptext.h"

#include <sstream>

namespace kline {

namespace {

// The help's width: what the option list of CLI11 takes too.
constexpr std::size_t kWidth = 95;

// `text` broken at blanks into lines of at most kWidth columns (a longer word has its own line),
// the first after `indent`, the others after `more`.
std::string wrap(const std::string& text, const std::string& indent, const std::string& more) {
  std::istringstream words(text);
  std::string out, line;
  const std::string* lead = &indent;
  for (std::string w; words >> w;) {
    if (!line.empty() && lead->size() + line.size() + 1 + w.size() > kWidth) {
      out += *lead + line + "\n";
      line.clear();
      lead = &more;
    }
    line += (line.empty() ? "" : " ") + w;
  }
  if (!line.empty()) out += *lead + line + "\n";
  return out;
}

}  // namespace

std::string HelpExamples(std::span<const Example> examples) {
  std::string out = "\nExamples:\n";
  for (const Example& e : examples)
    out += wrap(e.command, "  ", "        ") + wrap(e.what, "      ", "      ");
  return out;
}

std::string HelpParagraphs(std::span<const char* const> paragraphs) {
  std::string out;
  for (const char* p : paragraphs) out += "\n" + wrap(p, "", "");
  return out;
}

std::string Roff(const std::string& text) {
  // Blanks at the start of a line would break it.
  const std::size_t from = text.find_first_not_of(" \n");
  const std::size_t to = text.find_last_not_of(" \n");
  std::string out;
  for (char c : from == std::string::npos ? "" : text.substr(from, to + 1 - from)) {
    if (c == '\\')
      out += "\\e";
    else if (c == '-')
      out += "\\-";
    else if (c == '\n')
      out += ' ';
    else
      out += c;
  }
  // A line that starts with a dot or an apostrophe would be a request.
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

std::string ManExamples(std::span<const Example> examples) {
  std::string out;
  for (const Example& e : examples)
    out += ".TP\n\\fB" + Roff(e.command) + "\\fR\n" + Roff(e.what) + "\n";
  return out;
}

std::string ManOptions(const CLI::App& app) {
  std::string out;
  for (const CLI::Option* o : app.get_options()) {
    if (o == app.get_help_ptr() || o->get_group().empty()) continue;
    std::string name = o->nonpositional() ? "\\fB" + Roff(o->get_name()) + "\\fR"
                                          : "\\fI" + Roff(o->get_name(true)) + "\\fR";
    if (o->nonpositional() && !o->get_type_name().empty()) name += " " + Roff(o->get_type_name());
    out += ".TP\n" + name + "\n" + Roff(o->get_description()) + "\n";
  }
  return out;
}

std::string ManParagraphs(std::span<const char* const> paragraphs) {
  std::string out;
  for (const char* p : paragraphs) out += ".PP\n" + Roff(p) + "\n";
  return out;
}

}  // namespace kline
