#!/bin/sh
# Runs mkxmlpkg on the bundled example product and shows what it made.
#
#   sh examples/demo.sh BINDIR [SCRATCH]
#
# BINDIR holds the built programs (mkxmlpkg among them). The example tree
# examples/hello is copied into SCRATCH (default: a new directory under
# ${TMPDIR:-/tmp}), which is left in place for a closer look. The exit
# status is mkxmlpkg's.
set -e

usage() {
  echo "usage: sh examples/demo.sh BINDIR [SCRATCH]" >&2
  exit 2
}
[ $# -ge 1 ] && [ $# -le 2 ] || usage
bindir=$1
[ -x "$bindir/mkxmlpkg" ] || { echo "demo.sh: no program $bindir/mkxmlpkg (run make release first)" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)

if [ $# -eq 2 ]; then
  scratch=$2
  rm -rf "$scratch"
  mkdir -p "$scratch"
else
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/corvane-demo.XXXXXX")
fi
scratch=$(cd "$scratch" && pwd)

# The product tree: two packages, hello-1.0 and greet-0.3. Symbolic links
# are copied as links; git keeps no hard links, so hello's second name hi
# is made here.
cp -RP "$here/hello/dist" "$scratch/dist"
ln "$scratch/dist/hello-1.0/usr/bin/hello" "$scratch/dist/hello-1.0/usr/bin/hi"

echo "Example product in $scratch/dist:"
(cd "$scratch/dist" && find . -mindepth 1 \( -type l -printf '    %P -> %l\n' \) -o -printf '    %P\n' | sort)
echo
# The control file names the packages and their component, gives attributes
# by pattern and per file, removes, creates and exports entries.
echo "Running: mkxmlpkg -d $scratch -P HELLO -V 1.0 -D \"Hello tools\" -p examples/hello.ctl"
status=0
"$bindir/mkxmlpkg" -d "$scratch" -P HELLO -V 1.0 -D "Hello tools" -p "$here/hello.ctl" \
  2>"$scratch/messages" || status=$?
# Its reports (INFO and any others) go to standard error.
sed '/^$/d' "$scratch/messages"
echo
if [ "$status" -ne 0 ]; then
  echo "mkxmlpkg failed with status $status; nothing to show."
  exit "$status"
fi
echo "The manual page source usr/man/man1/hello.1 is left out: unformatted pages"
echo "are not packaged (format them with tessel first, or keep them with -m)."
echo
echo "The XML description is $scratch/HELLO.xml:"
echo
cat "$scratch/HELLO.xml"
