#!/usr/bin/env bash
# The install rules and the Debian package, as an operator builds them:
#   install_package.sh BUILD_DIR WITH_GUI(ON/OFF)
set -euo pipefail
build=$1
gui=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/root" >"$work/install.log"
expected=(bin/zolt-config bin/zolt-publish lib/zoltupdate/ZOLTUpdate share/doc/zoltupdate/README.md
  share/doc/zoltupdate/docs/operators.md)
[[ $gui == ON ]] && expected+=(lib/zoltupdate/ZOLTUpdateUI.so)
for file in "${expected[@]}"; do
  [[ -f "$work/root/$file" ]] || fail "cmake --install did not install $file"
done
[[ -x "$work/root/lib/zoltupdate/ZOLTUpdate" && -x "$work/root/bin/zolt-publish" ]] || fail "programs not executable"
# Nothing of the build's own: no tests, benchmarks, demo client or static libraries.
extra=$(cd "$work/root" && find . -type f | grep -Ev '^\./(bin/zolt-(config|publish)|lib/zoltupdate/ZOLTUpdate(UI\.so)?|share/doc/zoltupdate/.*\.md)$' || true)
[[ -z "$extra" ]] || fail "installed more than the layout: $extra"
# The installed tools run.
"$work/root/bin/zolt-publish" --version | grep -q '^zolt-publish [0-9]' || fail "installed zolt-publish --version"
"$work/root/lib/zoltupdate/ZOLTUpdate" --version | grep -q '^ZOLTUpdate [0-9]' || fail "installed ZOLTUpdate --version"
# Started where the package keeps it, the updater says where it belongs and writes nothing there.
status=0
"$work/root/lib/zoltupdate/ZOLTUpdate" -silent 2>"$work/in-place.err" || status=$?
[[ $status -eq 1 ]] && grep -q "copy ZOLTUpdate and ZOLTUpdateUI.so into the client's application folder" "$work/in-place.err" ||
  fail "ZOLTUpdate started in lib/zoltupdate: exit $status, $(cat "$work/in-place.err")"
[[ ! -e "$work/root/lib/zoltupdate/UPDATE" && ! -e "$work/root/lib/zoltupdate/ZOLTUpdate.log" ]] ||
  fail "ZOLTUpdate wrote into lib/zoltupdate"

(cd "$build" && cpack -G DEB -B "$work/package" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/package/zoltupdate_*.deb)
contents=$(dpkg-deb -c "$deb")
for file in "${expected[@]}"; do
  grep -q "\./usr/$file\$" <<<"$contents" || fail "package lacks /usr/$file"
done
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libcurl4 libssl3; do
  grep -q "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
done
if [[ $gui == ON ]]; then
  grep -q libqt6widgets6 <<<"$depends" || fail "Depends lacks Qt Widgets: $depends"
fi
echo "package $(basename "$deb"): Depends: $depends"
