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
    # tests: a real IMAP server (Dovecot), run with a private configuration by the tests
    dovecot-imapd
    # tests: a real keyring (gnome-keyring-daemon) on a private session bus (dbus-run-session)
    gnome-keyring dbus-daemon dbus-bin
    # fuzzing: clang with its libFuzzer and sanitizer runtimes
    clang libclang-rt-14-dev
)

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
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
