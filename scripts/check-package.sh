#!/usr/bin/env bash
# Checks the Debian package as an administrator meets it, without touching the machine's own
# installation (which may hold another quorvale, or none):
#  1. lintian reports no error and no warning;
#  2. it holds the program, every help page, the menu entry, the icons, the AppStream data, the
#     manual page (which names the installed help folder), the copyright file and the change log,
#     and the validators accept them; apt could install its dependencies here;
#  3. it installs with dpkg into a scratch root folder (its own dpkg database), and the program
#     installed there runs with a private config and data folder, reports its version, shows and
#     saves settings, names the help folder beside it, which holds the help pages, and opens its window;
#  4. dpkg -r removes it from the scratch root and leaves no file behind; the machine's own
#     folders are as they were before the check.
# Needs root, or sudo, for dpkg. Usage: scripts/check-package.sh [quorvale_VERSION_ARCH.deb]
set -euo pipefail
cd "$(dirname "$0")/.."
src="$(pwd)"
if [ $# -gt 0 ]; then
    deb="$(realpath "$1")"
else
    debs=(quorvale_*.deb)
    [ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "check-package: give the .deb to check" >&2; exit 2; }
    deb="$src/${debs[0]}"
fi
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
work="$(mktemp -d)"
cleanup() {
    # dpkg wrote the scratch root as root.
    $SUDO rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "check-package: FAILED: $*" >&2
    exit 1
}
step() { echo "check-package: $*"; }

version="$(dpkg-deb -f "$deb" Version)"
depends="$(dpkg-deb -f "$deb" Depends)"
step "$(basename "$deb"): $(dpkg-deb -f "$deb" Package) $version, depends on: $depends"
# The keyring library the sign-in links, and libsecret through which it reaches the keyring.
[[ "$depends" == *libqt6keychain1* ]] || fail "the package does not depend on the keyring library"
[[ "$(dpkg-deb -f "$deb" Recommends)" == *libsecret-1-0* ]] || fail "the package does not recommend libsecret"

# --- 1. lintian -----------------------------------------------------------------------------
step "lintian"
lintian_ok=1
report="$(lintian --display-info --fail-on error,warning "$deb" 2>&1)" || lintian_ok=0
grep -v "running with root privileges" <<<"$report" || true
[ "$lintian_ok" -eq 1 ] || fail "lintian reports errors or warnings (above)"

# --- 2. contents and validators -------------------------------------------------------------
step "contents and validators"
root="$work/root"
dpkg-deb -x "$deb" "$root"
metainfo=("$root"/usr/share/metainfo/*.metainfo.xml)
expected=(usr/bin/quorvale usr/share/applications/quorvale.desktop
    usr/share/icons/hicolor/scalable/apps/quorvale.svg usr/share/man/man1/quorvale.1.gz
    usr/share/doc/quorvale/copyright usr/share/doc/quorvale/changelog.gz "${metainfo[@]#"$root"/}")
for page in help/*; do expected+=("usr/share/quorvale/$page"); done
for size in 16 24 32 48 64 128 256; do expected+=("usr/share/icons/hicolor/${size}x${size}/apps/quorvale.png"); done
for path in "${expected[@]}"; do
    [ -f "$root/$path" ] || fail "the package has no /$path"
done
for size in 16 24 32 48 64 128 256; do
    file -b "$root/usr/share/icons/hicolor/${size}x${size}/apps/quorvale.png" | grep -q "PNG image data, $size x $size," \
        || fail "the ${size}x${size} icon is not a $size x $size PNG"
done
report="$(desktop-file-validate "$root/usr/share/applications/quorvale.desktop" 2>&1)" || true
[ -z "$report" ] || fail "desktop-file-validate: $report"
appstreamcli validate --no-net "${metainfo[@]}" || fail "appstreamcli validate"
grep -q "<release version=\"$version\"" "${metainfo[@]}" || fail "the AppStream data has no release $version"
warnings="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$root/usr/share/man/man1/quorvale.1.gz" 2>&1 >/dev/null)"
[ -z "$warnings" ] || fail "the manual page does not format cleanly: $warnings"
manual="$(zcat "$root/usr/share/man/man1/quorvale.1.gz")"
grep -qF "The help pages are in /usr/share/quorvale/help (start with main.html)." <<<"$manual" \
    || fail "the manual page does not name the installed help folder"
! grep -qF "No help pages" <<<"$manual" || fail "the manual page says there are no help pages"
# What the package depends on can be installed (a simulation: nothing on the machine changes).
apt-get -s -q install "$deb" >"$work/apt" 2>&1 || { cat "$work/apt" >&2; fail "apt cannot install the package's dependencies"; }

# --- 3. install and run ---------------------------------------------------------------------
# The machine's own folders, before: the check never changes them, whether or not quorvale is
# installed here.
owned_dirs=(/usr/bin /usr/share/quorvale /usr/share/applications /usr/share/icons/hicolor /usr/share/metainfo
    /usr/share/man/man1 /usr/share/doc/quorvale)
snapshot() { { find "$@" 2>/dev/null || true; } | LC_ALL=C sort; }
snapshot "${owned_dirs[@]}" >"$work/machine-before"

# A scratch root with an empty dpkg database. The libraries the program needs are the machine's
# (dependencies are checked above), so the dependency check is left to that simulation.
sysroot="$work/sysroot"
mkdir -p "$sysroot/var/lib/dpkg/info" "$sysroot/var/lib/dpkg/updates"
touch "$sysroot/var/lib/dpkg/status" "$sysroot/var/lib/dpkg/available"
sysdpkg() { $SUDO dpkg --root="$sysroot" --force-depends "$@"; }
snapshot "$sysroot" | grep -v "^$sysroot/var/lib/dpkg" >"$work/before"
# Every path in the package.
dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -e 's|^\./|/|' -e 's|/$||' | grep -v '^/\?$' | LC_ALL=C sort >"$work/paths"

step "dpkg -i (into a scratch root)"
sysdpkg -i "$deb" >"$work/dpkg" 2>&1 || { cat "$work/dpkg" >&2; fail "dpkg -i"; }
$SUDO dpkg --root="$sysroot" -s quorvale | grep -qx 'Status: install ok installed' || fail "quorvale did not install"
$SUDO dpkg --root="$sysroot" -L quorvale | grep -v '^/\.$' | LC_ALL=C sort >"$work/listed"
diff -u "$work/paths" "$work/listed" || fail "dpkg -L does not list what the package holds"

step "the installed program"
home="$work/home"
mkdir -p "$home"
program="$sysroot/usr/bin/quorvale"
run() {
    env -u QUORVALE_HELP_DIR HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" "$program" "$@"
}
[ "$(run --version)" = "Quorvale $version" ] || fail "quorvale --version says \"$(run --version)\""
run config show >"$work/show" || fail "quorvale config show"
grep -q '^EmailFrom=' "$work/show" || fail "quorvale config show shows no settings"
run config set SubjectLine "Package check" || fail "quorvale config set"
[ "$(run config get SubjectLine)" = "Package check" ] || fail "quorvale config get does not read back the saved value"
[ "$(stat -c %a "$home/config/Quorvale/Quorvale.ini")" = 600 ] || fail "the settings file is not private"
helpline="$(run --help | tail -n 1)"
[ "$helpline" = "The help pages are in $sysroot/usr/share/quorvale/help (start with main.html)." ] \
    || fail "quorvale --help ends with \"$helpline\""
# The help pages of the source tree are the fallback of a build folder only, never of the package.
! grep -qF "$src/help" "$program" || fail "the installed program looks for help in the source tree"
man -M "$sysroot/usr/share/man" -w quorvale | grep -qx "$sysroot/usr/share/man/man1/quorvale.1.gz" \
    || fail "man does not find the manual page"
env -u QUORVALE_HELP_DIR HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" \
    XDG_RUNTIME_DIR="$home" QT_QPA_PLATFORM=offscreen "$program" >"$work/window.log" 2>&1 &
window=$!
sleep 3
kill -0 "$window" 2>/dev/null || { cat "$work/window.log" >&2; fail "the window did not stay open"; }
kill "$window"
wait "$window" 2>/dev/null || true

# --- 4. remove ------------------------------------------------------------------------------
step "dpkg -r (from the scratch root)"
sysdpkg -r quorvale >"$work/dpkg" 2>&1 || { cat "$work/dpkg" >&2; fail "dpkg -r"; }
$SUDO dpkg --root="$sysroot" -s quorvale 2>/dev/null | grep -qx 'Status: install ok installed' \
    && fail "quorvale is still installed"
snapshot "$sysroot" | grep -v "^$sysroot/var/lib/dpkg" >"$work/after"
diff -u "$work/before" "$work/after" || fail "removing quorvale left files behind"
snapshot "${owned_dirs[@]}" >"$work/machine-after"
diff -u "$work/machine-before" "$work/machine-after" || fail "the check changed the machine's own folders"
step "passed"
