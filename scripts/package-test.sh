#!/usr/bin/env bash
# Proves that the marindo package installs on a fresh Debian 12 and starts:
# a minbase debootstrap of bookworm in build/pkgtest/root gets the package
# with `apt-get install ./marindo_*.deb` (Qt comes from the registry), the
# installed files (man pages and bash completion included), the operators'
# group and the settings folder's access are checked, the site exporter's
# unit (installed, not enabled, verified by systemd-analyze), its system user,
# its settings (a conffile kept over a reinstall) and its alert rules (accepted
# by promtool) too, lintian (when installed)
# must find nothing wrong with the man pages, and marindo is started as an operator against an Xvfb display of
# this machine until its login window shows. It is never logged in: the main
# window would open the clock socket, and the program runs in a network
# namespace of its own with nothing but loopback anyway. The package is then
# configured again over links, a hard link and a fifo planted as the settings
# file, and while an operator swaps that file for a link over and over: root
# must never hand the operators a file of its own.
#
#   bash scripts/package-test.sh [BUILD_TREE | PACKAGE.deb]   (default build/ci)
#
# Exit status: 0 PASS, 1 FAIL, 77 skipped (not root, tools or registry
# missing; the reason is printed). The untouched debootstrap result is kept in
# /var/cache/marindo-pkgtest (MARINDO_PKGTEST_CACHE), downloaded packages
# beside it, so a second run takes seconds. Every mount lives in a private
# mount namespace of this script and is also unmounted on every way out.
set -euo pipefail
cd "$(dirname "$0")/.."

readonly suite=bookworm
readonly default_mirror=http://deb.debian.org/debian
readonly settings_folder=/var/lib/marindo
readonly window_title='Quellan_V4_1.96'
readonly window_wait_seconds=15

work="$PWD/build/pkgtest"
root="$work/root"
cache="${MARINDO_PKGTEST_CACHE:-/var/cache/marindo-pkgtest}"
base_tar="$cache/$suite-minbase.tar"

app_pid=""
xvfb_pid=""
failures=0

say() { echo "package-test: $*"; }
skip() { say "SKIP: $*"; exit 77; }
fail_now() { say "FAIL: $*"; exit 1; }

check() {
  local what=$1
  shift
  if "$@"; then
    say "ok: $what"
  else
    say "not ok: $what"
    failures=$((failures + 1))
  fi
}

# --- preconditions -----------------------------------------------------------

require_tools() {
  [ "$(id -u)" -eq 0 ] || skip "needs root (debootstrap, chroot, mounts)"
  local tool
  for tool in debootstrap Xvfb xdotool unshare nsenter chroot ss python3 tar flock; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is missing (bash scripts/setup.sh installs it)"
  done
  unshare --mount --propagation private true 2>/dev/null ||
    skip "cannot make a private mount namespace here (unshare --mount failed)"
  unshare --net true 2>/dev/null || skip "cannot make a network namespace here (unshare --net failed)"
}

# The package under test: a .deb given, or the one scripts/package.sh builds
# from the given tree.
package_path() {
  local given=${1:-build/ci}
  if [[ $given == *.deb ]]; then
    [ -f "$given" ] || fail_now "no package $given"
    realpath "$given"
    return
  fi
  bash scripts/package.sh "$given" || fail_now "building the package from $given failed"
}

# --- the registry this machine uses --------------------------------------------

