#!/bin/sh
# Times corvane against the cost of reading the same metadata with find (and
# with bfs, when it is installed), and judges the largest tree against the
# targets: time within TIME_LIMIT of find's, peak memory within MEM_LIMIT
# bytes an entry, growth from the smallest to the largest tree within
# GROWTH_LIMIT of find's growth in the same rounds.
#   sh bench/run.sh BINDIR
# Environment: BENCH_DIR (where the trees go, default /tmp/corvane-bench),
# SIZES (entries per tree, default "100000 1000000"), PAIRS (timed rounds
# per program, default 5), REF_BIN (a second bin directory whose output on
# the smallest tree must be byte-identical), TIME_LIMIT (default 1.1),
# MEM_LIMIT (default 350), GROWTH_LIMIT (default 1.1).
set -eu

BIN=$(cd "${1:?usage: run.sh BINDIR}" && pwd)
BENCH_DIR=${BENCH_DIR:-/tmp/corvane-bench}
SIZES=${SIZES:-"100000 1000000"}
PAIRS=${PAIRS:-5}
REF_BIN=${REF_BIN:-}
TIME_LIMIT=${TIME_LIMIT:-1.1}
MEM_LIMIT=${MEM_LIMIT:-350}
GROWTH_LIMIT=${GROWTH_LIMIT:-1.1}

