#!/usr/bin/env python3
"""A stand-in Bugzilla for the integration tests and the demo.

It answers Bugzilla's XML-RPC web service (POST .../xmlrpc.cgi) from a JSON fixture the way
real Bugzilla 4.2 to 5.x servers do: the same reply shapes, fault codes and texts, cookies and
login tokens. On the same data it answers Bugzilla's REST API (any path with /rest.cgi/ or
/rest/) as Bugzilla 5.0/5.2 or bugzilla.mozilla.org's code do. A second XML-RPC service (POST /control) lets tests read the record of requests,
make calls misbehave and change settings; it never appears in that record.

Python standard library only. Usage and the control API: testing/README.md.
"""
import argparse
import base64
import copy
import datetime
import hashlib
import http.server
import json
import os
import random
import re
import select
import signal
import socket
import string
import struct
import sys
import threading
import time
import urllib.parse
import xmlrpc.client

# ---------------------------------------------------------------------------------------------
# Wire form of replies: one line, typed <string>, "<string />" for empty texts, no <nil/>,
# date-times in UTC -- what a real Bugzilla (SOAP::Lite) sends.

XML_HEAD = '<?xml version="1.0" encoding="UTF-8"?>'


def _escape(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def _format_double(number):
    text = repr(float(number))
    if "e" in text or "n" in text:  # exponent, inf or nan: XML-RPC has no notation for them
        text = "%.6f" % number
    return text


def encode_value(value, out):
    """Appends the XML-RPC form of `value` to the list of text pieces `out`."""
    if isinstance(value, bool):
        out.append("<value><boolean>%d</boolean></value>" % value)
    elif isinstance(value, int):
        tag = "int" if -2**31 <= value < 2**31 else "i8"
        out.append("<value><%s>%d</%s></value>" % (tag, value, tag))
    elif isinstance(value, float):
        out.append("<value><double>%s</double></value>" % _format_double(value))
    elif isinstance(value, str):
        out.append("<value><string>%s</string></value>" % _escape(value) if value
                   else "<value><string /></value>")
    elif isinstance(value, xmlrpc.client.DateTime):
        out.append("<value><dateTime.iso8601>%s</dateTime.iso8601></value>" % value.value)
    elif isinstance(value, datetime.datetime):
        out.append("<value><dateTime.iso8601>%s</dateTime.iso8601></value>"
                   % value.strftime("%Y%m%dT%H:%M:%S"))
    elif isinstance(value, (bytes, bytearray, xmlrpc.client.Binary)):
        data = value.data if isinstance(value, xmlrpc.client.Binary) else bytes(value)
        out.append("<value><base64>%s</base64></value>" % base64.b64encode(data).decode())
    elif isinstance(value, (list, tuple)):
        if not value:
            out.append("<value><array><data /></array></value>")
            return
        out.append("<value><array><data>")
        for element in value:
            encode_value(element, out)
        out.append("</data></array></value>")
    elif isinstance(value, dict):
        if not value:
            out.append("<value><struct /></value>")
            return
        out.append("<value><struct>")
        for name, member in value.items():
            out.append("<member><name>%s</name>" % _escape(str(name)))
            encode_value(member, out)
            out.append("</member>")
        out.append("</struct></value>")
    elif value is None:  # only reachable through injected values
        out.append("<value><nil/></value>")
    else:
        raise TypeError("cannot encode %r" % type(value))


def encode_response(value):
    out = [XML_HEAD, "<methodResponse><params><param>"]
    encode_value(value, out)
    out.append("</param></params></methodResponse>")
    return "".join(out).encode("utf-8")


def encode_fault(code, text):
    out = [XML_HEAD, "<methodResponse><fault>"]
    encode_value({"faultCode": code, "faultString": text}, out)
    out.append("</fault></methodResponse>")
    return "".join(out).encode("utf-8")


def to_wire_time(moment):
    return xmlrpc.client.DateTime(moment.strftime("%Y%m%dT%H:%M:%S"))


def random_text(length):
    alphabet = string.ascii_letters + string.digits
    return "".join(random.SystemRandom().choice(alphabet) for _ in range(length))


# ---------------------------------------------------------------------------------------------
# Faults, with the codes and texts real Bugzilla servers send.

class BugzillaFault(Exception):
    def __init__(self, code, text):
        super().__init__(text)
        self.code = code
        self.text = text


def param_required(param, function=""):
    # Bugzilla's own wording; most callers do not name the function, which leaves a blank.
    where = "The function %s requires" % function if function else "The function requires"
    return BugzillaFault(50, "%s a %s argument, and that argument was not set." % (where, param))


def params_required(function, params):
    return BugzillaFault(50, "The function %s requires that you set one of the following "
                             "parameters: %s" % (function, ", ".join(params)))


def login_required():
    return BugzillaFault(410, "You must log in before using this part of Bugzilla.")


def bad_login():
    return BugzillaFault(300, "The login or password you entered is not valid.")


def bad_token():
    return BugzillaFault(32000, "The cookies or token provide were not valid or have expired. "
                                "You may login again to get new cookies or a new token.")


def unknown_method(method):
    return BugzillaFault(-32601, "The requested method '%s' was not found." % method)


def invalid_api_key():
    return BugzillaFault(306, "The API key you specified is invalid. Please check that you typed "
                              "it correctly.")


def revoked_api_key():
    return BugzillaFault(306, "The API key you specified has been revoked by the user that "
                              "created it.")


def not_a_search_parameter(name):
    return BugzillaFault(53, "%s is not a valid parameter for the Bugzilla::Bug::match function."
                         % name)


# ---------------------------------------------------------------------------------------------
# The tracker's data, loaded from the fixture.

OPEN_STATUSES = {"UNCONFIRMED", "CONFIRMED", "IN_PROGRESS", "NEW", "ASSIGNED", "REOPENED"}
MAX_COMMENT_LENGTH = 65535
MAX_WORK_TIME = 99999.99
TIME_PATTERN = re.compile(r"^-?(?:\d+(?:\.\d*)?|\.\d+)$")


def parse_time(text):
    """Fixture times: "2026-09-01T09:00:00Z" or the wire form "20260901T09:00:00", both UTC."""
    for form in ("%Y-%m-%dT%H:%M:%SZ", "%Y-%m-%dT%H:%M:%S", "%Y%m%dT%H:%M:%S"):
        try:
            return datetime.datetime.strptime(text, form)
        except ValueError:
            pass
    raise ValueError("unreadable time %r" % text)


def utc_now():
    return datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None, microsecond=0)


class TrackerData:
    """Users, products and bugs of one fixture, plus the comments added since."""

    def __init__(self, fixture):
        self.time_tracking_group = fixture.get("time_tracking_group", "timetracking")
        self.users = {}
        self.users_by_login = {}
        for user in fixture.get("users", []):
            record = {"id": int(user["id"]), "login": user["login"],
                      "real_name": user.get("real_name", ""), "password": user.get("password", ""),
                      "groups": set(user.get("groups", []))}
            self.users[record["id"]] = record
            self.users_by_login[record["login"].lower()] = record
        # API key -> {"user", "revoked"}; keys are secrets: never printed.
        self.api_keys = {}
        for entry in fixture.get("api_keys", []):
            self.api_keys[str(entry["key"])] = {
                "user": self.users_by_login[entry["login"].lower()],
                "revoked": bool(entry.get("revoked", False))}
        self.products = [dict(p) for p in fixture.get("products", [])]
        self.field_overrides = fixture.get("fields", {})
        self.bugs = {}
        next_comment_id = 1
        for bug in fixture.get("bugs", []):
            record = copy.deepcopy(bug)
            record["id"] = int(record["id"])
            record["creation_time"] = parse_time(record["creation_time"])
            record["last_change_time"] = parse_time(
                record.get("last_change_time", bug["creation_time"]))
            comments = []
            for comment in record.get("comments", []):
                cid = int(comment.get("id", next_comment_id))
                next_comment_id = max(next_comment_id, cid) + 1
                comments.append({"id": cid, "creator": comment["creator"],
                                 "time": parse_time(comment.get("time", bug["creation_time"])),
                                 "text": comment.get("text", ""),
                                 "is_private": bool(comment.get("is_private", False)),
                                 "work_time": float(comment.get("work_time", 0)),
                                 "added": False})
            record["comments"] = comments
            self.bugs[record["id"]] = record
        self.next_comment_id = next_comment_id
        self.first_added_user_id = max(self.users, default=0)

    def add_users(self, count):
        """user1@example.com ... user<count>@example.com, each with a password and an API key,
        for tests of many users at once. Users that exist already are kept as they are."""
        for number in range(1, count + 1):
            login = "user%d@example.com" % number
            if login in self.users_by_login:
                continue
            record = {"id": self.first_added_user_id + number, "login": login,
                      "real_name": "User %d" % number, "password": "user%d-pass" % number,
                      "groups": set()}
            self.users[record["id"]] = record
            self.users_by_login[login] = record
            self.api_keys[("User%dApiKey" % number).ljust(40, "x")] = {"user": record,
                                                                      "revoked": False}

    def product(self, name):
        for product in self.products:
            if product["name"] == name:
                return product
        return None

    def user_detail(self, login):
        user = self.users_by_login.get(login.lower())
        return {"id": user["id"] if user else 0, "real_name": user["real_name"] if user else "",
                "name": login, "email": login}

    def can_see_product(self, user, product_name):
        product = self.product(product_name)
        groups = set(product.get("groups", [])) if product else set()
        return not groups or (user is not None and groups <= user["groups"])

    def can_see(self, user, bug):
        groups = set(bug.get("groups", []))
        if groups and (user is None or not groups <= user["groups"]):
            return False
        return self.can_see_product(user, bug["product"])

    def is_time_tracker(self, user):
        return user is not None and self.time_tracking_group in user["groups"]

    def find_bug(self, user, bug_id):
        """Bugzilla::Bug->check: by number or alias; faults 100, 101, 102."""
        text = str(bug_id).strip()
        if text == "":
            raise BugzillaFault(100, "You must enter a valid bug number!")
        if re.fullmatch(r"\d+", text):
            bug = self.bugs.get(int(text))
            if bug is None:
                raise BugzillaFault(101, "Bug #%s does not exist." % text)
        else:
            bug = next((b for b in self.bugs.values() if text in b.get("alias", [])), None)
            if bug is None:
                raise BugzillaFault(100, "'%s' is not a valid bug number nor an alias to a bug."
                                    % text)
        if not self.can_see(user, bug):
            if user is None:
                raise BugzillaFault(102, "You are not authorized to access bug #%d. To see this "
                                         "bug, you must first log in to an account with the "
                                         "appropriate permissions." % bug["id"])
            raise BugzillaFault(102, "You are not authorized to access bug #%d." % bug["id"])
        return bug