# "URI SUITE" for each binary source of apt on this machine, one-line and
# deb822 formats alike.
apt_sources() {
  local file
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    awk '$1 == "deb" {
      i = 2
      if ($i ~ /^\[/) { while (i < NF && $i !~ /\]$/) i++; i++ }
      if (i < NF) print $i, $(i + 1)
    }' "$file"
  done
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    awk 'BEGIN { RS = ""; FS = "\n" }
    {
      types = ""; uris = ""; suites = ""; enabled = "yes"
      for (i = 1; i <= NF; i++) {
        if ($i ~ /^[ \t]*#/) continue
        colon = index($i, ":")
        if (colon == 0) continue
        key = tolower(substr($i, 1, colon - 1)); value = substr($i, colon + 1)
        if (key == "types") types = value
        else if (key == "uris") uris = value
        else if (key == "suites") suites = value
        else if (key == "enabled") enabled = tolower(value)
      }
      gsub(/[ \t]/, "", enabled)
      if (enabled == "no" || (" " types " ") !~ /[ \t]deb[ \t]/) next
      n = split(uris, u, /[ \t]+/); m = split(suites, s, /[ \t]+/)
      for (a = 1; a <= n; a++) for (b = 1; b <= m; b++) if (u[a] != "" && s[b] != "") print u[a], s[b]
    }' "$file"
  done
}

# The Debian suites of this release the machine reaches, as sources.list lines
# for the chroot; deb.debian.org when the machine names none.
chroot_sources() {
  local lines
  lines=$(apt_sources | awk -v s="$suite" '$2 == s || $2 == s "-updates" || $2 == s "-security" { print "deb", $1, $2, "main" }' | awk '!seen[$0]++')
  if [ -z "$lines" ]; then
    lines="deb $default_mirror $suite main"
  fi
  echo "$lines"
}

main_mirror() {
  chroot_sources | awk -v s="$suite" '$3 == s { print $2; exit }'
}

registry_reachable() {
  python3 - "$1/dists/$suite/Release" <<'EOF'
import sys, urllib.request
try:
    urllib.request.urlopen(sys.argv[1], timeout=20).read(1)
except Exception as error:
    print(f"package-test: {sys.argv[1]}: {error}", file=sys.stderr)
    sys.exit(1)
EOF
}

# --- mounts and processes ------------------------------------------------------

mounts_under() {
  awk -v d="$1" '$5 == d || index($5, d "/") == 1 { print $5 }' /proc/self/mountinfo | sort -r
}

unmount_under() {
  local point
  for point in $(mounts_under "$1"); do
    umount "$point" 2>/dev/null || umount --lazy "$point" || true
  done
}

# Whatever still runs inside the chroot was started by this script.
kill_chroot_processes() {
  local proc
  for proc in /proc/[0-9]*; do
    if [ "$(readlink "$proc/root" 2>/dev/null)" = "$root" ]; then
      kill -KILL "${proc#/proc/}" 2>/dev/null || true
    fi
  done
}

cleanup() {
  set +e
  if [ -n "$app_pid" ]; then kill -KILL "$app_pid" 2>/dev/null; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
  kill_chroot_processes
  unmount_under "$root"
  unmount_under "$work/base.new"
}

# A folder is only removed once nothing is mounted inside it, and never across
# file systems, so a bind mount left by a killed run cannot take its source
# along.
remove_tree() {
  unmount_under "$1"
  if [ -n "$(mounts_under "$1")" ]; then
    fail_now "$1 still has mounts; not removing it"
  fi
  rm -rf --one-file-system "$1"
}

# --- the fresh machine ---------------------------------------------------------

make_base_tarball() {
  local mirror=$1 target="$work/base.new"
  say "no cached $base_tar; debootstrap --variant=minbase $suite from $mirror (a few minutes)"
  remove_tree "$target"
  mkdir -p "$cache"
  if ! debootstrap --variant=minbase "$suite" "$target" "$mirror" >"$work/debootstrap.log" 2>&1; then
    tail -n 20 "$work/debootstrap.log"
    unmount_under "$target"
    fail_now "debootstrap failed (log: $work/debootstrap.log)"
  fi
  unmount_under "$target"
  local partial="$base_tar.$$.partial"
  tar --numeric-owner --xattrs --xattrs-include='*' -cpf "$partial" -C "$target" .
  mv -f "$partial" "$base_tar"
  remove_tree "$target"
}

unpack_fresh_root() {
  remove_tree "$root"
  mkdir -p "$root"
  tar --numeric-owner --xattrs --xattrs-include='*' -xpf "$base_tar" -C "$root"
}

