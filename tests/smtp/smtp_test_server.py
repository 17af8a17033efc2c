#!/usr/bin/env python3
"""An SMTP server on the loopback address for the mail client's tests.

Built on aiosmtpd (Debian: python3-aiosmtpd). Prints "READY <port>" once it
listens. Every command line it receives is appended to <dir>/commands.log;
every accepted message is saved as <dir>/message-<n>.eml (the data as
received, dot-stuffing undone) with <dir>/message-<n>.json beside it
(mail_from, rcpt_tos, login).

  --auth MECHS          offer AUTH with these mechanisms (LOGIN, PLAIN),
                        accepting user "raid" with password "s3cret"
  --starttls CERT KEY   offer STARTTLS with this certificate
  --tls CERT KEY        speak TLS from the first byte (implicit TLS)
  --reject ADDRESS      refuse RCPT to this address with 550 (may be repeated)
  --inject              send a forged reply in the clear right behind the
                        STARTTLS go-ahead, as a man in the middle would
  --broken-starttls     offer STARTTLS, give the go-ahead, then answer the
                        handshake with plain text and hang up
  --no-8bitmime         leave 8BITMIME out of the EHLO reply and refuse
                        BODY=8BITMIME
  --silent              accept connections and never answer
"""

import argparse
import asyncio
import json
import logging
import os
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

USER, PASSWORD = b"raid", b"s3cret"


class RecordingSMTP(SMTP):
    """Logs every command line, but not the message data."""

    def __init__(self, *args, log_path, inject, broken_starttls=False, eight_bit=True,
                 **kwargs):
        super().__init__(*args, **kwargs)
        self._log_path = log_path
        self._inject = inject
        self._broken_starttls = broken_starttls
        self._eight_bit = eight_bit
        self._in_data = False

    async def push(self, status):
        if not self._eight_bit and status == "250-8BITMIME":
            return
        if self._inject and isinstance(status, str) and status.startswith("220 Ready to start TLS"):
            # In the same write, so that the client has it before the
            # handshake begins.
            status += "\r\n250 forged reply to the coming EHLO"
        await super().push(status)

    async def smtp_STARTTLS(self, arg):
        if not self._broken_starttls:
            return await super().smtp_STARTTLS(arg)
        await super().push("220 Ready to start TLS")
        self.transport.write(b"this is no TLS handshake\r\n")
        self.transport.close()

    async def smtp_MAIL(self, arg):
        if not self._eight_bit and arg and "BODY=8BITMIME" in arg.upper():
            return await super().push("555 5.5.4 BODY=8BITMIME was not offered")
        return await super().smtp_MAIL(arg)

    def _log(self, line):
        with open(self._log_path, "ab") as log:
            log.write(line.rstrip(b"\r\n") + b"\n")

    def _client_connected_cb(self, reader, writer):
        # readline() (the AUTH answers) reads through readuntil() as well.
        read_until = reader.readuntil

        async def readuntil(separator=b"\n"):
            line = await read_until(separator)
            if not self._in_data:
                self._log(line)
            return line

        reader.readuntil = readuntil
        return super()._client_connected_cb(reader, writer)

    async def smtp_DATA(self, arg):
        self._in_data = True
        try:
            await super().smtp_DATA(arg)
        finally:
            self._in_data = False


class Handler:
    def __init__(self, folder, reject):
        self.folder = folder
        self.reject = reject
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.reject:
            return f"550 5.1.1 <{address}>: Recipient address rejected"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        stem = os.path.join(self.folder, f"message-{self.count}")
        login = session.auth_data.login.decode() if session.authenticated else None
        meta = {"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos,
                "login": login}
        with open(stem + ".eml.tmp", "wb") as f:
            f.write(envelope.original_content)
        with open(stem + ".json.tmp", "w") as f:
            json.dump(meta, f)
        os.rename(stem + ".json.tmp", stem + ".json")
        os.rename(stem + ".eml.tmp", stem + ".eml")
        return "250 Message accepted"


def authenticate(server, session, envelope, mechanism, auth_data):
    ok = isinstance(auth_data, LoginPassword) and \
        (auth_data.login, auth_data.password) == (USER, PASSWORD)
    # handled=False: aiosmtpd itself answers a refusal with 535.
    return AuthResult(success=ok, handled=False, auth_data=auth_data if ok else None)


def server_context(cert, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return context


async def silent(reader, writer):
    # Holds the connection open without a word until the client gives up.
    await reader.read()
    writer.close()


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--auth", default="")
    parser.add_argument("--starttls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--reject", action="append", default=[])
    parser.add_argument("--inject", action="store_true")
    parser.add_argument("--broken-starttls", action="store_true")
    parser.add_argument("--no-8bitmime", action="store_true")
    parser.add_argument("--silent", action="store_true")
    parser.add_argument("--lifetime", type=float, default=120.0)
    args = parser.parse_args()
    # aiosmtpd warns about its own deprecated fields on every login.
    logging.getLogger("mail.log").setLevel(logging.ERROR)

    loop = asyncio.get_running_loop()
    if args.silent:
        server = await asyncio.start_server(silent, "127.0.0.1", 0)
    else:
        handler = Handler(args.dir, args.reject)
        offered = [m for m in args.auth.split(",") if m]
        excluded = [m for m in ("LOGIN", "PLAIN") if m not in offered]
        log_path = os.path.join(args.dir, "commands.log")

        def factory():
            if args.starttls:
                tls_context = server_context(*args.starttls)
            elif args.broken_starttls:
                # Only for aiosmtpd to offer STARTTLS: the handshake never
                # comes to it.
                tls_context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            else:
                tls_context = None
            return RecordingSMTP(
                handler, log_path=log_path, inject=args.inject, hostname="mail.test",
                broken_starttls=args.broken_starttls, eight_bit=not args.no_8bitmime,
                tls_context=tls_context,
                auth_require_tls=False, authenticator=authenticate,
                auth_exclude_mechanism=excluded if offered else ["LOGIN", "PLAIN"],
                loop=loop)

        tls = server_context(*args.tls) if args.tls else None
        server = await loop.create_server(factory, "127.0.0.1", 0, ssl=tls)

    port = server.sockets[0].getsockname()[1]
    print(f"READY {port}", flush=True)
    # A server left behind by a crashed test ends on its own.
    await asyncio.sleep(args.lifetime)


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(0)
