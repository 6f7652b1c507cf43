#!/usr/bin/python3
"""A local fake of the Yandex Disk REST API and the Yandex OAuth authorisation page.

Binds 127.0.0.1 on an ephemeral port, prints "PORT <n>" on the first line of stdout and stops by
itself after --lifetime seconds (default 120).

Service, under /v1/disk, as the client uses it:
  PUT  /resources?path=P                      create a folder: 201, or 409 when it exists or its parent is missing
  GET  /resources/upload?path=P&overwrite=..  200 {"href": <upload address>, "method": "PUT"}
  PUT  /upload/<id>                           the bytes (no token needed): 201
  PUT  /resources/publish?path=P              200 {"href": ...}; with "publish_async" 202 and an operation href
  GET  /operations/<id>                       {"status": "success" | "in-progress" | ...}
  GET  /resources?path=P[&fields=...]         the resource, with "public_url" once published
Every /v1/disk request needs "Authorization: OAuth <token>" (default token "test-token"), else 401.

OAuth:
  GET /authorize?response_type=token&client_id=..&redirect_uri=..&scope=..
      302 to redirect_uri + "#access_token=<oauth_token>&token_type=bearer&expires_in=31536000"
  GET /verification_code                      a plain page

Control (tests only):
  POST /_control/config   JSON merged into the configuration:
      token, oauth_token, publish_async (bool), operation_states (list, the last one repeats),
      public_url_after (resource reads before the link shows; -1 never),
      overrides: {route: [response, ...]}, each response consumed once (or "times": n, -1 forever):
          {"status": 500, "json": {...} | "body": "text" | "body_base64": "...", "headers": {...}, "delay": seconds,
           "close": true (hang up without an answer; HTTP clients may send the request again),
           "truncate": true (hang up in the middle of the answer),
           "trickle": seconds (the body one byte at a time, this long apart)}
      routes: mkdir, upload_url, upload, publish, operation, resource, test, authorize, and "unknown" for
      any other address
      operation_origin: scheme, host and port of the operation addresses of 202 answers (default this fake)
  POST /_control/reset    back to the defaults, request log and files emptied
  GET  /_control/log      JSON list of the requests: route ("unknown" for any other address), method,
                          path, query (raw), headers, body_size, time
  GET  /_control/files    JSON map from Disk path to byte count
"""
import base64
import json
import sys
import threading
import time
import uuid
from urllib.parse import parse_qs, urlsplit

import fake_http

DEFAULTS = {
    "token": "test-token",
    "oauth_token": "oauth-token-1",
    "publish_async": False,
    "operation_states": ["success"],
    "public_url_after": 0,
    "overrides": {},
    "operation_origin": None,
}


class State:
    def __init__(self):
        self.lock = threading.Lock()
        self.reset()

    def reset(self):
        self.config = json.loads(json.dumps(DEFAULTS))
        self.log = []
        self.files = {}
        self.folders = {"app:/"}
        self.uploads = {}     # upload id -> path
        self.published = {}   # path -> resource reads since publishing
        self.operations = {}  # operation id -> status requests so far


STATE = State()


def normalise(path):
    return path[:-1] if path.endswith("/") and path != "app:/" else path


def parent_of(path):
    head, _, _ = path.rpartition("/")
    return "app:/" if head in ("app:", "") else head


