#!/usr/bin/env python3
"""Writes Bugzilla-shaped XML-RPC replies at scale (User.login, Bug.search, Bug.comments)
for the listing benchmarks: one folder per bug count, each reply as the exact response body
a Bugzilla 5.0 server sends (one line, UTF-8, typed strings, dateTime.iso8601). For the
details benchmarks, folders details-<comments> hold the replies GetIssueDetails asks for
(Bugzilla.version, Bug.get, Bug.comments, Bug.fields) about one bug with that many comments.

Folders rest-<bugs> hold the same bugs and comments as REST replies shaped like the recorded
ones: compact JSON with raw UTF-8, for a listing in upstream Bugzilla's style (a search without
descriptions, then comments asked for by ids) and in bugzilla.mozilla.org's (one search whose
bugs carry their first comment as "description")."""
import argparse
import json
import os
import random
import xmlrpc.client

WORDS = ("frobnicator widget gizmo crash launch build colour render cache timeout parser "
         "socket window dialog import export löschen größe naïve café 日本 – ✓ € value "
         "config server client thread memory leak slow fast broken fixed").split()


def sentence(rng, length):
    out = []
    size = 0
    while size < length:
        word = rng.choice(WORDS)
        out.append(word)
        size += len(word) + 1
    return " ".join(out)[:length]


def when(rng):
    return xmlrpc.client.DateTime("2026%02d%02dT%02d:%02d:%02d" % (
        rng.randint(1, 12), rng.randint(1, 28), rng.randint(0, 23), rng.randint(0, 59),
        rng.randint(0, 59)))


def bug(rng, bug_id):
    is_open = rng.random() < 0.6
    return {
        "id": bug_id, "summary": sentence(rng, 60), "status": "CONFIRMED" if is_open else "RESOLVED",
        "severity": rng.choice(["normal", "major", "minor", "critical"]),
        "priority": rng.choice(["P1", "P2", "P3", "---"]), "product": "Widgets",
        "component": rng.choice(["Frobnicator", "Gizmo", "Docs"]),
        "resolution": "" if is_open else "FIXED", "alias": [], "is_open": is_open,
        "assigned_to": "alice@example.com", "creator": "bob@example.com",
        "creation_time": when(rng), "last_change_time": when(rng), "classification": "Unclassified",
        "cc": [], "blocks": [], "depends_on": [], "groups": [], "keywords": [], "flags": [],
        "op_sys": "All", "platform": "All", "version": "unspecified", "url": "", "whiteboard": "",
        "target_milestone": "---", "qa_contact": "", "is_confirmed": True,
        "is_cc_accessible": True, "is_creator_accessible": True, "see_also": [],
    }


def comments(rng, bug_id, first_comment_id, count=3):
    return [{
        "id": first_comment_id + n, "bug_id": bug_id, "count": n, "is_private": False,
        "creator": "alice@example.com", "time": when(rng), "creation_time": when(rng),
        "tags": [], "text": sentence(rng, 300),
    } for n in range(count)]


def reply(value):
    return xmlrpc.client.dumps((value,), methodresponse=True, allow_none=False,
                               encoding="UTF-8").replace("\n", "").encode("utf-8")


def write(folder, count):
    rng = random.Random(count)
    os.makedirs(folder, exist_ok=True)
    bugs = [bug(rng, 1000 + i) for i in range(count)]
    by_id = {str(b["id"]): {"comments": comments(rng, b["id"], 3 * i)} for i, b in enumerate(bugs)}
    files = {
        "User.login.xml": reply({"id": 2, "token": "2-benchmarkTk"}),
        "Bug.search.xml": reply({"bugs": bugs}),
        "Bug.comments.xml": reply({"bugs": by_id, "comments": {}}),
    }
    for name, body in files.items():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(body)


FIELD_NAMES = ["resolution", "product", "component", "priority", "bug_severity", "alias",
               "assigned_to", "delta_ts", "creation_ts"]


