#!/usr/bin/python3
"""The web page's API and metrics against the real server: logins, the
session and token rules, the gate's refusals and audit rows, a dial and
chat seen from a wire client and back, the doors' bounds, and /metrics as a
Prometheus scraper reads it. Usage: web_api_test.py VELORA"""

import json
import os
import re
import socket
import sqlite3
import ssl
import subprocess
import sys
import tempfile
import time
import unittest

from web_support import Events, Server, Web, Wire, context, free_port

BINARY = sys.argv.pop(1)


def parse_prometheus(text):
    """name{labels} value lines; HELP/TYPE comments must name known metrics."""
    samples, types = {}, {}
    for line in text.splitlines():
        if not line:
            continue
        m = re.fullmatch(r'# (HELP|TYPE) ([a-zA-Z_:][a-zA-Z0-9_:]*) (.+)', line)
        if m:
            if m.group(1) == 'TYPE':
                assert m.group(3) in ('gauge', 'counter'), line
                types[m.group(2)] = m.group(3)
            continue
        m = re.fullmatch(r'([a-zA-Z_:][a-zA-Z0-9_:]*)(\{([a-z_]+="[^"]*"(,[a-z_]+="[^"]*")*)\})? (\S+)', line)
        assert m, 'not a sample line: %r' % line
        assert m.group(1) in types, 'sample before its TYPE: %r' % line
        samples[m.group(1) + (m.group(2) or '')] = float(m.group(5))
    return samples, types


