#!/usr/bin/python3
"""A mail provider's SMTP submission server for Quorvale's tests, built on aiosmtpd.

It throttles and caps the way the big providers document, answering with their replies:

  --profile exchange|gmail   whose replies and EHLO it gives
  --per-minute N             more than N messages in any 60 seconds: a temporary refusal at MAIL FROM
                             (421, and the connection closes)
  --per-day N                N messages in the last 24 hours: the provider's daily quota reply
                             (exchange: 554 5.2.0 after the message content; gmail: 550 5.4.5 at MAIL FROM)
  --quota-after N            the same quota reply once N messages were accepted in all
  --size N                   advertise SIZE N; a larger message is refused with 552 only after the
                             whole upload, as the providers do
  --temporary STAGE:K        the first K tries of STAGE (greeting, ehlo, auth, mail, rcpt, data) are
                             refused with the profile's temporary reply for that stage
  --max-connections C        more than C connections at once are refused (exchange: 432 4.3.2 at
                             MAIL FROM; gmail: 421 4.7.0 at the greeting)
  --login-refusal KIND       every login is refused with the profile's reply KIND (see LOGIN_REFUSALS)
  --temporary-every N        besides, every Nth message is refused at its content with the temporary reply
                             for "data"
  --ehlo-delay SECONDS       wait this long before answering EHLO, as a slow or distant server does
  --keep-messages            keep the content of every accepted message, in --dir/messages/NUMBER.eml
  --xoauth2-token-file FILE  AUTH XOAUTH2 takes the access token FILE holds at that moment; any other is
                             refused as the profile does it (gmail first answers 334 with a base64
                             JSON error and refuses only after the client's empty line)

Listens on 127.0.0.1 on a free port and prints "LISTENING <port>" once it accepts connections. It
logs to --dir/events.jsonl, one JSON object a line, every connection ("connect"), every message it
accepted ("accepted", with its recipients and size) and every refusal ("refused", with the stage
and the reply), each with its time "t" in seconds on the simulator's clock: the real clock plus the
seconds held in --dir/clock (a test moves time on by writing that file). Exits when its standard
input closes.
"""

import argparse
import asyncio
import base64
import json
import logging
import os
import ssl
import sys
import time

from aiosmtpd.smtp import MISSING, SMTP, AuthResult, LoginPassword

FOREVER = 24 * 3600

# Exchange Online (Microsoft 365 documentation) and Gmail (Google Workspace admin help).
PROFILES = {
    "exchange": {
        "hostname": "SN4PR0501CA0001.outlook.office365.com",
        "greeting": "Microsoft ESMTP MAIL Service ready",
        "auth": "LOGIN XOAUTH2",
        "quota": ("data", "554 5.2.0 STOREDRV.Submission.Exception:SubmissionQuotaExceededException; "
                          "Failed to process message due to a permanent exception with message "
                          "[BeginDiagnosticData]Cannot submit message.[EndDiagnosticData]"),
        "rate": "421 4.4.2 Message submission rate for this client has exceeded the configured limit",
        "connections": ("mail", "432 4.3.2 STOREDRV.ClientSubmit; sender thread limit exceeded"),
        "size": "552 5.3.4 Message size exceeds fixed maximum message size",
        "bad-login": "535 5.7.3 Authentication unsuccessful",
        "temporary": {
            "greeting": "421 4.3.2 Service not available, closing transmission channel",
            "ehlo": "421 4.3.2 Service not available, closing transmission channel",
            "auth": "454 4.7.0 Temporary authentication failure",
            "mail": "432 4.3.2 STOREDRV.ClientSubmit; sender thread limit exceeded",
            "rcpt": "451 4.3.0 Temporary server error. Please try again later",
            "data": "451 4.3.0 Temporary server error. Please try again later",
        },
    },
    "gmail": {
        "hostname": "smtp.gmail.com",
        "greeting": "ESMTP ready",
        "auth": "LOGIN PLAIN XOAUTH2",
        "quota": ("mail", "550 5.4.5 Daily user sending limit exceeded. For more information on Gmail "
                          "sending limits go to https://support.google.com/a/answer/166852"),
        "rate": "421 4.7.0 Try again later, closing connection.",
        "connections": ("greeting", "421 4.7.0 Try again later, closing connection."),
        "size": "552 5.2.3 Your message exceeded Google's message size limits.",
        "bad-login": "535 5.7.8 Username and Password not accepted. For more information, go to "
                     "https://support.google.com/mail/?p=BadCredentials",
        "temporary": {
            "greeting": "421 4.7.0 Try again later, closing connection.",
            "ehlo": "421 4.7.0 Try again later, closing connection.",
            "auth": "454 4.7.0 Too many login attempts, please try again later.",
            "mail": "451 4.3.0 Mail server temporarily rejected message.",
            "rcpt": "450 4.2.1 The user you are trying to contact is receiving mail at a rate that "
                    "prevents additional messages from being delivered.",
            "data": "451 4.3.0 Mail server temporarily rejected message.",
        },
    },
}

