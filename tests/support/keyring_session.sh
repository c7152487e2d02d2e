#!/bin/sh
# Runs inside dbus-run-session: starts a gnome-keyring-daemon whose login keyring lives in the
# folder $1 and is unlocked (so no prompt is ever needed), prints "BUS <address>" and waits until
# standard input closes; dbus-run-session then ends the bus, and the keyring daemon with it.
set -eu
export HOME="$1" XDG_DATA_HOME="$1/data" XDG_RUNTIME_DIR="$1/run"
mkdir -p "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
printf '%s' quorvale-test | gnome-keyring-daemon --unlock --components=secrets >/dev/null
# The daemon takes its bus name a moment after it returns; until then the bus would start another.
for _ in $(seq 50); do
    dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
        string:org.freedesktop.secrets 2>/dev/null | grep -q "boolean true" && break
    sleep 0.1
done
echo "BUS $DBUS_SESSION_BUS_ADDRESS"
cat >/dev/null
