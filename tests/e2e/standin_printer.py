#!/usr/bin/env python3
"""A stand-in network printer for the Printer Application's tests.

It takes job streams on a TCP port (the socket protocol: every connection's
bytes appended to OUTDIR/job-N) and answers SNMP version 1 requests on UDP
port 161 of 127.0.0.1 for the objects a printer application asks for: the
IEEE 1284 device ID (the PWG printer port monitor MIB) and the printer MIB's
marker supplies and colorants. What it answers comes from files in STATEDIR,
read for every request, so that a test changes the printer as it goes:

  device-id   the device ID; without the file the printer gives none
  supplies    one supply a line: "COLOUR LEVEL DESCRIPTION" (level in
              percent); without the file the printer reports no supplies
  silent      while it exists, no SNMP request is answered at all
  refuse      while it exists, a job's connection is closed at once, unread
  stall       while it exists, a job's connection is kept open and never
              read (a jammed printer); when it exists at the start, the
              connections' receive buffers are small, so that they fill soon

Usage: standin_printer.py PORT OUTDIR STATEDIR READYFILE
"""
import os
import socket
import struct
import sys
import threading

# ---- BER, as much of it as SNMP version 1 needs ----
INTEGER, OCTET_STRING, NULL, OID, SEQUENCE = 0x02, 0x04, 0x05, 0x06, 0x30
GET, GETNEXT, RESPONSE = 0xA0, 0xA1, 0xA2
NO_SUCH_NAME = 2


def length_bytes(n):
    if n < 0x80:
        return bytes([n])
    body = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(body)]) + body


def tlv(tag, body):
    return bytes([tag]) + length_bytes(len(body)) + body