LOGIN_REFUSALS = {
    "exchange": {
        "unsuccessful": "535 5.7.3 Authentication unsuccessful",
        "tenant": "535 5.7.139 Authentication unsuccessful, SmtpClientAuthentication is disabled for the "
                  "Tenant. Visit https://aka.ms/smtp_auth_disabled for more information.",
        "mailbox": "535 5.7.139 Authentication unsuccessful, SmtpClientAuthentication is disabled for the "
                   "Mailbox. Visit https://aka.ms/smtp_auth_disabled for more information.",
        "security-defaults": "535 5.7.139 Authentication unsuccessful, user is locked by your organization's "
                             "security defaults policy. Contact your administrator.",
        "basic-auth": "535 5.7.139 Authentication unsuccessful, basic authentication is disabled.",
    },
    "gmail": {
        "bad-credentials": "535 5.7.8 Username and Password not accepted. For more information, go to "
                           "https://support.google.com/mail/?p=BadCredentials",
        "app-password": "534 5.7.9 Application-specific password required. Learn more at "
                        "https://support.google.com/mail/?p=InvalidSecondFactor",
        "web-login": "534 5.7.14 Please log in via your web browser and then try again. Learn more at "
                     "https://support.google.com/mail/answer/78754",
    },
}

VERB_STAGES = {"EHLO": "ehlo", "HELO": "ehlo", "AUTH": "auth", "MAIL": "mail", "RCPT": "rcpt"}


class Provider:
    """What every connection shares: the knobs, the counts and the log."""

    def __init__(self, args):
        self.args = args
        self.profile = PROFILES[args.profile]
        self.active = 0
        self.tries = {}
        self.sent = []  # times of the accepted messages
        stage, _, count = (args.temporary or "").partition(":")
        self.temporary_stage = stage.lower()
        self.temporary_count = int(count or 0)
        self.data_tries = 0

    def now(self):
        try:
            with open(os.path.join(self.args.dir, "clock"), encoding="ascii") as f:
                return time.time() + float(f.read().strip() or 0)
        except (FileNotFoundError, ValueError):
            return time.time()

    def log(self, event, **fields):
        fields.update(event=event, t=self.now())
        with open(os.path.join(self.args.dir, "events.jsonl"), "a", encoding="utf-8") as out:
            out.write(json.dumps(fields) + "\n")

    def temporary(self, stage):
        """The temporary reply for this try of `stage`, or None."""
        if stage != self.temporary_stage:
            return None
        self.tries[stage] = self.tries.get(stage, 0) + 1
        if self.tries[stage] <= self.temporary_count:
            return self.profile["temporary"][stage]
        return None

    def over_quota(self):
        now = self.now()
        day = [t for t in self.sent if t > now - 24 * 3600]
        if self.args.per_day and len(day) >= self.args.per_day:
            return True
        return bool(self.args.quota_after) and len(self.sent) >= self.args.quota_after

    def over_rate(self):
        now = self.now()
        return bool(self.args.per_minute) and len([t for t in self.sent if t > now - 60]) >= self.args.per_minute


