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
          .add_extension(x509.KeyUsage(digital_signature=False, content_commitment=False, key_encipherment=False,
                                       data_encipherment=False, key_agreement=False, key_cert_sign=True,
                                       crl_sign=True, encipher_only=False, decipher_only=False), critical=True)
          .sign(ca_key, hashes.SHA256()))
    key = ec.generate_private_key(ec.SECP256R1())
    alt: list[x509.GeneralName] = [x509.DNSName(n) for n in names_for(host)]
    try:
        alt.append(x509.IPAddress(ipaddress.ip_address(host)))
    except ValueError:
        pass
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


def with_openssl(folder: Path, host: str, openssl: str) -> None:
    def run(*args: str) -> None:
        subprocess.run([openssl, *args], check=True, capture_output=True)

    san = ",".join(f"DNS:{n}" for n in names_for(host))
    try:
        ipaddress.ip_address(host)
        san += f",IP:{host}"
    except ValueError:
        pass
    with tempfile.TemporaryDirectory() as tmp:
        t = Path(tmp)
        run("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-sha256",
            "-days", str(CA_DAYS), "-keyout", str(t / "ca.key"), "-out", str(t / "ca.crt"),
            "-subj", f"/CN=ORVEL Exam Server CA ({host})",
            "-addext", "basicConstraints=critical,CA:TRUE,pathlen:0",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
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
    path.write_bytes(data)
    if secret:
        os.chmod(path, 0o600)


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
    return True, (f"made with {how}: {folder / 'ca.crt'} (the school's CA), {cert_file} and {key_file} for {host}.\n"
                  f"Copy ca.crt and trust-ca.cmd to each PC and run trust-ca.cmd as administrator.\n"
                  f"Keep {folder / 'ca.key'} away from the PCs: whoever has it can pose as the server.")


def manual_steps(host: str, folder: Path) -> str:
    return f"""Neither the Python package "cryptography" nor the openssl program was found.
Make the certificates on any machine with openssl, then copy them into {folder}:
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days {CA_DAYS} -keyout ca.key -out ca.crt -subj "/CN=ORVEL Exam Server CA" -addext "basicConstraints=critical,CA:TRUE"
  openssl req -new -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj "/CN={host}"
  printf 'subjectAltName=DNS:{host}\\nextendedKeyUsage=serverAuth\\n' > ext
  openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -sha256 -days {SERVER_DAYS} -extfile ext -out server.crt
On each PC, as administrator: certutil -addstore -f Root ca.crt"""
