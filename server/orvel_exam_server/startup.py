"""What `run` and `check` test before serving. Each fault is one line that
says what to do (the IT person reads it on a console), never a traceback."""
from __future__ import annotations

import errno
import os
import socket
import ssl
import sys
from pathlib import Path

from . import front


class StartupError(Exception):
    """A fault that stops the server; the message is the whole story."""


def _read(path: Path, what: str, config_path: Path) -> bytes:
    if not path.exists():
        raise StartupError(f"the {what} {path} does not exist (run: init --config {config_path})")
    try:
        return path.read_bytes()
    except PermissionError:
        raise StartupError(f"cannot read the {what} {path}: permission denied "
                           "(start the server as a user that may read it)") from None
    except OSError as e:
        raise StartupError(f"cannot read the {what} {path}: {e.strerror or e}") from None


def _no_password() -> bytes:
    return b""  # never a prompt on the console: an encrypted key is an error


def tls_context(cert_file: Path, key_file: Path, config_path: Path) -> ssl.SSLContext:
    """The server's TLS context, or the fault of the certificate or key."""
    _read(cert_file, "certificate", config_path)
    key = _read(key_file, "key", config_path)
    probe = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    try:
        probe.load_verify_locations(cafile=str(cert_file))
    except (ssl.SSLError, ValueError):
        raise StartupError(f"the certificate {cert_file} is damaged or not a PEM certificate "
                           "(\"-----BEGIN CERTIFICATE-----\")") from None
    if b"ENCRYPTED" in key:
        raise StartupError(f"the key {key_file} is locked with a password; the server needs it without one: "
                           f"openssl pkey -in {key_file} -out {key_file}.open")
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    try:
        context.load_cert_chain(cert_file, key_file, password=_no_password)
    except ssl.SSLError as e:
        if e.reason == "KEY_VALUES_MISMATCH":
            raise StartupError(f"the key {key_file} does not belong to the certificate {cert_file} "
                               "(make both again with init, or put the matching pair in place)") from None
        raise StartupError(f"the key {key_file} is damaged or not a PEM private key") from None
    except OSError as e:
        raise StartupError(f"cannot read the certificate or key: {e.strerror or e}") from None
    return context


def _is(e: OSError, name: str) -> bool:
    # Windows reports sockets' errors as WSA codes.
    return e.errno in (getattr(errno, name, None), getattr(errno, "WSA" + name, None))


def listen_fault(e: OSError, host: str, port: int) -> str:
    """The line that says why (host, port) could not be listened on."""
    if isinstance(e, socket.gaierror):
        return f"server.listen: {host} is neither an address of this machine nor a name it knows"
    if _is(e, "EADDRINUSE"):
        return f"port {port} sudah dipakai program lain atau salinan kedua server ini"
    if _is(e, "EACCES"):
        if os.name == "nt":
            return (f"Windows refuses port {port}: another program holds it for itself, or it is reserved "
                    "(netsh interface ipv4 show excludedportrange protocol=tcp)")
        if port < 1024:
            return (f"port {port} is below 1024, which needs the right to use it: start the server with sudo, "
                    f"or give Python that right once with: sudo setcap cap_net_bind_service=+ep "
                    f"{os.path.realpath(sys.executable)}")
    if _is(e, "EADDRNOTAVAIL"):
        return f"{host} is not an address of this machine (server.listen); 0.0.0.0 listens on all of them"
    return f"cannot listen on {host}:{port}: {e.strerror or e}"


def raise_file_limit() -> tuple[int, int] | None:
    """Raises the soft limit on open files to the hard one (Linux; Debian's
    soft default of 1,024 is four addresses' idle connections):
    (before, after), or None where there is no such limit to raise."""
    if not sys.platform.startswith("linux"):
        return None
    import resource
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if soft != hard:
        try:
            resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
        except (ValueError, OSError):
            return soft, soft
    return soft, hard


def listening_socket(host: str, port: int, shared: bool = False) -> socket.socket:
    try:
        return front.listen(host, port, shared)
    except OSError as e:
        raise StartupError(listen_fault(e, host, port)) from None


def address_here(host: str) -> None:
    """For `check`: the listen address is one of this machine's (the port is
    not tried: the server itself may be holding it)."""
    family = socket.AF_INET6 if ":" in host else socket.AF_INET
    with socket.socket(family, socket.SOCK_STREAM) as s:
        try:
            s.bind((host, 0))
        except OSError as e:
            raise StartupError(listen_fault(e, host, 0)) from None