# ---------------------------------------------------------------------------------------------
# Bug and comment structs as the versions send them.

def bug_struct(data, bug, user, legacy, with_update_token):
    """`legacy`: the 4.2 shape (alias a plain string and absent when unset, no *_detail,
    no flags); otherwise the 5.0 shape (alias an array of strings)."""
    aliases = list(bug.get("alias", []))
    cc = list(bug.get("cc", []))
    status = bug["status"]
    result = {
        "id": bug["id"],
        "summary": bug["summary"],
        "status": status,
        "resolution": bug.get("resolution", ""),
        "severity": bug.get("severity", "normal"),
        "priority": bug.get("priority", "---"),
        "product": bug["product"],
        "component": bug["component"],
        "classification": bug.get("classification", "Unclassified"),
        "version": bug.get("version", "unspecified"),
        "target_milestone": bug.get("target_milestone", "---"),
        "platform": bug.get("platform", "All"),
        "op_sys": bug.get("op_sys", "All"),
        "assigned_to": bug["assigned_to"],
        "creator": bug["creator"],
        "qa_contact": bug.get("qa_contact", ""),
        "cc": cc,
        "creation_time": to_wire_time(bug["creation_time"]),
        "last_change_time": to_wire_time(bug["last_change_time"]),
        "is_open": status in OPEN_STATUSES,
        "is_confirmed": bool(bug.get("is_confirmed", status != "UNCONFIRMED")),
        "is_cc_accessible": True,
        "is_creator_accessible": True,
        "groups": list(bug.get("groups", [])),
        "keywords": list(bug.get("keywords", [])),
        "depends_on": list(bug.get("depends_on", [])),
        "blocks": list(bug.get("blocks", [])),
        "see_also": list(bug.get("see_also", [])),
        "url": bug.get("url", ""),
        "whiteboard": bug.get("whiteboard", ""),
    }
    if "dupe_of" in bug and bug.get("resolution") == "DUPLICATE":
        result["dupe_of"] = int(bug["dupe_of"])
    if legacy:
        if aliases:
            result["alias"] = aliases[0]
    else:
        result["alias"] = aliases
        result["flags"] = []
        result["assigned_to_detail"] = data.user_detail(bug["assigned_to"])
        result["creator_detail"] = data.user_detail(bug["creator"])
        result["cc_detail"] = [data.user_detail(login) for login in cc]
        if result["qa_contact"]:
            result["qa_contact_detail"] = data.user_detail(result["qa_contact"])
    if data.is_time_tracker(user):
        result["estimated_time"] = float(bug.get("estimated_time", 0))
        result["remaining_time"] = float(bug.get("remaining_time", 0))
        result["actual_time"] = sum(c["work_time"] for c in bug["comments"])
        if bug.get("deadline"):
            result["deadline"] = bug["deadline"]
    if with_update_token:
        result["update_token"] = "%d-%s" % (int(time.time()), random_text(43))
    return result


def comment_struct(bug, comment):
    return {
        "id": comment["id"],
        "bug_id": bug["id"],
        "count": bug["comments"].index(comment),
        "creator": comment["creator"],
        "time": to_wire_time(comment["time"]),
        "creation_time": to_wire_time(comment["time"]),
        "is_private": comment["is_private"],
        "tags": [],
        "text": comment["text"],
    }


def filter_fields(struct, params):
    """include_fields / exclude_fields of Bug.get and Bug.search (top-level names only)."""
    include = params.get("include_fields")
    exclude = params.get("exclude_fields")
    if isinstance(include, list) and include:
        struct = {k: v for k, v in struct.items() if k in include}
    if isinstance(exclude, list):
        struct = {k: v for k, v in struct.items() if k not in exclude}
    return struct


# Bug.fields: (name, id, type, display name, mandatory, on bug entry), as 5.0 numbers them.
FIELD_TABLE = [
    ("bug_id", 1, 0, "Bug #", False, False),
    ("short_desc", 2, 0, "Summary", True, True),
    ("classification", 3, 2, "Classification", False, False),
    ("product", 4, 2, "Product", True, False),
    ("version", 5, 2, "Version", True, True),
    ("rep_platform", 6, 2, "Hardware", False, True),
    ("bug_file_loc", 7, 0, "URL", False, True),
    ("op_sys", 8, 2, "OS", False, True),
    ("bug_status", 9, 2, "Status", False, True),
    ("status_whiteboard", 10, 0, "Whiteboard", False, False),
    ("keywords", 11, 8, "Keywords", False, False),
    ("resolution", 12, 2, "Resolution", False, False),
    ("bug_severity", 13, 2, "Severity", False, True),
    ("priority", 14, 2, "Priority", False, True),
    ("component", 15, 2, "Component", True, True),
    ("assigned_to", 16, 0, "AssignedTo", False, True),
    ("reporter", 17, 0, "ReportedBy", False, False),
    ("qa_contact", 18, 0, "QAContact", False, True),
    ("cc", 20, 0, "CC", False, True),
    ("dependson", 21, 0, "Depends on", False, True),
    ("blocked", 22, 0, "Blocks", False, True),
    ("target_milestone", 27, 2, "Target Milestone", False, True),
    ("creation_ts", 33, 0, "Creation date", False, False),
    ("delta_ts", 34, 0, "Last changed date", False, False),
    ("longdesc", 35, 0, "Comment", False, False),
    ("alias", 38, 0, "Alias", False, True),
    ("everconfirmed", 39, 0, "Ever confirmed", False, False),
    ("work_time", 45, 0, "Hours Worked", False, False),
    ("estimated_time", 46, 0, "Orig. Est.", False, True),
    ("remaining_time", 47, 0, "Hours Left", False, True),
    ("deadline", 48, 5, "Deadline", False, True),
]
SELECT_VALUES = {
    "resolution": ["", "FIXED", "INVALID", "WONTFIX", "DUPLICATE", "WORKSFORME"],
    "bug_severity": ["blocker", "critical", "major", "normal", "minor", "trivial", "enhancement"],
    "priority": ["Highest", "High", "Normal", "Low", "Lowest", "---"],
    "bug_status": ["UNCONFIRMED", "CONFIRMED", "IN_PROGRESS", "RESOLVED", "VERIFIED"],
    "rep_platform": ["All", "PC", "Macintosh", "Other"],
    "op_sys": ["All", "Windows", "Mac OS", "Linux", "Other"],
}


def field_struct(data, user, entry):
    name, field_id, kind, display, mandatory, on_entry = entry
    override = data.field_overrides.get(name, {})
    result = {"id": field_id, "type": kind, "is_custom": False, "name": name,
              "display_name": override.get("display_name", display),
              "is_mandatory": mandatory, "is_on_bug_entry": on_entry, "visibility_values": []}
    values = None
    if name in SELECT_VALUES:
        values = [{"name": v, "sort_key": 100 * (i + 1), "sortkey": 100 * (i + 1),
                   "visibility_values": []} for i, v in enumerate(SELECT_VALUES[name])]
    elif name in ("component", "version", "target_milestone"):
        member = {"component": "components", "version": "versions",
                  "target_milestone": "milestones"}[name]
        values = []
        for product in data.products:
            if not data.can_see_product(user, product["name"]):
                continue
            for item in product.get(member, []):
                item_name = item["name"] if isinstance(item, dict) else item
                values.append({"name": item_name, "sort_key": 0, "sortkey": 0,
                               "visibility_values": [product["name"]], "is_active": True})
        result["value_field"] = "product"
    if values is not None:
        result["values"] = values
    return result


