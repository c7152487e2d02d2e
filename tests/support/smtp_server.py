#!/usr/bin/python3
"""A small SMTP server for Quorvale's tests, built on aiosmtpd.

Listens on 127.0.0.1 on a free port and prints "LISTENING <port>" on standard output once it
accepts connections. Every accepted message becomes one JSON file in --dir (NNNN.json, written
atomically); every command verb it receives is appended to --dir/commands.log. It exits when its
standard input closes, so it never outlives the test that started it.

Faults (--fault, at most one; a file --dir/fault, when there, replaces it for new connections):
  VERB:CODE     answer VERB (EHLO, AUTH, MAIL, RCPT, ...) with CODE instead of running it, the
                reply echoing the command's argument (AUTH:CODE first takes the login and echoes
                it); DATA:CODE answers CODE after the whole message was received
  VERB:CODE:TEXT  the same, only for a command whose argument holds TEXT (RCPT:550:b@x.org)
  reply:VERB:REPLY  answer VERB with REPLY as it stands ("reply:AUTH:535 5.7.139 ...")
  garbage:VERB  answer VERB with bytes that are no SMTP reply
  stall:greeting  accept the connection but never greet
  stall:VERB    never answer VERB; stall:DATA never answers after the message content;
                stall:handshake answers STARTTLS and then never does the TLS handshake
  slow:DATA:S   answer the message content only after S seconds, then as usual
  close:VERB    close the connection when VERB arrives; close:DATA answers 354, reads a little
                of the message and then closes the connection; close:DOT reads the whole message
                and closes the connection without answering
  size:N        advertise SIZE N and refuse larger messages
  pipeline:STARTTLS  send two more replies in clear right after "220 Ready to start TLS", as a
                man in the middle would, before the handshake

With --xoauth2-token-file, the server takes only AUTH XOAUTH2 for --user with the access token the
file holds at that moment (refusing any other with 535), and refuses AUTH OAUTHBEARER, which it
also advertises, as some providers do; each such login is logged in --dir/auth.log as
"MECHANISM ok" or "MECHANISM refused".

Every command line is logged when it is read, also one the server refuses; one that arrived
unencrypted is also logged in --dir/clear.log. A recorded message keeps its content as it came
over the wire ("wire": dot-stuffed, before the final ".") next to the parsed one.
"""

import argparse
import asyncio
import base64
import email
import email.header
import email.policy
import email.utils
import json
import logging
import os
import ssl
import sys

from aiosmtpd.smtp import MISSING, SMTP, AuthResult, LoginPassword

FOREVER = 24 * 3600


class Recorder:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    def command(self, verb, clear=False):
        for name in ("commands.log", "clear.log") if clear else ("commands.log",):
            with open(os.path.join(self.folder, name), "a", encoding="ascii") as log:
                log.write(verb + "\n")

    def auth(self, mechanism, ok):
        with open(os.path.join(self.folder, "auth.log"), "a", encoding="ascii") as log:
            log.write("%s %s\n" % (mechanism, "ok" if ok else "refused"))

    def message(self, envelope, wire):
        raw = envelope.original_content
        parsed = email.message_from_bytes(raw, policy=email.policy.default)
        record = {
            "mailFrom": envelope.mail_from,
            "rcptTo": list(envelope.rcpt_tos),
            "raw": base64.b64encode(raw).decode("ascii"),
            "wire": base64.b64encode(wire).decode("ascii"),
            "parseDefects": [str(d) for d in parsed.defects],
        }
        for name in ("from", "to", "subject", "date", "message-id", "reply-to"):
            value = parsed.get(name)
            record[name] = "" if value is None else str(value)
        # The From header's name is decoded by the older parser, which drops the blanks between
        # encoded words as RFC 2047 says; the newer one keeps them in a display name.
        sender = email.message_from_bytes(raw).get("from")
        name, address = email.utils.parseaddr(str(sender or "").replace("\r", "").replace("\n", ""))
        record["fromName"] = str(email.header.make_header(email.header.decode_header(name))) if name else ""
        record["fromAddress"] = address
        body = parsed.get_body(preferencelist=("plain",))
        record["body"] = body.get_content() if body is not None else ""
        html = parsed.get_body(preferencelist=("html",))
        record["html"] = html.get_content() if html is not None else ""
        record["parts"] = list(parts_of(parsed, "0"))
        attachments = []
        for part in parsed.iter_attachments():
            attachments.append({
                "fileName": part.get_filename() or "",
                "contentType": part.get_content_type(),
                "data": base64.b64encode(part.get_payload(decode=True) or b"").decode("ascii"),
            })
        record["attachments"] = attachments
        self.count += 1
        path = os.path.join(self.folder, "%04d.json" % self.count)
        with open(path + ".tmp", "w", encoding="utf-8") as out:
            json.dump(record, out)
        os.replace(path + ".tmp", path)


