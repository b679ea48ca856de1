#!/usr/bin/env bash
# bash bench/delta-bench.sh [BUILD_DIR]: builds this project's programs
# (ZOLTUpdate, zolt-publish, zolt-config) at three commits into a work folder
# (${ZOLT_BENCH_WORK:-/tmp/zolt-bench-delta}, reused by later runs), strips
# them as a release ships them, and runs BUILD_DIR/bench/bench-delta on two
# steps: a patch release (one commit of fixes) and a feature release (this
# issue's whole branch). The commits default to those named below and can be
# given as OLD, MID and NEW in the environment.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
work=${ZOLT_BENCH_WORK:-/tmp/zolt-bench-delta}
old=${OLD:-f44e188}  # main before "Files: both ends of a move opened through one guarded helper"
mid=${MID:-d733a80}  # that commit: a small fix, as a patch release is
new=${NEW:-HEAD}     # with delta downloads on top

programs=(ZOLTUpdate zolt-publish zolt-config)
release() {
  local commit=$1 id out
  id=$(git -C "$here" rev-parse --short "$commit")
  out=$work/release-$id
  if [[ ! -f $out/.done ]]; then
    rm -rf "$work/src-$id" "$out" && mkdir -p "$work/src-$id" "$out"
    git -C "$here" archive "$id" | tar -x -C "$work/src-$id"
    cmake -S "$work/src-$id" -B "$work/build-$id" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOLT_GUI=OFF \
      -DZOLT_TESTS=OFF -DZOLT_BENCH=OFF >/dev/null
    nice -n 10 ninja -C "$work/build-$id" -j2 "${programs[@]}" >/dev/null
    for program in "${programs[@]}"; do
      cp "$(find "$work/build-$id" -name "$program" -type f -perm -u+x | head -1)" "$out/"
      strip "$out/$program"
    done
    touch "$out/.done"
  fi
  echo "$out"
}

oldSet=$(release "$old")
midSet=$(release "$mid")
newSet=$(release "$new")
"$build/bench/bench-delta" "patch release $old -> $mid" "$oldSet" "$midSet" \
  "feature release $mid -> $new" "$midSet" "$newSet"
