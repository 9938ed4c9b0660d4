// The command line's inputs that the core parses: the --sim description, hex bytes, the port
// field, typed numbers and --do actions. A refusal is the documented exception with a reason;
// any other exception, a crash or a sanitizer report is a fault. Round trips are checked where
// the parsers promise them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>

#include "connection/portfield.h"
#include "livedata/numbers.h"
#include "scriptedaction.h"
#include "serial/byteexchange.h"
#include "sim/simconfig.h"

namespace {

using namespace kline;

void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "%s: %s\n", what, detail.c_str());
  __builtin_trap();
}

void SimDescription(const std::string& text) {
  try {
    SimConfig c = SimConfig::FromJson(text, EcuType::E15m);
    if (c.ignitionMs < 0 || c.latencyMs < 0 || c.latencyMs > 60000)
      Fail("description accepted out of range", text);
  } catch (const std::runtime_error& e) {
    if (std::strlen(e.what()) == 0) Fail("refusal without a reason", text);
  }
}

void HexBytes(const std::string& text) {
  try {
    ByteString b = ParseHexBytes(text);
    if (ParseHexBytes(ToHex(b)) != b) Fail("hex round trip", text);
  } catch (const std::invalid_argument&) {
  }
}

void PortText(const std::string& text) {
  PortField p = ParsePortField(text);
  // What the settings file stores reads back as the same port.
  PortField again = ParsePortField(p.text());
  if (again.kind != p.kind || again.text() != p.text()) Fail("port field round trip", text);
}

void Numbers(const std::string& text) {
  double v = Val(text);
  if (!std::isfinite(v)) Fail("Val not finite", text);
  int64_t r = RoundHalfEven(v);
  int32_t w = WholeNumber(text);
  int64_t clamped = r > INT32_MAX ? INT32_MAX : r < INT32_MIN ? INT32_MIN : r;
  if (w != clamped) Fail("WholeNumber differs from its rounding", text);
  if (std::fabs(v) < 1e15) {
    if (std::fabs(static_cast<double>(r) - v) > 0.5) Fail("rounding too far", text);
    // Plain form keeps 15 significant digits where no exponent is needed (from 1e-4 on, as
    // printf's shortest form): the windows' values are all in that range.
    if (std::fabs(v) >= 1e-4 || v == 0) {
      std::string plain = PlainForm(v);
      if (plain.find_first_of("eE") != std::string::npos ||
          std::fabs(Val(plain) - v) > std::fabs(v) * 1e-14)
        Fail("plain form round trip", text + " -> " + plain);
    }
    static const struct {
      const char* pattern;
      double step;
    } kPatterns[3] = {{"##.##", 0.01}, {"0.00", 0.01}, {"0.#", 0.1}};
    for (const auto& p : kPatterns) {
      std::string f = FormatNumber(v, p.pattern);
      if (std::fabs(Val(f) - v) > p.step / 2 + std::fabs(v) * 1e-14)
        Fail("formatted number too far", text + " -> " + f);
    }
  }
}

// The grammar of an action as a regular expression, for short texts only (the matcher recurses
// per character): the parser must accept exactly what it matches, with the same parts.
void ActionAsGrammar(const std::string& text, const std::optional<ScriptedAction>& parsed) {
  static const std::regex re(
      R"(^\s*(\d+)\s*:\s*(?:([A-Za-z_]\w*)\.)?([A-Za-z_]\w*(?:\(\d+\))?)(?:=(.*))?$)");
  std::smatch m;
  bool matches = std::regex_match(text, m, re);
  if (!matches) {
    if (parsed) Fail("action accepted against the grammar", text);
    return;
  }
  std::string t = m[1].str();
  bool inRange =
      t.find_first_not_of('0') == std::string::npos || t.size() - t.find_first_not_of('0') <= 13;
  if (inRange)
    inRange = std::stoull(t.substr(std::min(t.find_first_not_of('0'), t.size() - 1))) <= kMaxRunMs;
  if (!parsed) {
    if (inRange) Fail("action refused against the grammar", text);
    return;
  }
  if (parsed->window != (m[2].matched ? m[2].str() : "Form2") || parsed->control != m[3].str() ||
      parsed->value.has_value() != m[4].matched || (m[4].matched && *parsed->value != m[4].str()))
    Fail("action parts differ from the grammar", text);
}

void Action(const std::string& text) {
  std::optional<ScriptedAction> parsed;
  try {
    parsed = ParseScriptedAction(text);
    if (parsed->at > kMaxRunMs || parsed->control.empty() || parsed->window.empty())
      Fail("action accepted out of range", text);
  } catch (const std::invalid_argument&) {
  }
  if (text.size() <= 256) ActionAsGrammar(text, parsed);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte picks the parser: each sees the rest as the text it would get.
  std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 5) {
    case 0:
      SimDescription(text);
      break;
    case 1:
      HexBytes(text);
      break;
    case 2:
      PortText(text);
      break;
    case 3:
      Numbers(text);
      break;
    default:
      Action(text);
      break;
  }
  return 0;
}