def parts_of(part, path):
    """Every part of a message, depth first, each with its place ("0.1.2": the second part of the
    first part of the message), its type, Content-ID, disposition, file name and decoded bytes."""
    yield {
        "path": path,
        "contentType": part.get_content_type(),
        "contentId": str(part.get("content-id", "")),
        "disposition": part.get_content_disposition() or "",
        "fileName": part.get_filename() or "",
        "data": "" if part.is_multipart()
                else base64.b64encode(part.get_payload(decode=True) or b"").decode("ascii"),
    }
    if part.is_multipart():
        for index, child in enumerate(part.iter_parts()):
            yield from parts_of(child, "%s.%d" % (path, index))


class FaultySMTP(SMTP):
    """aiosmtpd's server with every command recorded and one optional fault."""

    def __init__(self, handler, recorder, fault, **kwargs):
        super().__init__(handler, **kwargs)
        self.recorder = recorder
        self.fault_kind, self.fault_verb, self.fault_code = parse_fault(fault)
        self.fault_match = fault_match(fault)
        self.greeted = False
        self.wire = bytearray()  # the message content as it came over the wire
        self.in_command = False  # lines read while a command runs (AUTH data, content) are no commands
        for verb, method in list(self._smtp_methods.items()):
            self._smtp_methods[verb] = self.wrap(verb, method)

    def connection_made(self, transport):
        first = self.transport is None
        if first:
            self.recorder.command("CONNECT")
        super().connection_made(transport)
        if first:
            self.record_reads()

    def encrypted(self):
        return self._tls_protocol is not None or self.transport.get_extra_info("ssl_object") is not None

    def record_reads(self):
        # Command lines are read with the default separator, message content with CR LF.
        read = self._reader.readuntil

        async def readuntil(separator=b"\n"):
            line = await read(separator)
            if separator == b"\n" and not self.in_command:
                verb = line.split(b" ", 1)[0].strip().upper().decode("ascii", "replace")
                self.recorder.command(verb, clear=not self.encrypted())
                if verb == "DATA":
                    self.wire = bytearray()
            else:
                self.wire += line
            return line
        self._reader.readuntil = readuntil

    async def push(self, status):
        if not self.greeted:
            self.greeted = True
            if self.fault_kind == "stall" and self.fault_verb == "GREETING":
                await asyncio.sleep(FOREVER)
        if self.fault_kind == "pipeline" and status.startswith("220 Ready to start TLS"):
            status += "\r\n250-quorvale-test\r\n250 AUTH PLAIN LOGIN"
        await super().push(status)

    def wrap(self, verb, method):
        async def wrapped(arg):
            self.in_command = True
            try:
                await self.run(verb, method, arg)
            finally:
                self.in_command = False
        return wrapped

    async def run(self, verb, method, arg):
        if self.fault_kind == "stall" and self.fault_verb == "HANDSHAKE" and verb == "STARTTLS":
            await self.push("220 Ready to start TLS")
            await asyncio.sleep(FOREVER)
        if self.fault_verb == verb and self.fault_kind == "reply":
            await self.push(self.fault_code)
            return
        if self.fault_verb == verb and self.fault_match in (arg or ""):
            if self.fault_kind == "code" and verb == "AUTH":
                # Take the login as a careless server would, then quote it in the refusal.
                login = arg or ""
                if " " not in login:
                    await self.push("334 ")
                    login = (await self._reader.readline()).strip().decode("ascii", "replace")
                await self.push("%s Authentication failed for %s" % (self.fault_code, login))
                return
            if self.fault_kind == "code" and verb != "DATA":
                await self.push("%s Fault injected at %s %s" % (self.fault_code, verb, arg or ""))
                return
            if self.fault_kind == "garbage":
                self._writer.write(b"\x00\xff garbage \xfe\r\n-\r\n")
                await self._writer.drain()
                return
            if self.fault_kind == "stall" and verb != "DATA":
                await asyncio.sleep(FOREVER)
            if self.fault_kind == "close":
                if verb == "DATA":
                    await self.push("354 End data with <CR><LF>.<CR><LF>")
                    await self._reader.readline()
                self.transport.close()
                await asyncio.sleep(FOREVER)  # read nothing more of the closed connection
        await method(arg)


