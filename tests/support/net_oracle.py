#!/usr/bin/python3
"""Independent answers for the address-text and DNS tests, from Python's
socket/ipaddress modules and dnslib.

  net_oracle.py pton             stdin: texts; prints inet_pton hex or ERR
  net_oracle.py texts N SEED     N valid IPv6 texts: "text<TAB>hex"
  net_oracle.py reverse N SEED   "address<TAB>reverse_pointer"
  net_oracle.py request          stdin: hex requests; prints how dnslib reads them
  net_oracle.py responses        "hex<TAB>summary" of dnslib-built responses
"""
import ipaddress
import random
import socket
import sys

from dnslib import AAAA, CNAME, MX, NS, PTR, QTYPE, RR, SOA, TXT, A, DNSRecord

# Kept per kind, as the resolver documents it: 51 of A, MX, AAAA; 11 others.
CAPS = {QTYPE.A: 51, QTYPE.MX: 51, QTYPE.AAAA: 51}
OTHER_CAP = 11


def pton_hex(text):
    try:
        return socket.inet_pton(socket.AF_INET6, text).hex()
    except OSError:
        return "ERR"


def random_text(rng):
    groups = [rng.choice([0, 0, 1, rng.randrange(65536), rng.randrange(256)]) for _ in range(8)]
    digits = [rng.choice(["%x", "%X", "%04x", "%02x"]) % g for g in groups]
    if rng.random() < 0.7:  # replace one run of groups by "::"
        start = rng.randrange(8)
        end = rng.randrange(start + 1, 9)
        if end - start >= 1 and (start, end) != (0, 8) or rng.random() < 0.1:
            for i in range(start, end):
                groups[i] = 0
            head = ":".join(digits[:start])
            tail = ":".join(digits[end:])
            return head + "::" + tail
    return ":".join(digits)


def name_of(label):
    return str(label).rstrip(".")


def summary(raw):
    """What a reader of the response must find, one line per item."""
    rec = DNSRecord.parse(raw)
    h = rec.header
    q = rec.questions[0]
    lines = ["H %d %d %d %d %d" % (h.id, h.rcode, h.aa, h.tc, h.a), "Q %s %d" % (name_of(q.qname), q.qtype)]
    kept = {}
    for rr in rec.rr:
        kind = rr.rtype if rr.rtype in CAPS else "other"
        index = kept.get(kind, 0)
        if index >= CAPS.get(kind, OTHER_CAP):
            value, index = "-", -1
        else:
            kept[kind] = index + 1
            if rr.rtype == QTYPE.A:
                value = str(rr.rdata)
            elif rr.rtype == QTYPE.AAAA:
                value = ipaddress.IPv6Address(str(rr.rdata)).packed.hex()
            elif rr.rtype == QTYPE.MX:
                value = "%d %s" % (rr.rdata.preference, name_of(rr.rdata.label))
            elif rr.rtype == QTYPE.TXT:
                value = rr.rdata.data[0].decode("latin-1")
            elif rr.rtype == QTYPE.SOA:
                value = name_of(rr.rdata.mname)
            else:
                value = name_of(rr.rdata.label)
        lines.append("R %s %d %d %d %d %s" % (name_of(rr.rname), rr.rtype, rr.rclass, rr.ttl, index, value))
    return "|".join(lines)


def responses():
    cases = []
    r = DNSRecord.question("mx6.test", "AAAA").reply()
    r.add_answer(RR("mx6.test", QTYPE.AAAA, rdata=AAAA("2001:db8::25"), ttl=300))
    cases.append(r)
    r = DNSRecord.question("Alias.Example.org", "A").reply()
    r.add_answer(RR("Alias.Example.org", QTYPE.CNAME, rdata=CNAME("host.example.org"), ttl=5))
    r.add_answer(RR("host.example.org", QTYPE.A, rdata=A("192.0.2.7"), ttl=7))
    cases.append(r)
    r = DNSRecord.question("example.org", "MX").reply()
    for pref, host in [(10, "mx1.example.org"), (20, "mx2.mail.example.org"), (5, "example.org")]:
        r.add_answer(RR("example.org", QTYPE.MX, rdata=MX(host, pref), ttl=3600))
    cases.append(r)
    r = DNSRecord.question("1.2.0.192.in-addr.arpa", "PTR").reply()
    r.add_answer(RR("1.2.0.192.in-addr.arpa", QTYPE.PTR, rdata=PTR("ptr.example.org"), ttl=60))
    cases.append(r)
    r = DNSRecord.question("example.org", "SOA").reply()
    r.add_answer(RR("example.org", QTYPE.SOA, rdata=SOA("ns1.example.org", "admin.example.org", (1, 2, 3, 4, 5))))
    r.add_answer(RR("example.org", QTYPE.NS, rdata=NS("ns2.example.org")))
    cases.append(r)
    r = DNSRecord.question("t.example.org", "TXT").reply()
    for i in range(13):
        r.add_answer(RR("t.example.org", QTYPE.TXT, rdata=TXT(["text%d" % i, "second"]), ttl=i))
    cases.append(r)
    # More than 51 of a kind only fit in a longer message than a datagram.
    r = DNSRecord.question("many.example.org", "A").reply()
    for i in range(60):
        r.add_answer(RR("many.example.org", QTYPE.A, rdata=A("198.51.100.%d" % i)))
        r.add_answer(RR("many.example.org", QTYPE.AAAA, rdata=AAAA("2001:db8::%x" % i)))
    cases.append(r)
    r = DNSRecord.question("nothere.example.org", "AAAA").reply()
    r.header.rcode = 3
    r.header.aa = 1
    cases.append(r)
    for i, rec in enumerate(cases):
        rec.header.id = 0x1000 + i
        raw = rec.pack()
        print("%s\t%s" % (raw.hex(), summary(raw)))


def main():
    mode = sys.argv[1]
    if mode == "pton":
        for line in sys.stdin:
            print(pton_hex(line.rstrip("\n")))
    elif mode == "texts":
        rng = random.Random(int(sys.argv[3]))
        for _ in range(int(sys.argv[2])):
            text = random_text(rng)
            print("%s\t%s" % (text, pton_hex(text)))
    elif mode == "reverse":
        rng = random.Random(int(sys.argv[3]))
        addresses = ["192.0.2.1", "::1"]
        for i in range(int(sys.argv[2])):
            if i % 2:
                addresses.append(str(ipaddress.IPv4Address(rng.getrandbits(32))))
            else:
                addresses.append(str(ipaddress.IPv6Address(rng.getrandbits(128) >> rng.choice([0, 64, 100]))))
        for a in addresses:
            print("%s\t%s" % (a, ipaddress.ip_address(a).reverse_pointer))
    elif mode == "request":
        for line in sys.stdin:
            rec = DNSRecord.parse(bytes.fromhex(line.strip()))
            h, q = rec.header, rec.questions
            print("%d %d %d %d %d %d %s %d %d" % (h.id, h.qr, h.opcode, h.rd, h.q, len(rec.rr) + h.auth + h.ar,
                                                  name_of(q[0].qname), q[0].qtype, q[0].qclass))
    elif mode == "responses":
        responses()


if __name__ == "__main__":
    main()
