#!/usr/bin/env bash
# Installs every Debian package Quorvale needs to build, run and test. Safe to run again:
# when everything is already installed it changes nothing.
set -euo pipefail

packages=(
    # build; the icons are drawn from the SVG and the manual page written by Python scripts
    build-essential cmake ninja-build pkg-config
    qt6-base-dev libcurl4-openssl-dev qtkeychain-qt6-dev libglib2.0-dev
    python3 librsvg2-bin
    # the Debian package: its dependencies and hardening flags (dpkg-dev), and its checks;
    # man also formats the manual page in the tests
    dpkg-dev lintian desktop-file-utils appstream file man-db
    # run: printing hands documents to CUPS's lp; fonts for the window
    cups-client fonts-dejavu-core
    # run: the system keyring is reached through libsecret, which QtKeychain loads when it is there
    libsecret-1-0
    # tests: a real SMTP server on 127.0.0.1, certificates made by the fixture, a virtual display
    python3 python3-aiosmtpd openssl xvfb xauth ca-certificates
    # tests: a real IMAP server (Dovecot), run with a private configuration by the tests; its LMTP
    # delivery takes the mail of the tests' private Postfix (added below)
    dovecot-imapd dovecot-lmtpd
    # tests: a real keyring (gnome-keyring-daemon) on a private session bus (dbus-run-session)
    gnome-keyring dbus-daemon dbus-bin
    # fuzzing: clang with its libFuzzer and sanitizer runtimes
    clang libclang-rt-14-dev
)

# tests: a real mail queue (Postfix), run with a private configuration by the tests. Installed
# without a configuration of its own, so that it neither starts nor changes how this machine sends
# mail; never over another mail server, which installing it would remove.
if dpkg-query -W -f='${Status}' postfix 2>/dev/null | grep -q "install ok installed"; then
    packages+=(postfix)
elif [ -e /usr/sbin/sendmail ]; then
    echo "setup: another mail server is installed; postfix is left out (the tests that need it are skipped)" >&2
else
    packages+=(postfix)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    echo "setup: all packages present"
    exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if printf '%s\n' "${missing[@]}" | grep -qx postfix; then
    echo "postfix postfix/main_mailer_type select No configuration" | $SUDO debconf-set-selections
fi
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
