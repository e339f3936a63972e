#!/bin/sh
# Times how the cost of each program grows with the size of input shapes
# that stress one list, chain or lookup each (see bench/genshape.cpp), and
# judges the growth against the work the run cannot avoid.
#   sh bench/shapes.sh BINDIR
# Each shape is built at two sizes n1 and n2 (four times apart); each
# program runs on both, in ROUNDS alternating rounds, and the medians t1 and
# t2 give the growth exponent of the time, e(time) = log(t2/t1) / log(n2/n1).
# The time is processor time, user and system (CLOCK=wall: elapsed time):
# the trees are cached and the work is the program's own, while on a shared
# machine the elapsed time of a run that writes a few thousand files is
# mostly waiting for a disk that other jobs keep busy. e(wall), the
# exponent of the elapsed time, is printed beside it.
# The work is the entries below dist plus the lines the run writes (output
# files and messages), w1 and w2, with e(work) likewise; for the dependency
# chain it is the size of the completed dependency lists, n(n-1)/2. The
# figure judged is the time's exponent beyond the work's:
#   e(norm) = e(time) - (e(work) - 1),
# which is 1.0 for a time that grows as the work does, and must be at most
# LIMIT. e(bytes) is the exponent of the output's size, for reference: a
# deep tree's paths make its output grow faster than its line count.
# Environment: SHAPES_DIR (default /tmp/corvane-shapes), SHAPES (names of
# the shapes to run, default all), ROUNDS (default 3), LIMIT (default
# 1.25), TIMEOUT (seconds one run may take, default 600), SIZES_<shape>
# ("n1 n2", to override a shape's sizes), CLOCK (cpu or wall, default cpu).
set -eu

BIN=$(cd "${1:?usage: shapes.sh BINDIR}" && pwd)
SHAPES_DIR=${SHAPES_DIR:-/tmp/corvane-shapes}
ROUNDS=${ROUNDS:-3}
LIMIT=${LIMIT:-1.25}
TIMEOUT=${TIMEOUT:-600}
CLOCK=${CLOCK:-cpu}
case $CLOCK in cpu|wall) ;; *) echo "CLOCK must be cpu or wall" >&2; exit 2 ;; esac

# Shape, its two sizes, and what its size counts. The sizes keep the
# smaller run at a tenth of a second or more where the shape allows, so
# that the start-up of a process does not flatten the exponent.
SHAPE_TABLE='
packages     1500  6000  packages of 10 files each
components   2000  8000  packages each in its own component (-c)
subpkgchain  2000  8000  packages in a subpackage chain
depchain      300  1200  components in a dependency chain
symlinks    15000 60000  symbolic links to one file
hashpath     5000 20000  files with one installed-path hash, each a link target
hashabs      4000 16000  files with one build-path hash, each declared
addexport   10000 40000  addexport() statements on one file
deep         2000  8000  levels of one directory and one file
remove      10000 40000  remove() statements in one package
verbatim    10000 40000  verbatim() lines in one package
define       5000 20000  define() macros, each used once
'
SHAPES=${SHAPES:-$(echo "$SHAPE_TABLE" | awk 'NF {print $1}')}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
sizes_of() {
  eval "own=\${SIZES_$1:-}"
  if [ -n "$own" ]; then echo "$own"; else echo "$SHAPE_TABLE" | awk -v s="$1" '$1 == s {print $2, $3}'; fi
}

programs() {
  for p in mkxmlpkg mkpkg mkkest; do
    [ -x "$BIN/$p" ] && echo "$p"
  done
}

# Command line of a program on the tree of `base`: the options of
# bench/run.sh, the shape's control file, and -c for the components.
program_cmd() {
  p=$1 shape=$2 base=$3
  case $p in
    mkxmlpkg) cmd="$BIN/mkxmlpkg -W" ;;
    mkpkg) cmd="$BIN/mkpkg -W -U application" ;;
    mkkest) cmd="$BIN/mkkest -W -l -E bench" ;;
  esac
  cmd="$cmd -d $base -P BENCH -V 1 -D bench"
  [ ! -f "$base.ctl" ] || cmd="$cmd -p $base.ctl"
  [ "$shape" != components ] || cmd="$cmd -c"
  echo "$cmd"
}

# The exit status a run of the shape must end with: the pkgadd backend
# refuses container packages, so it is timed up to that refusal.
expected_status() {
  if [ "$1" = mkpkg ] && [ "$2" = subpkgchain ]; then echo 1; else echo 0; fi
}

# Removes what a run wrote next to dist.
clean_outputs() {
  for f in "$1"/* "$1"/.[!.]*; do
    case ${f##*/} in dist|'*'|'.[!.]*') ;; *) rm -rf "$f" ;; esac
  done
  mkdir -p "$1/input"
}

# Lines and bytes a run wrote: every file next to dist, and its messages.
written() {
  find "$1" -path "$1/dist" -prune -o -type f -print0 | xargs -0 -r cat | cat - "$2" | wc -lc
}