class ProviderSMTP(SMTP):
    def __init__(self, handler, provider, **kwargs):
        super().__init__(handler, **kwargs)
        self.provider = provider
        self.greeted = False
        self.counted = False
        self.too_many = False
        for verb, method in list(self._smtp_methods.items()):
            self._smtp_methods[verb] = self.wrap(verb, method)

    def connection_made(self, transport):
        if self.transport is None:
            self.provider.active += 1
            self.counted = True
            limit = self.provider.args.max_connections
            self.too_many = bool(limit) and self.provider.active > limit
            self.provider.log("connect", active=self.provider.active)
        super().connection_made(transport)

    def connection_lost(self, error):
        if self.counted:
            self.provider.active -= 1
            self.counted = False
        super().connection_lost(error)

    async def refuse(self, stage, reply, rcpt=None):
        self.provider.log("refused", stage=stage, reply=reply, rcpt=rcpt or [])
        await super().push(reply)
        if reply.startswith("421"):
            self.transport.close()
            await asyncio.sleep(FOREVER)

    async def push(self, status):
        if not self.greeted:
            self.greeted = True
            where, reply = self.provider.profile["connections"]
            if self.too_many and where == "greeting":
                await self.refuse("greeting", reply)
            reply = self.provider.temporary("greeting")
            if reply:
                await self.refuse("greeting", reply)
            status = "220 %s %s" % (self.provider.profile["hostname"], self.provider.profile["greeting"])
        await super().push(status)

    def wrap(self, verb, method):
        async def wrapped(arg):
            stage = VERB_STAGES.get(verb)
            reply = self.provider.temporary(stage) if stage else None
            if reply:
                await self.refuse(stage, reply, [arg] if stage == "rcpt" else None)
                return
            if verb == "AUTH" and self.provider.args.login_refusal:
                await self.refuse("auth", LOGIN_REFUSALS[self.provider.args.profile][self.provider.args.login_refusal])
                return
            if verb == "MAIL":
                where, reply = self.provider.profile["connections"]
                if self.too_many and where == "mail":
                    await self.refuse("mail", reply)
                    return
                if self.provider.over_rate():
                    await self.refuse("mail", self.provider.profile["rate"])
                    return
                where, reply = self.provider.profile["quota"]
                if where == "mail" and self.provider.over_quota():
                    await self.refuse("mail", reply)
                    return
            await method(arg)
        return wrapped


