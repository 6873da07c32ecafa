#!/usr/bin/env bash
# Makes the Debian package from a build directory, checks it with lintian where that is
# installed, unpacks it into a scratch root, runs the installed program on a sample and
# renders the installed manual page. With --zip, checks the Windows .zip instead: the program
# and the licence are in it.
#   package_test.sh BUILD_DIR SAMPLES_DIR      (exit 77: skipped, a tool is missing)
#   package_test.sh --zip ZIP_FILE
set -euo pipefail
licence=$(dirname "$0")/../LICENSE
if [ "${1:-}" = --zip ]; then
    zip=$2
    # The listing is read whole first: grep -q stops at the first match, and with pipefail
    # the listing's SIGPIPE would then read as a failure whenever more names follow.
    names=$(unzip -Z1 "$zip")
    grep -q '/bin/morvane\.exe$' <<<"$names" || { echo "no bin/morvane.exe in $zip"; exit 1; }
    unzip -p "$zip" '*/LICENSE' | cmp - "$licence" || { echo "no LICENSE in $zip"; exit 1; }
    echo "package $(basename "$zip"): program and licence are in it"
    exit 0
fi
build=$1
samples=$2
for tool in cpack:cmake dpkg:dpkg man:man-db; do
    command -v "${tool%%:*}" >/dev/null ||
        { echo "skipped: ${tool%%:*} is not installed (install ${tool#*:})"; exit 77; }
done
scratch=$(mktemp -d /tmp/morvane-package-XXXXXX)
trap 'rm -rf "$scratch"' EXIT

(cd "$build" && cpack -G DEB -B "$scratch/package" >/dev/null)
deb=$(ls "$scratch"/package/*.deb)
if command -v lintian >/dev/null; then
    # Debian's own checker: no error may remain (warnings and notes are printed).
    lintian --fail-on error "$deb" || { echo "lintian finds errors in $(basename "$deb")"; exit 1; }
else
    echo "lintian is not installed (install lintian): the package is not checked by it"
fi
dpkg -x "$deb" "$scratch/root"
program=$scratch/root/usr/bin/morvane
page=$scratch/root/usr/share/man/man1/morvane.1.gz
test -x "$program" || { echo "no usr/bin/morvane in $deb"; exit 1; }
test -f "$page" || { echo "no usr/share/man/man1/morvane.1.gz in $deb"; exit 1; }
for doc in copyright changelog.gz; do
    test -f "$scratch/root/usr/share/doc/morvane/$doc" || { echo "no usr/share/doc/morvane/$doc"; exit 1; }
done
# The licence, in Debian's form: the MIT licence under its Debian name, Expat.
copyright=$scratch/root/usr/share/doc/morvane/copyright
grep -q '^License: Expat$' "$copyright" || { echo "the copyright file names no Expat licence"; exit 1; }
grep -q 'Permission is hereby granted, free of charge' "$copyright" ||
    { echo "the copyright file lacks the licence text"; exit 1; }
if command -v file >/dev/null; then
    [[ $(file -b "$program") == *", stripped"* ]] || { echo "usr/bin/morvane is not stripped"; exit 1; }
fi

# The installed program cuts frames 32 to 63 of the 48 kHz sample (768 bytes each).
mkdir "$scratch/work"
cp "$samples/sample_48k.ac3" "$scratch/work/in.ac3"
(cd "$scratch/work" && "$program" in.ac3 1 2 >console.txt)
test "$(tail -c 6 "$scratch/work/console.txt")" = $'\nokay' || { echo "no okay"; exit 1; }
cmp <(tail -c +$((31 * 768 + 1)) "$scratch/work/in.ac3" | head -c $((32 * 768))) \
    "$scratch/work/morvane_in.ac3"

# The page renders without a warning and holds every section a reader looks for.
MANWIDTH=80 man --warnings -l "$page" >"$scratch/page.txt" 2>"$scratch/warnings.txt"
if [ -s "$scratch/warnings.txt" ]; then
    cat "$scratch/warnings.txt"
    exit 1
fi
for text in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" EXAMPLES "morvane infile from_second to_second" \
    "could not open" "errors while writing to" "morvane_sub/clip.ac3" "v1.01"; do
    grep -q -- "$text" "$scratch/page.txt" || { echo "the page lacks: $text"; exit 1; }
done
echo "package $(basename "$deb"): program and manual page work"