make_shape() {
  shape=$1 n=$2 base=$3
  [ -f "$base.entries" ] && return 0
  rm -rf "$base" "$base.ctl"
  "$BIN/corvane-genshape" "$shape" "$base" "$n" > "$base.entries.new"
  mv "$base.entries.new" "$base.entries"
}

# One timed run: its processor seconds (user and system) are appended to
# file $1.cpu, its elapsed seconds to $1.wall. A run that times out counts
# as what it took until then.
timed() {
  out=$1; shift
  rm -f "$out.last"
  "$BIN/corvane-timerun" "$out.last" "$TIMEOUT" "$@"
  awk '{print $2}' "$out.last" >> "$out.cpu"
  awk '{print $1}' "$out.last" >> "$out.wall"
}

exponent() { echo "$1 $2 $3 $4" | awk '{printf "%.2f", log($2/$1)/log($4/$3)}'; }

mkdir -p "$SHAPES_DIR"
SHAPES_DIR=$(cd "$SHAPES_DIR" && pwd -P)
echo "corvane shapes benchmark: $(nproc) cores, trees in $SHAPES_DIR, medians of $ROUNDS rounds, $CLOCK time"
echo "e(norm) = e(time) - (e(work) - 1); work = entries + lines written (depchain: completed lists)"
printf '%-11s %-8s %6s %6s %8s %8s %9s %9s %7s %7s %7s %7s %7s %s\n' shape program n1 n2 "t1 s" "t2 s" \
  w1 w2 "e(time)" "e(work)" "e(norm)" "e(wall)" "e(bytes)" verdict
failed=0 fails=0
for shape in $SHAPES; do
  set -- $(sizes_of "$shape")
  [ $# -eq 2 ] || { echo "$shape: no such shape"; failed=1; continue; }
  n1=$1 n2=$2
  for n in $n1 $n2; do make_shape "$shape" "$n" "$SHAPES_DIR/$shape-$n"; done
  rm -f "$SHAPES_DIR"/t.*
  # An untimed run of each program at each size checks its exit status and
  # counts what it writes; it also warms the cache.
  runnable=
  for p in $(programs); do
    ok=yes
    for n in $n1 $n2; do
      base="$SHAPES_DIR/$shape-$n"; log="$SHAPES_DIR/$shape-$n.$p.log"
      clean_outputs "$base"
      status=0; timeout "$TIMEOUT" $(program_cmd "$p" "$shape" "$base") > "$log" 2>&1 || status=$?
      if [ "$status" != "$(expected_status "$p" "$shape")" ]; then
        echo "$shape: $p ended with status $status at $n, see $log"; ok=; failed=1
      fi
      written "$base" "$log" > "$SHAPES_DIR/t.written.$p.$n"
    done
    [ -z "$ok" ] || runnable="$runnable $p"
  done
  i=0
  while [ $i -lt "$ROUNDS" ]; do
    for p in $runnable; do
      for n in $n1 $n2; do
        timed "$SHAPES_DIR/t.$p.$n" $(program_cmd "$p" "$shape" "$SHAPES_DIR/$shape-$n")
      done
    done
    i=$((i + 1))
  done
  for p in $runnable; do
    t1=$(median < "$SHAPES_DIR/t.$p.$n1.$CLOCK"); t2=$(median < "$SHAPES_DIR/t.$p.$n2.$CLOCK")
    ewall=$(exponent "$(median < "$SHAPES_DIR/t.$p.$n1.wall")" "$(median < "$SHAPES_DIR/t.$p.$n2.wall")" "$n1" "$n2")
    read l1 b1 < "$SHAPES_DIR/t.written.$p.$n1"; read l2 b2 < "$SHAPES_DIR/t.written.$p.$n2"
    if [ "$shape" = depchain ]; then
      w1=$((n1 * (n1 - 1) / 2)); w2=$((n2 * (n2 - 1) / 2))
    else
      w1=$(($(cat "$SHAPES_DIR/$shape-$n1.entries") + l1)); w2=$(($(cat "$SHAPES_DIR/$shape-$n2.entries") + l2))
    fi
    et=$(exponent "$t1" "$t2" "$n1" "$n2"); ew=$(exponent "$w1" "$w2" "$n1" "$n2")
    en=$(echo "$et $ew" | awk '{printf "%.2f", $1 - ($2 - 1)}')
    verdict=$(echo "$en $LIMIT" | awk '{print ($1 <= $2) ? "PASS" : "FAIL"}')
    [ "$verdict" = PASS ] || fails=$((fails + 1))
    [ "$(expected_status "$p" "$shape")" = 0 ] || verdict="$verdict (timed to its refusal, status 1)"
    printf '%-11s %-8s %6d %6d %8.3f %8.3f %9d %9d %7s %7s %7s %7s %7s %s\n' "$shape" "$p" "$n1" "$n2" \
      "$t1" "$t2" "$w1" "$w2" "$et" "$ew" "$en" "$ewall" "$(exponent "$b1" "$b2" "$n1" "$n2")" "$verdict"
  done
  rm -f "$SHAPES_DIR"/t.*
done
echo "$fails shape runs grow faster than e(norm) $LIMIT"
exit $failed
