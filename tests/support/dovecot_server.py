#!/usr/bin/env python3
"""A private Dovecot IMAP server for tests, never the system's.

Usage: dovecot_server.py FOLDER CERT KEY USER PASSWORD

Writes a configuration into FOLDER (a passwd-file user, Maildir mail under FOLDER/home, logs in
FOLDER/dovecot.log), starts /usr/sbin/dovecot in the foreground on two free ports of 127.0.0.1 (one
with implicit TLS, one that requires STARTTLS before a login), and prints "LISTENING TLS_PORT
STARTTLS_PORT" once both accept connections. It runs until its standard input closes, then stops
Dovecot. The folder "Sent" carries the special-use flag \\Sent unless QUORVALE_DOVECOT_NO_SENT is
set, in which case no folder has it and none called "Sent" exists.

With QUORVALE_DOVECOT_LMTP set it also takes mail over LMTP and answers a mail server's SASL
questions (Dovecot's auth service), each on a free port of 127.0.0.1 that the ready line adds:
"LISTENING TLS_PORT STARTTLS_PORT LMTP_PORT AUTH_PORT". A recipient is known by the part of its
address before "@": USER, or one of the names in QUORVALE_DOVECOT_USERS (separated by blanks, each
with PASSWORD too).

Messages are stored with CR LF line ends, so a stored message is byte for byte what was appended.
"""

import grp
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


def main():
    folder, cert, key, user, password = sys.argv[1:6]
    me = pwd.getpwuid(os.getuid()).pw_name
    group = grp.getgrgid(os.getgid()).gr_name
    login = me
    if os.getuid() == 0:
        # Dovecot runs neither its login processes nor mail as root: as root the package's own
        # unprivileged users do, and the mail goes into a folder that user owns.
        me, login = "dovecot", "dovenull"
        group = grp.getgrgid(pwd.getpwnam(me).pw_gid).gr_name
    tls_port, starttls_port = free_port(), free_port()
    lmtp = bool(os.environ.get("QUORVALE_DOVECOT_LMTP"))
    lmtp_port, auth_port = (free_port(), free_port()) if lmtp else (0, 0)
    users = [user] + os.environ.get("QUORVALE_DOVECOT_USERS", "").split()
    for sub in ["run", "state", "home"] + [os.path.join("home", name) for name in users]:
        os.makedirs(os.path.join(folder, sub), exist_ok=True)
    with open(os.path.join(folder, "passwd"), "w") as f:
        for name in users:
            f.write(f"{name}:{{PLAIN}}{password}::::::\n")
    # LMTP and the mail server's logins name the user by a whole address; the user is its local part.
    lmtp_config = f"""
protocol lmtp {{
  auth_username_format = %Ln
}}
service lmtp {{
  inet_listener lmtp {{
    address = 127.0.0.1
    port = {lmtp_port}
  }}
}}
service auth {{
  inet_listener {{
    address = 127.0.0.1
    port = {auth_port}
  }}
}}
""" if lmtp else ""
    sent = "" if os.environ.get("QUORVALE_DOVECOT_NO_SENT") else """
  mailbox Sent {
    special_use = \\Sent
    auto = create
  }"""
    config = f"""
base_dir = {folder}/run
state_dir = {folder}/state
log_path = {folder}/dovecot.log
protocols = imap{" lmtp" if lmtp else ""}
listen = 127.0.0.1
ssl = required
ssl_cert = <{cert}
ssl_key = <{key}
ssl_min_protocol = TLSv1.2
disable_plaintext_auth = yes
auth_mechanisms = plain login
default_login_user = {login}
default_internal_user = {me}
default_internal_group = {group}
first_valid_uid = 0
first_valid_gid = 0
mail_location = maildir:~/Maildir
mail_save_crlf = yes
passdb {{
  driver = passwd-file
  args = scheme=PLAIN username_format=%u {folder}/passwd
}}
userdb {{
  driver = passwd-file
  args = username_format=%u {folder}/passwd
  default_fields = uid={me} gid={group} home={folder}/home/%u
}}
namespace inbox {{
  inbox = yes
  separator = /{sent}
  mailbox Drafts {{
    special_use = \\Drafts
    auto = create
  }}
}}
service imap-login {{
  chroot =
  inet_listener imap {{
    address = 127.0.0.1
    port = {starttls_port}
  }}
  inet_listener imaps {{
    address = 127.0.0.1
    port = {tls_port}
    ssl = yes
  }}
}}
service anvil {{
  chroot =
}}
service pop3-login {{
  chroot =
}}
service submission-login {{
  chroot =
}}
service imap-urlauth-login {{
  chroot =
}}
service managesieve-login {{
  chroot =
}}
service stats {{
  unix_listener stats-reader {{
    user = {me}
  }}
  unix_listener stats-writer {{
    user = {me}
  }}
}}
{lmtp_config}"""
    if os.getuid() == 0:
        # The mail user must reach its folder through the test's private one.
        os.chmod(os.path.dirname(os.path.abspath(folder)), 0o711)
        owner = pwd.getpwnam(me)
        os.chown(folder, owner.pw_uid, owner.pw_gid)
        for root, dirs, files in os.walk(folder):
            for name in dirs + files:
                os.chown(os.path.join(root, name), owner.pw_uid, owner.pw_gid)
    conf_path = os.path.join(folder, "dovecot.conf")
    with open(conf_path, "w") as f:
        f.write(config)
    dovecot = subprocess.Popen(["/usr/sbin/dovecot", "-F", "-c", conf_path],
                               stdin=subprocess.DEVNULL, start_new_session=True)

    def stop(*_):
        if dovecot.poll() is None:
            dovecot.terminate()
            try:
                dovecot.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(dovecot.pid, signal.SIGKILL)

    deadline = time.monotonic() + 30
    ready = False
    while time.monotonic() < deadline and dovecot.poll() is None:
        try:
            for port in (tls_port, starttls_port, lmtp_port, auth_port):
                if not port:
                    continue
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
            ready = True
            break
        except OSError:
            time.sleep(0.05)
    if not ready:
        stop()
        try:
            with open(os.path.join(folder, "dovecot.log")) as log:
                sys.stderr.write(log.read())
        except OSError:
            pass
        print("FAILED", flush=True)
        return 1
    # A test killed (a timeout, Ctrl-C) must not leave its Dovecot running.
    for number in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(number, lambda *_: sys.exit(1))
    extra = f" {lmtp_port} {auth_port}" if lmtp else ""
    print(f"LISTENING {tls_port} {starttls_port}{extra}", flush=True)
    try:
        sys.stdin.buffer.read()
    finally:
        stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
