#!/usr/bin/python3
"""A local stand-in for the Kestrova Cloud REST API, for tests.

Binds 127.0.0.1 on an ephemeral port and prints "PORT <n>" on stdout. Stops by itself after
--lifetime seconds, or as soon as its stdin closes (the test that started it is gone).

Service endpoints (wire formats of the real service):
  GET  /sanctum/csrf-cookie      sets the "XSRF-TOKEN" cookie (percent-escaped) and a session cookie
  POST /api/v1/auth/login        {"email","password"} -> token (+ user)
  POST /api/v1/auth/register     {"name","email","password","password_confirmation"} -> token (+ user)
  GET  /api/v1/auth/me           Bearer token -> {"user": ...}
  POST /api/v1/auth/logout       Bearer token -> 204
  POST /api/v1/files             multipart "file" + "is_public", checked byte for byte -> 201 {"file", "url"}
The three account POSTs require the X-XSRF-TOKEN header to match the cookie (419 otherwise).

Control endpoints (not recorded):
  POST /__fake/configure  JSON, merged into the options:
      "rules": [{"method", "path", "status", "body" or "body_b64", "content_type", "delay", "times",
                 "set_cookie", "headers": {name: value} or [[name, value], ...], "repeat": n}]
               answered instead of the normal handling; "times" -1 = always (default 1); the body is
               sent "repeat" times over (default 1), with its Content-Length unless "length" is false
               (then it ends when the connection closes); the bytes the client took before it hung up
               are recorded as the request's "sent"; "echo" true puts the request's body in place of
               every "{{request}}" in the answer's body, as a framework's debug page shows the request
      "csrf": {"status", "set_cookie", "cookie_name", "cookie_value"}
      "login_shape": "user" | "token_only" | "data"
      "user": extra members merged into the account record
  GET  /__fake/requests   every recorded request: method, path, headers, body (base64), multipart
  POST /__fake/reset      forget the recorded requests
"""

import base64
import hashlib
import json
import os
import re
import sys
import threading
import time
import urllib.parse

import fake_http

LOCK = threading.Lock()
CSRF_TOKEN = "eyJpdiI6Ikp2a1ZrT0E9PSIsInZhbHVlIjoiZmFrZSJ9=="
STATE = {
    "users": {"user@example.com": {"id": 1, "name": "Test User", "email": "user@example.com", "password": "secret123"}},
    "tokens": {},
    "next_user": 2,
    "next_token": 1,
    "next_file": 100,
    "requests": [],
    "options": {
        "rules": [],
        "csrf": {"status": 204, "set_cookie": True, "cookie_name": "XSRF-TOKEN", "cookie_value": None},
        "login_shape": "user",
        "user": {},
    },
}
UUID_RE = re.compile(r"^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$")


def user_record(user):
    record = {
        "id": user["id"],
        "name": user["name"],
        "email": user["email"],
        "created_at": "2024-01-01T00:00:00.000000Z",
        "updated_at": "2024-01-01T00:00:00.000000Z",
        "usage": {"used_bytes": 536870912, "total_bytes": 1073741824, "uploads_this_month": 3},
        "plan": {"name": "Free", "slug": "free", "upload_limit_mb": 100, "upload_limit_bytes": 104857600},
    }
    record.update(STATE["options"]["user"])
    return record


