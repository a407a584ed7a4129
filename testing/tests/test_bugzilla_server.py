"""Self-test of the Bugzilla test server: the behaviour of real Bugzilla servers that the
plug-in's tests rely on, and every control method and injection kind.

Run from the repository root or from testing/:  python3 -m unittest discover -s testing/tests
"""
import http.client
import json
import os
import re
import select
import socket
import subprocess
import sys
import threading
import time
import unittest
import urllib.parse
import xmlrpc.client

SERVER = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                      "bugzilla_server.py")


def start_server(*extra):
    process = subprocess.Popen([sys.executable, SERVER, "--port", "0", *extra],
                               stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
    ready, _, _ = select.select([process.stdout], [], [], 10)
    line = process.stdout.readline().decode() if ready else ""
    match = re.fullmatch(r"PORT (\d+)\n", line)
    if not match:
        process.kill()
        raise RuntimeError("the server did not report its port: %r" % line)
    return process, int(match.group(1))


class Answer:
    """One exchange seen from the client: status, headers, raw body and decoded value."""

    def __init__(self, response, body):
        self.status = response.status
        self.headers = response.headers
        self.body = body
        self.cookies = response.headers.get_all("Set-Cookie") or []
        self.value, self.fault = None, None
        try:
            self.value = xmlrpc.client.loads(body)[0][0]
        except xmlrpc.client.Fault as fault:
            self.fault = fault
        except Exception:  # not XML-RPC: tests look at the raw body
            pass


class ServerCase(unittest.TestCase):
    """Starts one server per test class; each test starts from control.reset()."""

    style_args = ()

    @classmethod
    def setUpClass(cls):
        cls.process, cls.port = start_server(*cls.style_args)
        cls.control = xmlrpc.client.ServerProxy("http://127.0.0.1:%d/control" % cls.port,
                                                allow_none=True)

    @classmethod
    def tearDownClass(cls):
        cls.process.terminate()
        cls.process.wait(10)
        cls.process.stdout.close()

    def setUp(self):
        self.control.control.reset()

    def post(self, body, path="/xmlrpc.cgi", headers=None, timeout=10):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        try:
            connection.request("POST", path, body, {"Content-Type": "text/xml", **(headers or {})})
            response = connection.getresponse()
            return Answer(response, response.read())
        finally:
            connection.close()

    def call(self, method, *params, cookie=None):
        headers = {"Cookie": cookie} if cookie else {}
        return self.post(xmlrpc.client.dumps(params, method, encoding="utf-8").encode("utf-8"),
                         headers=headers)

    def ok(self, method, *params, cookie=None):
        answer = self.call(method, *params, cookie=cookie)
        self.assertIsNone(answer.fault, "%s answered %s" % (method, answer.fault))
        return answer.value

    def assertFault(self, answer, code, text=None):
        self.assertIsNotNone(answer.fault, "expected fault %s, got %r" % (code, answer.value))
        self.assertEqual(answer.fault.faultCode, code, answer.fault.faultString)
        if text is not None:
            self.assertEqual(answer.fault.faultString, text)
        self.assertEqual(answer.status, 200)

    def login(self, who="alice@example.com", password="alice-pass-1"):
        return self.call("User.login", {"login": who, "password": password})

    def token(self, who="alice@example.com", password="alice-pass-1"):
        return self.login(who, password).value["token"]

    def ids(self, reply):
        return [bug["id"] for bug in reply["bugs"]]


class TokenStyleTest(ServerCase):
    """Like Bugzilla 4.4.3 and later: a login token, no login cookie."""

    def test_login_gives_token_and_no_cookie(self):
        answer = self.login()
        self.assertEqual(answer.value["id"], 2)
        self.assertRegex(answer.value["token"], r"^2-[A-Za-z0-9]{10}$")
        self.assertEqual(answer.cookies, [])
        wrong = self.login(password="wrong")
        self.assertFault(wrong, 300, "The login or password you entered is not valid.")
        self.assertFault(self.call("User.login", {"login": "alice@example.com"}), 50)

    def test_unauthenticated_calls_get_a_session_cookie_without_expiry(self):
        for answer in (self.call("Bugzilla.version"), self.login(password="wrong"),
                       self.call("Bug.get", {"ids": ["1"], "token": "2-invalid"})):
            self.assertEqual(len(answer.cookies), 1)
            self.assertRegex(answer.cookies[0],
                             r"^Bugzilla_login_request_cookie=[A-Za-z0-9]{10}; path=/; HttpOnly$")
        token = self.token()
        self.assertEqual(self.call("Bug.get", {"ids": ["1"], "token": token}).cookies, [])

    def test_token_decides_who_calls(self):
        token = self.token()
        self.assertIn(5, self.ids(self.ok("Bug.search", {"product": "Widgets", "token": token})))
        for params in ({"product": "Widgets"}, {"product": "Widgets", "token": ""}):
            self.assertNotIn(5, self.ids(self.ok("Bug.search", params)))
        self.assertFault(self.call("Bug.search", {"product": "Widgets", "token": "2-invalid"}),
                         32000, "The cookies or token provide were not valid or have expired. "
                                "You may login again to get new cookies or a new token.")
        self.assertEqual(self.ok("Bug.get", {"ids": ["5"], "token": token})["bugs"][0]["id"], 5)
        self.assertFault(self.call("Bug.get", {"ids": ["5"]}), 102)
        self.assertFault(self.call("Bug.comments", {"ids": [5]}), 102)
        self.assertFault(self.call("Bug.add_comment", {"id": 1, "comment": "x"}), 410,
                         "You must log in before using this part of Bugzilla.")
        # Bugzilla.version and User.login never look at a token.
        self.assertEqual(self.ok("Bugzilla.version", {"token": "2-invalid"}),
                         {"version": "5.0.6"})

    def test_expired_sessions_and_logout_invalidate_tokens(self):
        token = self.token()
        self.control.control.expire_sessions()
        self.assertFault(self.call("Bug.get", {"ids": ["1"], "token": token}), 32000)
        token = self.token()
        self.ok("User.logout", {"token": token})
        self.assertFault(self.call("Bug.get", {"ids": ["1"], "token": token}), 32000)

    def test_search_filters(self):
        token = self.token()
        assigned = self.ok("Bug.search", {"product": "Widgets", "assigned_to": "alice@example.com",
                                          "token": token})
        self.assertTrue(all(b["assigned_to"] == "alice@example.com" for b in assigned["bugs"]))
        self.assertTrue({1, 3, 4, 5}.issubset(self.ids(assigned)))
        reported = self.ok("Bug.search", {"product": "Widgets", "reporter": "alice@example.com",
                                          "token": token})
        self.assertTrue(reported["bugs"])
        self.assertTrue(all(b["creator"] == "alice@example.com" for b in reported["bugs"]))
        everything = self.ids(self.ok("Bug.search", {"product": "Widgets", "token": token}))
        self.assertEqual(everything, sorted(everything))
        self.assertGreaterEqual(len(everything), 30)
        self.assertNotIn(40, everything)
        self.assertEqual(self.ids(self.ok("Bug.search", {"product": "Gadgets"})), [40, 41, 42])
        self.assertEqual(self.ok("Bug.search", {"product": "Nothing"}), {"bugs": []})
        self.assertEqual(self.ids(self.ok("Bug.search", {"product": "Widgets", "limit": 2,
                                                          "offset": 3, "token": token})),
                         everything[3:5])
        self.assertEqual(self.ids(self.ok("Bug.search", {"id": [3, 4]})), [3, 4])
        self.assertEqual(self.ids(self.ok("Bug.search", {"alias": "widget-colour"})), [2])
        self.assertFault(self.call("Bug.search", {"product": "Widgets", "offset": 1}), 50)

    def test_bug_shape_follows_bugzilla_5(self):
        token = self.token()
        ids = ["1", "2", "3", "4", "widget-colour"]
        bugs = {b["id"]: b for b in self.ok("Bug.get", {"ids": ids, "token": token})["bugs"]}
        self.assertEqual(bugs[4]["dupe_of"], 1)
        self.assertEqual(bugs[4]["resolution"], "DUPLICATE")
        self.assertNotIn("dupe_of", bugs[1])
        self.assertEqual(bugs[2]["alias"], ["widget-colour"])
        self.assertEqual(bugs[1]["alias"], [])
        self.assertEqual((bugs[3]["status"], bugs[3]["resolution"], bugs[3]["is_open"]),
                         ("RESOLVED", "FIXED", False))
        self.assertTrue(bugs[1]["is_open"])
        self.assertEqual(bugs[1]["resolution"], "")
        self.assertIsInstance(bugs[1]["creation_time"], xmlrpc.client.DateTime)
        self.assertEqual(bugs[1]["assigned_to_detail"]["real_name"], "Alice Example")
        for member in ("id", "summary", "status", "severity", "priority", "product", "component",
                       "assigned_to", "creator", "last_change_time", "update_token"):
            self.assertIn(member, bugs[1])
        raw = self.call("Bug.get", {"ids": ["1"], "token": token}).body
        self.assertNotIn(b"\n", raw)
        self.assertNotIn(b"<nil", raw)
        self.assertIn(b"<string />", raw)
        self.assertIn(b"<dateTime.iso8601>20260901T09:00:00</dateTime.iso8601>", raw)
        self.assertFault(self.call("Bug.get", {"ids": ["999"]}), 101, "Bug #999 does not exist.")
        self.assertFault(self.call("Bug.get", {"ids": ["no-such-alias"]}), 100)
        self.assertFault(self.call("Bug.get", {}), 50)
        searched = self.ok("Bug.search", {"id": 1, "token": token})["bugs"][0]
        self.assertNotIn("update_token", searched)

    def test_utf8_text_arrives_intact(self):
        bug = self.ok("Bug.get", {"ids": ["8"]})["bugs"][0]
        self.assertIn("Größe", bug["summary"])
        self.assertIn("Grüße – ✓", self.ok("Bug.comments", {"ids": [6]})["bugs"]["6"]
                      ["comments"][0]["text"])

    def test_comments_shape(self):
        reply = self.ok("Bug.comments", {"ids": [1, 7, "widget-colour"]})
        self.assertEqual(set(reply), {"bugs", "comments"})
        self.assertEqual(reply["comments"], {})
        self.assertEqual(set(reply["bugs"]), {"1", "7", "2"})
        first = reply["bugs"]["1"]["comments"][0]
        self.assertEqual(first["text"], "Start the frobnicator; it segfaults immediately.")
        self.assertEqual((first["count"], first["bug_id"], first["creator"]),
                         (0, 1, "admin@example.com"))
        self.assertEqual(len(reply["bugs"]["1"]["comments"]), 5)
        self.assertEqual(reply["bugs"]["7"]["comments"], [])
        self.assertFault(self.call("Bug.comments"), 50, "The function Bug.comments requires that "
                         "you set one of the following parameters: ids, comment_ids")
        by_id = self.ok("Bug.comments", {"comment_ids": [first["id"]]})
        self.assertEqual(by_id["comments"][str(first["id"])]["text"], first["text"])

    def test_get_bugs_exists_only_before_5(self):
        self.assertFault(self.call("Bug.get_bugs", {"ids": ["1"]}), -32601,
                         "The requested method 'Bug.get_bugs' was not found.")
        for version, available in (("4.4.14", True), ("3.4.14", True), ("5.2", False),
                                   ("10.0", False)):
            self.control.control.configure("version", version)
            self.assertEqual(self.ok("Bugzilla.version"), {"version": version})
            answer = self.call("Bug.get_bugs", {"ids": ["1"]})
            self.assertEqual(answer.fault is None, available, version)
            self.assertEqual(self.ok("Bug.get", {"ids": ["1"]})["bugs"][0]["id"], 1)
        self.control.control.configure("get_bugs", True)
        self.assertEqual(self.ok("Bug.get_bugs", {"ids": ["1"]})["bugs"][0]["id"], 1)
        for absent in ("", None):
            self.control.control.configure("version", absent)
            self.assertEqual(self.ok("Bugzilla.version"), {})

    def test_fields_in_requested_order(self):
        names = ["resolution", "product", "component", "priority", "bug_severity", "alias",
                 "assigned_to", "delta_ts", "creation_ts"]
        fields = self.ok("Bug.fields", {"names": names})["fields"]
        self.assertEqual([f["name"] for f in fields], names)
        self.assertEqual([f["display_name"] for f in fields],
                         ["Resolution", "Product", "Component", "Priority", "Severity", "Alias",
                          "AssignedTo", "Last changed date", "Creation date"])
        reversed_fields = self.ok("Bug.fields", {"names": names[::-1]})["fields"]
        self.assertEqual([f["name"] for f in reversed_fields], names[::-1])
        self.assertFault(self.call("Bug.fields", {"names": ["no_such_field"]}), 51)

    def test_add_comment_rules(self):
        alice, bob = self.token(), self.token("bob@example.com", "bob-pass-1")

        def add(token, comment, **more):
            return self.call("Bug.add_comment", {"id": 1, "comment": comment, "token": token,
                                                 **more})
        self.assertFault(add(alice, ""), 50,
                         "The function requires a comment argument, and that argument was not set.")
        self.assertFault(add(alice, " \n\t"), 50)
        self.assertFault(add(alice, "x" * 65536), 114,
                         "Comments cannot be longer than 65535 characters.")
        self.assertFault(add(alice, "ä" * 65536), 114)
        self.assertFault(add(alice, "x", work_time="abc"), 52)
        self.assertFault(add(alice, "x", work_time="100000"), 54)
        self.assertFault(add(bob, "x", work_time="1"), 115)
        self.assertFault(self.call("Bug.add_comment", {"id": 999, "comment": "x", "token": alice}),
                         101)
        before = len(self.control.control.bug(1)["comments"])
        first = add(alice, "ä" * 65535 + "  \n", work_time="99999.99")
        self.assertIsNone(first.fault)
        second = add(bob, "Fix Comment: done\r\n\r\nkova://vcs:8081//main//repo/a.c\n")
        self.assertIsNone(second.fault)
        self.assertEqual(second.value["id"], first.value["id"] + 1)
        record = self.control.control.bug(1)["comments"]
        self.assertEqual(len(record), before + 2)
        self.assertEqual(record[-2]["text"], "ä" * 65535)
        self.assertEqual(record[-2]["work_time"], 99999.99)
        self.assertEqual(record[-1]["text"], "Fix Comment: done\n\nkova://vcs:8081//main//repo/a.c")
        self.assertEqual(record[-1]["creator"], "bob@example.com")
        comments = self.ok("Bug.comments", {"ids": [1]})["bugs"]["1"]["comments"]
        self.assertEqual(comments[-1]["id"], second.value["id"])
        self.control.control.reset()
        self.assertEqual(len(self.control.control.bug(1)["comments"]), before)

    def test_products(self):
        self.assertEqual([p["name"] for p in self.ok("Product.get", {"names": ["Widgets"]})
                          ["products"]], ["Widgets"])
        self.assertEqual(self.ok("Product.get", {"names": ["Secret"]})["products"], [])
        token = self.token()
        secret = self.ok("Product.get", {"names": ["Secret"], "token": token})["products"]
        self.assertEqual([c["name"] for c in secret[0]["components"]], ["Vault"])
        self.assertEqual(self.ok("Product.get_accessible_products")["ids"], [1, 2])

    def test_request_record(self):
        self.login()
        self.call("Bugzilla.version", cookie="a=b")
        self.control.control.configure("version", "4.2")  # control calls are not recorded
        requests = self.control.control.requests()
        self.assertEqual([r["method"] for r in requests], ["User.login", "Bugzilla.version"])
        self.assertEqual(requests[0]["params"],
                         [{"login": "alice@example.com", "password": "alice-pass-1"}])
        self.assertEqual((requests[0]["cookie"], requests[1]["cookie"]), ("", "a=b"))
        self.assertEqual(requests[1]["params"], [])
        self.assertEqual(requests[0]["path"], "/xmlrpc.cgi")
        self.assertEqual(requests[0]["headers"]["content-type"], "text/xml")
        self.assertIn(b"<methodName>User.login</methodName>", requests[0]["body"].data)
        # Stamped before the reply's last bytes left: a client holding the reply sees it.
        for entry in requests:
            self.assertGreaterEqual(entry["finished"], entry["started"])
            self.assertGreater(entry["started"], 0)
        self.control.control.clear()
        self.assertEqual(self.control.control.requests(), [])

    def test_show_bug_prints_the_record(self):
        self.call("Bug.add_comment", {"id": 3, "comment": "kova://vcs:8081//main//repo/a.c",
                                      "work_time": "2", "token": self.token()})
        shown = subprocess.run([sys.executable, SERVER, "--port", str(self.port), "--show-bug",
                                "3"], capture_output=True, text=True, timeout=10)
        self.assertEqual(shown.returncode, 0, shown.stderr)
        self.assertIn("Bug 3: Gizmo leaks memory [RESOLVED FIXED]", shown.stdout)
        self.assertIn("Fixed in build 2.4", shown.stdout)
        self.assertIn("2 hours (added since the server started)\nkova://vcs:8081//main//repo/a.c",
                      shown.stdout)
        missing = subprocess.run([sys.executable, SERVER, "--port", str(self.port), "--show-bug",
                                  "999"], capture_output=True, text=True, timeout=10)
        self.assertEqual(missing.returncode, 1)

    def test_http_details(self):
        self.assertEqual(self.post(b"<methodCall>", path="/bugzilla/xmlrpc.cgi").fault.faultCode,
                         -32700)
        self.assertEqual(self.control.control.requests()[-1]["method"], "")
        self.assertEqual(self.post(b"", path="/elsewhere").status, 404)
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        body = xmlrpc.client.dumps((), "Bugzilla.version").encode()
        for _ in range(2):  # one connection, kept alive
            connection.request("POST", "/xmlrpc.cgi", body, {"Content-Type": "text/xml"})
            response = connection.getresponse()
            self.assertEqual(int(response.headers["Content-Length"]), len(response.read()))
        connection.close()
        self.control.control.configure("chunked", True)
        self.control.control.configure("close_connections", True)
        answer = self.call("Bugzilla.version")
        self.assertEqual(answer.headers["Transfer-Encoding"], "chunked")
        self.assertEqual(answer.headers["Connection"], "close")
        self.assertEqual(answer.value, {"version": "5.0.6"})
        bad = self.control.control
        self.assertRaises(xmlrpc.client.Fault, bad.configure, "login_style", "nonsense")
        self.assertRaises(xmlrpc.client.Fault, bad.inject, "Bug.get", "nonsense", {}, 1)
        self.assertRaises(xmlrpc.client.Fault, bad.bug, 12345)


ALICE_KEY = "AliceApiKey0123456789abcdefghijKLMNOPQRS"
BOB_KEY = "BobApiKey0123456789abcdefghijKLMNOPQRSTU"
REVOKED_KEY = "RevokedKey0123456789abcdefghijKLMNOPQRST"
UNKNOWN_KEY = "x" * 40


class ApiKeyTest(ServerCase):
    """Bugzilla 5.0 and later: an "api_key" member authenticates any call; 4.4 knows none."""

    def test_key_authenticates_every_method_without_session(self):
        for member in ("api_key", "Bugzilla_api_key"):
            answer = self.call("Bug.search", {"product": "Widgets", member: ALICE_KEY})
            self.assertIn(5, self.ids(answer.value))
            self.assertEqual(answer.cookies, [])
        self.assertEqual(self.ok("Bug.get", {"ids": ["5"], "api_key": ALICE_KEY})["bugs"][0]["id"],
                         5)
        self.assertIn("5", self.ok("Bug.comments", {"ids": [5], "api_key": ALICE_KEY})["bugs"])
        self.assertIn("fields", self.ok("Bug.fields", {"names": ["product"], "api_key": ALICE_KEY}))
        added = self.ok("Bug.add_comment", {"id": 7, "comment": "by key", "api_key": BOB_KEY})
        comment = self.control.control.bug(7)["comments"][-1]
        self.assertEqual((comment["id"], comment["creator"]), (added["id"], "bob@example.com"))
        # The key decides; a login beside it is ignored. A key is no password.
        self.assertIn(5, self.ids(self.ok("Bug.search", {"product": "Widgets", "api_key": ALICE_KEY,
                                                          "Bugzilla_login": "bob@example.com"})))
        self.assertFault(self.login(password=ALICE_KEY), 300)
        self.assertEqual(self.ok("Bugzilla.version", {"api_key": UNKNOWN_KEY}),
                         {"version": "5.0.6"})

    def test_unknown_and_revoked_keys(self):
        self.assertFault(self.call("Bug.search", {"product": "Widgets", "api_key": UNKNOWN_KEY}),
                         306, "The API key you specified is invalid. Please check that you typed "
                              "it correctly.")
        self.assertFault(self.call("Bug.add_comment", {"id": 1, "comment": "x",
                                                       "api_key": REVOKED_KEY}),
                         306, "The API key you specified has been revoked by the user that "
                              "created it.")

    def test_valid_login_tells_whose_key(self):
        def valid(login, key):
            return self.ok("User.valid_login", {"login": login, "api_key": key})
        self.assertIs(valid("alice@example.com", ALICE_KEY), True)
        self.assertIs(valid("bob@example.com", ALICE_KEY), False)
        self.assertIs(valid("Alice@example.com", ALICE_KEY), False)
        self.assertIs(self.ok("User.valid_login", {"login": "alice@example.com"}), False)
        self.assertFault(self.call("User.valid_login", {"login": "alice@example.com",
                                                        "api_key": UNKNOWN_KEY}), 306)
        self.assertFault(self.call("User.valid_login", {"api_key": ALICE_KEY}), 50)
        raw = self.call("User.valid_login", {"login": "alice@example.com", "api_key": ALICE_KEY})
        self.assertIn(b"<value><boolean>1</boolean></value>", raw.body)

    def test_bugzilla_4_4_knows_no_keys(self):
        self.control.control.configure("version", "4.4.14")
        self.assertFault(self.call("User.valid_login", {"login": "alice@example.com",
                                                        "api_key": ALICE_KEY}), -32601,
                         "The requested method 'User.valid_login' was not found.")
        self.assertFault(self.call("Bug.search", {"product": "Widgets", "api_key": ALICE_KEY}), 53,
                         "api_key is not a valid parameter for the Bugzilla::Bug::match function.")
        self.assertFault(self.call("Bug.comments", {"ids": [5], "api_key": ALICE_KEY}), 102)
        self.control.control.configure("api_keys", True)  # settable apart from the version
        self.assertIs(self.ok("User.valid_login", {"login": "alice@example.com",
                                                   "api_key": ALICE_KEY}), True)

    def test_ended_session_by_version(self):
        token = self.token()
        self.control.control.expire_sessions()
        params = {"id": 1, "comment": "x", "token": token}
        self.assertFault(self.call("Bug.add_comment", params), 32000)
        self.control.control.configure("version", "4.4.14")  # 4.4 runs it anonymously
        self.assertFault(self.call("Bug.add_comment", params), 410)
        self.assertNotIn(5, self.ids(self.ok("Bug.search", {"product": "Widgets",
                                                             "token": token})))
        self.control.control.configure("bad_token", "fault")
        self.assertFault(self.call("Bug.add_comment", params), 32000)
        self.assertRaises(xmlrpc.client.Fault, self.control.control.configure, "bad_token", "x")

    def test_keys_never_printed(self):
        process = subprocess.Popen([sys.executable, SERVER, "--port", "0", "--verbose"],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   stdin=subprocess.DEVNULL)
        try:
            port = int(process.stdout.readline().split()[1])
            with xmlrpc.client.ServerProxy("http://127.0.0.1:%d/control" % port) as control:
                control.control.inject("Bug.search", "fault", {"code": 1, "string": ALICE_KEY}, 1)
            with xmlrpc.client.ServerProxy("http://127.0.0.1:%d/xmlrpc.cgi?api_key=%s"
                                           % (port, UNKNOWN_KEY)) as proxy:
                for key in (ALICE_KEY, UNKNOWN_KEY):
                    try:
                        proxy.Bug.search({"product": "Widgets", "api_key": key})
                    except xmlrpc.client.Fault:
                        pass
            connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
            connection.request("GET", "/rest/login?login=alice%40example.com&password=alice-pass-1")
            token = json.loads(connection.getresponse().read())["token"]
            connection.request("GET", "/rest/bug/1?token=%s" % token)
            connection.getresponse().read()
            connection.close()
        finally:
            process.terminate()
            out, err = process.communicate(timeout=10)
        self.assertIn(b"Bug.search", err)
        self.assertIn(b"/rest/bug/1", err)
        for secret in (ALICE_KEY, UNKNOWN_KEY, "alice-pass-1", token):
            self.assertNotIn(secret.encode(), out + err)


class CookieStyleTest(ServerCase):
    """Like Bugzilla 4.2: login cookies, no token."""

    style_args = ("--login-style", "cookie", "--version", "4.2.16")

    def login_cookie(self):
        answer = self.login()
        pairs = [c.split(";")[0] for c in answer.cookies]
        return answer, "; ".join(pairs)

    def test_login_sets_two_cookies_and_returns_no_token(self):
        answer, _ = self.login_cookie()
        self.assertEqual(answer.value, {"id": 2})
        self.assertEqual(len(answer.cookies), 2)
        self.assertEqual(answer.cookies[0], "Bugzilla_login=2; path=/; "
                                            "expires=Fri, 01-Jan-2038 00:00:00 GMT; HttpOnly")
        self.assertRegex(answer.cookies[1], r"^Bugzilla_logincookie=[A-Za-z0-9]{10}; path=/; "
                                            r"expires=Fri, 01-Jan-2038 00:00:00 GMT; HttpOnly$")
        self.assertEqual(self.call("Bugzilla.version").cookies, [])

    def test_cookies_authenticate(self):
        _, cookie = self.login_cookie()
        self.assertIn(5, self.ids(self.ok("Bug.search", {"product": "Widgets"}, cookie=cookie)))
        self.assertNotIn(5, self.ids(self.ok("Bug.search", {"product": "Widgets"})))
        self.assertIsNone(self.call("Bug.add_comment", {"id": 1, "comment": "x"},
                                    cookie=cookie).fault)
        self.assertFault(self.call("Bug.add_comment", {"id": 1, "comment": "x"}), 410)
        stale = self.call("Bug.get", {"ids": ["1"]},
                          cookie="Bugzilla_login=2; Bugzilla_logincookie=stale")
        self.assertIsNone(stale.fault)
        self.assertEqual([c.split(";")[0] for c in stale.cookies],
                         ["Bugzilla_login=X", "Bugzilla_logincookie=X"])
        self.assertIn("expires=Tue, 15-Sep-1998 21:49:00 GMT", stale.cookies[0])

    def test_search_refuses_any_token(self):
        _, cookie = self.login_cookie()
        for token in ("", "2-invalidtoken"):
            self.assertFault(self.call("Bug.search", {"product": "Widgets", "token": token},
                                       cookie=cookie), 53,
                             "token is not a valid parameter for the Bugzilla::Bug::match "
                             "function.")
        self.assertEqual(self.ok("Bug.get", {"ids": ["1"], "token": ""})["bugs"][0]["id"], 1)

    def test_bug_shape_follows_bugzilla_4_2(self):
        bugs = {b["id"]: b for b in self.ok("Bug.get_bugs", {"ids": ["1", "2", "4"]})["bugs"]}
        self.assertEqual(bugs[2]["alias"], "widget-colour")
        self.assertNotIn("alias", bugs[1])
        self.assertNotIn("assigned_to_detail", bugs[1])
        self.assertEqual(bugs[4]["dupe_of"], 1)
        self.assertIn("is_open", bugs[1])


class BothStyleTest(ServerCase):
    """Cookies with an expiry and a token: either authenticates."""

    style_args = ("--login-style", "both")

    def test_cookie_or_token_authenticates(self):
        answer = self.login()
        self.assertIn("token", answer.value)
        self.assertEqual([c.split("=")[0] for c in answer.cookies],
                         ["Bugzilla_login", "Bugzilla_logincookie"])
        cookie = "; ".join(c.split(";")[0] for c in answer.cookies)
        token = answer.value["token"]
        self.assertEqual(self.ok("Bug.get", {"ids": ["5"], "token": token})["bugs"][0]["id"], 5)
        self.assertEqual(self.ok("Bug.get", {"ids": ["5"]}, cookie=cookie)["bugs"][0]["id"], 5)
        self.assertEqual(self.ok("Bug.get", {"ids": ["5"], "token": "2-bad"}, cookie=cookie)
                         ["bugs"][0]["id"], 5)
        self.assertFault(self.call("Bug.get", {"ids": ["5"], "token": "2-bad"}), 32000)
        self.assertFault(self.call("Bug.get", {"ids": ["5"]}), 102)
        self.assertEqual(self.ok("Bug.get", {"ids": ["2"]})["bugs"][0]["alias"], ["widget-colour"])


class InjectionTest(ServerCase):
    def inject(self, method, kind, args=None, times=-1):
        self.control.control.inject(method, kind, args or {}, times)

    def test_fault_for_a_number_of_calls(self):
        self.inject("Bugzilla.version", "fault", {"code": 410, "string": "Log in."}, 2)
        self.assertFault(self.call("Bugzilla.version"), 410, "Log in.")
        self.assertFault(self.call("Bugzilla.version"), 410)
        self.assertIsNone(self.call("Bugzilla.version").fault)
        self.inject("*", "fault", {"code": "Client", "string": "Bad client"})
        for method in ("Bug.search", "User.login"):
            answer = self.call(method, {})
            self.assertEqual((answer.fault.faultCode, answer.fault.faultString),
                             ("Client", "Bad client"))
        self.assertEqual([r["method"] for r in self.control.control.requests()],
                         ["Bugzilla.version"] * 3 + ["Bug.search", "User.login"])

    def test_close_without_answer(self):
        self.inject("Bug.search", "close", times=1)
        with self.assertRaises((http.client.RemoteDisconnected, ConnectionError)):
            self.call("Bug.search", {"product": "Widgets"})
        self.assertIsNone(self.call("Bug.search", {"product": "Widgets"}).fault)

    def test_stall_then_answer(self):
        self.inject("Bug.search", "stall", {"seconds": 30}, 1)
        with self.assertRaises(socket.timeout):
            self.post(xmlrpc.client.dumps(({},), "Bug.search").encode(), timeout=0.3)
        self.inject("Bug.search", "stall", {"seconds": 0.2}, 1)
        self.assertIn("bugs", self.ok("Bug.search", {"product": "Widgets"}))

    def test_http_error_and_foreign_bodies(self):
        self.inject("Bug.get", "http500", times=1)
        answer = self.post(xmlrpc.client.dumps(({"ids": ["1"]},), "Bug.get").encode())
        self.assertEqual(answer.status, 500)
        self.assertTrue(answer.headers["Content-Type"].startswith("text/html"))
        self.inject("Bug.get", "not_xml", times=1)
        answer = self.post(xmlrpc.client.dumps(({"ids": ["1"]},), "Bug.get").encode())
        self.assertEqual(answer.status, 200)
        self.assertTrue(answer.body.startswith(b"<!DOCTYPE html>"))
        self.inject("Bug.get", "raw", {"body": "<methodResponse>odd</methodResponse>"}, 1)
        self.assertEqual(self.post(xmlrpc.client.dumps(({},), "Bug.get").encode()).body,
                         b"<methodResponse>odd</methodResponse>")

    def test_truncated_replies(self):
        full = self.call("Bug.get", {"ids": ["1"]}).body
        self.inject("Bug.get", "truncated", times=1)
        cut = self.call("Bug.get", {"ids": ["1"]})
        self.assertEqual((cut.status, cut.body), (200, full[:len(full) // 2]))
        self.assertRaises(Exception, xmlrpc.client.loads, cut.body)
        self.inject("Bug.get", "truncated", {"bytes": 100, "declare_full": True}, 1)
        with self.assertRaises(http.client.IncompleteRead) as transfer:
            self.call("Bug.get", {"ids": ["1"]})
        self.assertEqual(len(transfer.exception.partial), 100)
        self.assertEqual(len(full), 100 + transfer.exception.expected)

    def test_wrong_kind_and_removed_members(self):
        self.inject("Bug.search", "wrong_kind", {"member": "bugs", "value": "not a list"}, 1)
        self.assertEqual(self.ok("Bug.search", {"product": "Gadgets"})["bugs"], "not a list")
        self.inject("Bug.search", "wrong_kind", {"member": "bugs.*.summary", "value": {"a": 1}}, 1)
        bugs = self.ok("Bug.search", {"product": "Gadgets"})["bugs"]
        self.assertEqual([b["summary"] for b in bugs], [{"a": 1}] * 3)
        self.inject("Bugzilla.version", "wrong_kind", {"member": "version", "value": 5}, 1)
        self.assertEqual(self.ok("Bugzilla.version"), {"version": 5})
        self.inject("Bug.comments", "wrong_kind",
                    {"member": "bugs.*.comments.0.text", "value": ["x"]}, 1)
        self.assertEqual(self.ok("Bug.comments", {"ids": [1]})["bugs"]["1"]["comments"][0]["text"],
                         ["x"])
        self.inject("Bug.get", "remove", {"member": "bugs.0.is_open"}, 1)
        self.assertNotIn("is_open", self.ok("Bug.get", {"ids": ["1"]})["bugs"][0])
        self.inject("Bug.get", "remove", {"member": "bugs.0"}, 1)
        self.assertEqual(self.ok("Bug.get", {"ids": ["1"]})["bugs"], [])

    def test_huge_reply_is_valid(self):
        self.inject("Bug.search", "huge", {"megabytes": 3}, 1)
        answer = self.call("Bug.search", {"product": "Gadgets"})
        self.assertEqual(len(answer.body), 3 * 1024 * 1024)
        self.assertEqual(len(answer.value["bugs"]), 3)
        self.assertTrue(answer.value["padding"].startswith("xxx"))


class ConcurrencyTest(ServerCase):
    """Many users at once: added users, and a delay that concurrent requests share."""

    def test_added_users_log_in_and_hold_keys(self):
        self.control.control.add_users(3)
        self.control.control.add_users(5)  # users 1-3 stay as they are
        self.assertEqual(self.login("user3@example.com", "user3-pass").value["id"], 7)
        self.assertEqual(self.login("user5@example.com", "user5-pass").value["id"], 9)
        self.assertFault(self.login("user5@example.com", "user4-pass"), 300)
        key = "User4ApiKey".ljust(40, "x")
        self.assertTrue(self.ok("User.valid_login", {"login": "user4@example.com",
                                                     "api_key": key}))
        self.assertFault(self.call("Bug.get", {"ids": ["5"], "api_key": key}), 102)
        self.assertRaises(xmlrpc.client.Fault, self.control.control.add_users, "many")
        self.control.control.reset()
        self.assertFault(self.login("user3@example.com", "user3-pass"), 300)

    def test_delayed_requests_overlap_and_record_their_times(self):
        self.control.control.configure("delay_seconds", 1)
        threads = [threading.Thread(target=self.call, args=("Bugzilla.version",))
                   for _ in range(4)]
        for thread in threads:
            thread.start()
        # The record holds each request from its arrival, and control calls are not delayed:
        # the first entry is seen while its reply is still pending.
        pending = []
        while not pending:
            pending = self.control.control.requests()
        self.assertEqual(pending[0]["finished"], 0.0)
        for thread in threads:
            thread.join()
        requests = self.control.control.requests()
        self.assertEqual(len(requests), 4)
        for entry in requests:
            self.assertGreaterEqual(entry["finished"] - entry["started"], 1.0)
        # The delay is spent outside the lock: the four delays overlap instead of adding up.
        self.assertLess(max(r["finished"] for r in requests)
                        - min(r["started"] for r in requests), 2.5)
        self.assertRaises(xmlrpc.client.Fault, self.control.control.configure,
                          "delay_seconds", -1)


class RestAnswer:
    """One REST exchange: status, headers, raw body and decoded JSON (None when not JSON)."""

    def __init__(self, response, body):
        self.status = response.status
        self.headers = response.headers
        self.body = body
        self.cookies = response.headers.get_all("Set-Cookie") or []
        try:
            self.value = json.loads(body.decode("utf-8"))
        except ValueError:
            self.value = None


class RestCase(ServerCase):
    base = "/bugzilla/rest.cgi"

    def rest(self, path, query=(), body=None, headers=None, method=None, base=None):
        target = (base or self.base) + path + ("?" + urllib.parse.urlencode(query) if query else "")
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        try:
            data = json.dumps(body).encode() if body is not None else None
            connection.request(method or ("POST" if body is not None else "GET"), target, data,
                               {"Content-Type": "application/json", **(headers or {})})
            response = connection.getresponse()
            return RestAnswer(response, response.read())
        finally:
            connection.close()

    def assertError(self, answer, status, code, message=None):
        self.assertEqual((answer.status, answer.value["code"], answer.value["error"]),
                         (status, code, True), answer.value)
        if message is not None:
            self.assertEqual(answer.value["message"], message)

    def rest_token(self):
        return self.rest("/login", {"login": "alice@example.com",
                                    "password": "alice-pass-1"}).value["token"]

    def raw_request_line(self, length):
        """Sends a GET whose request line is `length` bytes; the raw answer."""
        head = "GET %s/bug?product=Widgets&include_fields=id&pad=" % self.base
        line = head + "x" * (length - len(head) - len(" HTTP/1.1")) + " HTTP/1.1"
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as connection:
            connection.sendall(line.encode() + b"\r\nHost: x\r\nConnection: close\r\n\r\n")
            data = b""
            while True:
                piece = connection.recv(65536)
                if not piece:
                    return data
                data += piece


class RestUpstreamTest(RestCase):
    """The REST API as Bugzilla 5.0.6 and 5.2 answered it."""

    def test_transport_and_error_shapes(self):
        answer = self.rest("/version")
        self.assertEqual((answer.status, answer.value), (200, {"version": "5.0.6"}))
        self.assertEqual(answer.headers["Content-Type"], "application/json; charset=UTF-8")
        self.assertEqual(answer.headers["Transfer-Encoding"], "chunked")
        self.assertIsNone(answer.headers["Content-Length"])
        self.assertTrue(any(c.startswith("Bugzilla_login_request_cookie=")
                            for c in answer.cookies))
        self.assertEqual(self.rest("/version", base="/rest").value["version"], "5.0.6")
        self.assertError(self.rest("/whoami", {"token": self.rest_token()}), 404, 32614,
                         "A REST API resource was not found for 'GET /whoami'.")
        self.assertEqual(self.rest("/nosuch").value["documentation"],
                         "https://bugzilla.readthedocs.org/en/5.0/api/")
        self.assertError(self.rest("/bug/999999"), 404, 101, "Bug #999999 does not exist.")
        self.assertError(self.rest("/bug/no-such-alias"), 400, 100)
        self.assertError(self.rest("/bug/5/comment"), 401, 102)
        get = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        get.request("GET", "/bugzilla/xmlrpc.cgi")
        self.assertEqual(get.getresponse().status, 411)
        get.close()
        self.assertEqual(self.call("Bugzilla.version").value, {"version": "5.0.6"})
        self.assertTrue(self.raw_request_line(8191).startswith(b"HTTP/1.1 200 "))
        refused = self.raw_request_line(8192)
        self.assertTrue(refused.startswith(b"HTTP/1.1 414 "))
        self.assertIn(b"<title>414 Request-URI Too Long</title>", refused)

    def test_credentials_where_upstream_takes_them(self):
        answer = self.rest("/login", {"login": "alice@example.com", "password": "alice-pass-1"})
        self.assertEqual((answer.value["id"], answer.cookies), (2, []))
        self.assertRegex(answer.value["token"], r"^2-[A-Za-z0-9]{10}$")
        self.assertError(self.rest("/login", {"login": "alice@example.com", "password": "x"}),
                         401, 300, "The login or password you entered is not valid.")
        token = answer.value["token"]
        widgets = {"product": "Widgets", "include_fields": "id"}

        def ids(answer):
            return [bug["id"] for bug in answer.value["bugs"]]
        self.assertIn(5, ids(self.rest("/bug", dict(widgets, token=token))))
        self.assertIn(5, ids(self.rest("/bug", dict(widgets, api_key=ALICE_KEY))))
        # The headers are ignored: the search runs anonymously.
        self.assertNotIn(5, ids(self.rest("/bug", widgets, headers={
            "X-BUGZILLA-API-KEY": ALICE_KEY, "X-BUGZILLA-TOKEN": token})))
        self.assertError(self.rest("/bug", dict(widgets, api_key=REVOKED_KEY)), 400, 306,
                         "The API key you specified has been revoked by the user that created it.")
        self.assertError(self.rest("/bug", dict(widgets, api_key=UNKNOWN_KEY)), 400, 306,
                         "The API key you specified is invalid. Please check that you typed it "
                         "correctly.")
        self.assertEqual(self.rest("/valid_login", {"login": "bob@example.com",
                                                    "api_key": ALICE_KEY}).value,
                         {"result": False})
        self.assertEqual(self.rest("/valid_login", {"login": "alice@example.com",
                                                    "api_key": ALICE_KEY}).value,
                         {"result": True})
        # Token in the body, key in the query; without credentials 410; bob keeps no time.
        posted = self.rest("/bug/7/comment", body={"comment": "via body", "token": token})
        self.assertEqual(posted.status, 201)
        self.assertEqual(self.rest("/bug/7/comment", {"api_key": BOB_KEY},
                                   body={"comment": "via query"}).status, 201)
        self.assertError(self.rest("/bug/7/comment", body={"comment": "x"}), 401, 410)
        self.assertError(self.rest("/bug/7/comment", {"api_key": BOB_KEY},
                                   body={"comment": "x", "work_time": 1.5}), 401, 115)
        self.assertError(self.rest("/bug/7/comment", {"api_key": BOB_KEY},
                                   body={"comment": "x" * 65536}), 400, 114)
        comments = self.control.control.bug(7)["comments"]
        self.assertEqual([(c["creator"], c["text"]) for c in comments[-2:]],
                         [("alice@example.com", "via body"), ("bob@example.com", "via query")])
        self.assertEqual(comments[-2]["id"], posted.value["id"])
        logout = self.rest("/logout", {"token": token})
        self.assertEqual(logout.value, {"result": None})
        self.assertError(self.rest("/bug", dict(widgets, token=token)), 400, 32000)

    def test_value_shapes(self):
        token = self.rest_token()
        bug = self.rest("/bug/widget-colour", {"token": token}).value
        self.assertEqual(bug["faults"], [])
        bug = bug["bugs"][0]
        self.assertEqual((bug["id"], bug["alias"], bug["dupe_of"], bug["deadline"]),
                         (2, ["widget-colour"], None, None))
        self.assertRegex(bug["creation_time"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
        self.assertIs(bug["is_open"], True)
        self.assertIn("update_token", bug)
        self.assertEqual(self.rest("/bug/4").value["bugs"][0]["dupe_of"], 1)
        found = self.rest("/bug", {"product": "Widgets", "assigned_to": "alice@example.com",
                                   "include_fields": "id,assigned_to,description",
                                   "limit": 2, "offset": 1, "token": token}).value["bugs"]
        self.assertEqual([sorted(b) for b in found],
                         [["assigned_to", "assigned_to_detail", "id"]] * 2)
        self.assertEqual([b["id"] for b in found], [3, 4])
        comments = self.rest("/bug/1/comment", [("ids", "6"), ("ids", "2"),
                                                ("include_fields", "text"),
                                                ("token", token)]).value
        self.assertEqual(sorted(comments["bugs"]), ["1", "2", "6"])
        self.assertEqual(comments["bugs"]["6"]["comments"][0], {"text": "Manual wanted. Grüße – ✓"})
        first = self.rest("/bug/1/comment").value["bugs"]["1"]["comments"][0]
        self.assertEqual((first["count"], first["attachment_id"]), (0, None))
        raw = self.rest("/bug/6", {"include_fields": "summary"}).body
        self.assertNotIn(b"\\u", raw)
        fields = self.rest("/field/bug").value["fields"]
        self.assertEqual(fields[0]["name"], "bug_id")
        self.assertIsNone(fields[0]["visibility_field"])

    def test_request_record_and_injections(self):
        token = self.rest_token()
        self.rest("/bug/1/comment", {"token": token}, body={"comment": "recorded"})
        self.rest("/nosuch")
        self.call("Bugzilla.version")
        login, comment, nosuch, xmlrpc_call = self.control.control.requests()
        self.assertEqual((login["method"], login["web_service"], login["http_method"]),
                         ("User.login", "rest", "GET"))
        self.assertEqual(login["params"]["password"], "alice-pass-1")  # the record keeps it
        self.assertNotIn("alice-pass-1", login["path"])
        self.assertEqual(comment["method"], "Bug.add_comment")
        self.assertEqual(comment["params"], {"token": token, "comment": "recorded"})
        self.assertNotIn(token, comment["path"])
        self.assertGreater(comment["finished"], comment["started"])
        self.assertEqual(nosuch["method"], "")
        self.assertEqual((xmlrpc_call["web_service"], xmlrpc_call["method"]),
                         ("xmlrpc", "Bugzilla.version"))
        inject = self.control.control.inject
        inject("Bug.get", "fault", {"code": 101, "string": "Gone."}, 1)
        self.assertError(self.rest("/bug/1"), 404, 101, "Gone.")
        inject("Bug.get", "remove", {"member": "bugs.0.summary"}, 1)
        self.assertNotIn("summary", self.rest("/bug/1").value["bugs"][0])
        inject("Bug.search", "huge", {"megabytes": 1}, 1)
        huge = self.rest("/bug", {"product": "Gadgets"})
        self.assertEqual((len(huge.body), len(huge.value["bugs"])), (1024 * 1024, 3))
        inject("Bug.comments", "truncated", {"bytes": 10}, 1)
        self.assertEqual(len(self.rest("/bug/1/comment").body), 10)
        inject("*", "redirect", {"location": "http://127.0.0.1:1/login"}, 2)
        moved = self.rest("/version")
        self.assertEqual((moved.status, moved.headers["Location"]),
                         (302, "http://127.0.0.1:1/login"))
        self.assertEqual(self.call("Bugzilla.version").status, 302)


class RestBmoTest(RestCase):
    """The REST API as bugzilla.mozilla.org's code answered it."""

    style_args = ("--rest-style", "bmo")
    base = "/rest"

    def test_transport_and_texts(self):
        answer = self.rest("/version")
        self.assertEqual(answer.value, {"version": "20260820.1"})
        self.assertEqual(answer.headers["Connection"], "close")
        self.assertIsNone(answer.headers["Content-Length"])
        self.assertIsNone(answer.headers["Transfer-Encoding"])
        self.control.control.configure("version", "5.1")
        self.assertEqual(self.rest("/version").value, {"version": "5.1"})
        self.assertError(self.rest("/bug/999999"), 404, 101, "Bug 999999 does not exist.")
        self.assertError(self.rest("/bug/no-such-alias"), 400, 100,
                         "Sorry, I can't find \"NOSUCHALIAS\". It does not seem like bug "
                         "number nor an alias to a bug.")
        self.assertError(self.rest("/login", {"login": "alice@example.com", "password": "x"}),
                         401, 300, "The username or password you entered is not valid.")
        self.assertEqual(self.rest("/nosuch").value["documentation"], "docs/%lang%/html/api/")
        for method in ("GET", "POST"):
            connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
            connection.request(method, "/xmlrpc.cgi", b"" if method == "POST" else None)
            response = connection.getresponse()
            self.assertEqual((response.status, response.headers["Content-Type"]),
                             (404, "text/html;charset=UTF-8"))
            connection.close()
        self.assertTrue(self.raw_request_line(10239).startswith(b"HTTP/1.1 200 "))
        moved = self.raw_request_line(10240)
        self.assertTrue(moved.startswith(b"HTTP/1.1 302 "))
        self.assertIn(b"\r\nLocation: http://127.0.0.1:%d/\r\n" % self.port, moved)

    def test_credentials_and_shapes(self):
        key = {"X-BUGZILLA-API-KEY": ALICE_KEY}
        self.assertEqual(self.rest("/whoami", headers=key).value["name"], "alice@example.com")
        self.assertError(self.rest("/whoami"), 401, 410)
        token = self.rest_token()
        self.assertEqual(self.rest("/whoami", headers={"X-BUGZILLA-TOKEN": token}).value["id"], 2)
        self.assertError(self.rest("/bug", {"token": "2-notAToken1"}), 400, 307)
        self.assertError(self.rest("/bug", headers={"X-BUGZILLA-API-KEY": REVOKED_KEY}), 400, 306)
        self.assertIs(self.rest("/valid_login", {"login": "bob@example.com",
                                                 "api_key": ALICE_KEY}).value, False)
        found = self.rest("/bug", {"product": "Widgets", "assigned_to": "alice@example.com",
                                   "include_fields": "id,description"}, headers=key).value
        self.assertIn(5, [b["id"] for b in found["bugs"]])
        first = found["bugs"][0]
        self.assertEqual(first["description"], "Start the frobnicator; it segfaults immediately.")
        self.assertEqual(first["assigned_to_detail"]["nick"], "alice")
        self.assertEqual(self.rest("/bug/2", headers=key).value["bugs"][0]["alias"],
                         "widget-colour")
        self.assertIsNone(self.rest("/bug/1", headers=key).value["bugs"][0]["alias"])
        self.assertEqual(self.rest("/bug/1/comment", body={"comment": "x"}, headers=key).status,
                         201)
        self.assertEqual(self.control.control.requests()[-1]["params"], {"comment": "x"})


class LifecycleTest(unittest.TestCase):
    def test_sigterm_stops_the_server(self):
        process, _ = start_server()
        process.terminate()
        self.assertEqual(process.wait(10), 0)
        process.stdout.close()

    def test_server_exits_when_its_parent_dies(self):
        # The shell starts the server in the background, names itself the parent to watch,
        # and exits at once.
        script = ('"%s" "%s" --port 0 --parent-pid $$ >/dev/null 2>&1 </dev/null & echo $!'
                  % (sys.executable, SERVER))
        pid = int(subprocess.run(["sh", "-c", script], capture_output=True, check=True,
                                 timeout=10).stdout)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and self.running(pid):
            time.sleep(0.1)
        self.assertFalse(self.running(pid))

    @staticmethod
    def running(pid):
        try:
            with open("/proc/%d/stat" % pid) as f:
                return f.read().rsplit(")", 1)[1].split()[0] != "Z"
        except FileNotFoundError:
            return False


if __name__ == "__main__":
    unittest.main()
