#!/usr/bin/env python3
"""A scripted HTTP server for tests.

It listens on a free loopback port (printed as the first line of stdout),
records every request it receives (raw bytes, one file per request, written
before the answer goes out) and answers from a script of rules:

  {"raw": false,                                  # true: the first receive is the request
   "rules": [
     {"path": "/prefix", "method": "GET",        # optional matches
      "times": 1,                                 # uses; 0 = unlimited
      "response": "HTTP/1.1 200 OK\\r\\n...",     # latin-1 text sent as is
      "chunks": [{"data": "...", "delay_ms": 50}], # or sent in pieces
      "body_size": 0, "body_byte": "x",           # then a generated body
      "hold": false,                               # then wait for the client to close
      "silent": false,                             # answer nothing, wait for the close
      "until": "/open/x", "until_ms": 60000,      # first hold the answer until a request
                                                  # for that path arrived (at most until_ms);
                                                  # a final "*" stands for the rest of the
                                                  # target after the rule's path
      "digest": {"realm": ..., "nonce": ..., "qop": ..., "algorithm": ...,
                 "opaque": ..., "user": ..., "password": ...}}  # challenge first
  ]}

A connection whose first byte is a TLS record (0x16) is served over TLS with
--cert/--key, so one port serves both http and https.
"""
import argparse
import base64
import hashlib
import json
import os
import socket
import socketserver
import ssl
import sys
import threading
import time

LOCK = threading.Lock()
STATE = {"count": 0, "rules": [], "used": [], "seen": []}
# Notified whenever a request arrives (for rules held "until" another one).
ARRIVED = threading.Condition(LOCK)
ARGS = None


def read_request(conn):
    if STATE.get("raw"):
        # Not HTTP (a SOCKS greeting, say): one receive is the request.
        return conn.recv(65536)
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(65536)
        if not chunk:
            return data
        data += chunk
        if len(data) > 4 * 1024 * 1024:
            return data
    head, _, rest = data.partition(b"\r\n\r\n")
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            try:
                length = int(value.strip())
            except ValueError:
                length = 0
    while len(rest) < length:
        chunk = conn.recv(65536)
        if not chunk:
            break
        rest += chunk
    return head + b"\r\n\r\n" + rest


def parse_head(raw):
    head = raw.split(b"\r\n\r\n", 1)[0].decode("latin-1")
    lines = head.split("\r\n")
    parts = lines[0].split(" ")
    method = parts[0] if parts else ""
    target = parts[1] if len(parts) > 1 else ""
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers.setdefault(name.strip().lower(), value.strip())
    body = raw.split(b"\r\n\r\n", 1)[1] if b"\r\n\r\n" in raw else b""
    return method, target, headers, body


def pick_rule(method, target):
    with LOCK:
        for i, rule in enumerate(STATE["rules"]):
            times = rule.get("times", 1)
            if times and STATE["used"][i] >= times:
                continue
            if "path" in rule and not target.startswith(rule["path"]):
                continue
            if "method" in rule and rule["method"] != method:
                continue
            return i, rule
    return None, None


def digest_params(text):
    params = {}
    text = text.strip()
    i = 0
    while i < len(text):
        eq = text.find("=", i)
        if eq < 0:
            break
        name = text[i:eq].strip().lstrip(",").strip()
        j = eq + 1
        if j < len(text) and text[j] == '"':
            end = text.find('"', j + 1)
            value = text[j + 1:end]
            i = end + 1
        else:
            end = text.find(",", j)
            end = len(text) if end < 0 else end
            value = text[j:end].strip()
            i = end
        params[name] = value
        comma = text.find(",", i)
        i = len(text) if comma < 0 else comma + 1
    return params


def md5(text):
    return hashlib.md5(text.encode("latin-1")).hexdigest()


def digest_ok(d, method, target, headers, body):
    auth = headers.get("authorization", "")
    if not auth.lower().startswith("digest "):
        return False
    p = digest_params(auth[7:])
    if p.get("username") != d["user"] or p.get("realm") != d["realm"] or p.get("nonce") != d["nonce"]:
        return False
    if p.get("uri") != target:
        return False
    if d.get("opaque") and p.get("opaque") != d["opaque"]:
        return False
    ha1 = md5("%s:%s:%s" % (d["user"], d["realm"], d["password"]))
    if (d.get("algorithm") or "").lower() == "md5-sess":
        ha1 = md5("%s:%s:%s" % (ha1, d["nonce"], p.get("cnonce", "")))
    qop = p.get("qop")
    if qop == "auth-int":
        ha2 = md5("%s:%s:%s" % (method, target, hashlib.md5(body).hexdigest()))
    else:
        ha2 = md5("%s:%s" % (method, target))
    if d.get("qop"):
        offered = [q.strip() for q in d["qop"].split(",")]
        if qop not in offered:
            return False
        expected = md5("%s:%s:%s:%s:%s:%s" % (ha1, d["nonce"], p.get("nc", ""), p.get("cnonce", ""), qop, ha2))
    else:
        if qop:
            return False
        expected = md5("%s:%s:%s" % (ha1, d["nonce"], ha2))
    return p.get("response") == expected


