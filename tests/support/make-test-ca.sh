#!/usr/bin/env bash
# Makes the test certificates in DIR (once) and installs the test CA into the
# system's trust store, so the application's own HTTPS client (certificate checks
# on) accepts the loopback test server:
#   ca.crt/ca.key          the trusted test CA
#   server.crt/server.key  localhost and 127.0.0.1, signed by the test CA
#   rogue.crt/rogue.key    localhost too, but signed by a CA nobody trusts
set -euo pipefail
dir="$1"
mkdir -p "$dir"
cd "$dir"
# Several build folders may run this at once: one at a time.
exec 9>"$dir/.lock"
flock -w 120 9

if [ ! -f server.crt ] || [ ! -f rogue.crt ]; then
    ext="subjectAltName=DNS:localhost,IP:127.0.0.1"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 3650 -subj "/CN=Fernhall Test CA" 2>/dev/null
    openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj "/CN=localhost" 2>/dev/null
    openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out server.crt -days 3650 \
        -extfile <(printf '%s\n' "$ext") 2>/dev/null
    openssl req -x509 -newkey rsa:2048 -nodes -keyout rogue-ca.key -out rogue-ca.crt -days 3650 -subj "/CN=Unknown CA" 2>/dev/null
    openssl req -newkey rsa:2048 -nodes -keyout rogue.key -out rogue.csr -subj "/CN=localhost" 2>/dev/null
    openssl x509 -req -in rogue.csr -CA rogue-ca.crt -CAkey rogue-ca.key -CAcreateserial -out rogue.crt -days 3650 \
        -extfile <(printf '%s\n' "$ext") 2>/dev/null
fi

target=/usr/local/share/ca-certificates/fernhall-test-ca.crt
if ! cmp -s ca.crt "$target" 2>/dev/null; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    $SUDO cp ca.crt "$target"
    $SUDO update-ca-certificates >/dev/null 2>&1
fi
echo "test certificates ready in $dir"