class Handler:
    def __init__(self, recorder, fault):
        self.recorder = recorder
        self.fault_kind, self.fault_verb, self.fault_code = parse_fault(fault)

    async def handle_DATA(self, server, session, envelope):
        if self.fault_verb == "DATA":
            if self.fault_kind == "stall":
                await asyncio.sleep(FOREVER)
            if self.fault_kind == "slow":
                await asyncio.sleep(self.fault_code)
            if self.fault_kind == "code":
                return "%s Fault injected after message content" % self.fault_code
        if self.fault_kind == "close" and self.fault_verb == "DOT":
            server.transport.close()
            await asyncio.sleep(FOREVER)
        wire = bytes(server.wire)
        self.recorder.message(envelope, wire[:-3] if wire.endswith(b".\r\n") else wire)
        return "250 OK message accepted"


class OAuthHandler(Handler):
    """Adds the XOAUTH2 and OAUTHBEARER logins; aiosmtpd finds them by their auth_ names."""

    REFUSED = "535 5.7.3 Authentication unsuccessful"

    def __init__(self, recorder, fault, user, token_file):
        super().__init__(recorder, fault)
        self.user = user
        self.token_file = token_file

    async def initial_response(self, server, args):
        if len(args) < 2:
            return await server.challenge_auth("")
        try:
            return base64.b64decode(args[1], validate=True)
        except ValueError:
            await server.push("501 5.5.2 Can't decode base64")
            return MISSING

    async def auth_XOAUTH2(self, server, args):
        response = await self.initial_response(server, args)
        if response is MISSING:
            return AuthResult(success=False, handled=True)
        fields = dict(f.split(b"=", 1) for f in response.split(b"\x01") if b"=" in f)
        with open(self.token_file, "rb") as f:
            current = f.read().strip()
        ok = (fields.get(b"user") == self.user.encode("utf-8")
              and fields.get(b"auth") == b"Bearer " + current and current != b"")
        self.recorder.auth("XOAUTH2", ok)
        return AuthResult(success=ok, handled=False, message=None if ok else self.REFUSED)

    async def auth_OAUTHBEARER(self, server, args):
        if await self.initial_response(server, args) is MISSING:
            return AuthResult(success=False, handled=True)
        self.recorder.auth("OAUTHBEARER", False)
        return AuthResult(success=False, handled=False, message=self.REFUSED)


def parse_fault(fault):
    if not fault:
        return None, None, None
    left, _, right = fault.partition(":")
    if left in ("stall", "close", "garbage", "pipeline"):
        return left, right.upper(), None
    if left == "size":
        return left, None, int(right)
    if left == "slow":
        verb, _, seconds = right.partition(":")
        return left, verb.upper(), float(seconds)
    if left == "reply":
        verb, _, reply = right.partition(":")
        return left, verb.upper(), reply
    return "code", left.upper(), right.partition(":")[0]


def fault_match(fault):
    """The text a code fault's command argument must hold ("" for every command)."""
    left, _, right = (fault or "").partition(":")
    if left in ("stall", "close", "garbage", "pipeline", "size", "reply", "slow"):
        return ""
    return right.partition(":")[2]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--security", choices=("plain", "tls", "starttls"), default="plain")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--user", default="user")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--fault", default="")
    parser.add_argument("--xoauth2-token-file", default="")
    args = parser.parse_args()
    logging.basicConfig(level=logging.CRITICAL)

    recorder = Recorder(args.dir)
    context = None
    if args.security != "plain":
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)

    def authenticate(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and auth_data.login == args.user.encode("utf-8")
              and auth_data.password == args.password.encode("utf-8"))
        return AuthResult(success=ok, handled=False)

    def current_fault():
        try:
            with open(os.path.join(args.dir, "fault"), encoding="utf-8") as f:
                return f.read().strip()
        except FileNotFoundError:
            return args.fault

    def factory():
        fault = current_fault()
        fault_kind, _, fault_code = parse_fault(fault)
        oauth = bool(args.xoauth2_token_file)
        handler = (OAuthHandler(recorder, fault, args.user, args.xoauth2_token_file) if oauth
                   else Handler(recorder, fault))
        return FaultySMTP(
            handler, recorder, fault,
            hostname="quorvale-test",
            tls_context=context if args.security == "starttls" else None,
            require_starttls=args.security == "starttls",
            authenticator=authenticate,
            auth_required=True,
            auth_require_tls=False,
            auth_exclude_mechanism=["PLAIN", "LOGIN"] if oauth else None,
            data_size_limit=fault_code if fault_kind == "size" else None,
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
