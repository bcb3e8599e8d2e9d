#!/usr/bin/env bash
# make_certs.sh CERTDIR: throw-away certificates for the local test exam server.
#   ca.crt/ca.key/ca.der          a test CA, new for every run
#   good.crt/good.key             DNS:localhost and DNS:127.0.0.1, signed by the CA
#   untrusted.crt/untrusted.key   DNS:localhost and DNS:127.0.0.1, self-signed
#   wronghost.crt/wronghost.key   DNS:otherhost.invalid only, signed by the CA
#   trust-ca.reg                  adds the CA to a Wine prefix's machine Root store
# All RSA 2048 with SHA-256, valid for 3 days. Wine 8 ignores IP subjectAltNames,
# hence 127.0.0.1 as a DNS name.
set -euo pipefail
dir=${1:?usage: make_certs.sh CERTDIR}
mkdir -p "$dir"
cd "$dir"

days=3
serial() { echo "0x$(openssl rand -hex 8)"; }

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days "$days" -set_serial "$(serial)" \
  -keyout ca.key -out ca.crt -subj "/CN=ORVEL Test CA $(openssl rand -hex 4)" \
  -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null

leaf_ext() {  # leaf_ext SAN
  printf '%s\n' "subjectAltName=$1" "basicConstraints=critical,CA:FALSE" \
    "keyUsage=critical,digitalSignature,keyEncipherment" "extendedKeyUsage=serverAuth"
}

signed_by_ca() {  # signed_by_ca NAME CN SAN
  openssl req -new -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$2" 2>/dev/null
  openssl x509 -req -in "$1.csr" -CA ca.crt -CAkey ca.key -set_serial "$(serial)" \
    -sha256 -days "$days" -extfile <(leaf_ext "$3") -out "$1.crt" 2>/dev/null
  rm -f "$1.csr"
}

signed_by_ca good localhost "DNS:localhost,DNS:127.0.0.1"
signed_by_ca wronghost otherhost.invalid "DNS:otherhost.invalid"
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days "$days" -set_serial "$(serial)" \
  -keyout untrusted.key -out untrusted.crt -subj "/CN=localhost" \
  -addext "subjectAltName=DNS:localhost,DNS:127.0.0.1" \
  -addext "basicConstraints=critical,CA:FALSE" \
  -addext "extendedKeyUsage=serverAuth" 2>/dev/null
chmod 600 ./*.key

# The Root store keeps each certificate under the SHA-1 of its DER, as a
# serialized property: little-endian words 0x20 (CERT_CERT_PROP_ID), 1 (encoding
# X509_ASN_ENCODING), length of the DER, then the DER itself.
openssl x509 -in ca.crt -outform DER -out ca.der
python3 - ca.der trust-ca.reg <<'PY'
import hashlib, struct, sys
der = open(sys.argv[1], "rb").read()
blob = struct.pack("<III", 0x20, 1, len(der)) + der
hexes = ["%02x" % b for b in blob]
lines = [",".join(hexes[i:i + 24]) for i in range(0, len(hexes), 24)]
key = hashlib.sha1(der).hexdigest().upper()
with open(sys.argv[2], "w", newline="\r\n") as f:
    f.write("REGEDIT4\n\n")
    f.write("[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\%s]\n" % key)
    f.write('"Blob"=hex:' + ",\\\n  ".join(lines) + "\n\n")
PY