class WebApi(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        cls.server = Server(cls.dir.name + '/base', BINARY).start()

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        cls.dir.cleanup()

    def web(self):
        return Web(self.server.web)

    def audit_rows(self, action):
        db = sqlite3.connect(self.server.base + '/config/log.db')
        try:
            return db.execute('SELECT usera, host, address, detail FROM audit WHERE action = ?', (action,)).fetchall()
        finally:
            db.close()

    def test_login_session_and_token_rules(self):
        w = self.web()
        self.assertEqual(w.call('GET', '/api/status')[0], 401)
        status, body = w.login(password='wrong')
        self.assertEqual(status, 401)
        self.assertNotIn('token', body)
        status, body = w.login()
        self.assertEqual(status, 200)
        self.assertEqual(body['user'], 'demo')
        self.assertEqual(body['privileges'], {'dialHangup': True, 'unlockAll': True, 'shutdown': True})
        self.assertRegex(body['token'], '^[0-9a-f]{64}$')
        for attr in ('HttpOnly', 'Secure', 'SameSite=Strict'):
            self.assertIn(attr, w.set_cookie)
        # The cookie alone reads, but never posts.
        self.assertEqual(w.call('GET', '/api/status', token=False)[0], 200)
        self.assertEqual(w.call('POST', '/api/lock', {}, token=False)[0], 403)
        self.assertEqual(w.call('POST', '/api/logout', {}, token=False)[0], 403)
        # The token alone is enough for scripts.
        self.assertEqual(w.call('GET', '/api/status', cookie=False)[0], 200)
        self.assertEqual(w.call('POST', '/api/logout', {})[0], 200)
        self.assertEqual(w.call('GET', '/api/status')[0], 401)
        self.assertEqual(w.call('POST', '/api/lock', {})[0], 401)

    def test_refusals_are_the_gates_with_their_audit_rows(self):
        w = self.web()
        self.assertEqual(w.login(b'guest')[0], 200)
        for path, body in (('/api/dial', {'entry': 'Metro Online'}), ('/api/hangup', {}),
                           ('/api/unlockall', {}), ('/api/shutdown', {})):
            status, answer, _ = w.call('POST', path, body)
            self.assertEqual(status, 403, path)
            self.assertIn('refused: no', answer['error'])
        rows = self.audit_rows('dial')
        self.assertIn(('guest', 'web', '127.0.0.1', 'Metro Online (refused: no dial privilege)'), rows)
        self.assertTrue(any(r[:3] == ('guest', 'web', '127.0.0.1') for r in self.audit_rows('shutdown')))
        self.assertNotIn(b'shutdown requested', self.server.drain_err())
        # Lock and chat need only the login.
        self.assertEqual(w.call('POST', '/api/lock', {})[0], 200)
        self.assertEqual(w.call('POST', '/api/lock', {})[0], 200)
        w.call('POST', '/api/logout', {})

    def test_dial_lock_and_chat_between_web_and_wire(self):
        wire = Wire(self.server.port)
        w = self.web()
        w.login()
        events = Events(self.server.web, w.token)
        try:
            events.wait_for('status', lambda s: any(c['name'] == 'pc9' for c in s['clients']))
            # The web login is a client of the list, as a wire client sees it.
            wire.wait_for(lambda line: b'demo@web' in line)
            self.assertEqual(w.call('POST', '/api/dial', {'entry': 'Metro Online'})[0], 200)
            wire.wait_for(lambda line: line.startswith(b'Connected'), 20)
            events.wait_for('status', lambda s: s['connected'] and s['entry'] == 'Metro Online', 5)
            # A lock taken on the page holds the wire client's hang-up back.
            self.assertEqual(w.call('POST', '/api/lock', {})[0], 200)
            events.wait_for('me', lambda m: m['lock'] == 'locking')
            wire.send(b'hangup')
            events.wait_for('status', lambda s: s['lock'] == 'locked')
            self.assertEqual(w.call('POST', '/api/lock', {})[0], 200)
            events.wait_for('status', lambda s: s['lock'] == 'free')
            self.assertEqual(w.call('POST', '/api/hangup', {})[0], 200)
            events.wait_for('status', lambda s: not s['connected'], 20)
            # Chat both ways.
            self.assertEqual(w.call('POST', '/api/message', {'to': '10.0.0.9', 'text': 'hello wire'})[0], 200)
            wire.wait_for(lambda line: b'hello wire' in line)
            record = b'10.0.0.9\xe3pc9\xe3hello page\xe4\xe3\xe5'
            wire.send(b'pesan', b'127.0.0.1', record)
            got = events.wait_for('message', lambda m: any(x['text'] == 'hello page' for x in m))
            self.assertEqual(got[0]['from'], 'pc9')
            self.assertEqual(w.call('POST', '/api/message', {'to': 'All', 'text': ''})[0], 400)
            # Logged out: gone from the list, its stream ended.
            self.assertEqual(w.call('POST', '/api/logout', {})[0], 200)
            wire.send(b'stat')
            wire.wait_for(lambda line: line.count(b'\xe2') >= 11 and b'demo@web' not in line.split(b'\xe0')[0])
            with self.assertRaises((EOFError, ConnectionError, ssl.SSLError)):
                while True:
                    events.next(10)
        finally:
            events.close()
            wire.close()

    def test_log_rows_of_a_month(self):
        w = self.web()
        w.login()
        status, body, _ = w.call('GET', '/api/log?month=13&year=2024')
        self.assertEqual(status, 400)
        status, body, _ = w.call('GET', '/api/log?month=%d&year=%d' % (time.localtime().tm_mon,
                                                                     time.localtime().tm_year))
        self.assertEqual(status, 200)
        self.assertIn('rows', body)
        self.assertRegex(body['cost'], r'^\d+\.\d\d$')

    def test_bounds_of_the_web_port(self):
        # Plain HTTP on the HTTPS port gets nothing and is closed.
        with socket.create_connection(('127.0.0.1', self.server.web), timeout=10) as s:
            s.sendall(b'GET / HTTP/1.1\r\nHost: x\r\n\r\n')
            s.settimeout(10)
            try:
                self.assertEqual(s.recv(100)[:4] == b'HTTP', False)
            except ConnectionResetError:
                pass
        # A request larger than the bound is cut off unanswered.
        with context().wrap_socket(socket.create_connection(('127.0.0.1', self.server.web), timeout=10)) as s:
            body = b'{"user":"' + b'x' * 200_000 + b'"}'
            s.sendall(b'POST /api/login HTTP/1.1\r\nHost: x\r\nContent-Length: %d\r\n\r\n' % len(body))
            try:
                s.sendall(body)
                answer = s.recv(100)
            except (ConnectionError, ssl.SSLError):
                answer = b''
            self.assertEqual(answer, b'')
        # The page is served, with no outside source allowed.
        status, page, _ = self.web().call('GET', '/')
        self.assertEqual(status, 200)
        self.assertIn(b'<script src="app.js"', page)
        self.assertNotIn(b'http://', page)
        self.assertNotIn(b'https://', page)

    def test_metrics_parse_as_prometheus_text(self):
        w = self.web()
        w.login()
        connected = w.call('GET', '/api/status')[1]['connected']
        status, text, _ = w.call('GET', '/metrics')
        self.assertEqual(status, 200)
        samples, types = parse_prometheus(text.decode())
        for name in ('velora_line_up', 'velora_seconds_online', 'velora_month_cost', 'velora_clients',
                     'velora_refused_connections_total'):
            self.assertIn(name, samples)
        self.assertIn('velora_bytes_total{direction="download"}', samples)
        self.assertEqual(types['velora_bytes_total'], 'counter')
        self.assertEqual(samples['velora_line_up'], 1 if connected else 0)
        self.assertGreaterEqual(samples['velora_clients'], 1)


class UsageFigures(unittest.TestCase):
    def test_the_cycles_bytes_per_computer_in_the_api_the_status_and_the_metrics(self):
        with tempfile.TemporaryDirectory() as d:
            server = Server(d + '/base', BINARY, '[policy]\nmonthlybytes=10\nbillingday=1\n').start()
            server.stop()
            today = time.strftime('%Y-%m-%d')
            db = sqlite3.connect(server.base + '/config/log.db')
            db.executemany('INSERT INTO usage (day, address, name, bytesdown, bytesup) VALUES (?, ?, ?, ?, ?)',
                           [(today, '192.168.1.20', 'pc-small', 1048576, 0),
                            (today, '192.168.1.10', 'pc-big', 2097152, 1048576),
                            ('1999-01-01', '192.168.1.30', 'pc-old', 5, 5)])
            db.commit()
            db.close()
            server.start()
            try:
                w = Web(server.web)
                self.assertEqual(w.call('GET', '/api/usage')[0], 401)
                w.login()
                status, u, _ = w.call('GET', '/api/usage')
                self.assertEqual(status, 200)
                self.assertEqual([(c['name'], c['bytesDown'], c['bytesUp']) for c in u['computers']],
                                 [('pc-big', 2097152, 1048576), ('pc-small', 1048576, 0)])
                self.assertEqual((u['bytesUsed'], u['bytesCap']), (4194304, 10485760))
                self.assertEqual(u['first'], time.strftime('%Y-%m-01'))
                s = w.call('GET', '/api/status')[1]
                self.assertEqual((s['monthBytes'], s['monthBytesCap']), (4194304, 10485760))
                samples, _ = parse_prometheus(w.call('GET', '/metrics')[1].decode())
                self.assertEqual(samples['velora_month_bytes'], 4194304)
                # The same figures from the command line beside the running server,
                # its options after the word as its usage line shows them.
                run = lambda *a: subprocess.run([BINARY, '--basedir', server.base, 'usage'] + list(a),
                                                capture_output=True, text=True, timeout=30)
                j = json.loads(run('--json').stdout)
                self.assertEqual([c['name'] for c in j['computers']], ['pc-big', 'pc-small'])
                lines = run('--month', time.strftime('%m'), '--year', time.strftime('%Y')).stdout.splitlines()
                self.assertEqual(lines[0].split('\t'), ['192.168.1.10', 'pc-big', '2097152', '1048576'])
                self.assertEqual(len(lines), 3)
                old = run('--month=1', '--year=1999').stdout.splitlines()
                self.assertEqual(old[0].split('\t')[:2], ['192.168.1.30', 'pc-old'])
                self.assertEqual(run('--bogus').returncode, 2)
            finally:
                server.stop()


def raw_request(port, request, source='127.0.0.1', rcvbuf=None):
    """A TLS connection from source with request sent; the socket."""
    raw = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    if rcvbuf:
        raw.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
    raw.settimeout(10)
    raw.bind((source, 0))
    raw.connect(('127.0.0.1', port))
    s = context().wrap_socket(raw)
    s.sendall(request)
    return s


def read_answer(s):
    """Status line, headers and the body of Content-Length."""
    data = b''
    while b'\r\n\r\n' not in data:
        chunk = s.recv(65536)
        if not chunk:
            raise EOFError(data[:200])
        data += chunk
    head, body = data.split(b'\r\n\r\n', 1)
    length = int(re.search(rb'(?i)content-length: *(\d+)', head).group(1))
    while len(body) < length:
        chunk = s.recv(65536)
        if not chunk:
            raise EOFError('%d of %d bytes' % (len(body), length))
        body += chunk
    return head, body


class SlowReadersAndStreamsThatLeft(unittest.TestCase):
    def test_a_large_answer_to_a_slow_reader_and_the_places_of_streams_that_left(self):
        with tempfile.TemporaryDirectory() as d:
            server = Server(d + '/base', BINARY).start()
            server.stop()
            today = time.strftime('%Y-%m-%d')
            db = sqlite3.connect(server.base + '/config/log.db')
            db.executemany('INSERT INTO usage (day, address, name, bytesdown, bytesup) VALUES (?, ?, ?, ?, ?)',
                           [(today, '10.1.%d.%d' % (i // 250, i % 250), 'pc-%04d' % i, 1000 + i, i)
                            for i in range(1500)])
            db.commit()
            db.close()
            server.start()
            try:
                w = Web(server.web)
                w.login()
                token = w.token.encode()
                # Some 100 KB in one answer, to a reader with a small window that
                # reads only after another call was served.
                slow = raw_request(server.web, b'GET /api/usage HTTP/1.1\r\nHost: x\r\nX-Velora-Token: ' + token +
                                   b'\r\n\r\n', rcvbuf=4096)
                self.assertEqual(w.call('GET', '/api/status')[0], 200)
                head, body = read_answer(slow)
                slow.close()
                self.assertTrue(head.startswith(b'HTTP/1.1 200'), head)
                computers = json.loads(body)['computers']
                self.assertEqual(len(computers), 1500)
                self.assertEqual(computers[0]['name'], 'pc-1499')

                # One address fills its places with event streams; the next is refused.
                events = b'GET /api/events HTTP/1.1\r\nHost: x\r\nX-Velora-Token: ' + token + b'\r\n\r\n'
                streams = [raw_request(server.web, events, source='127.0.0.77') for _ in range(32)]
                for s in streams:
                    self.assertTrue(s.recv(4096).startswith(b'HTTP/1.1 200'))
                status = b'GET /api/status HTTP/1.1\r\nHost: x\r\nX-Velora-Token: ' + token + b'\r\n\r\n'
                with self.assertRaises((ssl.SSLError, ConnectionError, EOFError)):
                    read_answer(raw_request(server.web, status, source='127.0.0.77'))
                # The browsers leave without a word and nothing is sent to the
                # streams: their places are free again within seconds.
                for s in streams:
                    s.close()
                end = time.monotonic() + 10
                while True:
                    try:
                        head, _ = read_answer(raw_request(server.web, status, source='127.0.0.77'))
                        break
                    except (ssl.SSLError, ConnectionError, EOFError):
                        self.assertLess(time.monotonic(), end, 'the left streams still hold their places')
                        time.sleep(0.2)
                self.assertTrue(head.startswith(b'HTTP/1.1 200'), head)
            finally:
                server.stop()


class MetricsSwitchedOff(unittest.TestCase):
    def test_metrics_off(self):
        with tempfile.TemporaryDirectory() as d:
            server = Server(d + '/base', BINARY, 'metrics=0\n').start()
            try:
                self.assertEqual(Web(server.web).call('GET', '/metrics')[0], 404)
            finally:
                server.stop()


if __name__ == '__main__':
    unittest.main(verbosity=2)
