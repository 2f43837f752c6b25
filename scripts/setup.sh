#!/usr/bin/env bash
# Installs every Debian package the build and the tests need. Idempotent and
# non-interactive: safe to run on every CI start.
set -euo pipefail

PKGS=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-tools mingw-w64-i686-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  libz-mingw-w64-dev zlib1g-dev libwine-dev
  wine wine32:i386 wine64
  googletest libgtest-dev
  python3 clang-format
  # The XML parser that judges the instant-message element (native and fuzz).
  libexpat1-dev
  dnsmasq-base python3-dnslib python3-aiosmtpd
  slapd ldap-utils
  # The database back end: ODBC driver manager, SQLite and PostgreSQL drivers
  # for both Wine architectures, the PostgreSQL server and the sqlite3 tool.
  libodbc2 libodbc2:i386 odbcinst libsqliteodbc libsqliteodbc:i386
  odbc-postgresql odbc-postgresql:i386 postgresql sqlite3
  # Oracle of the attachment extraction: a MIME unpacker.
  ripmime
  # Debian's anti-spam rule files, the corpus of the rule-file tests: only its
  # ".cf" files are read. The package holds no daemon (that is a separate
  # package), and its maintenance timer and daily job stay off unless enabled.
  spamassassin
)

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

# Several checkouts on one machine may run this at once; apt takes one.
if [ -z "${VM_SETUP_LOCKED:-}" ] && command -v flock >/dev/null; then
  export VM_SETUP_LOCKED=1
  exec flock /tmp/vm-setup.lock bash "$0" "$@"
fi

missing=()
for p in "${PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
# The LDAP tests run slapd of their own: the package must not configure or
# start a system server.
echo "slapd slapd/no_configuration boolean true" | $SUDO debconf-set-selections
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
# The rule-file package's set-up imports its signing key with gpg, which
# leaves a gpg-agent of its own running: stop that one.
keys=/var/lib/spamassassin/sa-update-keys
if [ -d "$keys" ] && command -v gpgconf >/dev/null; then
  $SUDO runuser -u debian-spamd -- gpgconf --homedir "$keys" --kill gpg-agent 2>/dev/null || true
fi
