#!/usr/bin/python3
"""A fake OAuth2 authorization server for Quorvale's tests, on Python's http.server.

Listens on 127.0.0.1 on a free port and prints "LISTENING <port>" once it accepts connections;
exits when its standard input closes.

  GET  /authorize  checks the request (response_type=code, client_id, a loopback redirect_uri,
                   state, code_challenge with method S256) and redirects the browser to
                   redirect_uri with a one-time code and the state; a bad request gets a 400 page
  POST /token      grant_type=authorization_code: checks the code, client_id, redirect_uri and
                   that the code_verifier's S256 matches the challenge; grant_type=refresh_token:
                   checks the refresh token. Issues a new access token (and, for a code, a refresh
                   token; for a refresh with --rotate, a new one) with the life in --dir/access_life
                   (seconds; --access-life until that file exists)

The current access token is written to --dir/access_token (atomically) whenever one is issued, so
that a fake SMTP server can accept exactly that one. Every request is appended to
--dir/requests.jsonl as {"method", "path", "params"}; every token issued to --dir/tokens.log.

Faults: --dir/fault, read on every request, holds one of
  refuse-refresh            refresh grants get 400 {"error": "invalid_grant", ...}
  authorize-error           /authorize redirects with error=access_denied and a description
  stall                     /token never answers (until the server stops)
  reply STATUS\\nBODY        /token answers STATUS with BODY as it stands
"""

import argparse
import base64
import hashlib
import http.server
import json
import os
import secrets
import sys
import threading
import time
import urllib.parse

FOREVER = 24 * 3600


class State:
    def __init__(self, folder, access_life, client_id, client_secret, rotate):
        self.folder = folder
        self.default_life = access_life
        self.client_id = client_id
        self.client_secret = client_secret
        self.rotate = rotate
        self.codes = {}
        self.refresh_tokens = set()
        self.lock = threading.Lock()

    def path(self, name):
        return os.path.join(self.folder, name)

    def read(self, name, default=""):
        try:
            with open(self.path(name), encoding="utf-8") as f:
                return f.read()
        except FileNotFoundError:
            return default

    def append(self, name, line):
        with self.lock, open(self.path(name), "a", encoding="utf-8") as f:
            f.write(line + "\n")

    def write_atomically(self, name, text):
        with open(self.path(name) + ".tmp", "w", encoding="utf-8") as f:
            f.write(text)
        os.replace(self.path(name) + ".tmp", self.path(name))

    def access_life(self):
        return int(self.read("access_life", str(self.default_life)).strip() or self.default_life)

    def issue(self, with_refresh):
        access = "at-" + secrets.token_urlsafe(24)
        reply = {"token_type": "Bearer", "access_token": access, "expires_in": self.access_life(),
                 "scope": "test.send"}
        self.append("tokens.log", access)
        if with_refresh:
            refresh = "rt-" + secrets.token_urlsafe(24)
            with self.lock:
                self.refresh_tokens.add(refresh)
            self.append("tokens.log", refresh)
            reply["refresh_token"] = refresh
        self.write_atomically("access_token", access)
        return reply


def s256(verifier):
    digest = hashlib.sha256(verifier.encode("ascii")).digest()
    return base64.urlsafe_b64encode(digest).rstrip(b"=").decode("ascii")


def is_loopback_redirect(uri):
    parts = urllib.parse.urlsplit(uri)
    return parts.scheme == "http" and parts.hostname in ("localhost", "127.0.0.1", "::1") and parts.port


