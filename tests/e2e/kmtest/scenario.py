"""The servers a Windows-side test drives itself: a content server (files under "/files/"), a
file mirror (files under "/m/") and a control server through which the test, from inside
Wine, adds files, sets rules (server.Rule's fields) and reads what was requested:

  /reset                                   both servers empty, their rules and records cleared
  /file?name=N&size=S[&at=A][&seed=K]      adds S pseudo-random bytes as N; answers "CRC SIZE"
  /rule?name=N[&at=A]&FIELD=VALUE...       a rule for N, e.g. status=500&status_times=2;
                                           wrong=1 serves bytes of the right length but wrong
  /requests?at=A                           a line per GET: "PATH RANGE", in arrival order
  /in_flight?at=A                          the most GET requests answered at one time

A is "server", "mirror" or "both" (the default). All requests are GETs, which WinINet makes
most simply.
"""
import http.server
import random
import threading
import urllib.parse

from kmtest.server import ContentServer, Rule, crc32

_INTEGERS = {"status", "status_times", "cut_after", "cut_times", "body_times"}
_FLOATS = {"answer_after", "delay_per_chunk"}
_FLAGS = {"ignore_range", "close", "wrong_ranges"}


class Scenario:
    def __init__(self):
        self.servers = {"server": ContentServer(prefix="/files/"), "mirror": ContentServer(prefix="/m/")}
        outer = self

        class Control(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                url = urllib.parse.urlsplit(self.path)
                query = dict(urllib.parse.parse_qsl(url.query))
                try:
                    status, text = 200, outer.answer(url.path, query)
                except (KeyError, ValueError) as problem:
                    status, text = 400, "bad control request: %r" % (problem,)
                body = text.encode()
                self.send_response(status)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

        self.control = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Control)
        self.control.daemon_threads = True
        threading.Thread(target=self.control.serve_forever, daemon=True).start()

    def environment(self):
        return {
            "KM_TEST_FILES": self.servers["server"].url + "/files/",
            "KM_TEST_MIRROR": self.servers["mirror"].url + "/m",
            "KM_TEST_CONTROL": "http://127.0.0.1:%d" % self.control.server_address[1],
        }

    def stop(self):
        self.control.shutdown()
        for server in self.servers.values():
            server.stop()

    def chosen(self, query):
        at = query.get("at", "both")
        return list(self.servers.values()) if at == "both" else [self.servers[at]]

    def answer(self, path, query):
        if path == "/reset":
            for server in self.servers.values():
                server.drop_connections()
                with server.lock:
                    server.files.clear()
                    server.rules.clear()
                    server.requests.clear()
                    server.max_in_flight = 0
            return "OK"
        if path == "/file":
            data = random.Random(query.get("seed", query["name"])).randbytes(int(query["size"]))
            for server in self.chosen(query):
                server.files[query["name"]] = data
            return "%08X %d" % (crc32(data), len(data))
        if path == "/rule":
            return self.set_rule(query)
        if path == "/requests":
            server, = self.chosen(query)
            with server.lock:
                return "".join("%s %s\n" % (r.path, r.headers.get("Range", "")) for r in server.requests
                               if r.method == "GET")
        if path == "/in_flight":
            server, = self.chosen(query)
            return str(server.max_in_flight)
        raise KeyError(path)

    def set_rule(self, query):
        fields = {}
        for key, value in query.items():
            if key in _INTEGERS:
                fields[key] = int(value)
            elif key in _FLOATS:
                fields[key] = float(value)
            elif key in _FLAGS:
                fields[key] = value == "1"
        for server in self.chosen(query):
            name = query["name"]
            if query.get("wrong") == "1":
                fields["body"] = bytes(len(server.files[name]))
            server.rules[server.prefix + name] = Rule(**fields)
        return "OK"
