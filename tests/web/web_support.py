"""The real server with its web page on loopback, an HTTPS caller that keeps
the cookie, an event-stream reader, and a raw wire client beside them."""

import http.client
import json
import os
import select
import shutil
import socket
import ssl
import subprocess
import time

F, I, L, R = b'\xe0', b'\xe2', b'\xe3', b'\xe5'
DEMO_CIPHER = b'245-53-210-81-'  # "demo"
HERE = os.path.dirname(os.path.abspath(__file__))
DEMO = os.path.join(HERE, '..', '..', 'packaging', 'demo', 'config')


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def user_line(name, flags):
    """flags: unlock-all, dial/hang-up, shutdown as '0'/'1'."""
    return name + L + b'User ' + name + L + DEMO_CIPHER + L + b'0' + L + L.join(flags) + L + b'\r\n'


class Server:
    def __init__(self, base, binary, extra_web=''):
        self.base, self.binary = base, binary
        self.port, self.web = free_port(), free_port()
        os.makedirs(base + '/config', exist_ok=True)
        shutil.copy(os.path.join(DEMO, 'phonebook.ini'), base + '/config/phonebook.ini')
        with open(base + '/config/config.ini', 'w') as f:
            f.write('[server]\nlisten=127.0.0.1\nport=%d\ntlsport=0\n[general]\nonlinestartup=1\n'
                    '[dial]\nconnectionlogging=1\n[web]\nport=%d\n%s' % (self.port, self.web, extra_web))
        with open(base + '/config/user.cfg', 'wb') as f:
            f.write(user_line(b'demo', [b'1', b'1', b'1']) + user_line(b'guest', [b'0', b'0', b'0']))
        os.chmod(base + '/config/user.cfg', 0o600)
        os.chmod(base + '/config/phonebook.ini', 0o600)
        self.proc, self.err = None, b''

    def start(self):
        # A restart reads its own start-up, not the previous run's.
        self.err = b''
        self.proc = subprocess.Popen([self.binary, '--headless', '--no-shutdown', '--basedir', self.base],
                                     stderr=subprocess.PIPE, stdout=subprocess.DEVNULL)
        end = time.monotonic() + 30
        while b'web page on https port' not in self.err:
            r, _, _ = select.select([self.proc.stderr], [], [], max(0.0, end - time.monotonic()))
            chunk = os.read(self.proc.stderr.fileno(), 4096) if r else b''
            if not chunk:
                raise AssertionError('server did not get ready: ' + self.err.decode(errors='replace'))
            self.err += chunk
        return self

    def drain_err(self):
        while select.select([self.proc.stderr], [], [], 0)[0]:
            chunk = os.read(self.proc.stderr.fileno(), 4096)
            if not chunk:
                break
            self.err += chunk
        return self.err

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(10)
        if self.proc:
            self.proc.stderr.close()


def context():
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    ctx.check_hostname = False
    ctx.verify_mode = ssl.CERT_NONE
    return ctx


class Web:
    """One browser or script: keeps the cookie and, once logged in, the token."""

    def __init__(self, port, host='127.0.0.1'):
        self.port, self.host = port, host
        self.cookie, self.token = '', ''

    def call(self, method, path, body=None, token=True, cookie=True):
        conn = http.client.HTTPSConnection(self.host, self.port, context=context(), timeout=10)
        headers = {}
        if cookie and self.cookie:
            headers['Cookie'] = self.cookie
        if token and self.token:
            headers['X-Velora-Token'] = self.token
        data = None if body is None else json.dumps(body).encode()
        if data is not None:
            headers['Content-Type'] = 'application/json'
        conn.request(method, path, body=data, headers=headers)
        r = conn.getresponse()
        raw = r.read()
        set_cookie = r.getheader('Set-Cookie') or ''
        if set_cookie.startswith('velora_session='):
            self.cookie = set_cookie.split(';')[0]
        conn.close()
        try:
            payload = json.loads(raw) if raw and r.getheader('Content-Type', '').startswith('application/json') else raw
        except ValueError:
            payload = raw
        return r.status, payload, set_cookie

    def login(self, user=b'demo', password='demo'):
        status, body, self.set_cookie = self.call('POST', '/api/login',
                                                  {'user': user.decode(), 'password': password})
        if status == 200:
            self.token = body['token']
        return status, body


class Events:
    """An open /api/events stream: its events as (name, data) pairs."""

    def __init__(self, port, token):
        raw = socket.create_connection(('127.0.0.1', port), timeout=10)
        self.sock = context().wrap_socket(raw)
        self.sock.sendall(b'GET /api/events HTTP/1.1\r\nHost: x\r\nX-Velora-Token: ' + token.encode() +
                          b'\r\nAccept: text/event-stream\r\n\r\n')
        self.buf = b''
        head = self._until(b'\r\n\r\n', 10)
        assert head.startswith(b'HTTP/1.1 200'), head

    def _until(self, mark, within):
        end = time.monotonic() + within
        while mark not in self.buf:
            self.sock.settimeout(max(0.01, end - time.monotonic()))
            chunk = self.sock.recv(65536)
            if not chunk:
                raise EOFError('stream closed')
            self.buf += chunk
        part, self.buf = self.buf.split(mark, 1)
        return part

    def next(self, within=10):
        while True:
            block = self._until(b'\n\n', within).decode()
            name, data = 'message', ''
            for line in block.split('\n'):
                if line.startswith('event: '):
                    name = line[7:]
                elif line.startswith('data: '):
                    data += line[6:]
            if data:
                return name, json.loads(data)

    def wait_for(self, name, test, within=10):
        end = time.monotonic() + within
        while True:
            left = end - time.monotonic()
            if left <= 0:
                raise TimeoutError(name)
            n, data = self.next(left)
            if n == name and test(data):
                return data

    def close(self):
        self.sock.close()


class Wire:
    """A logged-in wire client on the plain port."""

    def __init__(self, port, name=b'pc9', address=b'10.0.0.9', user=b'demo'):
        self.sock = socket.create_connection(('127.0.0.1', port), timeout=10)
        self.buf = b''
        self.sock.sendall(b'connect' + F + name + F + address + F + user + F + DEMO_CIPHER + F + b'\r\n')
        assert self.line().startswith(b'OK'), 'wire login refused'

    def line(self, within=10):
        end = time.monotonic() + within
        while b'\r\n' not in self.buf:
            self.sock.settimeout(max(0.01, end - time.monotonic()))
            chunk = self.sock.recv(65536)
            if not chunk:
                raise EOFError('wire closed')
            self.buf += chunk
        line, self.buf = self.buf.split(b'\r\n', 1)
        return line

    def wait_for(self, test, within=10):
        end = time.monotonic() + within
        while True:
            left = end - time.monotonic()
            if left <= 0:
                raise TimeoutError('wire')
            line = self.line(left)
            if test(line):
                return line

    def send(self, *fields):
        self.sock.sendall(F.join(fields) + F + b'\r\n')

    def close(self):
        self.sock.close()
