#!/bin/sh
# Installs the build into a scratch prefix, then checks what a native install needs: the
# programs answer --version with "PROGRAM VERSION", keep their settings in the user's
# configuration folder (a copy in a folder of its own keeps them beside it), and the desktop
# entry, icon, metainfo, udev rule (Linux) and (when the build made them) man pages are where the
# desktop, udev and man look for them, klinediag-cli's page with each subcommand's options and one example a line.
#   check_install.sh BUILD_DIR VERSION WITH_MAN(0|1)
set -eu
build=$1 version=$2 with_man=$3
prefix=$(mktemp -d)
home=$(mktemp -d)
# The build's list of what the user's own install wrote (the README removes an install by it)
# stays as it was.
manifest=$build/install_manifest.txt
if [ -e "$manifest" ]; then cp "$manifest" "$home/manifest"; fi
trap 'if [ -e "$home/manifest" ]; then cp "$home/manifest" "$manifest"; else rm -f "$manifest"; fi
rm -rf "$prefix" "$home"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

fail=0
for program in klinediag-cli klinediag-sim; do
  got=$("$prefix/bin/$program" --version 2>&1) || true
  if [ "$got" != "$program $version" ]; then
    echo "$program --version printed \"$got\", expected \"$program $version\""
    fail=1
  fi
done
# A run that saves its settings (at load and at Connect), with a home of its own.
saves() {
  HOME=$home XDG_CONFIG_HOME=$home/config "$1" --port sim --virtual-time --duration 10 \
    >/dev/null || echo "$1 --port sim failed"
}
saves "$prefix/bin/klinediag-cli"
if [ ! -s "$home/config/klinediag-cli/klinediag-cli.ini" ] || [ -e "$prefix/bin/klinediag-cli.ini" ]
then
  echo "the installed klinediag-cli did not keep its settings in the configuration folder"
  fail=1
fi
mkdir "$home/unpacked"
cp "$prefix/bin/klinediag-cli" "$home/unpacked/"
saves "$home/unpacked/klinediag-cli"
if [ ! -s "$home/unpacked/klinediag-cli.ini" ]; then
  echo "klinediag-cli in a folder of its own did not keep its settings beside it"
  fail=1
fi

id=org.klinediag.klinediag
set -- "share/applications/$id.desktop" "share/icons/hicolor/scalable/apps/$id.svg" \
  "share/metainfo/$id.metainfo.xml"
if [ "$with_man" = 1 ]; then
  for program in klinediag klinediag-cli klinediag-sim; do
    set -- "$@" "share/man/man1/$program.1.gz"
  done
fi
if [ "$(uname -s)" = Linux ]; then set -- "$@" lib/udev/rules.d/60-klinediag.rules; fi
for file in bin/klinediag "$@"; do
  if [ ! -s "$prefix/$file" ]; then
    echo "missing after install: $file"
    fail=1
  fi
done
if [ "$with_man" = 1 ]; then
  for program in klinediag klinediag-cli klinediag-sim; do
    gzip -dc "$prefix/share/man/man1/$program.1.gz" 2>/dev/null | grep -q "^\.TH.*$version" ||
      { echo "$program.1.gz is not a man page of version $version"; fail=1; }
  done
  # Rendered wide, so that a line that holds two examples, or an option with another's text,
  # shows.
  page=$(gzip -dc "$prefix/share/man/man1/klinediag-cli.1.gz" |
    groff -man -Tutf8 -rLL=200n -P-cbou 2>/dev/null | sed 's/^ *//')
  for option in "--count UINT" "--format TEXT" "--json" "--timeout UINT" "--yes"; do
    printf '%s\n' "$page" | grep -q -e "^$option" ||
      { echo "man klinediag-cli has no option $option"; fail=1; }
  done
  for example in "klinediag-cli live --port sim --count 20" "klinediag-cli test fuel --port sim" \
    "klinediag-cli ports --json" "klinediag-cli --replay live.csv"; do
    printf '%s\n' "$page" | grep -qxF -e "$example" ||
      { echo "man klinediag-cli has no line of its own for $example"; fail=1; }
  done
  gzip -dc "$prefix/share/man/man1/klinediag.1.gz" | groff -man -Tutf8 -P-cbou 2>/dev/null |
    grep -q "Live data" || { echo "man klinediag does not describe the window"; fail=1; }
fi
exit $fail
