"""`init`: a private CA for the school and a server certificate for the
configured host, plus trust-ca.cmd for the school's PCs.

With the `cryptography` package when it can be imported, else with the
`openssl` program; without either the steps are printed for doing it by hand.
"""
from __future__ import annotations

import datetime as dt
import ipaddress
import os
import shutil
import subprocess
import tempfile
from pathlib import Path

CA_DAYS = 3650
SERVER_DAYS = 825  # the longest a server certificate may live for browsers

TRUST_CMD = """@echo off
rem Run once on each school PC, as administrator: trusts the school's exam server.
certutil -addstore -f Root "%~dp0ca.crt"
if errorlevel 1 (
  echo Gagal. Jalankan file ini dengan "Run as administrator".
) else (
  echo Sertifikat server ujian sekolah sudah dipercaya di PC ini.
)
pause
"""


def names_for(host: str) -> list[str]:
    names = [host]
    if host != "localhost":
        names.append("localhost")
    return names


def constraints(host: str) -> tuple[list[str], list[str]]:
    """The CA's name constraints: (permitted, excluded) as openssl writes
    them. Every school PC trusts this CA, so it may sign for the server's own
    names only (DNS constraints cover a name's subdomains too), never for
    another website, and for no IP address but the host's own."""
    permitted = [f"DNS:{n}" for n in names_for(host)]
    excluded = ["IP:0.0.0.0/0.0.0.0", "IP:::/::"]
    try:
        ip = ipaddress.ip_address(host)
    except ValueError:
        return permitted, excluded
    full = "255.255.255.255" if ip.version == 4 else "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"
    other_family = excluded[1] if ip.version == 4 else excluded[0]
    return ["DNS:localhost", f"IP:{ip}/{full}"], [other_family]


def subject_names(host: str) -> list[str]:
    """The server certificate's names, as openssl writes them: an IP address
    is an IP name, never a DNS one (the CA's constraints would refuse it)."""
    try:
        return ["DNS:localhost", f"IP:{ipaddress.ip_address(host)}"]
    except ValueError:
        return [f"DNS:{n}" for n in names_for(host)]


def with_cryptography(folder: Path, host: str) -> None:
    from cryptography import x509
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import ec
    from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID

    now = dt.datetime.now(dt.timezone.utc) - dt.timedelta(minutes=5)
    ca_key = ec.generate_private_key(ec.SECP256R1())
    ca_name = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, f"ORVEL Exam Server CA ({host})")])
    ca = (x509.CertificateBuilder().subject_name(ca_name).issuer_name(ca_name).public_key(ca_key.public_key())
          .serial_number(x509.random_serial_number()).not_valid_before(now)
          .not_valid_after(now + dt.timedelta(days=CA_DAYS))
          .add_extension(x509.BasicConstraints(ca=True, path_length=0), critical=True)
          .add_extension(_name_constraints(host), critical=True)
          .add_extension(x509.ExtendedKeyUsage([ExtendedKeyUsageOID.SERVER_AUTH]), critical=False)
          .add_extension(x509.KeyUsage(digital_signature=False, content_commitment=False, key_encipherment=False,
                                       data_encipherment=False, key_agreement=False, key_cert_sign=True,
                                       crl_sign=True, encipher_only=False, decipher_only=False), critical=True)
          .sign(ca_key, hashes.SHA256()))
    key = ec.generate_private_key(ec.SECP256R1())
    alt = [_general(n) for n in subject_names(host)]
    cert = (x509.CertificateBuilder().subject_name(x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, host)]))
            .issuer_name(ca_name).public_key(key.public_key()).serial_number(x509.random_serial_number())
            .not_valid_before(now).not_valid_after(now + dt.timedelta(days=SERVER_DAYS))
            .add_extension(x509.SubjectAlternativeName(alt), critical=False)
            .add_extension(x509.BasicConstraints(ca=False, path_length=None), critical=True)
            .add_extension(x509.ExtendedKeyUsage([ExtendedKeyUsageOID.SERVER_AUTH]), critical=False)
            .sign(ca_key, hashes.SHA256()))
    pem = serialization.Encoding.PEM
    plain = dict(encoding=pem, format=serialization.PrivateFormat.PKCS8,
                 encryption_algorithm=serialization.NoEncryption())
    _write(folder / "ca.key", ca_key.private_bytes(**plain), secret=True)
    _write(folder / "ca.crt", ca.public_bytes(pem))
    _write(folder / "server.key", key.private_bytes(**plain), secret=True)
    _write(folder / "server.crt", cert.public_bytes(pem))


def _general(name: str):
    """An openssl-style name ("DNS:x", "IP:a", "IP:a/mask") for cryptography."""
    from cryptography import x509
    kind, _, value = name.partition(":")
    if kind == "DNS":
        return x509.DNSName(value)
    address, slash, mask = value.partition("/")
    if slash:  # the mask written out, as openssl wants it; a prefix length for Python
        bits = bin(int(ipaddress.ip_address(mask))).count("1")
        return x509.IPAddress(ipaddress.ip_network(f"{address}/{bits}"))
    return x509.IPAddress(ipaddress.ip_address(address))


