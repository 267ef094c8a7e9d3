#!/usr/bin/env bash
# Builds the Debian package from a build without tests and benchmarks, checks it with lintian
# (no error, no warning), installs it, starts the installed program on a virtual display as
# two ordinary users at once, checks that each user's second start is refused whether or not
# XDG_RUNTIME_DIR is set, saves the options of one through the options dialog, checks where
# the settings went, and removes the package, checking that nothing of it is left.
# Needs root (dpkg, useradd), lintian, Xvfb and xdotool (scripts/install-deps.sh).
# Usage: scripts/package-check.sh
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/xvfb.sh
if [ "$(id -u)" -ne 0 ]; then
  echo "package check: SKIPPED, it installs a package and adds users, so it needs root." >&2
  exit 0
fi
for tool in Xvfb xdotool runuser useradd cpack dpkg lintian; do
  command -v "$tool" >/dev/null || { echo "package check: $tool is missing." >&2; exit 1; }
done

step() { echo "== package check: $*"; }
# A failure keeps a picture of the screen for whoever reads the log.
fail() {
  echo "package check FAILED: $*" >&2
  if [ -n "${DISPLAY:-}" ] && import -window root build/package/package-check-failure.png 2>/dev/null; then
    echo "screen at the failure: build/package/package-check-failure.png" >&2
  fi
  exit 1
}

step "build without tests and benchmarks"
cmake --preset package >/dev/null
cmake --build --preset package -j "$(nproc)"
rm -f build/package/tavrun_*.deb
(cd build/package && cpack -G DEB >/dev/null)
deb=$(ls build/package/tavrun_*_*.deb)
dpkg-deb -f "$deb" Depends | grep -q libzip4 || fail "the package's dependencies lack libzip4"

step "lintian $deb"
# Errors and warnings fail; the informational tags are listed for whoever reads the log.
lintian --fail-on error,warning --info --display-info "$deb" 2>&1 | grep -v '^N:' |
  grep -v 'running with root privileges' || true
lintian --fail-on error,warning "$deb" >/dev/null 2>&1 || fail "lintian reports errors or warnings"
dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -Eq 'post(inst|rm)$' &&
  fail "the package has maintainer scripts (nothing in it needs one)"

work=$(mktemp -d)
chmod 755 "$work"
pids=()
installed=""
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  [ -n "$installed" ] && dpkg -r tavrun >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' TERM INT HUP  # a timeout still removes the package and ends the programs

step "install $deb"
dpkg -r tavrun >/dev/null 2>&1 || true
dpkg -i "$deb" >/dev/null
installed=1
[ -x /usr/bin/tavrun ] && [ -f /usr/lib/tavrun/libunlha32.so ] || fail "the program is not installed"
package_files=$(dpkg -L tavrun)
# The desktop's "Open With" for a folder comes from the desktop database the install updates.
if command -v update-desktop-database >/dev/null; then
  grep -q '^inode/directory=.*jp\.tavrun\.Tavrun\.desktop' /usr/share/applications/mimeinfo.cache ||
    fail "folders are not offered to Tavrun after the install"
fi

users=(tavrun-ci1 tavrun-ci2)
for user in "${users[@]}"; do
  id "$user" >/dev/null 2>&1 || useradd --create-home --shell /bin/bash "$user"
  home=$(getent passwd "$user" | cut -d: -f6)
  rm -rf "$home/.config/tavrun"
done

# Both users draw on one screen, as two users of one machine would see theirs.
start_xvfb 150 199 800x600x24 -ac || fail "no virtual display"
display=$DISPLAY

# Starts the installed program as `user` with the extra environment given (VAR=value...),
# then the program's arguments after "--"; its runuser process is a child of this shell,
# remembered in pids.
start_as() {
  local user=$1; shift
  local environment=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do environment+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  runuser -u "$user" -- env -i DISPLAY="$display" HOME="$(getent passwd "$user" | cut -d: -f6)" \
    USER="$user" PATH=/usr/bin:/bin LANG=C.UTF-8 "${environment[@]}" \
    /usr/bin/timeout 120 tavrun "$@" >>"$work/$user.out" 2>&1 &
  pids+=($!)
}
lock_of() {
  echo "$(getent passwd "$1" | cut -d: -f6)/.config/tavrun/.Tavrun-$(id -u "$1").lock"
}
# A start of `user` that must be refused: the message shows, is answered, and the process
# ends, leaving one instance. The rest of the arguments are start_as's.
refused_start() {
  local user=$1 refusal
  start_as "$@"
  refusal=$(window_of "$user" '^Tavrun$') || fail "no refusal message for the second start of $user"
  xdotool mousemove --window "$refusal" 10 10
  sleep 0.3
  xdotool key --clearmodifiers Return
  # Refused, the process ends once the message is answered; a second window would keep it.
  for _ in $(seq 100); do [ "$(instances_of "$user")" -eq 1 ] && break; sleep 0.1; done
  [ "$(instances_of "$user")" -eq 1 ] || fail "the refused start of $user did not end"
}
instances_of() { pgrep -u "$1" -x tavrun | wc -l; }
# The window of a process of `user` with the given title, waiting up to 20 seconds.
window_of() {
  local user=$1 title=$2 pid
  for _ in $(seq 100); do
    for pid in $(pgrep -u "$user" -x tavrun); do
      id=$(xdotool search --all --onlyvisible --pid "$pid" --name "$title" 2>/dev/null |
        head -1 || true)
      [ -n "$id" ] && { echo "$id"; return 0; }
    done
    sleep 0.2
  done
  return 1
}

