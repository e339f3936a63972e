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
printf '%-9s %9s %9s %9s %7s %9s\n' program entries "find s" "prog s" ratio "B/entry"

for n in $SIZES; do
  base="$BENCH_DIR/tree-$n"
  if [ ! -f "$base/.entries" ]; then
    rm -rf "$base"
    "$BIN/corvane-gentree" "$base" "$n" > "$base.count"
    mv "$base.count" "$base/.entries"
  fi
  entries=$(cat "$base/.entries")
  find "$base/dist" -printf '%p %m %U %G %s %i %n %l\n' > /dev/null   # warm the cache
  for p in $(programs); do
    cmd=$(backend_cmd "$p" "$base")
    $cmd > /dev/null 2> "$BENCH_DIR/$p-$n.log" || { echo "$p failed, see $BENCH_DIR/$p-$n.log"; continue; }
    : > "$BENCH_DIR/t.find"; : > "$BENCH_DIR/t.prog"
    i=0
    while [ $i -lt "$PAIRS" ]; do
      t0=$(now); $cmd > /dev/null 2>&1; t1=$(now)
      find "$base/dist" -printf '%p %m %U %G %s %i %n %l\n' > /dev/null; t2=$(now)
      echo "$t1 $t0" | awk '{print $1-$2}' >> "$BENCH_DIR/t.prog"
      echo "$t2 $t1" | awk '{print $1-$2}' >> "$BENCH_DIR/t.find"
      i=$((i + 1))
    done
    tf=$(median < "$BENCH_DIR/t.find")
    tp=$(median < "$BENCH_DIR/t.prog")
    rss=$(/usr/bin/time -v $cmd 2>&1 >/dev/null | awk -F: '/Maximum resident/ {print $2+0}')
    printf '%-9s %9d %9.3f %9.3f %7.2f %9.0f\n' "$p" "$entries" "$tf" "$tp" \
      "$(echo "$tp $tf" | awk '{print $1/$2}')" "$(echo "$rss $entries" | awk '{print $1*1024/$2}')"
    echo "$p $n $tp" >> "$BENCH_DIR/times"
  done
done

# Growth of each program's time from the smallest to the largest tree.
first=$(echo $SIZES | awk '{print $1}'); last=$(echo $SIZES | awk '{print $NF}')
if [ "$first" != "$last" ]; then
  for p in $(programs); do
    a=$(awk -v p="$p" -v n="$first" '$1==p && $2==n {t=$3} END {print t}' "$BENCH_DIR/times")
    b=$(awk -v p="$p" -v n="$last" '$1==p && $2==n {t=$3} END {print t}' "$BENCH_DIR/times")
    [ -n "$a" ] && [ -n "$b" ] && echo "$p growth $first -> $last: $(echo "$b $a" | awk '{printf "%.2f", $1/$2}')x"
  done
fi
rm -f "$BENCH_DIR/times" "$BENCH_DIR/t.find" "$BENCH_DIR/t.prog"

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
