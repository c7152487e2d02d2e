#!/usr/bin/env bash
# Installs what bench_mail compares against: postfix's smtp-sink (the postfix service itself is never
# started: a policy-rc.d forbids it during the install) and Node's nodemailer in a folder of its own.
# Usage: bench/mail/setup.sh [NODE_FOLDER]   (default /tmp/quorvale-bench-node)
set -euo pipefail
node_folder="${1:-/tmp/quorvale-bench-node}"

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

if [ ! -x /usr/sbin/smtp-sink ]; then
    made_policy=""
    if [ ! -e /usr/sbin/policy-rc.d ]; then
        printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
        $SUDO chmod 755 /usr/sbin/policy-rc.d
        made_policy=1
    fi
    trap '[ -z "$made_policy" ] || $SUDO rm -f /usr/sbin/policy-rc.d' EXIT
    echo "postfix postfix/main_mailer_type select No configuration" | $SUDO debconf-set-selections
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get install -y -q --no-install-recommends postfix || {
        $SUDO apt-get update -q
        $SUDO apt-get install -y -q --no-install-recommends postfix
    }
fi

if [ ! -d "$node_folder/node_modules/nodemailer" ]; then
    mkdir -p "$node_folder"
    npm install --silent --no-audit --no-fund --prefix "$node_folder" nodemailer
fi
echo "setup: smtp-sink and nodemailer ready (node modules in $node_folder)"