step "start as ${users[0]} (no runtime directory)"
start_as "${users[0]}"
main1=$(window_of "${users[0]}" '^Tavrun Ver\.0\.1$') || {
  cat "$work/${users[0]}.out" >&2; fail "no main window for ${users[0]}"; }
home1=$(getent passwd "${users[0]}" | cut -d: -f6)
[ -f "$(lock_of "${users[0]}")" ] || fail "no lock in ${users[0]}'s settings folder"

step "start as ${users[1]} at the same time (with a runtime directory and a folder to extract)"
runtime=$work/runtime-${users[1]}
install -d -m 700 -o "${users[1]}" "$runtime"
install -d -m 755 -o "${users[1]}" "$work/downloads"
start_as "${users[1]}" XDG_RUNTIME_DIR="$runtime" -- --extract "$work/downloads"
main2=$(window_of "${users[1]}" '^Tavrun Ver\.0\.1$') || {
  cat "$work/${users[1]}.out" >&2; fail "${users[1]} was kept from starting"; }
[ -f "$(lock_of "${users[1]}")" ] || fail "no lock in ${users[1]}'s settings folder"
[ -z "$(ls -A "$runtime")" ] || fail "the lock depends on the runtime directory: $(ls -A "$runtime")"
# Without a window manager both windows open in one place; side by side, a click finds its own.
xdotool windowmove "$main1" 0 0 windowmove "$main2" 400 340

# One settings folder, one instance, whatever the environment of the second start.
step "a second start as ${users[0]}, now with a runtime directory, is refused"
runtime1=$work/runtime-${users[0]}
install -d -m 700 -o "${users[0]}" "$runtime1"
refused_start "${users[0]}" XDG_RUNTIME_DIR="$runtime1" TMPDIR="$runtime1"
step "a second start as ${users[1]}, now without a runtime directory, is refused"
refused_start "${users[1]}"

step "save the options as ${users[0]}"
# Without a window manager only the mouse makes a window active: a click opens the first menu
# at the left end of the menu bar, Right moves to the Tools menu and "o" chooses Options.
# Return is then the dialog's Save.
xdotool mousemove --window "$main1" 12 8 click 1
sleep 0.7
xdotool key --clearmodifiers Right
sleep 0.5
xdotool key --clearmodifiers o
options=$(window_of "${users[0]}" '^Tavrun オプション$') || fail "the options dialog did not open"
xdotool mousemove --window "$options" 100 100
sleep 0.3
xdotool key --clearmodifiers Return
for _ in $(seq 100); do [ -f "$home1/.config/tavrun/Tavrun.ini" ] && break; sleep 0.1; done
[ -f "$home1/.config/tavrun/Tavrun.ini" ] || fail "no Tavrun.ini in $home1/.config/tavrun"
[ "$(stat -c %U "$home1/.config/tavrun/Tavrun.ini")" = "${users[0]}" ] || fail "Tavrun.ini has the wrong owner"
grep -q '^\[INIT\]' "$home1/.config/tavrun/Tavrun.ini" || fail "Tavrun.ini has no [INIT] section"
[ ! -e /usr/bin/Tavrun.ini ] || fail "settings were written beside the installed program"
echo "settings saved in $home1/.config/tavrun/Tavrun.ini"

step "remove the package"
# Each start ends with its runuser, which hands the signal on to the program.
for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
dpkg -r tavrun >/dev/null
installed=""
left=""
for file in $package_files; do
  # Directories the package shares with others (/usr/share/man ...) stay.
  [ -e "$file" ] && [ ! -d "$file" ] && left="$left $file"
done
[ -z "$left" ] && [ ! -e /usr/lib/tavrun ] && [ ! -e /usr/share/tavrun ] ||
  fail "the package left files behind:$left"
if [ -f /usr/share/applications/mimeinfo.cache ]; then
  ! grep -q 'jp\.tavrun\.Tavrun' /usr/share/applications/mimeinfo.cache ||
    fail "folders are still offered to Tavrun after the removal"
fi
echo "package check passed"