class Handler(fake_http.QuietHandler):
    # -- plumbing -------------------------------------------------------------------------------
    def answer(self, status, payload=None, raw=None, headers=None):
        data = raw if raw is not None else (b"" if payload is None else json.dumps(payload, ensure_ascii=False).encode())
        fields = []
        if data and "Content-Type" not in (headers or {}):
            fields.append(("Content-Type", "application/json; charset=utf-8" if raw is None else "text/plain; charset=utf-8"))
        fields.extend((headers or {}).items())
        self.send_all(status, fields, data)

    def override(self, route):
        with STATE.lock:
            queue = STATE.config["overrides"].get(route) or []
            if not queue:
                return None
            entry = queue[0]
            times = entry.get("times", 1)
            if times != -1:
                times -= 1
                if times <= 0:
                    queue.pop(0)
                else:
                    entry["times"] = times
            return dict(entry)

    def play(self, entry):
        if entry.get("delay"):
            time.sleep(entry["delay"])
        if entry.get("truncate"):
            # Promises a body and hangs up after a few bytes of it.
            self.send_response(entry.get("status", 200))
            self.send_header("Content-Length", "1000")
            self.end_headers()
            self.wfile.write(b'{"ha')
            self.wfile.flush()
            self.close_connection = True
            self.connection.shutdown(2)
            return
        if entry.get("trickle"):
            data = entry.get("body", "").encode()
            self.send_response(entry.get("status", 200))
            for name, value in (entry.get("headers") or {}).items():
                self.send_header(name, value)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            try:
                for i in range(len(data)):
                    self.wfile.write(data[i:i + 1])
                    self.wfile.flush()
                    time.sleep(entry["trickle"])
            except OSError:
                self.close_connection = True
            return
        if entry.get("close"):
            self.close_connection = True
            self.connection.shutdown(2)
            return
        if "json" in entry:
            self.answer(entry.get("status", 200), entry["json"], headers=entry.get("headers"))
        elif "body_base64" in entry:
            self.answer(entry.get("status", 200), raw=base64.b64decode(entry["body_base64"]), headers=entry.get("headers"))
        else:
            raw = entry.get("body", "").encode()
            self.answer(entry.get("status", 200), raw=raw, headers=entry.get("headers"))

    def origin(self):
        return "http://127.0.0.1:%d" % self.server.server_address[1]

    def record(self, route, size):
        parts = urlsplit(self.path)
        with STATE.lock:
            STATE.log.append({
                "route": route,
                "method": self.command,
                "path": parts.path,
                "query": parts.query,
                "headers": {k: v for k, v in self.headers.items()},
                "body_size": size,
                "time": time.monotonic(),
            })

    # -- dispatch -------------------------------------------------------------------------------
    def do_GET(self):
        self.dispatch()

    def do_PUT(self):
        self.dispatch()

    def do_POST(self):
        self.dispatch()

    def dispatch(self):
        payload = self.read_body()
        parts = urlsplit(self.path)
        path = parts.path
        query = {k: v[0] for k, v in parse_qs(parts.query, keep_blank_values=True).items()}

        if path.startswith("/_control/"):
            return self.control(path, payload)

        route = self.route_of(path, query)
        self.record(route or "unknown", len(payload))
        entry = self.override(route or "unknown")
        if entry is not None:
            return self.play(entry)
        if route is None:
            return self.answer(404, {"error": "NotFound", "message": "Не найдено", "description": "Not found"})
        if route == "authorize":
            return self.authorize(query)
        if route == "verification_code":
            return self.answer(200, raw=b"<html><body>verification</body></html>", headers={"Content-Type": "text/html"})
        if route == "upload":
            return self.store(path, payload)
        if self.headers.get("Authorization") != "OAuth " + STATE.config["token"]:
            return self.answer(401, {"message": "Не авторизован.", "description": "Unauthorized", "error": "UnauthorizedError"})
        getattr(self, "route_" + route)(query, path)

    def route_of(self, path, query):
        if path == "/authorize":
            return "authorize"
        if path == "/verification_code":
            return "verification_code"
        if path.startswith("/upload/") and self.command == "PUT":
            return "upload"
        if path == "/v1/disk/resources" and self.command == "PUT":
            return "mkdir"
        if path == "/v1/disk/resources/upload" and self.command == "GET":
            return "upload_url"
        if path == "/v1/disk/resources/publish" and self.command == "PUT":
            return "publish"
        if path.startswith("/v1/disk/operations/") and self.command == "GET":
            return "operation"
        if path == "/v1/disk/resources" and self.command == "GET":
            return "resource" if "fields" in query else "test"
        return None

    # -- the service ----------------------------------------------------------------------------
    def route_mkdir(self, query, _):
        target = normalise(query.get("path", ""))
        with STATE.lock:
            if target in STATE.folders:
                return self.answer(409, {"error": "DiskPathPointsToExistentDirectoryError",
                                         "message": "По указанному пути \"%s\" уже существует папка с таким именем." % target,
                                         "description": "Specified path points to existent directory."})
            if parent_of(target) not in STATE.folders:
                return self.answer(409, {"error": "DiskPathDoesntExistsError",
                                         "message": "Указанного пути \"%s\" не существует." % target,
                                         "description": "Specified path doesn't exists."})
            STATE.folders.add(target)
        self.answer(201, {"href": self.origin() + "/v1/disk/resources?path=" + target, "method": "GET", "templated": False})

    def route_upload_url(self, query, _):
        target = query.get("path", "")
        with STATE.lock:
            if parent_of(target) not in STATE.folders:
                return self.answer(409, {"error": "DiskPathDoesntExistsError",
                                         "message": "Указанного пути \"%s\" не существует." % target,
                                         "description": "Specified path doesn't exists."})
            if target in STATE.files and query.get("overwrite") != "true":
                return self.answer(409, {"error": "DiskResourceAlreadyExistsError",
                                         "message": "Ресурс \"%s\" уже существует." % target,
                                         "description": "Resource already exists"})
            upload_id = uuid.uuid4().hex
            STATE.uploads[upload_id] = target
        self.answer(200, {"operation_id": upload_id, "href": self.origin() + "/upload/" + upload_id,
                          "method": "PUT", "templated": False})

    def store(self, path, payload):
        upload_id = path[len("/upload/"):]
        with STATE.lock:
            target = STATE.uploads.pop(upload_id, None)
            if target is None:
                return self.answer(404, raw=b"unknown upload")
            STATE.files[target] = len(payload)
            STATE.published.pop(target, None)
        self.answer(201)

    def route_publish(self, query, _):
        target = query.get("path", "")
        with STATE.lock:
            if target not in STATE.files:
                return self.answer(404, {"error": "DiskNotFoundError", "message": "Не удалось найти запрошенный ресурс.",
                                         "description": "Resource not found."})
            STATE.published[target] = 0
            asynchronous = STATE.config["publish_async"]
            operation_id = uuid.uuid4().hex
            STATE.operations[operation_id] = 0
            operation_origin = STATE.config["operation_origin"] or self.origin()
        if asynchronous:
            return self.answer(202, {"href": operation_origin + "/v1/disk/operations/" + operation_id,
                                     "method": "GET", "templated": False})
        self.answer(200, {"href": self.origin() + "/v1/disk/resources?path=" + target, "method": "GET", "templated": False})

    def route_operation(self, _, path):
        operation_id = path.rsplit("/", 1)[-1]
        with STATE.lock:
            if operation_id not in STATE.operations:
                return self.answer(404, {"error": "DiskNotFoundError", "message": "Операция не найдена."})
            count = STATE.operations[operation_id]
            STATE.operations[operation_id] = count + 1
            states = STATE.config["operation_states"]
            status = states[min(count, len(states) - 1)]
        self.answer(200, {"status": status})

    def route_resource(self, query, _):
        target = query.get("path", "")
        with STATE.lock:
            if target not in STATE.files:
                return self.answer(404, {"error": "DiskNotFoundError", "message": "Не удалось найти запрошенный ресурс."})
            resource = {"name": target.rsplit("/", 1)[-1], "path": "disk:/Приложения/Kestrova/" + target[len("app:/"):]}
            if target in STATE.published:
                reads = STATE.published[target]
                STATE.published[target] = reads + 1
                after = STATE.config["public_url_after"]
                if after >= 0 and reads >= after:
                    resource["public_url"] = "https://yadi.sk/d/" + uuid.uuid5(uuid.NAMESPACE_URL, target).hex[:14]
        if query.get("fields"):
            wanted = set(query["fields"].split(","))
            resource = {k: v for k, v in resource.items() if k in wanted}
        self.answer(200, resource)

    def route_test(self, query, _):
        self.answer(200, {"path": query.get("path", ""), "type": "dir", "name": "Kestrova"})

    # -- OAuth ----------------------------------------------------------------------------------
    def authorize(self, query):
        missing = [k for k in ("response_type", "client_id", "redirect_uri", "scope") if not query.get(k)]
        if missing or query["response_type"] != "token":
            return self.answer(400, raw=b"bad request", headers={"Content-Type": "text/html"})
        location = query["redirect_uri"] + "#access_token=" + STATE.config["oauth_token"] + "&token_type=bearer&expires_in=31536000"
        self.answer(302, raw=b"", headers={"Location": location})

    # -- control --------------------------------------------------------------------------------
    def control(self, path, payload):
        if path == "/_control/config" and self.command == "POST":
            change = json.loads(payload or b"{}")
            with STATE.lock:
                overrides = change.pop("overrides", None)
                STATE.config.update(change)
                if overrides is not None:
                    STATE.config["overrides"].update(overrides)
            return self.answer(200, {"ok": True})
        if path == "/_control/reset" and self.command == "POST":
            with STATE.lock:
                STATE.reset()
            return self.answer(200, {"ok": True})
        if path == "/_control/log":
            with STATE.lock:
                return self.answer(200, STATE.log)
        if path == "/_control/files":
            with STATE.lock:
                return self.answer(200, STATE.files)
        self.answer(404, {"error": "no such control"})


def main():
    lifetime = fake_http.lifetime()
    server = fake_http.loopback_server(Handler)
    fake_http.announce(server)
    stopper = threading.Timer(lifetime, server.shutdown)
    stopper.daemon = True
    stopper.start()
    try:
        server.serve_forever(poll_interval=0.2)
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