def ber_int(value):
    return tlv(INTEGER, value.to_bytes(max(1, (value.bit_length() + 8) // 8), "big", signed=True))


def ber_oid(oid):
    body = bytes([oid[0] * 40 + oid[1]])
    for part in oid[2:]:
        chunk = [part & 0x7F]
        part >>= 7
        while part:
            chunk.insert(0, 0x80 | (part & 0x7F))
            part >>= 7
        body += bytes(chunk)
    return tlv(OID, body)


def read_tlv(data, at):
    tag = data[at]
    n = data[at + 1]
    at += 2
    if n & 0x80:
        count = n & 0x7F
        n = int.from_bytes(data[at:at + count], "big")
        at += count
    return tag, data[at:at + n], at + n


def parse_oid(body):
    oid = [body[0] // 40, body[0] % 40]
    value = 0
    for byte in body[1:]:
        value = (value << 7) | (byte & 0x7F)
        if not byte & 0x80:
            oid.append(value)
            value = 0
    return tuple(oid)


def parse_request(data):
    _, message, _ = read_tlv(data, 0)
    _, version, at = read_tlv(message, 0)
    _, community, at = read_tlv(message, at)
    pdu_type, pdu, _ = read_tlv(message, at)
    _, request_id, at = read_tlv(pdu, 0)
    _, _, at = read_tlv(pdu, at)  # error-status
    _, _, at = read_tlv(pdu, at)  # error-index
    _, bindings, _ = read_tlv(pdu, at)
    oids = []
    at = 0
    while at < len(bindings):
        _, binding, at = read_tlv(bindings, at)
        _, oid, _ = read_tlv(binding, 0)
        oids.append(parse_oid(oid))
    return version, community, pdu_type, request_id, oids


def response(version, community, request_id, error, bindings):
    body = b"".join(tlv(SEQUENCE, ber_oid(oid) + value) for oid, value in bindings)
    pdu = ber_int(int.from_bytes(request_id, "big", signed=True)) + ber_int(error) + \
        ber_int(1 if error else 0) + tlv(SEQUENCE, body)
    return tlv(SEQUENCE, tlv(INTEGER, version) + tlv(OCTET_STRING, community) +
               tlv(RESPONSE, pdu))


# ---- The printer's objects ----
DEVICE_ID = (1, 3, 6, 1, 4, 1, 2699, 1, 2, 1, 2, 1, 1, 3, 1)
ERROR_STATE = (1, 3, 6, 1, 2, 1, 25, 3, 5, 1, 2, 1)
LOCALIZATION = (1, 3, 6, 1, 2, 1, 43, 5, 1, 1, 2, 1)
CHARSET = (1, 3, 6, 1, 2, 1, 43, 7, 1, 1, 4, 1, 1)
SUPPLIES = (1, 3, 6, 1, 2, 1, 43, 11, 1, 1)
COLORANTS = (1, 3, 6, 1, 2, 1, 43, 12, 1, 1, 4, 1)
UTF8 = 106
TONER, CONSUMED, PERCENT = 3, 3, 19


def read_state(statedir, name):
    try:
        with open(os.path.join(statedir, name), "rb") as f:
            return f.read()
    except OSError:
        return None


def objects(statedir):
    table = {
        ERROR_STATE: tlv(OCTET_STRING, b"\x00\x00"),
        LOCALIZATION: ber_int(1),
        CHARSET: ber_int(UTF8),
    }
    device_id = read_state(statedir, "device-id")
    if device_id is not None:
        table[DEVICE_ID] = tlv(OCTET_STRING, device_id.strip(b"\n"))
    supplies = read_state(statedir, "supplies")
    for index, line in enumerate((supplies or b"").decode().splitlines(), start=1):
        if not line.strip():
            continue
        colour, level, description = line.split(" ", 2)
        columns = {1: ber_int(1), 2: ber_int(1), 3: ber_int(index), 4: ber_int(CONSUMED),
                   5: ber_int(TONER), 6: tlv(OCTET_STRING, description.encode()),
                   7: ber_int(PERCENT), 8: ber_int(100), 9: ber_int(int(level))}
        for column, value in columns.items():
            table[SUPPLIES + (column, 1, index)] = value
        table[COLORANTS + (index,)] = tlv(OCTET_STRING, colour.encode())
    return table


def serve_snmp(statedir):
    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    udp.bind(("127.0.0.1", 161))
    while True:
        data, peer = udp.recvfrom(65536)
        if os.path.exists(os.path.join(statedir, "silent")):
            continue
        try:
            version, community, pdu_type, request_id, oids = parse_request(data)
        except (IndexError, ValueError):
            continue
        print("snmp %s %s" % ({GET: "get", GETNEXT: "getnext"}.get(pdu_type, pdu_type),
                               " ".join(".".join(map(str, oid)) for oid in oids)),
              file=sys.stderr, flush=True)
        table = objects(statedir)
        bindings, error = [], 0
        for oid in oids:
            if pdu_type == GETNEXT:
                following = sorted(key for key in table if key > oid)
                if not following:
                    error = NO_SUCH_NAME
                    bindings.append((oid, tlv(NULL, b"")))
                    continue
                oid = following[0]
            elif oid not in table:
                error = NO_SUCH_NAME
                bindings.append((oid, tlv(NULL, b"")))
                continue
            bindings.append((oid, table[oid]))
        udp.sendto(response(version, community, request_id, error, bindings), peer)


def serve_jobs(port, outdir, statedir, ready):
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    if os.path.exists(os.path.join(statedir, "stall")):
        server.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    server.bind(("127.0.0.1", port))
    server.listen(8)
    with open(ready, "w") as f:
        f.write("ready\n")
    count = 0
    stalled = []
    while True:
        connection, _ = server.accept()
        if os.path.exists(os.path.join(statedir, "stall")):
            stalled.append(connection)
            continue
        if os.path.exists(os.path.join(statedir, "refuse")):
            # Reset at once (no lingering): the sender's writes fail.
            connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            connection.close()
            continue
        count += 1
        threading.Thread(target=take_job, args=(connection, os.path.join(outdir, "job-%d" % count)),
                         daemon=True).start()


def take_job(connection, path):
    received = bytearray()
    while True:
        data = connection.recv(65536)
        if not data:
            break
        received += data
    connection.close()
    # A connection that brought nothing was a status request.
    if received:
        with open(path + ".part", "wb") as f:
            f.write(received)
        os.rename(path + ".part", path)


def main():
    port, outdir, statedir, ready = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
    threading.Thread(target=serve_snmp, args=(statedir,), daemon=True).start()
    serve_jobs(port, outdir, statedir, ready)


if __name__ == "__main__":
    main()