in_root() {
  local environment=(PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive)
  local name
  for name in http_proxy https_proxy no_proxy; do
    if [ -n "${!name:-}" ]; then environment+=("$name=${!name}"); fi
  done
  env -i "${environment[@]}" chroot "$root" "$@"
}

# Runs a command in the chroot as a user, with the user's groups.
as_user() {
  local user=$1
  shift
  env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 HOME="/home/$user" \
    chroot "$root" setpriv --reuid="$user" --regid="$user" --init-groups "$@"
}

mount_into_root() {
  mount -t proc proc "$root/proc"
  # debootstrap makes the basic device nodes; where it could not, the
  # machine's own /dev stands in.
  if [ ! -c "$root/dev/null" ] || [ ! -c "$root/dev/urandom" ]; then
    mount --bind /dev "$root/dev"
  fi
  # Downloaded packages and package lists outlive the chroot, so a second run
  # fetches only what changed.
  mkdir -p "$cache/apt-archives/partial" "$cache/apt-lists/partial"
  mount --bind "$cache/apt-archives" "$root/var/cache/apt/archives"
  mount --bind "$cache/apt-lists" "$root/var/lib/apt/lists"
}

prepare_root() {
  chroot_sources >"$root/etc/apt/sources.list"
  # Replaced, not written through: a link there would point into this machine.
  rm -f "$root/etc/resolv.conf"
  cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
  # Nothing installed here may start a service.
  printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
  chmod 755 "$root/usr/sbin/policy-rc.d"
  # A throwaway machine need not survive a power cut: dpkg skips its fsyncs.
  echo force-unsafe-io >"$root/etc/dpkg/dpkg.cfg.d/pkgtest-unsafe-io"
}

install_package() {
  local deb=$1
  mkdir -p "$root/tmp/package"
  cp "$deb" "$root/tmp/package/"
  say "apt-get update and apt-get install ./$(basename "$deb") in the chroot"
  in_root apt-get update -qq >"$work/apt.log" 2>&1 ||
    { tail -n 20 "$work/apt.log"; skip "apt-get update in the chroot failed: registry unreachable?"; }
  # Without recommends: the package's own dependencies must be enough to start.
  if ! in_root sh -c "cd /tmp/package && apt-get install -y --no-install-recommends ./$(basename "$deb")" \
    >>"$work/apt.log" 2>&1; then
    tail -n 30 "$work/apt.log"
    fail_now "apt-get install of the package failed (log: $work/apt.log)"
  fi
}

# --- checks --------------------------------------------------------------------

owner_and_mode() {
  in_root stat -c '%U:%G %a' "$1" 2>/dev/null
}

has_owner_and_mode() {
  [ "$(owner_and_mode "$1")" = "$2" ]
}

group_exists() {
  in_root getent group marindo >/dev/null
}

group_missing() {
  ! group_exists
}

check_installed_files() {
  check "/usr/bin/marindo is an executable" test -x "$root/usr/bin/marindo"
  check "/usr/bin/marindo-cli is an executable" test -x "$root/usr/bin/marindo-cli"
  check "marindo-cli needs no Qt" cannot sh -c "ldd '$root/usr/bin/marindo-cli' | grep -q Qt"
  check "desktop entry installed" test -f "$root/usr/share/applications/marindo.desktop"
  if command -v desktop-file-validate >/dev/null 2>&1; then
    check "desktop entry validates" desktop-file-validate "$root/usr/share/applications/marindo.desktop"
  fi
  check "scalable icon installed" test -s "$root/usr/share/icons/hicolor/scalable/apps/marindo.svg"
  local size
  for size in 16 32 48 64; do
    check "${size}x$size icon installed" test -s "$root/usr/share/icons/hicolor/${size}x$size/apps/marindo.png"
  done
  check "man page marindo(1) installed and readable" man_page_names "$root/usr/share/man/man1/marindo.1.gz" marindo
  check "man page marindo-cli(1) installed and readable" \
    man_page_names "$root/usr/share/man/man1/marindo-cli.1.gz" marindo-cli
  check "bash completion of marindo-cli installed" \
    completion_bound "$root/usr/share/bash-completion/completions/marindo-cli"
  check "group marindo exists" group_exists
  check "$settings_folder is root:marindo 2770" has_owner_and_mode "$settings_folder" "root:marindo 2770"
}

