#!/usr/bin/env python3
"""A private Postfix mail queue for tests, never the system's.

Usage: postfix_server.py FOLDER CERT KEY DOMAIN LMTP_PORT AUTH_PORT

Writes a configuration directory FOLDER/etc (its own queue_directory FOLDER/queue and
data_directory FOLDER/data, its log in FOLDER/postfix.log), starts Postfix with `postfix -c
FOLDER/etc start`, and prints "LISTENING SUBMISSION_PORT" once its submission port on 127.0.0.1
accepts connections. It runs until its standard input closes, then stops that Postfix.

Mail for DOMAIN is delivered over LMTP to 127.0.0.1:LMTP_PORT (the tests' Dovecot), whose answer
decides: an unknown recipient there is bounced with a delivery status notification to the sender.
Mail for any other domain is bounced at once: nothing leaves the machine. The submission port
requires STARTTLS (with CERT and KEY) and a login, checked by Dovecot's auth service at
127.0.0.1:AUTH_PORT. `sendmail` reaches this instance with MAIL_CONFIG=FOLDER/etc in its
environment.

Postfix starts only as root.
"""

import os
import pwd
import signal
import socket
import subprocess
import sys
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


MASTER = """\
{port} inet n - n - - smtpd
  -o syslog_name=postfix/submission
  -o smtpd_tls_security_level=encrypt
  -o smtpd_sasl_auth_enable=yes
  -o smtpd_tls_auth_only=yes
  -o smtpd_client_restrictions=permit_sasl_authenticated,reject
  -o smtpd_relay_restrictions=permit_sasl_authenticated,reject
pickup    unix  n - n 60   1 pickup
cleanup   unix  n - n -    0 cleanup
qmgr      unix  n - n 300  1 qmgr
tlsmgr    unix  - - n 1000? 1 tlsmgr
rewrite   unix  - - n -    - trivial-rewrite
bounce    unix  - - n -    0 bounce
defer     unix  - - n -    0 bounce
trace     unix  - - n -    0 bounce
verify    unix  - - n -    1 verify
flush     unix  n - n 1000? 0 flush
proxymap  unix  - - n -    - proxymap
smtp      unix  - - n -    - smtp
relay     unix  - - n -    - smtp
showq     unix  n - n -    - showq
error     unix  - - n -    - error
retry     unix  - - n -    - error
discard   unix  - - n -    - discard
lmtp      unix  - - n -    - lmtp
anvil     unix  - - n -    1 anvil
scache    unix  - - n -    1 scache
postlog   unix-dgram n - n - 1 postlogd
"""


def main():
    folder, cert, key, domain, lmtp_port, auth_port = sys.argv[1:7]
    if os.getuid() != 0:
        print("FAILED Postfix starts only as root", flush=True)
        return 1
    folder = os.path.abspath(folder)
    etc, queue, data = (os.path.join(folder, sub) for sub in ("etc", "queue", "data"))
    for path in (etc, queue, data):
        os.makedirs(path, exist_ok=True)
    # The mail system's users must reach the queue through the test's private folders.
    os.chmod(os.path.dirname(folder), 0o711)
    os.chmod(folder, 0o755)
    os.chmod(queue, 0o755)
    owner = pwd.getpwnam("postfix")
    os.chown(data, owner.pw_uid, owner.pw_gid)
    port = free_port()
    never_out = "error:the test mail queue delivers nothing outside " + domain
    main_cf = f"""\
compatibility_level = 3.6
queue_directory = {queue}
data_directory = {data}
maillog_file = {folder}/postfix.log
maillog_file_prefixes = {folder}
mail_owner = postfix
setgid_group = postdrop
myhostname = mail.{domain}
mydomain = {domain}
myorigin = {domain}
mydestination = {domain}, localhost
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
mynetworks = 127.0.0.0/8
local_transport = lmtp:inet:127.0.0.1:{lmtp_port}
local_recipient_maps =
alias_maps =
alias_database =
relayhost =
default_transport = {never_out}
relay_transport = {never_out}
biff = no
smtputf8_enable = no
delay_warning_time = 0
smtpd_tls_cert_file = {cert}
smtpd_tls_key_file = {key}
smtpd_tls_security_level = may
smtpd_sasl_type = dovecot
smtpd_sasl_path = inet:127.0.0.1:{auth_port}
smtpd_sasl_auth_enable = no
"""
    with open(os.path.join(etc, "main.cf"), "w") as f:
        f.write(main_cf)
    with open(os.path.join(etc, "master.cf"), "w") as f:
        f.write(MASTER.format(port=f"127.0.0.1:{port}"))
    postfix = ["/usr/sbin/postfix", "-c", etc]
    log_path = os.path.join(folder, "postfix.log")

    def run(*args):
        return subprocess.run(postfix + list(args), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True)

    def stop(*_):
        if run("stop").returncode != 0:
            run("abort")
        # The master's own pid, should stop not end it.
        try:
            with open(os.path.join(queue, "pid", "master.pid")) as f:
                os.kill(int(f.read().strip()), signal.SIGKILL)
        except (OSError, ValueError):
            pass

    def fail(why):
        stop()
        sys.stderr.write(why + "\n")
        try:
            with open(log_path) as log:
                sys.stderr.write(log.read())
        except OSError:
            pass
        print("FAILED", flush=True)
        return 1

    # "check" creates the queue's folders with their owners and modes.
    checked = run("check")
    started = run("start")
    if started.returncode != 0:
        return fail(checked.stdout + started.stdout)
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            break
        except OSError:
            time.sleep(0.05)
    else:
        return fail("the submission port never answered")
    # A test killed (a timeout, Ctrl-C) must not leave its Postfix running.
    for number in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(number, lambda *_: sys.exit(1))
    print(f"LISTENING {port}", flush=True)
    try:
        sys.stdin.buffer.read()
    finally:
        stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
