#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks it: every file where the
# freedesktop and Debian conventions put it, the validators content, and the manual page and
# the shell completion knowing every command and option that the program's own help names.
# usage: check_install.sh BUILD_DIR app|noapp
set -euo pipefail
build=$1 with_app=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
prefix=$root/usr
cmake --install "$build" --prefix "$prefix" >/dev/null
id=io.github.brennix.Brennix
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

files=(bin/brennix-cli share/man/man1/brennix-cli.1.gz share/bash-completion/completions/brennix-cli
       share/doc/brennix/copyright)
if [ "$with_app" = app ]; then
  files+=(bin/brennix share/man/man1/brennix.1.gz share/applications/$id.desktop
          share/kio/servicemenus/$id.desktop share/metainfo/$id.metainfo.xml share/icons/hicolor/scalable/apps/$id.svg)
  for size in 16 24 32 48 64 128 256 512; do files+=(share/icons/hicolor/${size}x$size/apps/$id.png); done
fi
for f in "${files[@]}"; do [ -s "$prefix/$f" ] || fail "not installed: $f"; done

if [ "$with_app" = app ]; then
  desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "desktop-file-validate"
  appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" >/dev/null ||
    fail "appstreamcli validate: $(appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml")"
fi
for page in "$prefix"/share/man/man1/*.1.gz; do
  warnings=$(zcat "$page" | LC_ALL=C.UTF-8 groff -t -man -ww -z 2>&1)
  [ -z "$warnings" ] || fail "manual page $(basename "$page"): $warnings"
done

cli=$prefix/bin/brennix-cli
[[ $("$cli" --version) == "brennix-cli "[0-9]* ]] || fail "brennix-cli --version"
version=$("$cli" --version | cut -d' ' -f2)
zcat "$prefix/share/man/man1/brennix-cli.1.gz" | grep -q "^\.TH .*\"brennix $version\"" ||
  fail "the manual page does not show version $version"
if [ "$with_app" = app ]; then
  app=$prefix/bin/brennix
  # Answered without a display: a user asking for help has no window to read it in.
  nodisplay() { env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$@"; }
  [ "$(nodisplay "$app" --version)" = "brennix $version" ] || fail "brennix --version"
  grep -q "<release version=\"$version\"" "$prefix/share/metainfo/$id.metainfo.xml" ||
    fail "the software-centre entry does not show version $version"
  status=0
  nodisplay "$app" --bogus-option >/dev/null 2>&1 || status=$?
  [ "$status" = 2 ] || fail "brennix --bogus-option: exit status $status, not 2"
  app_man=$(zcat "$prefix/share/man/man1/brennix.1.gz" | sed 's/\\-/-/g')
  options=$(nodisplay "$app" --help | grep -o -- '--[a-z][a-z-]*' | sort -u)
  [ -n "$options" ] || fail "brennix --help names no option"
  for option in $options; do
    grep -q -- "$option" <<<"$app_man" || fail "manual page of brennix lacks '$option'"
  done
  # Offered for folders, never made the program that opens them.
  ! grep -q '^MimeType=.*inode/directory' "$prefix/share/applications/$id.desktop" ||
    fail "the menu entry claims to open folders"
fi

# The help is the reference: the manual page and the completion must know all it names.
man_text=$(zcat "$prefix/share/man/man1/brennix-cli.1.gz" | sed 's/\\-/-/g')
completion=$prefix/share/bash-completion/completions/brennix-cli
commands=$("$cli" --help | sed -n '/^commands:/,/^$/p' | awk 'NF && !/^commands:/ {print $1}')
[ -n "$commands" ] || fail "no commands in 'brennix-cli --help'"
for command in $commands; do
  grep -q "^\.SS \"$command" <<<"$man_text" || fail "manual page has no section for '$command'"
  grep -qw -- "$command" "$completion" || fail "completion does not know '$command'"
  for option in $("$cli" "$command" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    grep -q -- "$option" <<<"$man_text" || fail "manual page lacks '$command $option'"
    grep -q -- "$option" "$completion" || fail "completion lacks '$command $option'"
  done
done
profiles=$("$cli" --help | tr '\n' ' ' | sed -n 's/.*PROFILE is one of \([^.]*\)\..*/\1/p' | tr -d ',')
[ -n "$profiles" ] || fail "no profiles in 'brennix-cli --help'"
known=" $(sed -n 's/^_brennix_cli_profiles="\(.*\)"$/\1/p' "$completion") "
for profile in $profiles; do
  [[ $known == *" $profile "* ]] || fail "completion lacks the profile '$profile'"
  grep -q -- "$profile" <<<"$man_text" || fail "manual page lacks the profile '$profile'"
done
for section in "EXIT STATUS" ENVIRONMENT FILES; do
  grep -q "^\.SH $section" <<<"$man_text" || fail "manual page has no section $section"
done

# The completion, as bash calls it.
export PATH=$prefix/bin:$PATH
disc=$root/disc.img
complete_line() {
  bash -c 'source "$1"; COMP_LINE=$2; COMP_POINT=${#2}; _brennix_cli; printf "%s\n" "${COMPREPLY[@]}"' \
    _ "$completion" "$1"
}
check_completion() {
  local got
  got=$(complete_line "$1" | sort | tr '\n' ' ')
  [ "$got" = "$2" ] || fail "completing '$1': got '$got', want '$2'"
}
check_completion "brennix-cli e" "eject erase "
check_completion "brennix-cli --quiet burn --s" "--save-path --speed "
check_completion "brennix-cli mkiso --save-path " "full last none "
check_completion "brennix-cli --virtual-recorder $disc:dvd+r" "dvd+r dvd+r-dl dvd+rw "
# (a real drive in the machine comes first, so only the virtual one's entry is certain)
offered=$(complete_line "brennix-cli --virtual-recorder $disc:cd-rw info --device ")
grep -qx '[0-9]*:[0-9]*:[0-9]*\\,[D-Z]:\\ BRENNIX\\ VIRTUAL\\ RECORDER1.0\\ ' <<<"$offered" ||
  fail "completing --device does not offer the virtual recorder"

[ "$failures" -eq 0 ] || { echo "$failures problem(s)" >&2; exit 1; }
echo "install into $prefix: all checks passed"
