#!/usr/bin/python3
"""Encrypted sessions end to end: the real server's TLS port as any TLS
client sees it, its identity on disk, and the real client's pinning.
Usage: tls_test.py VELORA VELORA_CLIENT"""

import hashlib
import os
import select
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import warnings

SERVER, CLIENT = sys.argv[1], sys.argv[2]
F, L = b'\xe0', b'\xe3'
USERS = (b'demo' + L + b'Demo user' + L + b'245-53-210-81-' + L + b'0' + L + b'1' + L + b'1' + L + b'1' + L + b'\r\n')
LOGIN = b'connect' + F + b'pc1' + F + b'10.0.0.1' + F + b'demo' + F + b'245-53-210-81-' + F + b'\r\n'


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def client_context(**versions):
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    ctx.check_hostname = False
    ctx.verify_mode = ssl.CERT_NONE
    for name, value in versions.items():
        setattr(ctx, name, value)
    return ctx


def read_line(conn, deadline=10):
    conn.settimeout(deadline)
    data = b''
    while not data.endswith(b'\r\n'):
        chunk = conn.recv(65536)
        if not chunk:
            break
        data += chunk
    return data


def closed_by_peer(sock, within=10):
    """True when the peer closes (EOF or reset) within the bound."""
    sock.settimeout(within)
    try:
        while sock.recv(4096):
            pass
        return True
    except (ConnectionResetError, ssl.SSLError, ssl.SSLEOFError):
        return True
    except socket.timeout:
        return False


class Server:
    # Without ports, the system picks both at the first start (no other test
    # can take them between a pick and a bind) and later starts keep them:
    # a pin is for a host and a port.
    def __init__(self, base, port=0, tlsport=None, extra=''):
        self.base, self.port, self.tlsport, self.extra = base, port, tlsport, extra
        os.makedirs(base + '/config', exist_ok=True)
        self.write_config()
        with open(base + '/config/user.cfg', 'wb') as f:
            f.write(USERS)
        self.proc = None
        self.err = b''

    def start(self, ready=b'encrypted connections on port'):
        self.err = b''
        self.proc = subprocess.Popen([SERVER, '--headless', '--no-shutdown', '--basedir', self.base],
                                     stderr=subprocess.PIPE, stdout=subprocess.DEVNULL)
        end = time.monotonic() + 20
        while ready not in self.err:
            r, _, _ = select.select([self.proc.stderr], [], [], max(0.0, end - time.monotonic()))
            chunk = os.read(self.proc.stderr.fileno(), 4096) if r else b''
            if not chunk:
                raise AssertionError('server did not get ready: ' + self.err.decode(errors='replace'))
            self.err += chunk
        if not self.port and b'listening on port ' in self.err:
            self.port = int(self.err.split(b'listening on port ')[1].split()[0])
        if self.tlsport is None:
            self.tlsport = int(self.err.split(b'encrypted connections on port ')[1].split(b',')[0])
            self.write_config()

    def write_config(self):
        with open(self.base + '/config/config.ini', 'w') as f:
            f.write('[server]\nlisten=127.0.0.1\nport=%d\n%s%s' % (
                self.port, '' if self.tlsport is None else 'tlsport=%d\n' % self.tlsport, self.extra))

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(10)
        if self.proc:
            self.proc.stderr.close()

    def tls(self, ctx=None):
        raw = socket.create_connection(('127.0.0.1', self.tlsport), timeout=10)
        return (ctx or client_context()).wrap_socket(raw)

    def fingerprint(self):
        out = subprocess.run([SERVER, '--basedir', self.base, 'tls', 'fingerprint'], capture_output=True, check=True)
        return out.stdout.decode().strip()


def run_client(folder, *args):
    env = dict(os.environ, QT_QPA_PLATFORM='offscreen')
    return subprocess.run([CLIENT, '--clientdir', folder, '--host', '127.0.0.1', '--user', 'demo', '--password',
                           'demo', '--timeout', '15', '--status'] + list(args),
                          capture_output=True, env=env, timeout=60)