def product_struct(product):
    def named(items):
        return [{"id": i + 1, "name": v, "sort_key": 0, "is_active": True}
                for i, v in enumerate(items)]
    components = [{"id": c.get("id", i + 1), "name": c["name"],
                   "description": c.get("description", ""),
                   "default_assigned_to": c.get("default_assigned_to", ""),
                   "default_qa_contact": c.get("default_qa_contact", ""),
                   "sort_key": 0, "is_active": True,
                   "flag_types": {"bug": [], "attachment": []}}
                  for i, c in enumerate(product.get("components", []))]
    return {"id": product["id"], "name": product["name"],
            "description": product.get("description", ""), "is_active": True,
            "classification": product.get("classification", "Unclassified"),
            "default_milestone": (product.get("milestones") or ["---"])[0],
            "has_unconfirmed": True, "components": components,
            "versions": named(product.get("versions", [])),
            "milestones": named(product.get("milestones", []))}


# ---------------------------------------------------------------------------------------------
# Searching.

SEARCH_MEMBERS = {  # search member -> bug member (equality), for every version
    "id": "id", "product": "product", "component": "component", "status": "status",
    "resolution": "resolution", "severity": "severity", "priority": "priority",
    "version": "version", "target_milestone": "target_milestone", "platform": "platform",
    "op_sys": "op_sys", "classification": "classification",
}
ROLE_MEMBERS = {"assigned_to": "assigned_to", "reporter": "creator", "creator": "creator",
                "qa_contact": "qa_contact"}
LEGACY_SEARCH_MEMBERS = (set(SEARCH_MEMBERS) | set(ROLE_MEMBERS)
                         | {"alias", "summary", "whiteboard", "url", "creation_time",
                            "last_change_time", "limit", "offset"})


def _as_list(value):
    return value if isinstance(value, list) else [value]


def _wire_to_datetime(value):
    if isinstance(value, xmlrpc.client.DateTime):
        return parse_time(value.value)
    return parse_time(str(value))


def bug_matches(bug, params, legacy):
    for member, field in SEARCH_MEMBERS.items():
        if member in params:
            wanted = [str(v) for v in _as_list(params[member])]
            if str(bug.get(field, "")) not in wanted:
                return False
    for member, field in ROLE_MEMBERS.items():
        if member not in params:
            continue
        value = (bug.get(field) or "").lower()
        if legacy:  # 4.2 compares whole login names
            if value not in [str(v).lower() for v in _as_list(params[member])]:
                return False
        else:  # 5.x: "anywordssubstr" on the login name
            words = " ".join(str(v) for v in _as_list(params[member])).lower().split()
            if not any(word in value for word in words):
                return False
    if "alias" in params:
        wanted = [str(v) for v in _as_list(params["alias"])]
        if not any(a in wanted for a in bug.get("alias", [])):
            return False
    for member, field in (("summary", "summary"), ("whiteboard", "whiteboard"), ("url", "url")):
        if member in params:
            text = (bug.get(field) or "").lower()
            if not all(w in text for w in " ".join(
                    str(v) for v in _as_list(params[member])).lower().split()):
                return False
    for member in ("creation_time", "last_change_time"):
        if member in params and bug[member] < _wire_to_datetime(params[member]):
            return False
    return True


# ---------------------------------------------------------------------------------------------
# Settings, sessions, injections and the request record.

LOGIN_STYLES = ("token", "cookie", "both")
# What each kind does is listed in testing/README.md.
INJECTION_KINDS = ("fault", "close", "stall", "http500", "not_xml", "truncated", "wrong_kind",
                   "remove", "huge", "raw", "reset", "raw_text", "redirect")
REST_STYLES = ("upstream", "bmo")
BMO_VERSION = "20260820.1"  # what the recorded bugzilla.mozilla.org code answers
SECRET_PARAMS = ("password", "token", "api_key", "Bugzilla_password", "Bugzilla_token",
                 "Bugzilla_api_key")


def redact_query(text):
    """Hides the values of secret query parameters (password=, token=, api_key=...)."""
    return re.sub(r"(\b(?:Bugzilla_)?(?:password|token|api_key)=)[^&\s'\"]*", r"\1[secret]",
                  text)
FAR_EXPIRY = "expires=Fri, 01-Jan-2038 00:00:00 GMT"
PAST_EXPIRY = "expires=Tue, 15-Sep-1998 21:49:00 GMT"


def parse_cookie_header(header):
    cookies = {}
    for piece in (header or "").split(";"):
        name, sep, value = piece.strip().partition("=")
        if sep:
            cookies.setdefault(name, value)
    return cookies


def version_lacks_get_bugs(version):
    """Bug.get_bugs was dropped in 5.0: absent when the version's first number is 5 or more."""
    return version_is_5_or_later(version)


def version_is_5_or_later(version):
    match = re.match(r"\s*(\d+)", version or "")
    return bool(match) and int(match.group(1)) >= 5


API_KEY_MEMBERS = ("api_key", "Bugzilla_api_key")
SETTING_CHOICES = {"api_keys": (True, False, "auto"),
                   "bad_token": ("fault", "anonymous", "auto")}


class Server:
    """All state behind one lock: data, settings, sessions, injections, the request record."""

    def __init__(self, fixture, login_style, version, rest_style="upstream",
                 version_explicit=True):
        self.lock = threading.RLock()
        self.fixture = fixture
        # bugzilla.mozilla.org reports its own version unless one was asked for explicitly.
        self.launch_version_explicit = version_explicit
        self.launch_settings = {"login_style": login_style, "version": version,
                                "rest_style": rest_style,
                                "get_bugs": "auto", "api_keys": "auto", "bad_token": "auto",
                                "chunked": False, "close_connections": False,
                                "delay_seconds": 0.0}
        self.reset()

    def reset(self):
        with self.lock:
            self.data = TrackerData(self.fixture)
            self.settings = dict(self.launch_settings)
            self.version_explicit = self.launch_version_explicit
            self.tokens = {}
            self.login_cookies = {}
            self.injections = []
            self.requests = []

    # --- control -----------------------------------------------------------------------------

    def configure(self, name, value):
        with self.lock:
            if name == "login_style":
                if value not in LOGIN_STYLES:
                    raise ValueError("login_style must be one of %s" % ", ".join(LOGIN_STYLES))
            elif name == "version":
                if value is not None and not isinstance(value, str):
                    raise ValueError("version must be a text")
                value = value or None
                self.version_explicit = True
            elif name == "rest_style":
                if value not in REST_STYLES:
                    raise ValueError("rest_style must be one of %s" % ", ".join(REST_STYLES))
            elif name == "get_bugs":
                if value not in (True, False, "auto"):
                    raise ValueError('get_bugs must be true, false or "auto"')
            elif name in SETTING_CHOICES:
                if value not in SETTING_CHOICES[name]:
                    raise ValueError("%s must be one of %s" % (
                        name, ", ".join(repr(c) for c in SETTING_CHOICES[name])))
            elif name in ("chunked", "close_connections"):
                value = bool(value)
            elif name == "delay_seconds":
                if isinstance(value, bool) or not isinstance(value, (int, float)) or value < 0:
                    raise ValueError("delay_seconds must be a number of seconds, 0 or more")
                value = float(value)
            else:
                raise ValueError("unknown setting %r" % name)
            self.settings[name] = value

    def inject(self, method, kind, args, times):
        if kind not in INJECTION_KINDS:
            raise ValueError("unknown injection kind %r" % kind)
        if not isinstance(args, dict):
            args = {}
        required = {"fault": ("code", "string"), "stall": ("seconds",),
                    "wrong_kind": ("member", "value"), "remove": ("member",),
                    "huge": ("megabytes",), "raw": ("body",),
                    "raw_text": ("member", "bytes"), "redirect": ("location",)}.get(kind, ())
        for name in required:
            if name not in args:
                raise ValueError("%s needs the argument %r" % (kind, name))
        if not isinstance(times, int) or times < -1:
            raise ValueError("times must be -1 (every call) or a count")
        with self.lock:
            if times != 0:
                self.injections.append({"method": method, "kind": kind, "args": args,
                                        "remaining": times})

    def take_injection(self, method):
        with self.lock:
            for injection in self.injections:
                if injection["method"] in (method, "*"):
                    if injection["remaining"] > 0:
                        injection["remaining"] -= 1
                        if injection["remaining"] == 0:
                            self.injections.remove(injection)
                    return injection
        return None

    def record(self, entry):
        """Adds an entry to the request record; "finished" is filled in by finish()."""
        entry["finished"] = 0.0
        with self.lock:
            self.requests.append(entry)
        return entry

    def finish(self, entry):
        """Stamps the end of a request once (a later call leaves the first time)."""
        with self.lock:
            if entry is not None and not entry["finished"]:
                entry["finished"] = time.monotonic()

    def delay(self):
        """The "delay_seconds" wait of every Bugzilla request, outside the lock so that
        concurrent requests overlap."""
        with self.lock:
            seconds = self.settings["delay_seconds"]
        if seconds > 0:
            time.sleep(seconds)

    def add_users(self, count):
        if isinstance(count, bool) or not isinstance(count, int) or count < 0:
            raise ValueError("add_users needs a count of users, 0 or more")
        with self.lock:
            self.data.add_users(count)

    def bug_record(self, bug_id):
        with self.lock:
            bug = self.data.bugs.get(int(bug_id))
            if bug is None:
                raise ValueError("no bug %s" % bug_id)
            result = bug_struct(self.data, bug, None, False, False)
            result["comments"] = [dict(comment_struct(bug, c), work_time=c["work_time"],
                                       added=c["added"]) for c in bug["comments"]]
            return result

    def expire_sessions(self):
        with self.lock:
            self.tokens.clear()
            self.login_cookies.clear()

    def reported_version(self):
        if self.settings["rest_style"] == "bmo" and not self.version_explicit:
            return BMO_VERSION
        return self.settings["version"]

    def by_version(self, name):
        """A setting that may be "auto": then 5.0 and later behave one way, older ones another."""
        value = self.settings[name]
        return version_is_5_or_later(self.settings["version"]) if value == "auto" else value

    def api_keys_known(self):
        return self.by_version("api_keys")

    def bad_token_faults(self):
        value = self.settings["bad_token"]
        if value == "auto":
            return version_is_5_or_later(self.settings["version"])
        return value == "fault"

    def redact(self, text):
        """Log lines never show an API key, token or password, known or not."""
        with self.lock:
            secrets = list(self.data.api_keys) + list(self.tokens)
        for secret in secrets:
            text = text.replace(secret, "[secret]")
        return redact_query(text)

    # --- Bugzilla calls ----------------------------------------------------------------------

    def call(self, method, params, cookie_header, rest_style=None):
        """Runs one Bugzilla call. Returns (result or BugzillaFault, Set-Cookie values)."""
        with self.lock:
            call = Call(self, method, params, cookie_header, rest_style)
            try:
                result = call.run()
            except BugzillaFault as fault:
                result = fault
            return result, call.set_cookies