def challenge(d):
    parts = ['Digest realm="%s"' % d["realm"], 'nonce="%s"' % d["nonce"]]
    if d.get("opaque"):
        parts.append('opaque="%s"' % d["opaque"])
    if d.get("algorithm"):
        parts.append("algorithm=%s" % d["algorithm"])
    if d.get("qop"):
        parts.append('qop="%s"' % d["qop"])
    return ", ".join(parts)


def wait_close(conn):
    try:
        while conn.recv(65536):
            pass
    except OSError:
        pass


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        conn = self.request
        tls = False
        try:
            first = conn.recv(1, socket.MSG_PEEK)
            if first == b"\x16" and ARGS.cert:
                ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
                ctx.load_cert_chain(ARGS.cert, ARGS.key)
                conn = ctx.wrap_socket(conn, server_side=True)
                tls = True
            raw = read_request(conn)
        except (OSError, ssl.SSLError):
            return
        if not raw:
            return
        method, target, headers, body = parse_head(raw)
        with LOCK:
            STATE["count"] += 1
            n = STATE["count"]
        name = os.path.join(ARGS.log_dir, "req-%04d-%s.bin" % (n, "tls" if tls else "plain"))
        with open(name + ".part", "wb") as f:
            f.write(raw)
        os.rename(name + ".part", name)
        with ARRIVED:
            STATE["seen"].append(target)
            ARRIVED.notify_all()
        index, rule = pick_rule(method, target)
        try:
            if rule is None:
                conn.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 7\r\nConnection: close\r\n\r\nno rule")
                return
            d = rule.get("digest")
            if d and not digest_ok(d, method, target, headers, body):
                msg = ("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: %s\r\nContent-Length: 0\r\n"
                       "Connection: close\r\n\r\n" % challenge(d))
                conn.sendall(msg.encode("latin-1"))
                return
            with LOCK:
                STATE["used"][index] += 1
            if rule.get("until"):
                gate = rule["until"]
                if gate.endswith("*"):
                    gate = gate[:-1] + target.split("?")[0][len(rule.get("path", "")):]
                with ARRIVED:
                    ARRIVED.wait_for(lambda: any(t.split("?")[0] == gate for t in STATE["seen"]),
                                     rule.get("until_ms", 60000) / 1000.0)
            if rule.get("silent"):
                wait_close(conn)
                return
            if "response" in rule:
                conn.sendall(rule["response"].encode("latin-1"))
            if "response_b64" in rule:
                conn.sendall(base64.b64decode(rule["response_b64"]))
            for chunk in rule.get("chunks", []):
                if chunk.get("delay_ms"):
                    time.sleep(chunk["delay_ms"] / 1000.0)
                conn.sendall(chunk.get("data", "").encode("latin-1"))
            size = rule.get("body_size", 0)
            if size:
                block = (rule.get("body_byte", "x").encode("latin-1")) * (1 << 20)
                while size > 0:
                    piece = block[:min(size, len(block))]
                    conn.sendall(piece)
                    size -= len(piece)
            if rule.get("hold"):
                wait_close(conn)
        except (OSError, ssl.SSLError):
            pass
        finally:
            try:
                conn.shutdown(socket.SHUT_WR)
            except OSError:
                pass


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--script", required=True)
    parser.add_argument("--log-dir", required=True)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    ARGS = parser.parse_args()
    with open(ARGS.script) as f:
        script = json.load(f)
    STATE["rules"] = script.get("rules", [])
    STATE["used"] = [0] * len(STATE["rules"])
    STATE["raw"] = bool(script.get("raw"))
    server = Server(("127.0.0.1", 0), Handler)
    sys.stdout.write("%d\n" % server.server_address[1])
    sys.stdout.flush()
    server.serve_forever()


if __name__ == "__main__":
    main()
