#!/usr/bin/env python3
"""A bare IPP client for the end-to-end tests, where the HTTP status matters
(401, 403) or where one attribute's copies in a response are counted.

  ipp_post.py URL OPERATION [--user NAME:PASSWORD] [--file DOC] ATTR...
      ATTR is GROUP.TAG.NAME=VALUE[,VALUE...] with GROUP op|printer|job and
      TAG uri|name|text|keyword|mime|integer|enum|lang|charset; the
      charset, language and target URI come first by themselves. Prints
      "HTTP <status> IPP <0xstatus>", then "NAME=VALUE" for each attribute
      of the response (first value).

  ipp_post.py --repeat URL COUNT CONNECTIONS NAME [REQUESTED] [--garbled-ok]
      COUNT Get-Printer-Attributes for REQUESTED (comma-separated; default
      all), over CONNECTIONS kept-alive connections in parallel. Prints one
      line per distinct (copies of NAME, response size): "COPIES SIZE
      REQUESTS". With --garbled-ok, a response cut short (or not finished
      within 5 s) or unreadable is counted (a line "garbled REQUESTS")
      rather than an error.

  ipp_post.py --stall SECONDS BYTES URL OPERATION [--file DOC] ATTR...
      The request in chunks, with only the first BYTES of DOC, and then
      nothing more (no last chunk): a client that falls silent. Waits up to
      SECONDS for the answer and prints it as above, or "no answer".
"""
import base64
import collections
import http.client
import socket
import struct
import sys
import threading
import urllib.parse

GROUPS = {"op": 0x01, "job": 0x02, "printer": 0x04}
TAGS = {"integer": 0x21, "boolean": 0x22, "enum": 0x23, "text": 0x41, "name": 0x42,
        "keyword": 0x44, "uri": 0x45, "charset": 0x47, "lang": 0x48, "mime": 0x49}
OPERATIONS = {"Print-Job": 0x02, "Validate-Job": 0x04, "Create-Job": 0x05,
              "Send-Document": 0x06, "Cancel-Job": 0x08, "Get-Job-Attributes": 0x09,
              "Get-Jobs": 0x0A, "Get-Printer-Attributes": 0x0B, "Create-Printer": 0x4C}


def value_bytes(tag, value):
    if tag in (0x21, 0x23):
        return struct.pack(">i", int(value))
    if tag == 0x22:
        return bytes([1 if value == "true" else 0])
    return value.encode()


def attribute(tag, name, values):
    out = b""
    for i, value in enumerate(values):
        data = value_bytes(tag, value)
        key = name.encode() if i == 0 else b""
        out += struct.pack(">BH", tag, len(key)) + key + struct.pack(">H", len(data)) + data
    return out


def request(operation, target, attrs, request_id=1):
    groups = collections.OrderedDict([(0x01, []), (0x02, []), (0x04, [])])
    target_name = "system-uri" if target.endswith("/ipp/system") else "printer-uri"
    groups[0x01] += [(0x47, "attributes-charset", ["utf-8"]),
                     (0x48, "attributes-natural-language", ["en"]),
                     (0x45, target_name, [target])]
    for item in attrs:
        head, _, values = item.partition("=")
        group, tag, name = head.split(".", 2)
        groups[GROUPS[group]].append((TAGS[tag], name, values.split(",")))
    body = struct.pack(">BBHI", 2, 0, OPERATIONS[operation], request_id)
    for group, items in groups.items():
        if items:
            body += bytes([group]) + b"".join(attribute(*item) for item in items)
    return body + b"\x03"


def parse(data):
    """The IPP status and the response's attributes as (name, first value)."""
    if len(data) < 8:
        return None, []
    status = struct.unpack(">H", data[2:4])[0]
    attrs, pos = [], 8
    while pos < len(data):
        tag = data[pos]
        pos += 1
        if tag == 0x03:
            break
        if tag < 0x10:
            continue
        name_len = struct.unpack(">H", data[pos:pos + 2])[0]
        name = data[pos + 2:pos + 2 + name_len].decode(errors="replace")
        pos += 2 + name_len
        value_len = struct.unpack(">H", data[pos:pos + 2])[0]
        raw = data[pos + 2:pos + 2 + value_len]
        pos += 2 + value_len
        if not name:
            continue
        if tag in (0x21, 0x23) and value_len == 4:
            value = str(struct.unpack(">i", raw)[0])
        elif tag >= 0x40:
            value = raw.decode(errors="replace")
        else:
            value = raw.hex()
        attrs.append((name, value))
    return status, attrs