now() { date +%s.%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
# calc EXPR A B [DECIMALS]: the awk expression of a and b, with two decimals
# unless DECIMALS says otherwise.
calc() { echo "$2 $3" | awk "{a = \$1; b = \$2; printf \"%.${4:-2}f\", $1}"; }
# verdict VALUE LIMIT
verdict() { echo "$1 $2" | awk '{print ($1 <= $2) ? "PASS" : "FAIL"}'; }

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

# The metadata each program reads, printed by find and by bfs: the lower
# bound of a scan.
FORMAT='%p %m %U %G %s %i %n %l\n'
lower_bound() { find "$1/dist" -printf "$FORMAT" > /dev/null; }
bfs_bound() { bfs "$1/dist" -printf "$FORMAT" > /dev/null; }
HAVE_BFS=
command -v bfs > /dev/null 2>&1 && HAVE_BFS=yes

mkdir -p "$BENCH_DIR"
echo "corvane benchmark: $(nproc) cores, trees in $BENCH_DIR"
if [ -n "$HAVE_BFS" ]; then
  printf "%s reads the same metadata as find: -printf '%s'\n" "$(bfs --version | head -n 1)" "$FORMAT"
else
  echo "bfs is not installed: its columns stay empty"
fi

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
# round, as its short runs carry more noise. find and bfs run in the rounds
# of every program, so each program is compared with the lower bound of its
# own rounds.
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
        [ -z "$HAVE_BFS" ] || timed "$BENCH_DIR/t.bfs.$p.$n" bfs_bound "$base"
        reps=$((reps - 1))
      done
    done
    i=$((i + 1))
  done
done

# Peak resident memory of a command in bytes per entry.
bytes_per_entry() {
  entries=$1; shift
  rss=$(/usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident/ {print $2+0}')
  echo "$rss $entries" | awk '{printf "%.0f", $1*1024/$2}'
}
med() { if [ -f "$BENCH_DIR/t.$1" ]; then median < "$BENCH_DIR/t.$1"; else echo 0; fi; }

printf '%-9s %9s %8s %8s %8s %7s %7s %8s\n' program entries "find s" "bfs s" "prog s" "x find" "x bfs" "B/entry"
for n in $SIZES; do
  base="$BENCH_DIR/tree-$n"
  entries=$(cat "$base/.entries")
  for p in $(programs); do
    [ -f "$BENCH_DIR/t.$p.$n" ] || continue
    tf=$(med "find.$p.$n"); tb=$(med "bfs.$p.$n"); tp=$(med "$p.$n")
    mem=$(bytes_per_entry "$entries" $(backend_cmd "$p" "$base"))
    echo "$mem" > "$BENCH_DIR/t.mem.$p.$n"
    xb=-; [ -z "$HAVE_BFS" ] || { xb=$(calc 'a/b' "$tp" "$tb"); tb=$(calc 'a' "$tb" 0 3); }
    [ -n "$HAVE_BFS" ] || tb=-
    printf '%-9s %9d %8.3f %8s %8.3f %7s %7s %8s\n' "$p" "$entries" "$tf" "$tb" "$tp" \
      "$(calc 'a/b' "$tp" "$tf")" "$xb" "$mem"
  done
  if [ -n "$HAVE_BFS" ]; then
    # bfs against find over the rounds of every program together.
    cat "$BENCH_DIR"/t.find.*."$n" | median > "$BENCH_DIR/t.allfind.$n"
    cat "$BENCH_DIR"/t.bfs.*."$n" | median > "$BENCH_DIR/t.allbfs.$n"
    tf=$(cat "$BENCH_DIR/t.allfind.$n"); tb=$(cat "$BENCH_DIR/t.allbfs.$n")
    printf '%-9s %9d %8.3f %8.3f %8s %7s %7s %8s\n' bfs "$entries" "$tf" "$tb" "" \
      "$(calc 'a/b' "$tb" "$tf")" "" "$(bytes_per_entry "$entries" bfs "$base/dist" -printf "$FORMAT")"
  fi
done

# Growth of each program's time from the smallest to the largest tree,
# divided by find's growth over the same rounds: the kernel's own cost
# changes between the two sizes (on a shared machine the 1M tree's metadata
# does not stay cached), and dividing by find's growth leaves what the
# program adds.
growth() { calc 'a/b' "$(med "$1.$last")" "$(med "$1.$first")"; }
if [ "$first" != "$last" ]; then
  for p in $(programs); do
    [ -f "$BENCH_DIR/t.$p.$first" ] && [ -f "$BENCH_DIR/t.$p.$last" ] || continue
    gp=$(growth "$p"); gf=$(growth "find.$p")
    line="$p growth $first -> $last: ${gp}x, find ${gf}x in the same rounds, ratio $(calc 'a/b' "$gp" "$gf")"
    [ -z "$HAVE_BFS" ] || line="$line (bfs $(growth "bfs.$p")x)"
    echo "$line"
    echo "$gp $gf" > "$BENCH_DIR/t.growth.$p"
  done
  if [ -n "$HAVE_BFS" ]; then
    gb=$(calc 'a/b' "$(cat "$BENCH_DIR/t.allbfs.$last")" "$(cat "$BENCH_DIR/t.allbfs.$first")")
    gf=$(calc 'a/b' "$(cat "$BENCH_DIR/t.allfind.$last")" "$(cat "$BENCH_DIR/t.allfind.$first")")
    echo "bfs growth $first -> $last: ${gb}x, find ${gf}x in the same rounds, ratio $(calc 'a/b' "$gb" "$gf")"
  fi
fi

# The targets, at the largest tree.
echo "targets at $(cat "$BENCH_DIR/tree-$last/.entries") entries: time <= ${TIME_LIMIT}x find's," \
  "peak memory <= $MEM_LIMIT B/entry, growth <= ${GROWTH_LIMIT}x find's growth"
for p in $(programs); do
  [ -f "$BENCH_DIR/t.$p.$last" ] || continue
  x=$(calc 'a/b' "$(med "$p.$last")" "$(med "find.$p.$last")")
  mem=$(cat "$BENCH_DIR/t.mem.$p.$last")
  line=$(printf '%-9s time %5sx %s   memory %4s B %s' "$p" "$x" "$(verdict "$x" "$TIME_LIMIT")" \
    "$mem" "$(verdict "$mem" "$MEM_LIMIT")")
  if [ -f "$BENCH_DIR/t.growth.$p" ]; then
    r=$(awk '{printf "%.2f", $1/$2}' "$BENCH_DIR/t.growth.$p")
    line="$line   growth $(printf '%5s' "$r")x $(verdict "$r" "$GROWTH_LIMIT")"
  fi
  echo "$line"
done
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