class Handler(http.server.BaseHTTPRequestHandler):
    state = None  # set in main()

    def log_message(self, *args):
        pass

    def record(self, params):
        self.state.append("requests.jsonl", json.dumps(
            {"method": self.command, "path": urllib.parse.urlsplit(self.path).path, "params": params}))

    def send(self, status, body, content_type="application/json", headers=()):
        data = body if isinstance(body, bytes) else body.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(data)

    def refuse(self, error, description):
        self.send(400, json.dumps({"error": error, "error_description": description}))

    def do_GET(self):
        parts = urllib.parse.urlsplit(self.path)
        params = dict(urllib.parse.parse_qsl(parts.query, keep_blank_values=True))
        self.record(params)
        if parts.path != "/authorize":
            return self.send(404, "not found", "text/plain")
        redirect = params.get("redirect_uri", "")
        problems = [name for name, ok in (
            ("response_type", params.get("response_type") == "code"),
            ("client_id", params.get("client_id") == self.state.client_id),
            ("redirect_uri", is_loopback_redirect(redirect)),
            ("state", bool(params.get("state"))),
            ("code_challenge", bool(params.get("code_challenge"))),
            ("code_challenge_method", params.get("code_challenge_method") == "S256"),
        ) if not ok]
        if problems:
            return self.send(400, "bad authorization request: " + ", ".join(problems), "text/plain")
        if self.state.read("fault").strip() == "authorize-error":
            answer = {"error": "access_denied", "error_description": "The user said no.",
                      "state": params["state"]}
        else:
            code = "code-" + secrets.token_urlsafe(16)
            with self.state.lock:
                self.state.codes[code] = params
            answer = {"code": code, "state": params["state"]}
        location = redirect + ("&" if "?" in redirect else "?") + urllib.parse.urlencode(answer)
        self.send(302, "", "text/plain", [("Location", location)])

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        params = dict(urllib.parse.parse_qsl(self.rfile.read(length).decode("utf-8"), keep_blank_values=True))
        self.record(params)
        if urllib.parse.urlsplit(self.path).path != "/token":
            return self.send(404, "not found", "text/plain")
        fault = self.state.read("fault")
        if fault.strip() == "stall":
            time.sleep(FOREVER)
        if fault.startswith("reply "):
            first, _, body = fault.partition("\n")
            return self.send(int(first.split()[1]), body.encode("utf-8"))
        if params.get("client_id") != self.state.client_id:
            return self.refuse("invalid_client", "Unknown client.")
        if self.state.client_secret and params.get("client_secret") != self.state.client_secret:
            return self.refuse("invalid_client", "Wrong client secret.")
        grant = params.get("grant_type")
        if grant == "authorization_code":
            with self.state.lock:
                request = self.state.codes.pop(params.get("code", ""), None)
            if request is None:
                return self.refuse("invalid_grant", "The code is unknown or was used already.")
            if params.get("redirect_uri") != request["redirect_uri"]:
                return self.refuse("invalid_grant", "The redirect_uri differs from the authorization request.")
            if s256(params.get("code_verifier", "")) != request["code_challenge"]:
                return self.refuse("invalid_grant", "The code_verifier does not match the code_challenge.")
            return self.send(200, json.dumps(self.state.issue(with_refresh=True)))
        if grant == "refresh_token":
            token = params.get("refresh_token", "")
            with self.state.lock:
                known = token in self.state.refresh_tokens
            if fault.strip() == "refuse-refresh" or not known:
                return self.refuse("invalid_grant", "AADSTS70000: The refresh token has expired or was revoked.")
            reply = self.state.issue(with_refresh=self.state.rotate)
            if self.state.rotate:
                with self.state.lock:
                    self.state.refresh_tokens.discard(token)
            return self.send(200, json.dumps(reply))
        return self.refuse("unsupported_grant_type", "Unknown grant type.")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--access-life", type=int, default=3600)
    parser.add_argument("--client-id", default="quorvale-test-client")
    parser.add_argument("--client-secret", default="")
    parser.add_argument("--rotate", action="store_true")
    args = parser.parse_args()

    Handler.state = State(args.dir, args.access_life, args.client_id, args.client_secret, args.rotate)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print("LISTENING %d" % server.server_address[1], flush=True)
    while os.read(sys.stdin.fileno(), 4096):
        pass
    server.shutdown()


if __name__ == "__main__":
    main()