def post(url, body, user=None, connection=None, timeout=60):
    parts = urllib.parse.urlsplit(url.replace("ipp://", "http://", 1))
    conn = connection or http.client.HTTPConnection(parts.hostname, parts.port, timeout=timeout)
    headers = {"Content-Type": "application/ipp"}
    if user:
        headers["Authorization"] = "Basic " + base64.b64encode(user.encode()).decode()
    conn.request("POST", parts.path, body=body, headers=headers)
    response = conn.getresponse()
    return response.status, response.read(), conn


def repeat(url, count, connections, name, requested="all", garbled_ok=False):
    results = collections.Counter()
    lock = threading.Lock()
    body = request("Get-Printer-Attributes", url, ["op.keyword.requested-attributes=" + requested])
    shares = [count // connections + (1 if i < count % connections else 0)
              for i in range(connections)]
    errors = []

    retried = []
    garbled = []
    # A response cut short keeps its client waiting for the rest until the
    # server's idle time-out (30 s): where that is expected, it is waited
    # for only a few seconds.
    timeout = 5 if garbled_ok else 60

    def worker(share):
        conn = None
        for _ in range(share):
            # A kept-alive connection the server ends, even mid-answer, is
            # opened again for the request, as clients do; twice in a row
            # is an error.
            for attempt in range(3):
                try:
                    status, data, conn = post(url, body, connection=conn, timeout=timeout)
                    break
                except (OSError, http.client.HTTPException) as error:
                    if conn is not None:
                        conn.close()
                    conn = None
                    if garbled_ok and isinstance(error, (http.client.IncompleteRead, TimeoutError)):
                        data = None
                        break
                    if attempt == 2:
                        errors.append(str(error))
                        return
                    retried.append(str(error))
            try:
                copies = None if data is None else sum(1 for attr, _ in parse(data)[1] if attr == name)
            except (struct.error, IndexError):
                if not garbled_ok:
                    errors.append(f"an unreadable response of {len(data)} bytes")
                    return
                copies = None
            if copies is None:
                garbled.append(1)
                continue
            with lock:
                results[(status, copies, len(data))] += 1

    threads = [threading.Thread(target=worker, args=(share,)) for share in shares]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    if retried:
        print(f"note: {len(retried)} requests sent again ({retried[0]})", file=sys.stderr)
    if errors:
        print("error: " + errors[0], file=sys.stderr)
        return 1
    if garbled:
        print(f"garbled {len(garbled)}")
    for (status, copies, size), requests in sorted(results.items()):
        print(f"{copies} {size} {requests}" if status == 200 else f"HTTP {status} {requests}")
    return 0


def stall(url, seconds, body):
    parts = urllib.parse.urlsplit(url.replace("ipp://", "http://", 1))
    with socket.create_connection((parts.hostname, parts.port), timeout=seconds) as sock:
        head = (f"POST {parts.path} HTTP/1.1\r\nHost: {parts.hostname}:{parts.port}\r\n"
                "Content-Type: application/ipp\r\nTransfer-Encoding: chunked\r\n\r\n")
        sock.sendall(head.encode() + b"%x\r\n" % len(body) + body + b"\r\n")
        response = http.client.HTTPResponse(sock)
        try:
            response.begin()
            return response.status, response.read()
        except (TimeoutError, socket.timeout):
            return None, b""


def main(argv):
    stall_for = None
    if argv[1] == "--stall":
        stall_for, sent = float(argv[2]), int(argv[3])
        argv = argv[:1] + argv[4:]
    if argv[1] == "--repeat":
        garbled_ok = "--garbled-ok" in argv
        rest = [arg for arg in argv[6:] if arg != "--garbled-ok"]
        return repeat(argv[2], int(argv[3]), int(argv[4]), argv[5], *rest[:1],
                      garbled_ok=garbled_ok)
    url, operation, rest = argv[1], argv[2], argv[3:]
    user = document = None
    attrs = []
    while rest:
        item = rest.pop(0)
        if item == "--user":
            user = rest.pop(0)
        elif item == "--file":
            document = rest.pop(0)
        else:
            attrs.append(item)
    body = request(operation, url, attrs)
    if document:
        with open(document, "rb") as f:
            body += f.read() if stall_for is None else f.read(sent)
    if stall_for is not None:
        status, data = stall(url, stall_for, body)
        if status is None:
            print("no answer")
            return 0
    else:
        status, data, _ = post(url, body, user)
    ipp_status, response = parse(data) if status == 200 else (None, [])
    print(f"HTTP {status} IPP " + ("-" if ipp_status is None else f"0x{ipp_status:04x}"))
    for name, value in response:
        print(f"{name}={value}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