# A compressed man page whose NAME line names the program, as man shows it
# (zcat reads it where man-db is missing).
man_page_names() {
  local file=$1 program=$2 text
  [ -s "$file" ] || return 1
  if command -v man >/dev/null 2>&1; then
    text=$(MANWIDTH=80 man -l "$file" 2>/dev/null) || return 1
    grep -Eq "^[[:space:]]+${program}[[:space:]]+-[[:space:]]" <<<"$text"
  else
    text=$(zcat "$file") || return 1
    grep -Fq "${program//-/\\-} \\- " <<<"$text"
  fi
}

# The completion file, sourced by bash, completes marindo-cli.
completion_bound() {
  [ -s "$1" ] && bash -c 'source "$1" && complete -p marindo-cli' bash "$1" >/dev/null 2>&1
}

# Debian's own checks of the package, run on this machine. The man pages must
# pass them; whatever else lintian reports (a package built by CPack has no
# changelog or copyright file, for one) is printed and fails nothing here.
check_lintian() {
  local deb=$1 report="$work/lintian.log" manuals others
  if ! command -v lintian >/dev/null 2>&1; then
    say "lintian is missing (bash scripts/setup.sh installs it): the package's lintian checks are skipped"
    return
  fi
  lintian --tag-display-limit 0 "$deb" >"$report" 2>&1 || true
  local about_manuals='manpage|manual-page|whatis|groff-message|usr/share/man/'
  manuals=$(grep -E '^[EW]: ' "$report" | grep -E "$about_manuals" || true)
  others=$(grep -E '^E: ' "$report" | grep -Ev "$about_manuals" || true)
  check "lintian finds nothing wrong with the man pages" test -z "$manuals"
  if [ -n "$manuals" ]; then
    printf '%s\n' "$manuals" | sed 's/^/  /'
  fi
  if [ -n "$others" ]; then
    say "lintian's other errors (not checked here; the whole report is $report):"
    printf '%s\n' "$others" | sed 's/^/  /'
  fi
}

# --- the site exporter --------------------------------------------------------

readonly exporter_unit=/lib/systemd/system/marindo-exporter.service
readonly exporter_config=/etc/marindo/exporter.conf
readonly exporter_rules=/usr/share/marindo/prometheus/marindo-alerts.yml
readonly exporter_user=marindo-exporter

# Any link to the unit under /etc/systemd/system: what enabling it makes.
exporter_unit_not_enabled() {
  [ -z "$(find "$root/etc/systemd/system" -name "$(basename "$exporter_unit")" 2>/dev/null)" ]
}

# systemd-analyze verify of the installed unit: in the chroot where it has
# systemd, otherwise on this machine with ExecStart pointed into the chroot.
# Unknown or malformed settings are only warned about, so any output fails.
# The man page it names is checked above.
check_exporter_unit_verifies() {
  local output status copy="$work/unit-check/marindo-exporter.service"
  if in_root sh -c 'command -v systemd-analyze' >/dev/null 2>&1; then
    output=$(in_root systemd-analyze verify --man=no "$exporter_unit" 2>&1)
    status=$?
  elif command -v systemd-analyze >/dev/null 2>&1; then
    mkdir -p "$(dirname "$copy")"
    sed "s|^ExecStart=/usr/bin/|ExecStart=$root/usr/bin/|" "$root$exporter_unit" >"$copy"
    output=$(systemd-analyze verify --man=no "$copy" 2>&1)
    status=$?
  else
    say "systemd-analyze is missing here and in the chroot; the unit is not verified"
    return 0
  fi
  if [ -n "$output" ]; then
    printf '%s\n' "$output" | sed 's/^/  /'
    return 1
  fi
  return "$status"
}