class Call:
    """One Bugzilla web-service call: authentication, then the method."""

    LOGIN_EXEMPT = ("User.login", "Bugzilla.version")

    def __init__(self, server, method, params, cookie_header, rest_style=None):
        self.server = server
        self.data = server.data
        self.settings = server.settings
        # REST (5.0 and later only) knows tokens and API keys, never login cookies.
        self.rest_style = rest_style
        self.style = "token" if rest_style else server.settings["login_style"]
        self.method = method
        self.params = params[0] if params and isinstance(params[0], dict) else {}
        self.cookies = parse_cookie_header(cookie_header)
        self.set_cookies = []
        self.user = None

    def run(self):
        handler = self.handlers().get(self.method)
        authenticated = False
        try:
            if handler is None:
                raise unknown_method(self.method)
            self.user = self.authenticate()
            authenticated = self.user is not None
            return handler()
        finally:
            # A real 5.x hands a session cookie to every caller it did not authenticate,
            # except in answer to a successful login.
            if self.style == "token" and not authenticated and not (
                    self.method == "User.login" and self.user is not None):
                self.set_cookies.append("Bugzilla_login_request_cookie=%s; path=/; HttpOnly"
                                        % random_text(10))

    def handlers(self):
        handlers = {
            "User.login": self.user_login,
            "User.logout": self.user_logout,
            "Bugzilla.version": self.bugzilla_version,
            "Bug.search": self.bug_search,
            "Bug.get": self.bug_get,
            "Bug.comments": self.bug_comments,
            "Bug.fields": self.bug_fields,
            "Bug.add_comment": self.bug_add_comment,
            "Product.get": self.product_get,
            "Product.get_accessible_products": self.product_ids,
            "Product.get_selectable_products": self.product_ids,
            "Product.get_enterable_products": self.product_ids,
        }
        get_bugs = self.settings["get_bugs"]
        if get_bugs is True or (get_bugs == "auto"
                                and not version_lacks_get_bugs(self.settings["version"])):
            handlers["Bug.get_bugs"] = self.bug_get
        if self.rest_style or self.server.api_keys_known():
            handlers["User.valid_login"] = self.user_valid_login
        if self.rest_style == "bmo":
            handlers["User.whoami"] = self.user_whoami
        return handlers

    def keys_known(self):
        return bool(self.rest_style) or self.server.api_keys_known()

    def authenticate(self):
        if self.keys_known() and self.method not in self.LOGIN_EXEMPT:
            key = next((self.params[n] for n in API_KEY_MEMBERS if self.params.get(n)), None)
            if key is not None:  # the key alone decides who calls
                entry = self.data.api_keys.get(str(key))
                if entry is None:
                    raise invalid_api_key()
                if entry["revoked"]:
                    raise revoked_api_key()
                return entry["user"]
        user = None
        if self.style in ("cookie", "both"):
            user = self.cookie_user()
        if self.style in ("token", "both") and self.method not in self.LOGIN_EXEMPT:
            token = self.params.get("token", "")
            if token not in ("", None):
                token_user = self.data.users.get(self.server.tokens.get(str(token)))
                # 5.x refuses a token it does not know; 4.4 runs the call anonymously.
                if token_user is None and user is None and (self.rest_style or
                                                            self.server.bad_token_faults()):
                    raise bad_token()
                user = token_user or user
        return user

    def cookie_user(self):
        login, secret = self.cookies.get("Bugzilla_login"), self.cookies.get("Bugzilla_logincookie")
        if login is None and secret is None:
            return None
        owner = self.server.login_cookies.get(secret)
        if owner is not None and str(owner) == login:
            return self.data.users.get(owner)
        # Like Bugzilla: cookies that no longer log in are withdrawn.
        for name in ("Bugzilla_login", "Bugzilla_logincookie"):
            self.set_cookies.append("%s=X; path=/; %s; HttpOnly" % (name, PAST_EXPIRY))
        return None

    def require_login(self):
        if self.user is None:
            raise login_required()
        return self.user

    # --- User and Bugzilla -------------------------------------------------------------------

    def user_login(self):
        for name in ("login", "password"):
            if name not in self.params:
                raise param_required(name)
        user = self.data.users_by_login.get(str(self.params["login"]).lower())
        if user is None or user["password"] != str(self.params["password"]):
            raise bad_login()
        self.user = user
        result = {"id": user["id"]}
        if self.style in ("cookie", "both"):
            secret = random_text(10)
            self.server.login_cookies[secret] = user["id"]
            self.set_cookies.append("Bugzilla_login=%d; path=/; %s; HttpOnly"
                                    % (user["id"], FAR_EXPIRY))
            self.set_cookies.append("Bugzilla_logincookie=%s; path=/; %s; HttpOnly"
                                    % (secret, FAR_EXPIRY))
        if self.style in ("token", "both"):
            token = "%d-%s" % (user["id"], random_text(10))
            self.server.tokens[token] = user["id"]
            result["token"] = token
        return result

    def user_valid_login(self):
        if "login" not in self.params:
            raise param_required("login")
        return self.user is not None and self.user["login"] == str(self.params["login"])

    def user_logout(self):
        token = str(self.params.get("token", ""))
        self.server.tokens.pop(token, None)
        self.server.login_cookies.pop(self.cookies.get("Bugzilla_logincookie"), None)
        return {}

    def user_whoami(self):
        user = self.require_login()
        return {"id": user["id"], "name": user["login"], "real_name": user["real_name"],
                "nick": user["login"].split("@")[0], "groups": sorted(user["groups"]),
                "mfa_status": False,
                "uuid": "bmo-who:" + hashlib.sha1(user["login"].encode()).hexdigest()}

    def bugzilla_version(self):
        version = self.server.reported_version()
        return {} if version is None else {"version": version}

    # --- Bugs --------------------------------------------------------------------------------

    def legacy(self):
        return self.style == "cookie"

    def bug_search(self):
        params = self.params
        if self.legacy():
            for name in params:
                if name not in LEGACY_SEARCH_MEMBERS:
                    raise not_a_search_parameter(name)
        elif not self.server.api_keys_known():
            for name in API_KEY_MEMBERS:  # 4.4 knows no API keys
                if name in params:
                    raise not_a_search_parameter(name)
        if "offset" in params and "limit" not in params:
            raise param_required("limit", "Bug.search()")
        found = [bug for _, bug in sorted(self.data.bugs.items())
                 if self.data.can_see(self.user, bug) and bug_matches(bug, params, self.legacy())]
        offset = int(params.get("offset", 0) or 0)
        limit = int(params.get("limit", 0) or 0)
        found = found[offset:offset + limit] if limit else found[offset:]
        return {"bugs": [self.bug_value(bug, False) for bug in found]}

    def bug_value(self, bug, with_update_token):
        """One bug of Bug.search or Bug.get, in the service's shape, include_fields applied."""
        if self.rest_style:
            return rest_bug(self.data, bug, self.user, self.rest_style, self.params,
                            with_update_token and self.user is not None)
        return filter_fields(bug_struct(self.data, bug, self.user, self.legacy(),
                                        with_update_token), self.params)

    def comment_value(self, bug, comment):
        if self.rest_style:
            return filter_fields(rest_comment(bug, comment, self.rest_style), self.params)
        return comment_struct(bug, comment)

    def bug_get(self):
        if "ids" not in self.params:
            raise param_required("ids")
        bugs, faults = [], []
        for bug_id in _as_list(self.params["ids"]):
            try:
                bug = self.data.find_bug(self.user, bug_id)
            except BugzillaFault as fault:
                if not self.params.get("permissive"):
                    raise
                faults.append({"id": bug_id, "faultString": fault.text, "faultCode": fault.code})
                continue
            bugs.append(self.bug_value(bug, True))
        return {"bugs": bugs, "faults": faults}

    def bug_comments(self):
        if "ids" not in self.params and "comment_ids" not in self.params:
            raise params_required("Bug.comments", ["ids", "comment_ids"])
        since = self.params.get("new_since")
        since = _wire_to_datetime(since) if since else None
        insider = self.user is not None and "insidergroup" in self.user["groups"]

        def visible(comment):
            return (not comment["is_private"] or insider) and (since is None
                                                               or comment["time"] >= since)
        bugs = {}
        for bug_id in _as_list(self.params.get("ids", [])):
            bug = self.data.find_bug(self.user, bug_id)
            bugs[str(bug["id"])] = {"comments": [self.comment_value(bug, c)
                                                 for c in bug["comments"] if visible(c)]}
        comments = {}
        for comment_id in _as_list(self.params.get("comment_ids", [])):
            found = next(((bug, c) for bug in self.data.bugs.values() for c in bug["comments"]
                          if str(c["id"]) == str(comment_id).strip()), None)
            if found is None:
                raise BugzillaFault(111, "There is no comment with the id '%s'." % comment_id)
            self.data.find_bug(self.user, found[0]["id"])
            comments[str(found[1]["id"])] = self.comment_value(*found)
        return {"bugs": bugs, "comments": comments}

    def bug_fields(self):
        entries = []
        if "ids" in self.params:
            for field_id in _as_list(self.params["ids"]):
                entry = next((e for e in FIELD_TABLE if str(e[1]) == str(field_id)), None)
                if entry is None:
                    raise BugzillaFault(51, "There is no field with the id '%s'." % field_id)
                entries.append(entry)
        if "names" in self.params:
            for name in _as_list(self.params["names"]):
                entry = next((e for e in FIELD_TABLE if e[0] == str(name)), None)
                if entry is None:
                    raise BugzillaFault(51, "There is no field named '%s'." % name)
                if entry not in entries:
                    entries.append(entry)
        if "ids" not in self.params and "names" not in self.params:
            entries = list(FIELD_TABLE)
        fields = [field_struct(self.data, self.user, e) for e in entries]
        if self.rest_style:  # JSON names the members XML-RPC leaves out
            for field in fields:
                field.setdefault("visibility_field", None)
                field.setdefault("value_field", None)
        return {"fields": fields}

    def bug_add_comment(self):
        user = self.require_login()
        if "id" not in self.params:
            raise param_required("id")
        text = self.params.get("comment")
        if text is None or str(text).strip() == "":
            raise param_required("comment")
        bug = self.data.find_bug(user, self.params["id"])
        text = re.sub(r"\s+\Z", "", str(text))
        text = re.sub(r"\r\n?", "\n", text)
        if len(text) > MAX_COMMENT_LENGTH:
            raise BugzillaFault(114, "Comments cannot be longer than 65535 characters.")
        work_time = self.work_time()
        if work_time != 0 and not self.data.is_time_tracker(user):
            raise BugzillaFault(115, "You tried to change the Hours Worked field , but only a "
                                     "user with the required permissions may change that field.")
        now = utc_now()
        comment = {"id": self.data.next_comment_id, "creator": user["login"], "time": now,
                   "text": text, "is_private": bool(self.params.get("is_private", False)),
                   "work_time": work_time, "added": True}
        self.data.next_comment_id += 1
        bug["comments"].append(comment)
        bug["last_change_time"] = now
        return {"id": comment["id"]}

    def work_time(self):
        raw = self.params.get("work_time")
        if raw is None:
            return 0.0
        text = str(raw).strip() or "0"
        if isinstance(raw, float):
            text = _format_double(raw)
        if not TIME_PATTERN.match(text):
            raise BugzillaFault(52, "The value '%s' in the Hours Worked field is not a numeric "
                                    "value." % text)
        if float(text) > MAX_WORK_TIME:
            raise BugzillaFault(54, "The value '%s' in the Hours Worked field is more than the "
                                    "maximum allowed value of '99999.99'." % text)
        return float(text)

    # --- Products ----------------------------------------------------------------------------

    def visible_products(self):
        return [p for p in self.data.products if self.data.can_see_product(self.user, p["name"])]

    def product_get(self):
        products = self.visible_products()
        if "ids" in self.params or "names" in self.params:
            ids = {str(i) for i in _as_list(self.params.get("ids", []))}
            names = {str(n).lower() for n in _as_list(self.params.get("names", []))}
            products = [p for p in products
                        if str(p["id"]) in ids or p["name"].lower() in names]
        return {"products": [product_struct(p) for p in products]}

    def product_ids(self):
        return {"ids": [p["id"] for p in self.visible_products()]}


