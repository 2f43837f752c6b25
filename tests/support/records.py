"""The stored records as the Python fixtures and oracles write and read them:
sizes, field offsets and the scramble key written out here, apart from the
library's own tables (the C++ tests have the same in records.h)."""
import os
import struct

KEY = bytes.fromhex("3C91E07A55D2188BF46A0D27C3B9E150")
SETTINGS, DOMAIN, ACCOUNT, REMOTE, ENTRY = 20864, 913, 2848, 1828, 96


class Settings:
    """Offsets in "settings.cfg"."""
    HOST_LIST, SERVER_LIST, LDAP_PORT, MAIL_FOLDER = 0, 1176, 250, 512
    DIRECTORY_SYNC, DIRECTORY_CONFIGURED, LDAP_SERVER = 207, 3382, 1474
    STORAGE_MODE, DOMAIN_LAYOUT, DOMAIN_COUNT, OLD_DOMAIN_TABLE, LEGACY_DOMAINS = 3633, 7001, 7020, 7024, 20344
    LOCKOUT_THRESHOLD, LOCKOUT_MINUTES = 20436, 20440
    WELCOME_MESSAGES = 1473
    FIRST_PROCESSOR = 1542  # 0: every processor (the load sets the process's affinity)
    HOST_NAME, POP3_PORT, SMTP_PORT, NUMBER29, IMAP_PORT, FLAG34, FLAG35 = 0, 1024, 1028, 1032, 1038, 1044, 1045


class Account:
    """Offsets in "users.cfg" (the ordinary user's block)."""
    KIND, ALIASES, MAILBOX, PASSWORD, TYPE2_FLAG, MAILBOX_PATH = 0, 260, 516, 772, 1022, 1028


class Remote:
    """Offsets in "remote.cfg"."""
    NAME, STATE_FILE = 0, 1312


class Entry:
    """Offsets in one "domains.cfg" entry."""
    NAME, ADDRESS = 0, 92


class DomainRecord:
    """Offsets in "domain.cfg"."""
    ADMIN_ALIAS = 128


def scramble(data, start=0):
    """XOR with the key from key index start; the same call undoes it."""
    return bytes(b ^ KEY[(start + i) % 16] for i, b in enumerate(data))


def scramble_records(data, size):
    """A record file: every record scrambled from key index 0."""
    return bytes(b ^ KEY[i % size % 16] for i, b in enumerate(data))


def _raw(value):
    return value if isinstance(value, bytes) else value.encode("latin-1")


def short(value, width):
    """A short string of width characters: length byte, text, zero padding."""
    raw = _raw(value)
    return bytes([len(raw)]) + raw + bytes(width - len(raw))


def put(rec, offset, value):
    """Writes a short string into a bytearray record."""
    raw = _raw(value)
    rec[offset:offset + 1 + len(raw)] = bytes([len(raw)]) + raw


def text(rec, offset):
    return rec[offset + 1:offset + 1 + rec[offset]].decode("latin-1")


def settings_record(domains=0):
    """The settings record of a current installation (96-byte domain table)
    serving the given number of domains, unscrambled."""
    rec = bytearray(SETTINGS)
    rec[Settings.DOMAIN_LAYOUT] = 1
    struct.pack_into("<I", rec, Settings.DOMAIN_COUNT, domains)
    return rec


def domain_entry(name, address=(0, 0, 0, 0)):
    """One "domains.cfg" entry: the name, then its IPv4 address in bytes 92-95."""
    return short(name, Entry.ADDRESS - 1) + bytes(address)


def account(aliases="", mailbox="", password="", kind=0, path=""):
    rec = bytearray(ACCOUNT)
    rec[Account.KIND] = kind
    for offset, value in ((Account.ALIASES, aliases), (Account.MAILBOX, mailbox), (Account.PASSWORD, password),
                          (Account.MAILBOX_PATH, path)):
        put(rec, offset, value)
    return bytes(rec)


def remote(name, state=""):
    rec = bytearray(REMOTE)
    put(rec, Remote.NAME, name)
    put(rec, Remote.STATE_FILE, state)
    return bytes(rec)


def records(path, size):
    """The whole records of a record file, unscrambled (a partial tail is none)."""
    data = open(path, "rb").read()
    return [scramble(data[i:i + size]) for i in range(0, len(data) - size + 1, size)]


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