# A system user whose shell refuses logins and whose home does not exist.
exporter_user_is_system_without_login() {
  local entry uid home shell
  entry=$(in_root getent passwd "$exporter_user") || return 1
  IFS=: read -r _ _ uid _ _ home shell <<<"$entry"
  [ "$uid" -lt 1000 ] && [ "$shell" = /usr/sbin/nologin ] && [ ! -e "$root$home" ]
}

exporter_user_outside_operators() {
  local groups
  groups=$(in_root id -nG "$exporter_user") || return 1
  ! tr ' ' '\n' <<<"$groups" | grep -qx marindo
}

exporter_config_is_conffile() {
  # shellcheck disable=SC2016 # a dpkg-query field, not a shell variable
  in_root dpkg-query -W -f='${Conffiles}\n' marindo | grep -Eq "^ $exporter_config [0-9a-f]{32}\$"
}

# promtool from the chroot, or from this machine on the installed file.
exporter_rules_accepted() {
  if in_root sh -c 'command -v promtool' >/dev/null 2>&1; then
    in_root promtool check rules "$exporter_rules" >/dev/null
  elif command -v promtool >/dev/null 2>&1; then
    promtool check rules "$root$exporter_rules" >/dev/null
  else
    say "promtool is missing here and in the chroot; the installed rules are not checked"
  fi
}

# The link `systemctl enable marindo-exporter` makes (the chroot has no
# systemctl).
readonly exporter_wants_link=/etc/systemd/system/multi-user.target.wants/marindo-exporter.service

enable_exporter_as_administrator() {
  in_root mkdir -p "$(dirname "$exporter_wants_link")"
  in_root ln -sf "$exporter_unit" "$exporter_wants_link"
}

user_missing() {
  ! in_root getent passwd "$1" >/dev/null && ! in_root getent group "$1" >/dev/null
}

check_exporter_installed() {
  check "$exporter_unit installed" test -f "$root$exporter_unit"
  check "the exporter's unit is not enabled" exporter_unit_not_enabled
  check "systemd-analyze verify finds nothing wrong with the unit" check_exporter_unit_verifies
  check "user $exporter_user is a system user with no login and no home" exporter_user_is_system_without_login
  check "user $exporter_user is not in group marindo" exporter_user_outside_operators
  check "$exporter_config is a conffile" exporter_config_is_conffile
  check "$exporter_config is readable by $exporter_user" as_user "$exporter_user" test -r "$exporter_config"
  check "$exporter_rules installed" test -s "$root$exporter_rules"
  check "promtool accepts $exporter_rules" exporter_rules_accepted
}

# An administrator's change to the exporter's settings survives the package
# being installed again.
readonly exporter_config_mark='targets = 10.20.0.0/22'

change_exporter_config() {
  in_root sed -i "s|^targets =.*|$exporter_config_mark|" "$exporter_config"
}

check_exporter_after_reinstall() {
  check "reinstall: the administrator's $exporter_config is kept" \
    in_root grep -qx "$exporter_config_mark" "$exporter_config"
  check "reinstall: the exporter's unit is still not enabled" exporter_unit_not_enabled
  check "user $exporter_user cannot read the operators' settings" \
    cannot as_user "$exporter_user" cat "$settings_folder/Tessaly.ini"
}

# The program writes its settings through a temporary file renamed over the
# old one; operators do the same here.
# shellcheck disable=SC2016 # expanded by the operator's shell
readonly write_settings='set -e
umask 077
temporary=$(mktemp /var/lib/marindo/.Tessaly.ini.XXXXXX)
printf "[LOGIN_PSW]\npwd=%s\n" "$1" >"$temporary"
chmod 0660 "$temporary"
mv -f "$temporary" /var/lib/marindo/Tessaly.ini'

settings_say() {
  as_user "$1" grep -qx "pwd=$2" "$settings_folder/Tessaly.ini"
}

