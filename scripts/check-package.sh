#!/usr/bin/env bash
# Checks the Debian package as an administrator meets it, then removes it again:
#  1. lintian reports no error and no warning;
#  2. it holds the program, every help page, the menu entry, the icons, the AppStream data, the
#     manual page, the copyright file and the change log, and the validators accept them;
#  3. it installs (dpkg -i; apt-get -f install brings missing dependencies), and the installed
#     program runs with a private config and data folder, reports its version, shows and saves
#     settings, names its help folder, which holds the help pages, and opens its window;
#  4. dpkg -r removes it and leaves no file behind.
# Needs root, or sudo, to install. Usage: scripts/check-package.sh [quorvale_VERSION_ARCH.deb]
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
installed=0
cleanup() {
    [ "$installed" -eq 0 ] || $SUDO dpkg -r quorvale >/dev/null 2>&1 || true
    rm -rf "$work"
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

# --- 3. install and run ---------------------------------------------------------------------
dpkg-query -W -f='${db:Status-Abbrev}' quorvale 2>/dev/null | grep -q '^ii' && fail "quorvale is already installed"
owned_dirs=(/usr/bin /usr/share/quorvale /usr/share/applications /usr/share/icons/hicolor /usr/share/metainfo
    /usr/share/man/man1 /usr/share/doc/quorvale)
# The icon and menu caches are rebuilt by their own triggers for every package that adds icons or
# menu entries; the first package to arrive creates them. They are not this package's files.
snapshot() {
    { find "${owned_dirs[@]}" 2>/dev/null || true; } | grep -vE '/(icon-theme|mimeinfo)\.cache$' | LC_ALL=C sort
}
snapshot >"$work/before"
# Every path in the package, and those of them that exist before it is installed (folders).
dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -e 's|^\./|/|' -e 's|/$||' | grep -v '^/\?$' | LC_ALL=C sort >"$work/paths"
while read -r path; do [ ! -e "$path" ] || echo "$path"; done <"$work/paths" >"$work/existing"

step "dpkg -i"
installed=1
if ! $SUDO dpkg -i "$deb"; then
    step "installing missing dependencies"
    $SUDO apt-get update -q
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get -f install -y -q
fi
dpkg-query -W -f='${db:Status-Abbrev}' quorvale | grep -q '^ii' || fail "quorvale did not install"
dpkg -L quorvale | grep -v '^/\.$' | LC_ALL=C sort >"$work/listed"
diff -u "$work/paths" "$work/listed" || fail "dpkg -L does not list what the package holds"

step "the installed program"
home="$work/home"
mkdir -p "$home"
run() { env HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" /usr/bin/quorvale "$@"; }
[ "$(command -v quorvale)" = /usr/bin/quorvale ] || fail "quorvale is not on the PATH as /usr/bin/quorvale"
[ "$(run --version)" = "Quorvale $version" ] || fail "quorvale --version says \"$(run --version)\""
run config show >"$work/show" || fail "quorvale config show"
grep -q '^EmailFrom=' "$work/show" || fail "quorvale config show shows no settings"
run config set SubjectLine "Package check" || fail "quorvale config set"
[ "$(run config get SubjectLine)" = "Package check" ] || fail "quorvale config get does not read back the saved value"
[ "$(stat -c %a "$home/config/Quorvale/Quorvale.ini")" = 600 ] || fail "the settings file is not private"
helpline="$(run --help | tail -n 1)"
[ "$helpline" = "The help pages are in /usr/share/quorvale/help (start with main.html)." ] \
    || fail "quorvale --help ends with \"$helpline\""
# The help pages of the source tree are the fallback of a build folder only, never of the package.
! grep -qF "$src/help" /usr/bin/quorvale || fail "the installed program looks for help in the source tree"
man -w quorvale | grep -qx /usr/share/man/man1/quorvale.1.gz || fail "man does not find the manual page"
env HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_RUNTIME_DIR="$home" \
    QT_QPA_PLATFORM=offscreen /usr/bin/quorvale >"$work/window.log" 2>&1 &
window=$!
sleep 3
kill -0 "$window" 2>/dev/null || { cat "$work/window.log" >&2; fail "the window did not stay open"; }
kill "$window"
wait "$window" 2>/dev/null || true

# --- 4. remove ------------------------------------------------------------------------------
step "dpkg -r"
$SUDO dpkg -r quorvale
installed=0
dpkg-query -W -f='${db:Status-Abbrev}' quorvale 2>/dev/null | grep -q '^ii' && fail "quorvale is still installed"
while read -r path; do
    [ ! -e "$path" ] || grep -qx "$path" "$work/existing" || fail "$path is left behind"
done <"$work/listed"
snapshot >"$work/after"
diff -u "$work/before" "$work/after" || fail "removing quorvale left the folders above different from before"
step "passed"