def parse_multipart(content_type, body):
    """Checks the upload form byte for byte; returns (summary, None) or (None, why)."""
    prefix = "multipart/form-data; boundary="
    if not content_type.startswith(prefix):
        return None, "content type is not multipart/form-data with a boundary"
    boundary = content_type[len(prefix):]
    if not UUID_RE.match(boundary):
        return None, "boundary is not an upper-case UUID: " + boundary
    b = boundary.encode()
    head = b"--" + b + b"\r\nContent-Disposition: form-data; name=\"file\"; filename=\""
    if not body.startswith(head):
        return None, "the file part does not open the body"
    rest = body[len(head):]
    marker = b"\"\r\nContent-Type: "
    at = rest.find(marker)
    if at < 0:
        return None, "no content type after the file name"
    filename = rest[:at]
    rest = rest[at + len(marker):]
    at = rest.find(b"\r\n\r\n")
    if at < 0:
        return None, "no blank line after the file part's headers"
    part_type = rest[:at]
    rest = rest[at + 4:]
    tail_head = b"\r\n--" + b + b"\r\nContent-Disposition: form-data; name=\"is_public\"\r\n\r\n"
    at = rest.rfind(tail_head)
    if at < 0:
        return None, "no is_public part after the file"
    data = rest[:at]
    rest = rest[at + len(tail_head):]
    closing = b"\r\n--" + b + b"--\r\n"
    if not rest.endswith(closing):
        return None, "the body does not end with the closing boundary and CR LF"
    value = rest[: -len(closing)]
    if value not in (b"0", b"1"):
        return None, "is_public is neither 0 nor 1"
    return {
        "boundary": boundary,
        "filename": base64.b64encode(filename).decode(),
        "content_type": part_type.decode("latin-1"),
        "is_public": value.decode(),
        "size": len(data),
        "sha256": hashlib.sha256(data).hexdigest(),
    }, None


def header_pairs(headers):
    """Header fields given as a JSON object or as a list of name and value pairs."""
    return list(headers.items()) if isinstance(headers, dict) else [(name, value) for name, value in headers]