cannot() {
  ! "$@" 2>/dev/null
}

check_folder_access() {
  in_root useradd --create-home --groups marindo --shell /bin/sh operator1
  in_root useradd --create-home --groups marindo --shell /bin/sh operator2
  in_root useradd --create-home --shell /bin/sh outsider
  local file="$settings_folder/Tessaly.ini"
  check "an operator creates Tessaly.ini" as_user operator1 sh -c "$write_settings" sh first
  check "the new file is group marindo, mode 660" has_owner_and_mode "$file" "operator1:marindo 660"
  check "another operator reads it" settings_say operator2 first
  check "another operator rewrites it" as_user operator2 sh -c "$write_settings" sh second
  check "the rewritten file stays group marindo, mode 660" has_owner_and_mode "$file" "operator2:marindo 660"
  check "the first operator reads the rewrite" settings_say operator1 second
  check "a non-operator cannot read Tessaly.ini" cannot as_user outsider cat "$file"
  check "a non-operator cannot list $settings_folder" cannot as_user outsider ls "$settings_folder"
  check "a non-operator cannot create files there" cannot as_user outsider sh -c "echo x >$settings_folder/x"
}

# --- the program on a display --------------------------------------------------

start_xvfb() {
  local number
  for number in $(seq 90 189); do
    if [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ]; then
      continue
    fi
    Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do
      if [ -S "/tmp/.X11-unix/X$number" ]; then
        display=":$number"
        return 0
      fi
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
  done
  fail_now "no Xvfb display could be started (log: $work/xvfb.log)"
}

# A visible window with the login window's caption that belongs to marindo
# (xdotool matches name and class against one pattern, hence two searches).
login_window_shown() {
  local named own
  named=$(DISPLAY=$display xdotool search --onlyvisible --name "^${window_title//./\\.}\$" 2>/dev/null) || return 1
  own=$(DISPLAY=$display xdotool search --onlyvisible --classname '^marindo$' 2>/dev/null) || return 1
  grep -Fxq -f <(echo "$named") <<<"$own"
}

app_alive() {
  kill -0 "$app_pid" 2>/dev/null
}

# The clock socket on UDP port 7000 opens only with the main window.
clock_port_closed() {
  ! nsenter --net="/proc/$app_pid/ns/net" ss -Hlun 'sport = :7000' | grep -q .
}

wait_for_login_window() {
  for _ in $(seq $((window_wait_seconds * 5))); do
    login_window_shown && return 0
    app_alive || return 1
    sleep 0.2
  done
  return 1
}

check_program_starts() {
  start_xvfb
  mkdir -p "$root/tmp/.X11-unix"
  mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
  say "starting marindo as operator1 on Xvfb $display in a network namespace of its own"
  # unshare, chroot, setpriv and env each exec the next, so $! is marindo.
  env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 HOME=/home/operator1 DISPLAY="$display" QT_QPA_PLATFORM=xcb \
    unshare --net chroot "$root" setpriv --reuid=operator1 --regid=operator1 --init-groups marindo \
    >"$work/marindo.log" 2>&1 &
  app_pid=$!
  check "the login window \"$window_title\" shows within ${window_wait_seconds} s" wait_for_login_window
  sleep 1
  check "marindo is still running" app_alive
  if app_alive; then
    check "no clock socket is open before login" clock_port_closed
  fi
  if [ "$failures" -ne 0 ]; then
    say "marindo's output:"
    sed 's/^/  /' "$work/marindo.log"
  fi
  kill -TERM "$app_pid" 2>/dev/null || true
  wait "$app_pid" 2>/dev/null || true
  app_pid=""
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
  umount "$root/tmp/.X11-unix"
}

# --- upgrade and purge ---------------------------------------------------------