# ---------------------------------------------------------------------------------------------
# Replies as they leave the server, normal or misbehaving on purpose.

class Reply:
    def __init__(self, body=b"", status=200, content_type="text/xml"):
        self.status = status
        self.content_type = content_type
        self.set_cookies = []
        self.pieces = [body]          # bytes, or callables yielding byte chunks (streamed)
        self.length = len(body)
        self.declared_length = None   # a Content-Length larger than what is sent: a cut body
        self.close = False            # close the connection after this reply
        self.silent = False           # close the connection without answering
        self.stall_seconds = 0.0
        self.reset = False            # after the pieces, abort the connection (TCP reset)
        self.headers = []             # further (name, value) header lines
        # None: by the settings; "chunked"; "length" (Content-Length); "close" (no length:
        # the body ends when the connection closes)
        self.framing = None


HTML_500 = (b"<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\n<html><head>\n"
            b"<title>500 Internal Server Error</title>\n</head><body>\n"
            b"<h1>Internal Server Error</h1>\n<p>The server encountered an internal error or\n"
            b"misconfiguration and was unable to complete your request.</p>\n</body></html>\n")
HTML_NOT_XML = (b"<!DOCTYPE html>\n<html><head><title>Bugzilla Main Page</title></head>\n"
                b"<body><h1>Bugzilla</h1><p>This is not an XML-RPC reply.</p></body></html>\n")
PADDING_MARKER = "\x00PADDING\x00"  # cannot occur in any real text
RAW_TEXT_MARKER = "\x00RAW TEXT\x00"  # stands in for the raw bytes until the reply is encoded


def replace_member(value, parts, new_value, remove):
    """Replaces (or removes) what a dotted path names: struct members by name, array elements
    by index, "*" for every member or element."""
    head, rest = parts[0], parts[1:]
    if isinstance(value, dict):
        keys = list(value) if head == "*" else [head]
    elif isinstance(value, list):
        if head == "*":
            keys = list(range(len(value)))
        else:
            keys = [int(head)] if head.isdigit() and int(head) < len(value) else []
    else:
        return
    for key in reversed(keys):
        if rest:
            if isinstance(value, list) or key in value:
                replace_member(value[key], rest, new_value, remove)
        elif remove:
            if isinstance(value, list):
                del value[key]
            else:
                value.pop(key, None)
        else:
            value[key] = copy.deepcopy(new_value)


def padded_reply(result, megabytes):
    """A valid reply of about `megabytes` MiB: the result with a long "padding" text member,
    streamed in chunks instead of built in memory."""
    if isinstance(result, BugzillaFault):
        head, tail = encode_fault(result.code, PADDING_MARKER).split(PADDING_MARKER.encode())
    else:
        holder = dict(result) if isinstance(result, dict) else {"result": result}
        holder["padding"] = PADDING_MARKER
        head, tail = encode_response(holder).split(PADDING_MARKER.encode())
    return padded_reply_pieces(head, tail, megabytes)


def padded_reply_pieces(head, tail, megabytes):
    size = max(0, int(float(megabytes) * 1024 * 1024) - len(head) - len(tail))

    def padding():
        chunk = b"x" * 65536
        left = size
        while left > 0:
            yield chunk[:min(left, len(chunk))]
            left -= len(chunk)
    reply = Reply(head)
    reply.pieces = [head, padding, tail]
    reply.length = len(head) + size + len(tail)
    return reply


class XmlRpcService:
    """How the XML-RPC service runs a call and encodes what comes of it."""

    name = "xmlrpc"
    raw_content_type = "text/xml"

    def call(self, server, method, params, cookie_header):
        return server.call(method, params, cookie_header)

    def result_reply(self, method, result):
        return Reply(encode_response(result))

    def fault_reply(self, fault):
        return Reply(encode_fault(fault.code, fault.text))

    def padded_reply(self, result, megabytes):
        return padded_reply(result, megabytes)

    def raw_marker(self):
        return RAW_TEXT_MARKER.encode()

    def finish(self, reply):
        return reply


XMLRPC = XmlRpcService()


