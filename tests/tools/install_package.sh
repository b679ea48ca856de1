#!/usr/bin/env bash
# The install rules and the two Debian packages, as an operator builds them:
#   install_package.sh BUILD_DIR WITH_GUI(ON/OFF)
set -euo pipefail
build=$1
gui=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/root" --strip >"$work/install.log"
updater=(lib/zoltupdate/ZOLTUpdate share/man/man1/ZOLTUpdate.1.gz share/doc/zoltupdate/copyright
  share/doc/zoltupdate/changelog.Debian.gz share/doc/zoltupdate/README.md.gz share/doc/zoltupdate/docs/operators.md.gz)
[[ $gui == ON ]] && updater+=(lib/zoltupdate/ZOLTUpdateUI.so)
publisher=(bin/zolt-config bin/zolt-publish share/man/man1/zolt-publish.1.gz share/man/man1/zolt-config.1.gz
  share/doc/zoltupdate-publisher/copyright share/doc/zoltupdate-publisher/changelog.Debian.gz)
for file in "${updater[@]}" "${publisher[@]}"; do
  [[ -f "$work/root/$file" ]] || fail "cmake --install did not install $file"
done
[[ -x "$work/root/lib/zoltupdate/ZOLTUpdate" && -x "$work/root/bin/zolt-publish" ]] || fail "programs not executable"
# Nothing of the build's own: no tests, benchmarks, demo client or static libraries.
extra=$(cd "$work/root" && find . -type f | grep -Ev '^\./(bin/zolt-(config|publish)|lib/zoltupdate/ZOLTUpdate(UI\.so)?|share/(doc/zoltupdate(-publisher)?/(copyright|.*\.gz)|man/man1/[A-Za-z-]+\.1\.gz|lintian/overrides/zoltupdate(-publisher)?))$' || true)
[[ -z "$extra" ]] || fail "installed more than the layout: $extra"
# --strip: no debugging symbols are left.
file "$work/root/bin/zolt-publish" "$work/root/lib/zoltupdate/ZOLTUpdate" | grep -q 'not stripped' && fail "not stripped"
# The installed tools run, and their manual pages are theirs.
"$work/root/bin/zolt-publish" --version | grep -q '^zolt-publish [0-9]' || fail "installed zolt-publish --version"
"$work/root/lib/zoltupdate/ZOLTUpdate" --version | grep -q '^ZOLTUpdate [0-9]' || fail "installed ZOLTUpdate --version"
zcat "$work/root/share/man/man1/zolt-publish.1.gz" | grep -q -- 'release\\-version' || fail "zolt-publish.1 lacks --release-version"
# Started where the package keeps it, the updater says where it belongs and writes nothing there.
status=0
"$work/root/lib/zoltupdate/ZOLTUpdate" -silent 2>"$work/in-place.err" || status=$?
[[ $status -eq 1 ]] && grep -q "copy ZOLTUpdate and ZOLTUpdateUI.so into the client's application folder" "$work/in-place.err" ||
  fail "ZOLTUpdate started in lib/zoltupdate: exit $status, $(cat "$work/in-place.err")"
[[ ! -e "$work/root/lib/zoltupdate/UPDATE" && ! -e "$work/root/lib/zoltupdate/ZOLTUpdate.log" ]] ||
  fail "ZOLTUpdate wrote into lib/zoltupdate"

(cd "$build" && cpack -G DEB -B "$work/package" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
check_package() {  # NAME FILES...
  local name=$1 deb contents depends
  shift
  deb=$(ls "$work"/package/"${name}"_*.deb)
  contents=$(dpkg-deb -c "$deb")
  for file in "$@"; do
    grep -q "\./usr/$file\$" <<<"$contents" || fail "$name lacks /usr/$file"
  done
  depends=$(dpkg-deb -f "$deb" Depends)
  for library in libc6 libcurl4 libssl3; do
    grep -q "$library" <<<"$depends" || fail "$name: Depends lacks $library: $depends"
  done
  dpkg-deb -f "$deb" Maintainer | grep -q '<.*@.*>' || fail "$name: no maintainer address"
  # The dialog module is loaded by its path: no ldconfig, no maintainer scripts at all.
  [[ -z $(dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -E 'postinst|postrm|triggers') ]] ||
    fail "$name has maintainer scripts"
  # lintian: no errors (warnings are printed, and the pedantic rest is left alone).
  lintian --tag-display-limit 0 "$deb" >"$work/lintian.txt" 2>&1 || true
  ! grep -q '^E: ' "$work/lintian.txt" || { cat "$work/lintian.txt"; fail "lintian found errors in $name"; }
  grep '^W: ' "$work/lintian.txt" || true
  echo "package $(basename "$deb"): Depends: $depends"
  DEPENDS=$depends
}
check_package zoltupdate "${updater[@]}"
if [[ $gui == ON ]]; then
  grep -q libqt6widgets6 <<<"$DEPENDS" || fail "zoltupdate: Depends lacks Qt Widgets: $DEPENDS"
fi
check_package zoltupdate-publisher "${publisher[@]}"
! grep -q libqt6 <<<"$DEPENDS" || fail "zoltupdate-publisher depends on Qt: $DEPENDS"