# A folder and settings file left by a run as root (before the package, or
# changed by hand) are given back to the operators by the next install.
check_reinstall_repairs_access() {
  in_root chown root:root "$settings_folder" "$settings_folder/Tessaly.ini"
  in_root chmod 0700 "$settings_folder"
  in_root chmod 0600 "$settings_folder/Tessaly.ini"
  if ! in_root dpkg -i "/tmp/package/$(basename "$1")" >>"$work/apt.log" 2>&1; then
    check "reinstalling the package" false
    return
  fi
  check "reinstall: $settings_folder is root:marindo 2770 again" has_owner_and_mode "$settings_folder" "root:marindo 2770"
  check "reinstall: Tessaly.ini is root:marindo 660 again" has_owner_and_mode "$settings_folder/Tessaly.ini" "root:marindo 660"
  check "reinstall: the stored settings are kept" settings_say operator1 second
}

# --- the settings folder against its operators ----------------------------------

# Operators may put anything into the settings folder, and root configures the
# package there. Whatever they plant, configuring must not hand them a file of
# root's: the owner and mode of such a file stay as they were.
readonly guarded=/root/pkgtest-guarded
readonly race_runs=60

# Bounded: a configure step that waits on something an operator planted would
# hang every later install.
reconfigure() {
  in_root timeout 120 dpkg-reconfigure --frontend=noninteractive marindo >>"$work/configure.log" 2>&1
}

# The package's configure step as dpkg runs it, without dpkg around it, so
# that many runs fit in a few seconds.
run_postinst() {
  in_root /var/lib/dpkg/info/marindo.postinst configure 2>&1
}

# Made anew before each attempt, so that each check stands on its own.
fresh_guarded() {
  in_root rm -f "$guarded"
  in_root sh -c "umask 077 && echo guarded >$guarded"
}

both_positive() {
  [ "$1" -gt 0 ] && [ "$2" -gt 0 ]
}

is_link() {
  [ -L "$root$1" ]
}

# Trades Tessaly.ini for a regular file and a link to the guarded file, over
# and over, each with one rename: what an operator would run to catch root
# between a look at the name and a chown through it.
# shellcheck disable=SC2016 # perl's own variables
readonly swap_settings='chdir "/var/lib/marindo" or die "$!\n";
my $target = shift;
while (1) {
  open(my $file, ">", ".swap-file") or die "$!\n";
  close($file);
  rename(".swap-file", "Tessaly.ini") or die "$!\n";
  symlink($target, ".swap-link") or die "$!\n";
  rename(".swap-link", "Tessaly.ini") or die "$!\n";
}'

check_configure_under_race() {
  fresh_guarded
  # Started without as_user, a shell function that would stand between $! and
  # perl: env, chroot and setpriv each exec the next.
  env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
    chroot "$root" setpriv --reuid=operator1 --regid=operator1 --init-groups \
    perl -e "$swap_settings" "$guarded" &
  local swapper=$! output completed=0 seen_link=0 seen_file=0
  sleep 0.2
  for _ in $(seq "$race_runs"); do
    if ! output=$(run_postinst); then
      say "configure failed: $output"
      break
    fi
    completed=$((completed + 1))
    # What the operator had there just after: proof that the swaps went on.
    if is_link "$settings_folder/Tessaly.ini"; then
      seen_link=$((seen_link + 1))
    else
      seen_file=$((seen_file + 1))
    fi
  done
  check "the swapping operator was still at work" kill -0 "$swapper"
  kill -KILL "$swapper" 2>/dev/null || true
  wait "$swapper" 2>/dev/null || true
  say "configure ran $completed times while an operator swapped Tessaly.ini (a link after $seen_link runs, a file after $seen_file)"
  check "configure ran to its end all $race_runs times during the swaps" test "$completed" -eq "$race_runs"
  check "the operator swapped throughout" both_positive "$seen_link" "$seen_file"
  check "race: the guarded file is still root:root 600" has_owner_and_mode "$guarded" "root:root 600"
}

