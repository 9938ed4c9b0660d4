#!/bin/sh
# Installs the build into a scratch prefix, then checks what a native install needs: the
# programs answer --version with "PROGRAM VERSION", and the desktop entry, icon, metainfo and
# (when the build made them) man pages are where the desktop and man look for them.
#   check_install.sh BUILD_DIR VERSION WITH_MAN(0|1)
set -eu
build=$1 version=$2 with_man=$3
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

fail=0
for program in klinediag-cli klinediag-sim; do
  got=$("$prefix/bin/$program" --version 2>&1) || true
  if [ "$got" != "$program $version" ]; then
    echo "$program --version printed \"$got\", expected \"$program $version\""
    fail=1
  fi
done
id=org.klinediag.klinediag
set -- "share/applications/$id.desktop" "share/icons/hicolor/scalable/apps/$id.svg" \
  "share/metainfo/$id.metainfo.xml"
if [ "$with_man" = 1 ]; then
  for program in klinediag klinediag-cli klinediag-sim; do
    set -- "$@" "share/man/man1/$program.1.gz"
  done
fi
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
fi
exit $fail