def write_details(folder, comment_count):
    rng = random.Random(comment_count)
    os.makedirs(folder, exist_ok=True)
    the_bug = bug(rng, 4242)
    files = {
        "User.login.xml": reply({"id": 2, "token": "2-benchmarkTk"}),
        "Bugzilla.version.xml": reply({"version": "5.0.6"}),
        "Bug.get.xml": reply({"bugs": [the_bug], "faults": []}),
        "Bug.comments.xml": reply({"bugs": {"4242": {"comments": comments(
            rng, 4242, 0, comment_count)}}, "comments": {}}),
        "Bug.fields.xml": reply({"fields": [{
            "id": n, "name": name, "display_name": name.replace("_", " ").title(), "type": 2,
            "is_custom": False, "is_mandatory": False, "is_on_bug_entry": False,
            "visibility_values": [], "values": []}
            for n, name in enumerate(FIELD_NAMES)]}),
    }
    for name, body in files.items():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(body)


def compact(value):
    return json.dumps(value, ensure_ascii=False, separators=(",", ":")).encode("utf-8")


def person(login, user_id, real_name, nick=None):
    detail = {"id": user_id, "email": login, "name": login, "real_name": real_name}
    if nick is not None:
        detail["nick"] = nick  # bugzilla.mozilla.org adds it
    return detail


def write_rest(folder, count):
    """The REST replies of a listing of `count` bugs: the bugs and comments of the XML-RPC
    folder of that size (same seed, same texts). comments.upstream.jsonl holds one
    `"<id>":{"comments":[...]}` member per line, which the reply server joins into the
    {"bugs":{...},"comments":{}} of each comments request however the client splits its ids."""
    rng = random.Random(count)
    os.makedirs(folder, exist_ok=True)
    bugs = [bug(rng, 1000 + i) for i in range(count)]
    texts = [[c["text"] for c in comments(rng, b["id"], 3 * i)] for i, b in enumerate(bugs)]
    alice = person("alice@example.com", 2, "Alice Example", "alice")
    bob = person("bob@example.com", 3, "Bob Müller", "bob")
    # Members come in no fixed order from either server; one shuffled order per style.
    upstream = {"bugs": [{"status": b["status"], "id": b["id"], "summary": b["summary"],
                          "severity": b["severity"]} for b in bugs]}
    bmo = {"bugs": [{"assigned_to_detail": alice, "summary": b["summary"],
                     "description": t[0], "status": b["status"], "creator_detail": bob,
                     "severity": b["severity"], "id": b["id"]} for b, t in zip(bugs, texts)]}
    files = {
        "login.json": compact({"id": 2, "token": "2-benchmarkT"}),
        "whoami.upstream.json": compact({
            "message": "A REST API resource was not found for 'GET /whoami'.", "error": True,
            "code": 32614, "documentation": "https://bugzilla.readthedocs.org/en/5.0/api/"}),
        "whoami.bmo.json": compact({
            "real_name": "Alice Example", "name": "alice@example.com", "mfa_status": False,
            "nick": "alice", "groups": ["editbugs"], "id": 2,
            "uuid": "bmo-who:0000000000000000000000000000000000000002"}),
        "search.upstream.json": compact(upstream),
        "search.bmo.json": compact(bmo),
        "comments.upstream.jsonl": b"".join(
            compact({str(b["id"]): {"comments": [{"text": x} for x in t]}})[1:-1] + b"\n"
            for b, t in zip(bugs, texts)),
    }
    for name, body in files.items():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(body)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    parser.add_argument("--sizes", default="1000,10000,50000")
    parser.add_argument("--comments", default="", help="comment counts of details replies")
    parser.add_argument("--rest-sizes", default="", help="bug counts of REST listings")
    args = parser.parse_args()
    for count in (int(c) for c in args.rest_sizes.split(",") if c):
        folder = os.path.join(args.out, "rest-%d" % count)
        if not os.path.exists(os.path.join(folder, "comments.upstream.jsonl")):
            write_rest(folder, count)
    for count in (int(c) for c in args.comments.split(",") if c):
        folder = os.path.join(args.out, "details-%d" % count)
        if not os.path.exists(os.path.join(folder, "Bug.fields.xml")):
            write_details(folder, count)
    for size in (int(s) for s in args.sizes.split(",")):
        folder = os.path.join(args.out, str(size))
        if not os.path.exists(os.path.join(folder, "Bug.comments.xml")):
            write(folder, size)


if __name__ == "__main__":
    main()