check_configure_follows_no_link() {
  local file="$settings_folder/Tessaly.ini" shadow_before
  : >"$work/configure.log"
  in_root mv "$file" "$settings_folder/.kept"
  fresh_guarded
  check "the guarded file is root:root 600" has_owner_and_mode "$guarded" "root:root 600"
  shadow_before=$(owner_and_mode /etc/shadow)

  as_user operator1 ln -s /etc/shadow "$file"
  check "reconfigure with Tessaly.ini a link to /etc/shadow" reconfigure
  check "/etc/shadow keeps its owner and mode ($shadow_before)" has_owner_and_mode /etc/shadow "$shadow_before"
  check "the link is left as it was" is_link "$file"
  in_root rm -f "$file"

  fresh_guarded
  as_user operator1 ln -s "$guarded" "$file"
  check "reconfigure with Tessaly.ini a link to a root-only file" reconfigure
  check "the linked file keeps root:root 600" has_owner_and_mode "$guarded" "root:root 600"
  in_root rm -f "$file"

  # Operators cannot make this one where hard links are protected (the
  # default), but a machine may have that switched off.
  fresh_guarded
  in_root ln "$guarded" "$file"
  check "reconfigure with Tessaly.ini a hard link to a root-only file" reconfigure
  check "the hard-linked file keeps root:root 600" has_owner_and_mode "$guarded" "root:root 600"
  in_root rm -f "$file"

  as_user operator1 mkfifo "$file"
  check "reconfigure with Tessaly.ini a fifo ends" reconfigure
  in_root rm -f "$file"

  check_configure_under_race
  in_root rm -f "$file" "$settings_folder/.swap-file" "$settings_folder/.swap-link"

  in_root mv "$settings_folder/.kept" "$file"
  check "reconfigure with the settings file back in place" reconfigure
  check "the settings file is root:marindo 660" has_owner_and_mode "$file" "root:marindo 660"
  check "the stored settings are still there" settings_say operator1 second
  if [ "$failures" -ne 0 ]; then
    say "configure's output:"
    sed 's/^/  /' "$work/configure.log"
  fi
}

purge_package() {
  in_root apt-get purge -y -qq marindo >>"$work/apt.log" 2>&1
}

check_purge() {
  enable_exporter_as_administrator
  check "apt-get purge marindo" purge_package
  check "purge removes $settings_folder" test ! -e "$root$settings_folder"
  check "purge removes group marindo" group_missing
  check "purge removes user and group $exporter_user" user_missing "$exporter_user"
  check "purge removes $exporter_config" test ! -e "$root$exporter_config"
  check "purge removes the link of an administrator's enabling of the exporter" \
    test ! -L "$root$exporter_wants_link"
}

# --- main ----------------------------------------------------------------------

run() {
  mkdir -p "$work"
  exec 9>"$work/.lock"
  flock -n 9 || fail_now "another package test runs in $work"
  trap cleanup EXIT
  trap 'exit 1' INT TERM HUP

  local deb mirror
  deb=$(package_path "${1:-}")
  say "package: $deb"
  mirror=$(main_mirror)
  registry_reachable "$mirror" || skip "the Debian registry $mirror is unreachable"

  if [ ! -f "$base_tar" ]; then
    make_base_tarball "$mirror"
  fi
  unpack_fresh_root
  mount_into_root
  prepare_root
  install_package "$deb"

  check_installed_files
  check_exporter_installed
  check_lintian "$deb"
  check_folder_access
  check_program_starts
  change_exporter_config
  check_reinstall_repairs_access "$deb"
  check_exporter_after_reinstall
  check_configure_follows_no_link
  check_purge

  if [ "$failures" -ne 0 ]; then
    say "FAIL: $failures check(s) failed (logs in $work)"
    exit 1
  fi
  say "PASS: the package installs on a fresh Debian 12 and marindo starts"
}

require_tools
if [ -z "${MARINDO_PKGTEST_PRIVATE:-}" ]; then
  # Everything below mounts inside a mount namespace of its own: whatever
  # happens to this script, no mount outlives it on the machine.
  exec unshare --mount --propagation private env MARINDO_PKGTEST_PRIVATE=1 bash "$0" "$@"
fi
run "$@"