class TlsPort(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        cls.server = Server(cls.dir.name + '/base', extra='logintimeout=1\n')
        cls.server.start()

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        cls.dir.cleanup()

    def test_login_and_push_lines_inside_tls(self):
        with self.server.tls() as conn:
            self.assertEqual(conn.version(), 'TLSv1.3')
            conn.sendall(LOGIN)
            self.assertTrue(read_line(conn).startswith(b'OK' + F + b'Demo user'))
            conn.sendall(b'stat' + F + b'\r\n')
            push = read_line(conn)
            self.assertIn(b'READY', push)
            self.assertEqual(push.split(F)[0].count(b'\xe2'), 13)

    def test_tls_1_1_and_older_are_refused(self):
        with warnings.catch_warnings():
            warnings.simplefilter('ignore', DeprecationWarning)
            ctx = client_context(minimum_version=ssl.TLSVersion.TLSv1, maximum_version=ssl.TLSVersion.TLSv1_1)
        ctx.set_ciphers('DEFAULT:@SECLEVEL=0')
        with self.assertRaises((ssl.SSLError, ConnectionResetError)):
            self.server.tls(ctx).close()
        with self.server.tls(client_context(maximum_version=ssl.TLSVersion.TLSv1_2)) as conn:
            self.assertEqual(conn.version(), 'TLSv1.2')

    def test_stalled_handshake_is_closed_after_the_login_time_out(self):
        with socket.create_connection(('127.0.0.1', self.server.tlsport)) as raw:
            start = time.monotonic()
            self.assertTrue(closed_by_peer(raw, within=10))
            self.assertGreaterEqual(time.monotonic() - start, 0.5)

    def test_a_plain_line_ends_the_connection(self):
        with socket.create_connection(('127.0.0.1', self.server.tlsport)) as raw:
            raw.sendall(LOGIN)
            self.assertTrue(closed_by_peer(raw, within=0.9))

    def test_fingerprint_command_matches_the_port_and_the_key_is_private(self):
        fingerprint = self.server.fingerprint()
        self.assertRegex(fingerprint, '^[0-9a-f]{64}$')
        with self.server.tls() as conn:
            self.assertEqual(hashlib.sha256(conn.getpeercert(binary_form=True)).hexdigest(), fingerprint)
        self.assertEqual(os.stat(self.server.base + '/config/tls/key.pem').st_mode & 0o777, 0o600)
        self.assertIn(fingerprint.encode(), self.server.err)
        self.assertNotIn(b'PRIVATE KEY', self.server.err)


class PlainPortOff(unittest.TestCase):
    def test_plaintext_0_serves_tls_only(self):
        with tempfile.TemporaryDirectory() as d:
            # Held, bound and not listening: only the server could answer on it.
            held = socket.socket()
            held.bind(('127.0.0.1', 0))
            server = Server(d + '/base', held.getsockname()[1], free_port(), 'plaintext=0\n')
            server.start()
            try:
                with self.assertRaises(ConnectionRefusedError):
                    socket.create_connection(('127.0.0.1', server.port), timeout=5)
                with server.tls() as conn:
                    conn.sendall(LOGIN)
                    self.assertTrue(read_line(conn).startswith(b'OK' + F))
            finally:
                server.stop()
                held.close()


class RecordingTlsServer(threading.Thread):
    """Presents the given certificate and records every byte it is sent."""

    def __init__(self, cert, key):
        super().__init__(daemon=True)
        self.ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.ctx.load_cert_chain(cert, key)
        self.sock = socket.create_server(('127.0.0.1', 0))
        self.port = self.sock.getsockname()[1]
        self.received = b''

    def run(self):
        conn, _ = self.sock.accept()
        try:
            with self.ctx.wrap_socket(conn, server_side=True) as tls:
                tls.settimeout(10)
                while True:
                    chunk = tls.recv(4096)
                    if not chunk:
                        break
                    self.received += chunk
        except (OSError, ssl.SSLError):
            pass


class ClientPinning(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.server = Server(self.dir.name + '/base')
        self.server.start()
        self.folder = self.dir.name + '/client'

    def tearDown(self):
        self.server.stop()
        self.dir.cleanup()

    def client(self, *args):
        return run_client(self.folder, '--port', str(self.server.tlsport), '--tls', *args)

    def test_right_fingerprint_works_and_a_wrong_one_sends_nothing(self):
        fingerprint = self.server.fingerprint()
        done = self.client('--fingerprint', ':'.join(fingerprint[i:i + 2] for i in range(0, 64, 2)).upper())
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn(b'READY', done.stdout)

        base = self.server.base + '/config/tls/'
        recorder = RecordingTlsServer(base + 'cert.pem', base + 'key.pem')
        recorder.start()
        wrong = run_client(self.folder, '--port', str(recorder.port), '--fingerprint', 'ab' * 32)
        recorder.join(20)
        recorder.sock.close()
        self.assertEqual(wrong.returncode, 2, wrong.stderr)
        self.assertIn(b'fingerprint', wrong.stderr)
        self.assertNotIn(b'connect', recorder.received)
        self.assertEqual(recorder.received, b'')

    def test_first_use_pins_and_a_renewed_key_is_refused(self):
        unasked = self.client()
        self.assertEqual(unasked.returncode, 2)
        self.assertIn(b'not trusted', unasked.stderr)
        self.assertFalse(os.path.exists(self.folder + '/config/fingerprint.cfg'))

        first = self.client('--accept-new')
        self.assertEqual(first.returncode, 0, first.stderr)
        pins = self.folder + '/config/fingerprint.cfg'
        self.assertEqual(os.stat(pins).st_mode & 0o777, 0o600)
        old = self.server.fingerprint()
        with open(pins) as f:
            self.assertIn(old, f.read())
        self.assertEqual(self.client().returncode, 0)

        self.server.stop()
        renewed = subprocess.run([SERVER, '--basedir', self.server.base, 'tls', 'renew', '--yes'],
                                 capture_output=True)
        self.assertEqual(renewed.returncode, 0, renewed.stderr)
        new = renewed.stdout.decode().strip()
        self.assertNotEqual(new, old)
        self.server.start()
        refused = self.client('--accept-new')
        self.assertEqual(refused.returncode, 2)
        self.assertIn(old.encode(), refused.stderr)
        self.assertIn(new.encode(), refused.stderr)

    def test_renew_asks_first(self):
        before = self.server.fingerprint()
        declined = subprocess.run([SERVER, '--basedir', self.server.base, 'tls', 'renew'], input=b'n\n',
                                  capture_output=True)
        self.assertEqual(declined.returncode, 1)
        self.assertEqual(self.server.fingerprint(), before)


if __name__ == '__main__':
    unittest.main(argv=sys.argv[:1], verbosity=2)