def build_reply(server, method, params, cookie_header, service=XMLRPC):
    """The reply to one Bugzilla request, with any injection for its method applied."""
    injection = server.take_injection(method)
    kind = injection["kind"] if injection else None
    args = injection["args"] if injection else {}
    if kind == "fault":
        code = args["code"]
        return service.finish(service.fault_reply(BugzillaFault(code, str(args["string"]))))
    if kind == "redirect":
        reply = Reply(b"", status=302, content_type=None)
        reply.headers.append(("Location", str(args["location"])))
        return reply
    if kind == "close":
        reply = Reply()
        reply.silent = True
        return reply
    if kind == "http500":
        return Reply(HTML_500, status=500, content_type="text/html; charset=iso-8859-1")
    if kind == "not_xml":
        return Reply(HTML_NOT_XML, content_type="text/html; charset=UTF-8")
    if kind == "raw":
        body = args["body"]
        body = body.data if isinstance(body, xmlrpc.client.Binary) else str(body).encode("utf-8")
        return Reply(body, status=int(args.get("status", 200)),
                     content_type=str(args.get("content_type", service.raw_content_type)))

    result, set_cookies = service.call(server, method, params, cookie_header)
    if kind in ("wrong_kind", "remove", "raw_text") and not isinstance(result, BugzillaFault):
        path = str(args["member"])
        value = RAW_TEXT_MARKER if kind == "raw_text" else args.get("value")
        if path == "" and kind != "remove":
            result = value
        elif path:
            replace_member(result, path.split("."), value, kind == "remove")
    if kind == "huge":
        reply = service.padded_reply(result, args["megabytes"])
    elif isinstance(result, BugzillaFault):
        reply = service.fault_reply(result)
    else:
        reply = service.result_reply(method, result)
    reply.set_cookies = set_cookies
    if kind == "raw_text":
        # Bytes no encoder would write (ill-formed UTF-8, control characters), as broken
        # servers and databases send them.
        data = args["bytes"]
        data = data.data if isinstance(data, xmlrpc.client.Binary) else str(data).encode("utf-8")
        reply.pieces = [reply.pieces[0].replace(service.raw_marker(), data)]
        reply.length = len(reply.pieces[0])
    if kind == "truncated":
        full = reply.pieces[0]
        cut = int(args.get("bytes", len(full) // 2))
        reply.pieces = [full[:cut]]
        reply.length = len(reply.pieces[0])
        if args.get("declare_full"):
            reply.declared_length = len(full)
            reply.close = True
    if kind == "reset":
        full = reply.pieces[0]
        reply.pieces = [full[:int(args.get("bytes", len(full) // 2))]]
        reply.length = len(reply.pieces[0])
        reply.declared_length = len(full)
        reply.reset = True
    if kind == "stall":
        reply.stall_seconds = float(args["seconds"])
    return service.finish(reply)


# ---------------------------------------------------------------------------------------------
# The REST API ("core v1"): the same calls, JSON in and out, in two recorded flavours:
# "upstream" (Bugzilla 5.0.6 and 5.2 under Apache) and "bmo" (bugzilla.mozilla.org's code
# under its own application server).

JSON_TYPE = "application/json; charset=UTF-8"
UPSTREAM_DOCUMENTATION = "https://bugzilla.readthedocs.org/en/5.0/api/"
BMO_DOCUMENTATION = "docs/%lang%/html/api/"
REST_MARKERS = ("/rest.cgi/", "/rest/")
# HTTP status of an error by its code; any other code is 400, as Bugzilla maps them.
REST_ERROR_STATUS = {51: 404, 101: 404, 32614: 404, 102: 401, 106: 401, 109: 401, 110: 401,
                     113: 401, 115: 401, 120: 401, 300: 401, 301: 401, 302: 401, 303: 401,
                     304: 401, 410: 401, 504: 401, 505: 401}
# Request-line lengths refused: Apache's LimitRequestLine, and the bmo server's own limit.
UPSTREAM_LINE_LIMIT = 8192
BMO_LINE_LIMIT = 10240
# (HTTP method, resource pattern, Bugzilla method); whoami exists on bmo only.
REST_ROUTES = [
    ("GET", r"/version", "Bugzilla.version"),
    ("GET", r"/login", "User.login"),
    ("GET", r"/logout", "User.logout"),
    ("GET", r"/valid_login", "User.valid_login"),
    ("GET", r"/whoami", "User.whoami"),
    ("GET", r"/bug", "Bug.search"),
    ("GET", r"/bug/([^/]+)", "Bug.get"),
    ("GET", r"/bug/([^/]+)/comment", "Bug.comments"),
    ("GET", r"/field/bug", "Bug.fields"),
    ("GET", r"/product", "Product.get"),
    ("POST", r"/bug/([^/]+)/comment", "Bug.add_comment"),
]
LIST_PARAMS = ("include_fields", "exclude_fields")  # comma-separated lists in a query

HTML_414 = (b"<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\" "
            b"\"http://www.w3.org/TR/html4/strict.dtd\">\n<html><head>\n"
            b"<title>414 Request-URI Too Long</title>\n</head><body>\n"
            b"<h1>Request-URI Too Long</h1>\n<p>The requested URL's length exceeds the capacity\n"
            b"limit for this server.<br />\n</p>\n</body></html>\n")
HTML_BMO_404 = (b"<!DOCTYPE html>\n<html>\n  <head>\n    <title>Page Not Found</title>\n  </head>\n"
                b"  <body>\n    <div id=\"notfound\"></div>\n  </body>\n</html>\n")


def rest_resource(path):
    """The resource part of a REST path ("/bugzilla/rest.cgi/bug/1" -> "/bug/1"), or None."""
    for marker in REST_MARKERS:
        if marker in path:
            return "/" + path.split(marker, 1)[1]
    return None


def parse_query(query):
    """Query parameters: a text each, a list when repeated; include_fields split at commas."""
    params = {}
    for name, value in urllib.parse.parse_qsl(query, keep_blank_values=True):
        if name in params:
            params[name] = _as_list(params[name]) + [value]
        else:
            params[name] = value
    for name in LIST_PARAMS:
        if name in params:
            params[name] = [part for value in _as_list(params[name])
                            for part in str(value).split(",") if part]
    return params


def route(http_method, resource):
    """(Bugzilla method, path argument) of a resource, or (None, None)."""
    resource = urllib.parse.unquote(resource.rstrip("/") or "/")
    for verb, pattern, method in REST_ROUTES:
        match = re.fullmatch(pattern, resource)
        if match and verb == http_method:
            return method, (match.group(1) if match.groups() else None)
    return None, None


def rest_call_params(method, argument, params):
    """The Bugzilla call's parameters: the request's, plus what the path names."""
    params = dict(params)
    if method == "Bug.get":
        params["ids"] = [argument]
    elif method == "Bug.comments":  # the path's bug first, then any ids= of the query
        params["ids"] = [argument] + [i for i in _as_list(params.get("ids", [])) if i != argument]
    elif method == "Bug.add_comment":
        params["id"] = argument
    return params


def json_time(value):
    return parse_time(value.value).strftime("%Y-%m-%dT%H:%M:%SZ")


def jsonable(value):
    """XML-RPC-shaped values as JSON carries them: date-times as ISO 8601 texts in UTC."""
    if isinstance(value, xmlrpc.client.DateTime):
        return json_time(value)
    if isinstance(value, dict):
        return {k: jsonable(v) for k, v in value.items()}
    if isinstance(value, list):
        return [jsonable(v) for v in value]
    return value


def bmo_detail(detail):
    return dict(detail, nick=detail["name"].split("@")[0])


def rest_bug(data, bug, user, style, params, with_update_token):
    """A bug as REST sends it: null members present, person details beside the names asked
    for; bmo's alias a text or null, its extra members, "description" when asked for."""
    result = bug_struct(data, bug, user, False, with_update_token)
    result.setdefault("dupe_of", None)
    result.setdefault("deadline", None)
    if style == "bmo":
        result["alias"] = result["alias"][0] if result["alias"] else None
        for name in ("assigned_to_detail", "creator_detail", "qa_contact_detail"):
            if name in result:
                result[name] = bmo_detail(result[name])
        result["cc_detail"] = [bmo_detail(d) for d in result["cc_detail"]]
        result.update({"type": "defect", "comment_count": len(bug["comments"]),
                       "duplicates": [], "regressed_by": [], "regressions": [], "mentors": [],
                       "mentors_detail": [], "votes": 0, "cf_last_resolved": None})
    include = params.get("include_fields")
    if isinstance(include, list) and include:
        if style == "bmo" and "description" in include:
            result["description"] = bug["comments"][0]["text"] if bug["comments"] else ""
        # A person field brings its detail along.
        include = include + ["%s_detail" % n for n in ("assigned_to", "creator", "qa_contact",
                                                       "cc") if n in include]
        if style == "bmo":
            include += ["assigned_to_detail", "creator_detail"]
        params = dict(params, include_fields=include)
    return filter_fields(result, params)


def rest_comment(bug, comment, style):
    result = comment_struct(bug, comment)
    result["attachment_id"] = None
    if style == "bmo":
        result.update({"raw_text": comment["text"], "author": comment["creator"],
                       "edit_count": 0, "last_change_time": None, "reactions": {}})
    return result


def bmo_fault(fault):
    """bugzilla.mozilla.org words some faults its own way."""
    code, text = fault.code, fault.text
    if code == 32000:
        code = 307
    elif code == 300:
        text = "The username or password you entered is not valid."
    elif code in (101, 102):
        text = re.sub(r"\b([Bb]ug) #", r"\1 ", text)
    elif code == 100:
        match = re.match(r"'(.*)' is not a valid bug number", text)
        if match:
            text = ("Sorry, I can't find \"%s\". It does not seem like bug number nor an alias "
                    "to a bug." % re.sub(r"[^A-Za-z0-9_]", "", match.group(1)).upper())
    elif code == 115:
        text += (" Additonal information:Specific permissions are required to make this change "
                 "If you are attempting to confirm an unconfirmed bug or edit the fields of a "
                 "bug, find out how to get the necessary permissions.")
    return BugzillaFault(code, text)


def rest_not_found(http_method, resource):
    return BugzillaFault(32614, "A REST API resource was not found for '%s %s'."
                         % (http_method, resource))


def encode_json(value):
    return json.dumps(value, ensure_ascii=False, separators=(",", ":")).encode("utf-8")


class RestService:
    """How the REST API runs a call and encodes what comes of it, in one style."""

    name = "rest"
    raw_content_type = JSON_TYPE

    def __init__(self, style):
        self.style = style

    def call(self, server, method, params, cookie_header):
        result, cookies = server.call(method, (params,), cookie_header, self.style)
        if isinstance(result, BugzillaFault):
            if self.style == "bmo":
                result = bmo_fault(result)
        elif method == "User.valid_login" and self.style == "upstream":
            result = {"result": result}
        elif method == "User.logout":
            result = {"result": None}
            # The session ends: its cookies are withdrawn, and the caller is anonymous now.
            cookies = ["%s=X; path=/; %s" % (name, PAST_EXPIRY)
                       for name in ("Bugzilla_login", "Bugzilla_logincookie", "sudo")]
            cookies.append("Bugzilla_login_request_cookie=%s; path=/; HttpOnly" % random_text(10))
        return (result if isinstance(result, BugzillaFault) else jsonable(result)), \
            self.cookies(cookies)

    def cookies(self, cookies):
        if self.style != "bmo":
            return cookies
        cookies = [c + "; SameSite=Lax" for c in cookies]
        if any(c.startswith("Bugzilla_login_request_cookie=") for c in cookies):
            cookies.append("github_token=%s; path=/; HttpOnly; SameSite=Lax" % random_text(64))
        return cookies

    def result_reply(self, method, result):
        return Reply(encode_json(result), status=201 if method == "Bug.add_comment" else 200,
                     content_type=JSON_TYPE)

    def error_value(self, fault):
        return {"error": True, "code": fault.code, "message": fault.text,
                "documentation": BMO_DOCUMENTATION if self.style == "bmo"
                else UPSTREAM_DOCUMENTATION}

    def fault_reply(self, fault):
        status = REST_ERROR_STATUS.get(fault.code, 400) if isinstance(fault.code, int) else 400
        return Reply(encode_json(self.error_value(fault)), status=status, content_type=JSON_TYPE)

    def padded_reply(self, result, megabytes):
        """A valid reply of about `megabytes` MiB with a long "padding" member, streamed."""
        if isinstance(result, BugzillaFault):
            holder, status = self.error_value(result), self.fault_reply(result).status
        else:
            holder = dict(result) if isinstance(result, dict) else {"result": result}
            status = 200
        holder["padding"] = PADDING_MARKER
        head, tail = encode_json(holder).split(json.dumps(PADDING_MARKER)[1:-1].encode())
        reply = padded_reply_pieces(head, tail, megabytes)
        reply.status, reply.content_type = status, JSON_TYPE
        return reply

    def raw_marker(self):
        return json.dumps(RAW_TEXT_MARKER)[1:-1].encode()

    def finish(self, reply):
        """bmo's server ends every reply by closing the connection, without a length;
        Apache sends Bugzilla's replies in chunks."""
        if self.style == "bmo":
            reply.framing = "close"
            reply.headers += [("Access-Control-Allow-Origin", "*"),
                              ("Status", str(reply.status))]
        else:
            reply.framing = "chunked"
            reply.headers += [("Access-control-allow-origin", "*"),
                              ("X-content-type-options", "nosniff")]
        return reply


# ---------------------------------------------------------------------------------------------
# The control service.

def control_call(server, method, params):
    def arg(index, default=None):
        return params[index] if len(params) > index else default

    if method == "control.requests":
        with server.lock:  # copies: "finished" may still change while the answer is encoded
            return [dict(entry) for entry in server.requests]
    if method == "control.clear":
        with server.lock:
            server.requests.clear()
        return True
    if method == "control.reset":
        server.reset()
        return True
    if method == "control.configure":
        server.configure(arg(0), arg(1))
        return True
    if method == "control.inject":
        server.inject(str(arg(0)), str(arg(1)), arg(2, {}), arg(3, -1))
        return True
    if method == "control.bug":
        return server.bug_record(arg(0))
    if method == "control.add_users":
        server.add_users(arg(0))
        return True
    if method == "control.expire_sessions":
        server.expire_sessions()
        return True
    raise ValueError("unknown control method %r" % method)


# ---------------------------------------------------------------------------------------------
# HTTP.

class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # Headers and body leave in separate writes; with Nagle's algorithm the body would wait
    # for the client's delayed ACK (tens of milliseconds on every call).
    disable_nagle_algorithm = True
    server_state = None  # the Server, set in main()
    verbose = False

    def version_string(self):
        if self.server_state is not None and self.server_state.settings["rest_style"] == "bmo":
            return "Mojolicious (Perl) (Bugzilla test server)"
        return "Apache/2.4 (Bugzilla test server)"

    def log_message(self, format, *args):
        if self.verbose:
            line = format % args
            if self.server_state is not None:
                line = self.server_state.redact(line)
            sys.stderr.write("bugzilla_server: %s\n" % line)

    def read_body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            parts = []
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return b"".join(parts)
                parts.append(self.rfile.read(size))
                self.rfile.readline()
        return self.rfile.read(int(self.headers.get("Content-Length") or 0))

    def parse_request(self):
        """Refuses over-long request lines as the recorded servers do, before anything else."""
        if not super().parse_request():
            return False
        length = len(self.raw_requestline.rstrip(b"\r\n"))
        bmo = self.server_state.settings["rest_style"] == "bmo"
        if length < (BMO_LINE_LIMIT if bmo else UPSTREAM_LINE_LIMIT):
            return True
        if bmo:  # a redirect to the base URL, empty
            reply = Reply(b"", status=302, content_type=None)
            reply.headers.append(("Location", "http://%s:%d/" % self.server.server_address[:2]))
        else:  # Apache's own page
            reply = Reply(HTML_414, status=414, content_type="text/html; charset=iso-8859-1")
        reply.framing = "length"
        reply.close = True
        self.send(reply)
        return False

    def do_GET(self):
        self.dispatch(b"")

    def do_POST(self):
        self.started = time.monotonic()
        self.dispatch(self.read_body())

    do_PUT = do_DELETE = do_POST

    def dispatch(self, body):
        if self.command == "GET":
            self.started = time.monotonic()
        path = self.path.split("?", 1)[0]
        bmo = self.server_state.settings["rest_style"] == "bmo"
        resource = rest_resource(path)
        if path == "/control" and self.command == "POST":
            self.answer_control(body)
        elif resource is not None:
            self.answer_rest(resource, body)
        elif bmo and (path.endswith("/xmlrpc.cgi") or path.endswith("/jsonrpc.cgi")):
            self.answer_refused(body, Reply(HTML_BMO_404, status=404,
                                            content_type="text/html;charset=UTF-8"))
        elif path.endswith("/xmlrpc.cgi") and self.command == "POST":
            self.answer_bugzilla(body)
        elif path.endswith("/xmlrpc.cgi"):  # Apache wants a body length for the CGI
            reply = Reply(b"", status=411, content_type=None)
            reply.framing = "chunked"
            reply.close = True
            self.answer_refused(body, reply)
        elif bmo:
            self.send(Reply(HTML_BMO_404, status=404, content_type="text/html;charset=UTF-8"))
        else:
            self.send(Reply(b"<html><body><h1>Not Found</h1></body></html>\n", status=404,
                            content_type="text/html"))

    def entry(self, method, web_service, params, body, **members):
        """The record of one request, made as it arrives."""
        entry = {"method": method, "web_service": web_service, "http_method": self.command,
                 "params": params, "cookie": self.headers.get("Cookie", ""),
                 "path": redact_query(self.path) if web_service == "rest" else self.path,
                 "headers": {k.lower(): v for k, v in self.headers.items()},
                 "body": xmlrpc.client.Binary(body), "started": self.started}
        entry.update(members)
        return self.server_state.record(entry)

    def answer_refused(self, body, reply):
        """An XML-RPC address that does not serve the request: recorded, then refused."""
        entry = self.entry("", "xmlrpc", [], body)
        try:
            self.send(reply, entry)
        finally:
            self.server_state.finish(entry)

    def answer_rest(self, resource, body):
        state = self.server_state
        style = state.settings["rest_style"]
        service = RestService(style)
        params = parse_query(self.path.partition("?")[2])
        fault = None
        if body.strip():
            try:
                members = json.loads(body.decode("utf-8"))
                if not isinstance(members, dict):
                    raise ValueError("not a JSON object")
                params.update(members)
            except ValueError as error:
                fault = BugzillaFault(32000, "The JSON data you sent could not be parsed: %s"
                                      % error)
        method, argument = route(self.command, resource)
        if method == "User.whoami" and style != "bmo":
            method = None
        call_params = rest_call_params(method, argument, params)
        if style == "bmo":  # bmo also takes credentials from headers
            for header, name in (("X-BUGZILLA-API-KEY", "api_key"), ("X-BUGZILLA-TOKEN", "token")):
                if self.headers.get(header) and not call_params.get(name):
                    call_params[name] = self.headers[header]
        self.log_message("%s %s -> %s, client port %d", self.command, self.path,
                         method or "(no such resource)", self.client_address[1])
        entry = self.entry(method or "", "rest", params, body)
        try:
            state.delay()
            if method is None:
                fault = rest_not_found(self.command, resource.partition("?")[0])
            if fault is not None:
                reply = service.finish(service.fault_reply(fault))
                reply.set_cookies = service.cookies(
                    ["Bugzilla_login_request_cookie=%s; path=/; HttpOnly" % random_text(10)])
            else:
                reply = build_reply(state, method, call_params, "", service)
            self.send(reply, entry)
        finally:
            state.finish(entry)

    def answer_control(self, body):
        try:
            params, method = xmlrpc.client.loads(body)
            self.log_message("%s%r", method, params)
            response = xmlrpc.client.dumps((control_call(self.server_state, method, params),),
                                           methodresponse=True, allow_none=True,
                                           encoding="utf-8")
        except Exception as error:  # a control mistake is the test's: tell it plainly
            response = xmlrpc.client.dumps(xmlrpc.client.Fault(1, str(error)),
                                           methodresponse=True, encoding="utf-8")
        self.send(Reply(response.encode("utf-8")))

    def answer_bugzilla(self, body):
        cookie_header = self.headers.get("Cookie", "")
        try:
            params, method = xmlrpc.client.loads(body)
            method = method or ""
        except Exception as error:
            params, method, parse_error = (), "", error
        else:
            parse_error = None
        self.log_message("%s %s, cookies %s, client port %d", self.path,
                         method or "(not XML-RPC)",
                         ",".join(parse_cookie_header(cookie_header)) or "none",
                         self.client_address[1])
        entry = self.entry(method, "xmlrpc", list(params), body)
        try:
            self.server_state.delay()
            if parse_error is not None:
                reply = Reply(encode_fault(-32700, "Application failed during request "
                                                   "deserialization: %s" % parse_error))
            else:
                reply = build_reply(self.server_state, method, params, cookie_header)
            self.send(reply, entry)
        finally:
            self.server_state.finish(entry)

    def wait_or_notice_hangup(self, seconds):
        """Waits `seconds`; False as soon as the client hangs up."""
        deadline = time.monotonic() + seconds
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return True
            readable, _, _ = select.select([self.connection], [], [], min(left, 0.2))
            if readable:
                try:
                    if not self.connection.recv(1, socket.MSG_PEEK):
                        return False
                except OSError:
                    return False
                time.sleep(min(left, 0.05))

    def send(self, reply, entry=None):
        """Sends a reply; `entry` (the request's record) is stamped "finished" just before the
        last bytes go out, so a client that has the whole reply also sees the stamp."""
        if reply.stall_seconds and not self.wait_or_notice_hangup(reply.stall_seconds):
            self.close_connection = True
            return
        if reply.silent:
            self.close_connection = True
            return
        settings = self.server_state.settings
        framing = reply.framing or ("chunked" if settings["chunked"] else "length")
        if reply.declared_length is not None:
            framing = "length"
        chunked = framing == "chunked"
        try:
            self.send_response(reply.status)
            if reply.content_type:
                self.send_header("Content-Type", reply.content_type)
            for name, value in reply.headers:
                self.send_header(name, value)
            for cookie in reply.set_cookies:
                self.send_header("Set-Cookie", cookie)
            if chunked:
                self.send_header("Transfer-Encoding", "chunked")
            elif framing == "length":
                self.send_header("Content-Length", str(reply.declared_length or reply.length))
            if reply.close or settings["close_connections"] or framing == "close":
                self.send_header("Connection", "close")
                self.close_connection = True
            blocks = self.body_blocks(reply, chunked)
            held = next(blocks, None)  # one block held back: the stamp goes before the last
            if held is None:
                self.server_state.finish(entry)
            self.end_headers()
            for block in blocks:
                self.wfile.write(held)
                held = block
            if held is not None:
                self.server_state.finish(entry)
                self.wfile.write(held)
            self.wfile.flush()
            if reply.reset:
                self.reset_connection()
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True

    @staticmethod
    def body_blocks(reply, chunked):
        for piece in reply.pieces:
            for chunk in (piece() if callable(piece) else [piece]):
                if chunk:
                    yield b"%x\r\n%s\r\n" % (len(chunk), chunk) if chunked else chunk
        if chunked:
            yield b"0\r\n\r\n"

    def reset_connection(self):
        """Aborts the connection with a TCP reset instead of an orderly close."""
        time.sleep(0.05)  # a reset discards what is still unsent: let the pieces go out first
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.connection.close()
        self.close_connection = True


class QuietHTTPServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    # A team's worth of connections at once: with python's default of 5 the kernel drops the
    # rest and the client retries a second later (Apache queues 511).
    request_queue_size = 64

    def handle_error(self, request, client_address):
        if not isinstance(sys.exc_info()[1], ConnectionError):
            super().handle_error(request, client_address)


def process_alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"  # a zombie is gone
    except FileNotFoundError:
        return False
    except OSError:  # no /proc: ask the kernel
        try:
            os.kill(pid, 0)
            return True
        except ProcessLookupError:
            return False
        except PermissionError:
            return True


def exit_when_orphaned(parent):
    """Ends the server when the process that started it is gone, so it never outlives a
    crashed test."""
    while True:
        time.sleep(0.5)
        if not process_alive(parent):
            os._exit(0)


def load_fixture(name):
    path = name
    if not os.path.exists(path):
        path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fixtures", name)
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def show_bug(port, bug_id):
    """Prints a running server's record of one bug: what the demo shows at its end."""
    control = xmlrpc.client.ServerProxy("http://127.0.0.1:%d/control" % port)
    try:
        bug = control.control.bug(bug_id)
    except xmlrpc.client.Fault as fault:
        print("bugzilla_server: %s" % fault.faultString, file=sys.stderr)
        return 1
    except OSError as error:
        print("bugzilla_server: no test server on port %d: %s" % (port, error), file=sys.stderr)
        return 1
    print("Bug %d: %s [%s %s]" % (bug["id"], bug["summary"], bug["status"], bug["resolution"]))
    for comment in bug["comments"]:
        print("--- comment %d by %s at %s%s%s" % (
            comment["count"], comment["creator"],
            parse_time(comment["time"].value).strftime("%Y-%m-%d %H:%M:%S UTC"),
            ", %g hours" % comment["work_time"] if comment["work_time"] else "",
            " (added since the server started)" if comment["added"] else ""))
        print(comment["text"])
    return 0


def main(argv=None):
    parser = argparse.ArgumentParser(description="Bugzilla test server (XML-RPC on loopback).")
    parser.add_argument("--port", type=int, default=0, help="0: any free port")
    parser.add_argument("--fixture", default="default.json",
                        help="JSON fixture: a path, or a name under testing/fixtures/")
    parser.add_argument("--login-style", choices=LOGIN_STYLES, default="token")
    version = parser.add_mutually_exclusive_group()
    version.add_argument("--version", dest="bugzilla_version",
                         help="what Bugzilla.version answers (default 5.0.6; with --rest-style "
                              "bmo, %s)" % BMO_VERSION)
    version.add_argument("--no-version", action="store_true",
                         help="Bugzilla.version answers without a version")
    parser.add_argument("--rest-style", choices=REST_STYLES, default="upstream",
                        help="how the REST API answers: Bugzilla 5.0/5.2 (upstream) or "
                             "bugzilla.mozilla.org's code (bmo)")
    parser.add_argument("--parent-pid", type=int, default=os.getppid(),
                        help="exit when this process is gone (default: the parent)")
    parser.add_argument("--verbose", action="store_true",
                        default=bool(os.environ.get("BUGZILLA_TEST_SERVER_VERBOSE")),
                        help="log each request to stderr (also when the environment variable "
                             "BUGZILLA_TEST_SERVER_VERBOSE is set)")
    parser.add_argument("--show-bug", type=int, metavar="ID",
                        help="do not serve: print the record of bug ID kept by the server "
                             "running on --port")
    args = parser.parse_args(argv)
    if args.show_bug is not None:
        return show_bug(args.port, args.show_bug)

    try:
        fixture = load_fixture(args.fixture)
        explicit = args.no_version or args.bugzilla_version is not None
        version = None if args.no_version else (
            "5.0.6" if args.bugzilla_version is None else args.bugzilla_version)
        state = Server(fixture, args.login_style, version or None, args.rest_style, explicit)
    except (OSError, ValueError, KeyError, TypeError) as error:
        print("bugzilla_server: cannot use the fixture %s: %s" % (args.fixture, error),
              file=sys.stderr)
        return 2
    Handler.server_state = state
    Handler.verbose = args.verbose
    httpd = QuietHTTPServer(("127.0.0.1", args.port), Handler)
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    threading.Thread(target=exit_when_orphaned, args=(args.parent_pid,), daemon=True).start()
    print("PORT %d" % httpd.server_address[1], flush=True)
    try:
        httpd.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
