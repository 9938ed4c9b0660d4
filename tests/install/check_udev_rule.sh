#!/bin/sh
# Parses the package's udev rules as udev reads them: one rule a line, KEY OP "VALUE" pairs
# separated by commas, each key one udev knows, with an operator it takes (a match key compares,
# an assignment key assigns), every value quoted, a MODE in octal, and each rule both matching and
# assigning. Where udevadm has "verify", it checks the file too.
#   check_udev_rule.sh RULES_FILE
set -eu
rules=$1
awk '
function fail(why) { printf "%s:%d: %s: %s\n", FILENAME, NR, why, $0; bad = 1 }
BEGIN {
  split("ACTION DEVPATH KERNEL KERNELS SUBSYSTEM SUBSYSTEMS DRIVER DRIVERS ATTRS TAGS TEST " \
        "PROGRAM RESULT CONST", m); for (i in m) match_only[m[i]] = 1
  split("OWNER GROUP MODE SECLABEL RUN LABEL GOTO OPTIONS", a); for (i in a) assign_only[a[i]] = 1
  split("NAME SYMLINK ATTR SYSCTL ENV TAG IMPORT", e); for (i in e) either[e[i]] = 1
  split("ATTR ATTRS SYSCTL ENV TEST IMPORT CONST SECLABEL RUN", b); for (i in b) braces[b[i]] = 1
}
/^[ \t]*(#|$)/ { next }
/\\$/ { fail("continued line"); next }
{
  rest = $0; matches = 0; assigns = 0
  while (rest != "") {
    if (!match(rest, /^[A-Z_]+(\{[^}"]+\})?(==|!=|\+=|-=|:=|=)"[^"]*"/)) {
      fail("not KEY OP \"VALUE\" at \"" rest "\""); break
    }
    token = substr(rest, 1, RLENGTH); rest = substr(rest, RLENGTH + 1)
    key = token; sub(/[{=!+:\-].*/, "", key)
    op = token; sub(/^[A-Z_]+(\{[^}"]+\})?/, "", op); value = op
    sub(/".*/, "", op); sub(/^[^"]*"/, "", value); sub(/"$/, "", value)
    if (!(key in match_only) && !(key in assign_only) && !(key in either)) fail("unknown key " key)
    if ((token ~ /^[A-Z_]+\{/) != (key in braces) && !(key == "RUN" || key == "IMPORT"))
      fail(key " with or without {} as udev does not take it")
    if (op == "==" || op == "!=") { matches++; if (key in assign_only) fail(key " cannot be compared") }
    else { assigns++; if (key in match_only) fail(key " cannot be assigned") }
    if (key == "MODE" && value !~ /^0[0-7][0-7][0-7]$/) fail("MODE not four octal digits: " value)
    if (rest == "") break
    if (!sub(/^, */, "", rest) || rest == "") { fail("no comma between keys"); break }
  }
  if (!matches || !assigns) fail("a rule must match and assign")
  rules++
}
END { if (!rules) { print FILENAME ": no rule"; bad = 1 } exit bad }
' "$rules"
if command -v udevadm >/dev/null 2>&1 && udevadm verify --help >/dev/null 2>&1; then
  udevadm verify --no-summary "$rules"
fi
