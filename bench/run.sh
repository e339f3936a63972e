#!/bin/sh
# Times corvane against the cost of reading the same metadata with find.
#   sh bench/run.sh BINDIR
# Environment: BENCH_DIR (where the trees go, default /tmp/corvane-bench),
# SIZES (entries per tree, default "100000 1000000"), PAIRS (timed pairs
# per program, default 5), REF_BIN (a second bin directory whose output on
# the smallest tree must be byte-identical).
set -eu

BIN=$(cd "${1:?usage: run.sh BINDIR}" && pwd)
BENCH_DIR=${BENCH_DIR:-/tmp/corvane-bench}
SIZES=${SIZES:-"100000 1000000"}
PAIRS=${PAIRS:-5}
REF_BIN=${REF_BIN:-}

now() { date +%s.%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# Command line of each backend that is built in.
backend_cmd() {
  case $1 in
    mkxmlpkg) echo "$BIN/mkxmlpkg -W -d $2 -P BENCH -V 1 -D bench" ;;
    mkpkg) echo "$BIN/mkpkg -W -U application -d $2 -P BENCH -V 1 -D bench" ;;
    mkkest) echo "$BIN/mkkest -W -l -E bench -d $2 -P BENCH -V 1 -D bench" ;;
  esac
}

# Programs whose backend writes output (a placeholder backend is skipped).
programs() {
  for p in mkxmlpkg mkpkg mkkest; do
    [ -x "$BIN/$p" ] && echo "$p"
  done
}

mkdir -p "$BENCH_DIR"
echo "corvane benchmark: $(nproc) cores, trees in $BENCH_DIR"
lower_bound() { find "$1/dist" -printf '%p %m %U %G %s %i %n %l\n' > /dev/null; }

first=$(echo $SIZES | awk '{print $1}'); last=$(echo $SIZES | awk '{print $NF}')
for n in $SIZES; do
  base="$BENCH_DIR/tree-$n"
  if [ ! -f "$base/.entries" ]; then
    rm -rf "$base"
    "$BIN/corvane-gentree" "$base" "$n" > "$base.count"
    mv "$base.count" "$base/.entries"
  fi
  lower_bound "$base"   # warm the cache
done

# One timed run of a command, its seconds appended to file $1.
timed() {
  out=$1; shift
  t0=$(now); "$@" > /dev/null 2>&1; t1=$(now)
  echo "$t1 $t0" | awk '{print $1-$2}' >> "$out"
}

# The sizes take turns within every round, so that a change in the load of
# a shared machine during the run reaches every size alike instead of
# landing in the growth figure; a smaller tree is timed several times a
# round, as its short runs carry more noise.
rm -f "$BENCH_DIR"/t.*
for p in $(programs); do
  ok=yes
  for n in $SIZES; do
    cmd=$(backend_cmd "$p" "$BENCH_DIR/tree-$n")
    $cmd > /dev/null 2> "$BENCH_DIR/$p-$n.log" || { echo "$p failed, see $BENCH_DIR/$p-$n.log"; ok=; }
  done
  [ -n "$ok" ] || continue
  i=0
  while [ $i -lt "$PAIRS" ]; do
    for n in $SIZES; do
      base="$BENCH_DIR/tree-$n"
      reps=$((last / n / 3)); [ $reps -ge 1 ] || reps=1
      while [ $reps -gt 0 ]; do
        timed "$BENCH_DIR/t.$p.$n" $(backend_cmd "$p" "$base")
        timed "$BENCH_DIR/t.find.$p.$n" lower_bound "$base"
        reps=$((reps - 1))
      done
    done
    i=$((i + 1))
  done
done

printf '%-9s %9s %9s %9s %7s %9s\n' program entries "find s" "prog s" ratio "B/entry"
for n in $SIZES; do
  base="$BENCH_DIR/tree-$n"
  entries=$(cat "$base/.entries")
  for p in $(programs); do
    [ -f "$BENCH_DIR/t.$p.$n" ] || continue
    tf=$(median < "$BENCH_DIR/t.find.$p.$n")
    tp=$(median < "$BENCH_DIR/t.$p.$n")
    rss=$(/usr/bin/time -v $(backend_cmd "$p" "$base") 2>&1 >/dev/null | awk -F: '/Maximum resident/ {print $2+0}')
    printf '%-9s %9d %9.3f %9.3f %7.2f %9.0f\n' "$p" "$entries" "$tf" "$tp" \
      "$(echo "$tp $tf" | awk '{print $1/$2}')" "$(echo "$rss $entries" | awk '{print $1*1024/$2}')"
  done
done

# Growth of each program's time from the smallest to the largest tree, and
# of find's over the same rounds, which shows what the kernel's own cost
# does between the two sizes.
if [ "$first" != "$last" ]; then
  for p in $(programs); do
    [ -f "$BENCH_DIR/t.$p.$first" ] && [ -f "$BENCH_DIR/t.$p.$last" ] || continue
    a=$(median < "$BENCH_DIR/t.$p.$first"); b=$(median < "$BENCH_DIR/t.$p.$last")
    fa=$(median < "$BENCH_DIR/t.find.$p.$first"); fb=$(median < "$BENCH_DIR/t.find.$p.$last")
    echo "$p growth $first -> $last: $(echo "$b $a" | awk '{printf "%.2f", $1/$2}')x" \
      "(find: $(echo "$fb $fa" | awk '{printf "%.2f", $1/$2}')x)"
  done
fi
rm -f "$BENCH_DIR"/t.*

# Same output as a reference build on the smallest tree: every file the
# run writes next to dist, and its messages.
clean_outputs() {
  for f in "$1"/* "$1"/.[!.]*; do
    case ${f##*/} in dist|.entries|'*'|'.[!.]*') ;; *) rm -rf "$f" ;; esac
  done
  mkdir -p "$1/input"
}
keep_outputs() {
  rm -rf "$2"; mkdir -p "$2"
  for f in "$1"/*; do [ "${f##*/}" = dist ] || cp -r "$f" "$2/"; done
}
if [ -n "$REF_BIN" ]; then
  base="$BENCH_DIR/tree-$first"
  for p in $(programs); do
    cmd=$(backend_cmd "$p" "$base")
    ref=$(echo "$cmd" | sed "s|^$BIN/|$REF_BIN/|")
    clean_outputs "$base"; $ref > "$BENCH_DIR/ref.msg" 2>&1 || true
    keep_outputs "$base" "$BENCH_DIR/out-ref"; mv "$BENCH_DIR/ref.msg" "$BENCH_DIR/out-ref/messages"
    clean_outputs "$base"; $cmd > "$BENCH_DIR/new.msg" 2>&1 || true
    keep_outputs "$base" "$BENCH_DIR/out-new"; mv "$BENCH_DIR/new.msg" "$BENCH_DIR/out-new/messages"
    if diff -r "$BENCH_DIR/out-ref" "$BENCH_DIR/out-new" > /dev/null; then
      echo "$p: output byte-identical to $REF_BIN"
    else
      echo "$p: OUTPUT DIFFERS from $REF_BIN (see $BENCH_DIR/out-ref, out-new)"; exit 1
    fi
    rm -rf "$BENCH_DIR/out-new" "$BENCH_DIR/out-ref"
  done
fi