class Handler(fake_http.QuietHandler):
    # -- plumbing --------------------------------------------------------------------------
    def answer(self, status, body=b"", content_type="application/json", cookies=(), headers=()):
        if isinstance(body, (dict, list)):
            body = json.dumps(body).encode()
        elif isinstance(body, str):
            body = body.encode()
        fields = [("Set-Cookie", cookie) for cookie in cookies]
        if body or status not in (204, 304):
            fields.append(("Content-Type", content_type))
        fields.extend(header_pairs(headers))
        self.send_all(status, fields, body)

    def answer_repeated(self, status, body, repeat, content_type, cookies, headers, length, record):
        """A body of `repeat` copies of `body`, written copy by copy; counts what the client took."""
        fields = [("Set-Cookie", cookie) for cookie in cookies] + [("Content-Type", content_type)]
        fields.extend(header_pairs(headers))
        self.send_response(status)
        for name, value in fields:
            self.send_header(name, value)
        if length:
            self.send_header("Content-Length", str(len(body) * repeat))
        else:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        sent = 0
        try:
            for _ in range(repeat):
                self.wfile.write(body)
                sent += len(body)
            self.wfile.flush()
        except OSError:
            self.close_connection = True
        with LOCK:
            record["sent"] = sent

    def bearer(self):
        value = self.headers.get("Authorization")
        if value is None or not value.startswith("Bearer "):
            return None
        return value[len("Bearer "):]

    def signed_in_user(self):
        token = self.bearer()
        with LOCK:
            email = STATE["tokens"].get(token)
            return STATE["users"].get(email) if email else None

    def csrf_ok(self):
        header = self.headers.get("X-XSRF-TOKEN")
        cookies = self.headers.get("Cookie") or ""
        return header == CSRF_TOKEN and "XSRF-TOKEN=" in cookies

    def token_answer(self, user, status):
        with LOCK:
            token = "tok-%d-%s" % (STATE["next_token"], hashlib.sha1(user["email"].encode()).hexdigest()[:8])
            STATE["next_token"] += 1
            STATE["tokens"][token] = user["email"]
            shape = STATE["options"]["login_shape"]
        if shape == "token_only":
            body = {"token": token}
        elif shape == "data":
            body = {"data": {"accessToken": token, "user": user_record(user)}}
        else:
            body = {"token": token, "user": user_record(user)}
        self.answer(status, body)

    # -- dispatch --------------------------------------------------------------------------
    def do_GET(self):
        self.dispatch("GET")

    def do_POST(self):
        self.dispatch("POST")

    def dispatch(self, method):
        path = urllib.parse.urlsplit(self.path).path
        body = self.read_body()
        if path.startswith("/__fake/"):
            return self.control(method, path, body)

        record = {
            "method": method,
            "path": path,
            "headers": [[k, v] for k, v in self.headers.items()],
            "body": base64.b64encode(body).decode(),
            "time": time.time(),
        }
        with LOCK:
            STATE["requests"].append(record)
            rule = None
            for candidate in STATE["options"]["rules"]:
                if candidate.get("path") == path and candidate.get("method", method) == method \
                        and candidate.get("times", 1) != 0:
                    rule = candidate
                    if rule.get("times", 1) > 0:
                        rule["times"] = rule.get("times", 1) - 1
                    break
        if rule is not None:
            delay = rule.get("delay", 0)
            if delay:
                time.sleep(delay)
            cookies = []
            if rule.get("set_cookie"):
                cookies.append("XSRF-TOKEN=%s; Path=/" % urllib.parse.quote(CSRF_TOKEN, safe=""))
            body = base64.b64decode(rule["body_b64"]) if "body_b64" in rule else rule.get("body", "")
            if rule.get("echo"):
                if isinstance(body, str):
                    body = body.encode()
                body = body.replace(b"{{request}}", base64.b64decode(record["body"]))
            headers = rule.get("headers", [])
            content_type = rule.get("content_type", "application/json")
            if rule.get("repeat", 1) != 1:
                if isinstance(body, str):
                    body = body.encode()
                return self.answer_repeated(rule.get("status", 200), body, rule["repeat"], content_type, cookies,
                                            headers, rule.get("length", True), record)
            return self.answer(rule.get("status", 200), body, content_type, cookies, headers)

        if method == "GET" and path == "/sanctum/csrf-cookie":
            return self.csrf_cookie()
        if method == "POST" and path == "/api/v1/auth/login":
            return self.login(body)
        if method == "POST" and path == "/api/v1/auth/register":
            return self.register(body)
        if method == "GET" and path == "/api/v1/auth/me":
            user = self.signed_in_user()
            if user is None:
                return self.answer(401, {"message": "Unauthenticated."})
            return self.answer(200, {"user": user_record(user)})
        if method == "POST" and path == "/api/v1/auth/logout":
            if not self.csrf_ok():
                return self.answer(419, {"message": "CSRF token mismatch."})
            token = self.bearer()
            with LOCK:
                known = STATE["tokens"].pop(token, None)
            if known is None:
                return self.answer(401, {"message": "Unauthenticated."})
            return self.answer(204)
        if method == "POST" and path == "/api/v1/files":
            return self.upload(body, record)
        self.answer(404, {"message": "Not Found"})

    def control(self, method, path, body):
        if path == "/__fake/configure" and method == "POST":
            update = json.loads(body or b"{}")
            with LOCK:
                options = STATE["options"]
                for key, value in update.items():
                    if key == "csrf":
                        options["csrf"].update(value)
                    elif key == "rules":
                        options["rules"].extend(value)
                    else:
                        options[key] = value
            return self.answer(200, {"ok": True})
        if path == "/__fake/requests":
            with LOCK:
                return self.answer(200, STATE["requests"])
        if path == "/__fake/reset" and method == "POST":
            with LOCK:
                STATE["requests"].clear()
            return self.answer(200, {"ok": True})
        if path == "/__fake/tokens":
            with LOCK:
                return self.answer(200, STATE["tokens"])
        self.answer(404, {"message": "no such control"})

    # -- the service -----------------------------------------------------------------------
    def csrf_cookie(self):
        with LOCK:
            csrf = dict(STATE["options"]["csrf"])
        cookies = []
        if csrf.get("set_cookie"):
            value = csrf.get("cookie_value")
            if value is None:
                value = urllib.parse.quote(CSRF_TOKEN, safe="")
            cookies.append("%s=%s; Path=/; SameSite=Lax" % (csrf.get("cookie_name", "XSRF-TOKEN"), value))
            cookies.append("kestrova_session=s3ss10n; Path=/; HttpOnly; SameSite=Lax")
        status = csrf.get("status", 204)
        body = b"" if status < 400 else b"<html><body><h1>Server Error</h1></body></html>"
        self.answer(status, body, "text/html", cookies)

    def json_body(self, body):
        try:
            value = json.loads(body)
            return value if isinstance(value, dict) else None
        except ValueError:
            return None

    def login(self, body):
        if not self.csrf_ok():
            return self.answer(419, {"message": "CSRF token mismatch."})
        data = self.json_body(body)
        if data is None:
            return self.answer(400, {"message": "The request body is not a JSON object."})
        with LOCK:
            user = STATE["users"].get(data.get("email"))
        if user is None or user["password"] != data.get("password"):
            return self.answer(422, {"message": "The provided credentials are incorrect.",
                                     "errors": {"email": ["These credentials do not match our records."]}})
        self.token_answer(user, 200)

    def register(self, body):
        if not self.csrf_ok():
            return self.answer(419, {"message": "CSRF token mismatch."})
        data = self.json_body(body)
        if data is None:
            return self.answer(400, {"message": "The request body is not a JSON object."})
        errors = {}
        name, email = data.get("name"), data.get("email")
        password, confirmation = data.get("password"), data.get("password_confirmation")
        if not isinstance(name, str) or not name:
            errors["name"] = ["The name field is required."]
        with LOCK:
            taken = email in STATE["users"]
        if not isinstance(email, str) or "@" not in email:
            errors["email"] = ["The email field must be a valid email address."]
        elif taken:
            errors["email"] = ["The email has already been taken."]
        if not isinstance(password, str) or len(password) < 8:
            errors["password"] = ["The password field must be at least 8 characters."]
        elif password != confirmation:
            errors["password"] = ["The password field confirmation does not match."]
        if errors:
            first = next(iter(errors.values()))[0]
            return self.answer(422, {"message": first, "errors": errors})
        with LOCK:
            user = {"id": STATE["next_user"], "name": name, "email": email, "password": password}
            STATE["next_user"] += 1
            STATE["users"][email] = user
        self.token_answer(user, 201)

    def upload(self, body, record):
        user = self.signed_in_user()
        if user is None:
            return self.answer(401, {"message": "Unauthenticated."})
        summary, why = parse_multipart(self.headers.get("Content-Type") or "", body)
        if summary is None:
            return self.answer(400, {"message": "Malformed multipart body: " + why})
        with LOCK:
            record["multipart"] = summary
            file_id = STATE["next_file"]
            STATE["next_file"] += 1
        name = base64.b64decode(summary["filename"]).decode("utf-8", "replace")
        slug = "f%d" % file_id
        host = "http://%s:%d" % self.server.server_address[:2]
        self.answer(201, {
            "file": {
                "id": file_id,
                "user_id": user["id"],
                "file_name": name,
                "original_name": name,
                "mime_type": summary["content_type"],
                "file_size": summary["size"],
                "storage_provider": "local",
                "storage_path": "uploads/" + slug,
                "is_public": summary["is_public"] == "1",
                "slug": slug,
                "public_url": host + "/f/" + slug,
                "created_at": "2024-01-01T00:00:00.000000Z",
                "updated_at": "2024-01-01T00:00:00.000000Z",
            },
            "url": host + "/f/" + slug,
            "message": "File uploaded",
        })


def main():
    lifetime = fake_http.lifetime()
    server = fake_http.loopback_server(Handler)
    threading.Timer(lifetime, lambda: os._exit(0)).start()

    def watch_stdin():
        try:
            sys.stdin.buffer.read()
        finally:
            os._exit(0)

    threading.Thread(target=watch_stdin, daemon=True).start()
    fake_http.announce(server)
    server.serve_forever()


if __name__ == "__main__":
    main()
