#!/usr/bin/python3
# Writes registration mails with Python's email package into the mbox dialects mail software
# stores: mboxo through the mailbox module, mboxrd, and a sent-copy mbox that relies on
# Content-Length and leaves "From " lines in bodies as they are. Called by the desk tests.
#   make_mboxes.py DIR      reads DIR/mails (lines "name kind") and DIR/name.txt (UTF-8 bodies)
import mailbox
import re
import sys
import time
from email import policy
from email.generator import BytesGenerator
from email.message import EmailMessage
from io import BytesIO

DATE = "Mon, 07 Dec 2026 09:30:00 +0000"
# The delivery time on the "From " lines: what a mail without Date was received at.
DELIVERED = time.gmtime(1796714100)  # 2026-12-08 07:15:00 UTC


def make(name, kind, body):
    msg = EmailMessage(policy=policy.default)
    msg["From"] = "J\u00fcrgen Gr\u00f6\u00dfe <kunde@example.de>"
    msg["To"] = "registrierung@velk.example"
    msg["Subject"] = "Registrierung" if kind != "norecord" else "Katalog"
    if kind != "nodate":
        msg["Date"] = DATE
    msg["Message-ID"] = "<%s@python.example>" % name
    if kind == "octet":
        # A mail program that could not type the file sends it as octets, base64.
        msg.set_content("Anbei meine Anmeldung.\n")
        msg.add_attachment(body.encode("utf-8"), maintype="application", subtype="octet-stream",
                           filename="anmeldung.txt")
    else:
        msg.set_content(body, cte="8bit")
    return msg


def as_bytes(msg):
    out = BytesIO()
    BytesGenerator(out, mangle_from_=False, policy=msg.policy.clone(linesep="\n")).flatten(msg)
    return out.getvalue()


def main(folder):
    entries = []
    with open(folder + "/mails", encoding="utf-8") as listing:
        for line in listing:
            name, kind = line.split()
            with open("%s/%s.txt" % (folder, name), encoding="utf-8", newline="") as f:
                body = f.read().replace("\r\n", "\n")
            entries.append((name, kind, make(name, kind, body)))
    from_line = b"From kunde@example.de " + time.asctime(DELIVERED).encode() + b"\n"

    # mboxo as Python's mailbox module (and exim's and procmail's defaults) writes it.
    box = mailbox.mbox(folder + "/mboxo.mbox", create=True)
    for name, kind, msg in entries:
        entry = mailbox.mboxMessage(msg)
        entry.set_from("kunde@example.de", DELIVERED)
        box.add(entry)
    box.flush()
    box.close()

    # mboxrd: every ">*From " line gets one more ">".
    with open(folder + "/mboxrd.mbox", "wb") as f:
        for name, kind, msg in entries:
            f.write(from_line + re.sub(rb"(?m)^(>*From )", rb">\1", as_bytes(msg)) + b"\n")

    # The sent-copy mbox with Content-Length: bodies as they are, one wrong length (a message
    # edited by hand) that the reader must get past by the "From " lines.
    with open(folder + "/cl.mbox", "wb") as f:
        for name, kind, msg in entries:
            head, body = as_bytes(msg).split(b"\n\n", 1)
            length = len(body) + (7 if kind == "badlength" else 0)
            f.write(from_line + head + b"\nContent-Length: %d\n\n" % length + body + b"\n")


if __name__ == "__main__":
    main(sys.argv[1])
