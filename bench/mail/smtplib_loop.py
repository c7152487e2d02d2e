#!/usr/bin/python3
"""The comparison for bench_mail: COUNT messages with Python's smtplib, one new connection each.
Usage: smtplib_loop.py PORT COUNT ATTACHMENT|- [starttls CAFILE USER PASSWORD]
Prints: RESULT <seconds> <sent> <peak RSS KiB> <CPU seconds>"""
import mimetypes
import os
import resource
import smtplib
import ssl
import sys
import time
from email.message import EmailMessage

port, count, attachment = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
tls = sys.argv[4:5] == ["starttls"]
context = ssl.create_default_context(cafile=sys.argv[5]) if tls else None
sent = 0
start = time.monotonic()
for i in range(count):
    message = EmailMessage()
    message["From"] = "office@practice.example"
    message["To"] = "client%d@example.org" % i
    message["Subject"] = "Your documents"
    message.set_content("Dear client,\nplease find your documents attached.\n")
    if attachment != "-":
        kind = (mimetypes.guess_type(attachment)[0] or "application/octet-stream").split("/")
        with open(attachment, "rb") as f:
            message.add_attachment(f.read(), maintype=kind[0], subtype=kind[1],
                                   filename=os.path.basename(attachment))
    with smtplib.SMTP("127.0.0.1", port) as smtp:
        if tls:
            smtp.starttls(context=context)
            smtp.login(sys.argv[6], sys.argv[7])
        smtp.send_message(message)
    sent += 1
elapsed = time.monotonic() - start
usage = resource.getrusage(resource.RUSAGE_SELF)
print("RESULT %.6f %d %d %.6f" % (elapsed, sent, usage.ru_maxrss, usage.ru_utime + usage.ru_stime), flush=True)
