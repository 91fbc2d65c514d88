#!/usr/bin/env python3
"""Reads a message as sendmail received it and checks it against the files
it was built from.

  mail_check.py MESSAGE FROM TO SUBJECT TEXT ATTACHMENT...

One RFC 5322 message with the given From, To and Subject, a Date and a
Message-ID; a multipart/mixed body whose text part equals TEXT byte for
byte and whose attachments, in order, equal the ATTACHMENT files (and carry
their names).  Exits 1 with what differs.
"""
import email
import email.policy
import email.utils
import os
import sys


def main():
    msg_path, frm, to, subject, text_path = sys.argv[1:6]
    attachments = sys.argv[6:]
    with open(msg_path, "rb") as f:
        msg = email.message_from_binary_file(f, policy=email.policy.default)
    problems = []
    for key, want in (("From", frm), ("To", to), ("Subject", subject)):
        if str(msg[key]) != want:
            problems.append("%s: %r" % (key, msg[key]))
    if email.utils.parsedate_to_datetime(str(msg["Date"])) is None or not msg["Message-ID"]:
        problems.append("Date or Message-ID")
    if msg.get_content_type() != "multipart/mixed":
        problems.append("type " + msg.get_content_type())
    parts = list(msg.iter_parts())
    with open(text_path, "rb") as f:
        if not parts or parts[0].get_content_type() != "text/plain" or parts[0].get_payload(decode=True) != f.read():
            problems.append("text part")
    got = parts[1:]
    if len(got) != len(attachments):
        problems.append("%d attachments" % len(got))
    for part, path in zip(got, attachments):
        with open(path, "rb") as f:
            if part.get_payload(decode=True) != f.read() or part.get_filename() != os.path.basename(path):
                problems.append("attachment " + path)
    if problems:
        print("\n".join(problems))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
