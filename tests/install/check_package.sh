#!/usr/bin/env bash
# Packs the build as scripts/package.sh does and checks the package as a user's system would
# take it: every dependency dpkg-shlibdeps computed is satisfied here, and the programs run
# from the unpacked files (brennix-cli --version, and an image made with mkiso).
# usage: check_package.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; exit 1; }
deb=$(ls "$work"/out/brennix_*.deb)

depends=$(dpkg-deb -f "$deb" Depends)
[ -n "$depends" ] || fail "the package declares no dependencies"
# "libc6 (>= 2.34), libqt6core6 (>= 6.4.0) | libqt6core6t64, ..."
IFS=',' read -ra groups <<<"$depends"
for group in "${groups[@]}"; do
  satisfied=no
  IFS='|' read -ra alternatives <<<"$group"
  for alternative in "${alternatives[@]}"; do
    read -r name relation version <<<"$(sed 's/[()]/ /g' <<<"$alternative")"
    installed=$(dpkg-query -W -f='${db:Status-Status} ${Version}' "$name" 2>/dev/null || true)
    [ "${installed%% *}" = installed ] || continue
    if [ -z "${relation:-}" ]; then satisfied=yes; break; fi
    case $relation in ">=") op=ge ;; "<=") op=le ;; ">>") op=gt ;; "<<") op=lt ;; *) op=eq ;; esac
    if dpkg --compare-versions "${installed#* }" "$op" "$version"; then satisfied=yes; break; fi
  done
  [ "$satisfied" = yes ] || fail "dependency not satisfied on this system: $group"
done

[[ $(dpkg-deb -f "$deb" Recommends) == *bash-completion* ]] ||
  fail "the package does not recommend bash-completion"
contents=$(dpkg-deb -c "$deb")
expected=(usr/bin/brennix-cli usr/share/man/man1/brennix-cli.1.gz
          usr/share/bash-completion/completions/brennix-cli usr/share/doc/brennix/copyright)
# The menu entry comes only with the desktop application it starts.
if grep -q ' \./usr/bin/brennix$' <<<"$contents"; then
  expected+=(usr/share/applications/io.github.brennix.Brennix.desktop)
fi
for f in "${expected[@]}"; do
  grep -q " \./$f\$" <<<"$contents" || fail "not in the package: $f"
done

dpkg -x "$deb" "$work/root"
cli=$work/root/usr/bin/brennix-cli
[ "$("$cli" --version)" = "brennix-cli $(dpkg-deb -f "$deb" Version)" ] ||
  fail "installed brennix-cli --version is not the package's version"
if [ -e "$work/root/usr/bin/brennix" ]; then
  [[ $("$work/root/usr/bin/brennix" --version) == "brennix "[0-9]* ]] || fail "installed brennix --version"
fi
mkdir -p "$work/src/folder"
echo "hello" >"$work/src/folder/hello.txt"
"$cli" --quiet mkiso -o "$work/out.iso" --label TEST "$work/src" || fail "installed brennix-cli mkiso"
[ "$(dd if="$work/out.iso" bs=1 skip=32769 count=5 2>/dev/null)" = CD001 ] ||
  fail "mkiso wrote no ISO 9660 image"

[ "$failures" -eq 0 ] || { echo "$failures problem(s) with $(basename "$deb")" >&2; exit 1; }
echo "$(basename "$deb"): Depends: $depends"