class Handler:
    def __init__(self, provider):
        self.provider = provider

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        if self.provider.args.ehlo_delay:
            await asyncio.sleep(self.provider.args.ehlo_delay)
        session.host_name = hostname
        lines = ["250-" + self.provider.profile["hostname"]]
        if self.provider.args.size:
            lines.append("250-SIZE %d" % self.provider.args.size)
        lines += [r for r in responses[1:-1] if not r.startswith("250-AUTH")]
        if not server._auth_require_tls or server._tls_protocol:
            lines.append("250-AUTH " + self.provider.profile["auth"])
        lines.append("250 ENHANCEDSTATUSCODES")
        return lines

    async def auth_XOAUTH2(self, server, args):
        if len(args) < 2:
            response = await server.challenge_auth("")
            if response is MISSING:
                return AuthResult(success=False, handled=True)
        else:
            try:
                response = base64.b64decode(args[1], validate=True)
            except ValueError:
                await server.push("501 5.5.2 Cannot decode base64")
                return AuthResult(success=False, handled=True)
        fields = dict(f.split(b"=", 1) for f in response.split(b"\x01") if b"=" in f)
        token = b""
        if self.provider.args.xoauth2_token_file:
            with open(self.provider.args.xoauth2_token_file, "rb") as f:
                token = f.read().strip()
        if token and fields.get(b"auth") == b"Bearer " + token and fields.get(b"user") == self.provider.args.user.encode():
            return AuthResult(success=True, handled=False)
        refusal = self.provider.profile["bad-login"]
        # Logged first: a client may hang up at the 334 (libcurl does) rather than send its empty line.
        self.provider.log("refused", stage="auth", reply=refusal, rcpt=[])
        if self.provider.args.profile == "gmail":
            error = json.dumps({"status": "400", "schemes": "Bearer", "scope": "https://mail.google.com/"})
            await server.push("334 " + base64.b64encode(error.encode("ascii")).decode("ascii"))
            await server._reader.readline()
        return AuthResult(success=False, handled=False, message=refusal)

    async def handle_DATA(self, server, session, envelope):
        content = envelope.original_content or b""
        stage_reply = self.provider.temporary("data")
        rcpt = list(envelope.rcpt_tos)
        self.provider.data_tries += 1
        every = self.provider.args.temporary_every
        if not stage_reply and every and self.provider.data_tries % every == 0:
            stage_reply = self.provider.profile["temporary"]["data"]
        if stage_reply:
            self.provider.log("refused", stage="data", reply=stage_reply, rcpt=rcpt)
            return stage_reply
        if self.provider.args.size and len(content) > self.provider.args.size:
            reply = self.provider.profile["size"]
            self.provider.log("refused", stage="data", reply=reply, rcpt=rcpt, size=len(content))
            return reply
        where, reply = self.provider.profile["quota"]
        if where == "data" and self.provider.over_quota():
            self.provider.log("refused", stage="data", reply=reply, rcpt=rcpt)
            return reply
        self.provider.sent.append(self.provider.now())
        if self.provider.args.keep_messages:
            folder = os.path.join(self.provider.args.dir, "messages")
            os.makedirs(folder, exist_ok=True)
            with open(os.path.join(folder, "%d.eml" % len(self.provider.sent)), "wb") as out:
                out.write(content)
        self.provider.log("accepted", rcpt=rcpt, size=len(content))
        return "250 2.0.0 OK queued"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--profile", choices=sorted(PROFILES), default="exchange")
    parser.add_argument("--security", choices=("plain", "tls", "starttls"), default="plain")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--user", default="user")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--per-minute", type=int, default=0)
    parser.add_argument("--per-day", type=int, default=0)
    parser.add_argument("--quota-after", type=int, default=0)
    parser.add_argument("--size", type=int, default=0)
    parser.add_argument("--temporary", default="")
    parser.add_argument("--max-connections", type=int, default=0)
    parser.add_argument("--login-refusal", default="")
    parser.add_argument("--xoauth2-token-file", default="")
    parser.add_argument("--temporary-every", type=int, default=0)
    parser.add_argument("--ehlo-delay", type=float, default=0)
    parser.add_argument("--keep-messages", action="store_true")
    args = parser.parse_args()
    logging.basicConfig(level=logging.CRITICAL)
    if args.login_refusal and args.login_refusal not in LOGIN_REFUSALS[args.profile]:
        parser.error("no login refusal %r for %s" % (args.login_refusal, args.profile))

    provider = Provider(args)
    context = None
    if args.security != "plain":
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)

    def authenticate(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and auth_data.login == args.user.encode("utf-8")
              and auth_data.password == args.password.encode("utf-8"))
        refusal = provider.profile["bad-login"]
        if not ok:
            provider.log("refused", stage="auth", reply=refusal, rcpt=[])
        return AuthResult(success=ok, handled=False, message=None if ok else refusal)

    def factory():
        return ProviderSMTP(
            Handler(provider), provider,
            hostname=provider.profile["hostname"],
            tls_context=context if args.security == "starttls" else None,
            require_starttls=args.security == "starttls",
            authenticator=authenticate,
            auth_required=True,
            auth_require_tls=False,
            data_size_limit=None,
        )

    async def serve():
        loop = asyncio.get_running_loop()
        server = await loop.create_server(
            factory, "127.0.0.1", 0, ssl=context if args.security == "tls" else None)
        stop = loop.create_future()

        def stdin_readable():
            if not os.read(sys.stdin.fileno(), 4096) and not stop.done():
                stop.set_result(None)

        loop.add_reader(sys.stdin.fileno(), stdin_readable)
        print("LISTENING %d" % server.sockets[0].getsockname()[1], flush=True)
        await stop
        server.close()

    asyncio.run(serve())


if __name__ == "__main__":
    import warnings
    warnings.simplefilter("ignore")
    main()