def _name_constraints(host: str):
    from cryptography import x509
    permitted, excluded = constraints(host)
    return x509.NameConstraints(permitted_subtrees=[_general(n) for n in permitted],
                                excluded_subtrees=[_general(n) for n in excluded])


def with_openssl(folder: Path, host: str, openssl: str) -> None:
    def run(*args: str) -> None:
        subprocess.run([openssl, *args], check=True, capture_output=True)

    san = ",".join(subject_names(host))
    permitted, excluded = constraints(host)
    with tempfile.TemporaryDirectory() as tmp:
        t = Path(tmp)
        run("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-sha256",
            "-days", str(CA_DAYS), "-keyout", str(t / "ca.key"), "-out", str(t / "ca.crt"),
            "-subj", f"/CN=ORVEL Exam Server CA ({host})",
            "-addext", "basicConstraints=critical,CA:TRUE,pathlen:0",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign",
            "-addext", "nameConstraints=critical," + ",".join(
                [f"permitted;{n}" for n in permitted] + [f"excluded;{n}" for n in excluded]),
            "-addext", "extendedKeyUsage=serverAuth")
        run("req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
            "-keyout", str(t / "server.key"), "-out", str(t / "server.csr"), "-subj", f"/CN={host}")
        (t / "ext").write_text(f"subjectAltName={san}\nbasicConstraints=critical,CA:FALSE\n"
                               "extendedKeyUsage=serverAuth\n")
        run("x509", "-req", "-in", str(t / "server.csr"), "-CA", str(t / "ca.crt"), "-CAkey", str(t / "ca.key"),
            "-CAcreateserial", "-sha256", "-days", str(SERVER_DAYS), "-extfile", str(t / "ext"),
            "-out", str(t / "server.crt"))
        for name in ("ca.key", "ca.crt", "server.key", "server.crt"):
            _write(folder / name, (t / name).read_bytes(), secret=name.endswith(".key"))


def _write(path: Path, data: bytes, secret: bool = False) -> None:
    # A key is made readable by its owner only from its first byte on.
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC | getattr(os, "O_BINARY", 0), 0o600 if secret else 0o644)
    with os.fdopen(fd, "wb") as f:
        f.write(data)
    if secret and os.name != "nt":
        os.chmod(path, 0o600)  # also when the file was there before


def init(host: str, cert_file: Path, key_file: Path, prefer: str = "auto") -> tuple[bool, str]:
    """Makes the CA and the server certificate next to cert_file; (ok, what to tell)."""
    folder = cert_file.parent
    if cert_file.exists() or key_file.exists():
        return False, (f"{cert_file} or {key_file} exists already; move them away first to make new ones "
                       "(the PCs would have to trust the new CA)")
    folder.mkdir(parents=True, exist_ok=True)
    how = ""
    if prefer in ("auto", "cryptography"):
        try:
            import cryptography  # noqa: F401
            how = "cryptography"
        except ImportError:
            pass
    openssl = shutil.which("openssl")
    if not how and prefer in ("auto", "openssl") and openssl:
        how = "openssl"
    if not how:
        return False, manual_steps(host, folder)
    if how == "cryptography":
        with_cryptography(folder, host)
    else:
        with_openssl(folder, host, openssl or "openssl")
    made = folder / "server.crt", folder / "server.key"
    if made[0] != cert_file:
        os.replace(made[0], cert_file)
    if made[1] != key_file:
        os.replace(made[1], key_file)
    (folder / "trust-ca.cmd").write_text(TRUST_CMD.replace("\n", "\r\n"), encoding="ascii", newline="")
    return True, (f"made with {how}: {folder / 'ca.crt'} (the school's CA, for {', '.join(names_for(host))} only), "
                  f"{cert_file} and {key_file} for {host}.\n"
                  f"Copy ca.crt and trust-ca.cmd to each PC and run trust-ca.cmd as administrator.\n"
                  f"Now move {folder / 'ca.key'} off this server (to a USB stick that IT keeps locked away): "
                  "it is needed only to make a new server certificate, and whoever has it can pose as the server.")


def manual_steps(host: str, folder: Path) -> str:
    permitted, excluded = constraints(host)
    limits = ",".join([f"permitted;{n}" for n in permitted] + [f"excluded;{n}" for n in excluded])
    return f"""Neither the Python package "cryptography" nor the openssl program was found.
Make the certificates on any machine with openssl, then copy them into {folder}:
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days {CA_DAYS} -keyout ca.key -out ca.crt -subj "/CN=ORVEL Exam Server CA" -addext "basicConstraints=critical,CA:TRUE,pathlen:0" -addext "nameConstraints=critical,{limits}" -addext "extendedKeyUsage=serverAuth"
  openssl req -new -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj "/CN={host}"
  printf 'subjectAltName={",".join(subject_names(host))}\\nextendedKeyUsage=serverAuth\\n' > ext
  openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -sha256 -days {SERVER_DAYS} -extfile ext -out server.crt
On each PC, as administrator: certutil -addstore -f Root ca.crt
Then keep ca.key off the server and the PCs: whoever has it can pose as the server."""
