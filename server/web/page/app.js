'use strict';
// The page talks to the server's JSON API; live changes come as
// Server-Sent Events. The token answers every POST (the cookie alone is
// not enough), so it is kept for this tab only.
(function () {
  const $ = (id) => document.getElementById(id);
  let token = sessionStorage.getItem('velora_token') || '';
  let me = null;
  let events = null;
  let last = null;
  const samples = [];

  function show(loggedIn) {
    $('login').hidden = loggedIn;
    $('app').hidden = !loggedIn;
    $('logout').hidden = !loggedIn;
    if (!loggedIn) { $('who').textContent = ''; $('user').focus(); }
  }

  async function call(path, body) {
    const opts = body === undefined ? {} : {
      method: 'POST', headers: { 'Content-Type': 'application/json', 'X-Velora-Token': token },
      body: JSON.stringify(body) };
    const r = await fetch(path, opts);
    let data = {};
    try { data = await r.json(); } catch (e) { /* an empty answer */ }
    if (r.status === 401 && path !== '/api/login') loggedOut();
    return { ok: r.ok, status: r.status, data };
  }

  function loggedOut() {
    token = ''; sessionStorage.removeItem('velora_token');
    if (events) { events.close(); events = null; }
    show(false);
  }

  function bytes(n) {
    if (n >= 1048576) return (n / 1048576).toFixed(1) + ' MB/s';
    if (n >= 1024) return (n / 1024).toFixed(1) + ' KB/s';
    return n + ' B/s';
  }

  function since(seconds) {
    if (!seconds) return '';
    const d = new Date(seconds * 1000);
    return d.toLocaleTimeString([], { hour: '2-digit', minute: '2-digit' });
  }

  function button(text, label, onClick, enabled) {
    const b = document.createElement('button');
    b.type = 'button'; b.textContent = text; b.className = 'secondary';
    b.setAttribute('aria-label', label); b.disabled = !enabled;
    b.addEventListener('click', onClick);
    return b;
  }

  async function command(path, body, doing) {
    $('answer').textContent = doing;
    const r = await call(path, body || {});
    $('answer').textContent = r.ok ? '' : (r.data.error || 'Refused (' + r.status + ')');
  }

  function volume(n) {
    const units = ['B', 'KB', 'MB', 'GB', 'TB'];
    let i = 0;
    while (n >= 1024 && i < units.length - 1) { n /= 1024; ++i; }
    return (i ? n.toFixed(2) : String(n)) + ' ' + units[i];
  }

  function render(s) {
    last = s;
    const priv = (me && me.privileges) || {};
    $('status').textContent = s.status || '—';
    $('status-dot').className = 'dot' + (s.connected ? ' up' : (s.status && s.status !== 'READY' ? ' busy' : ''));
    $('entry').textContent = s.connected ? s.entry : '—';
    $('time-online').textContent = s.connected ? (s.timeOnline || '0:00:00') : '—';
    $('speed').textContent = s.connected ? (s.speedText || s.speed) : '—';
    $('month-cost').textContent = s.monthCost !== undefined ? s.monthCost : '—';
    $('month-volume').textContent = s.monthBytes === undefined ? '—'
      : volume(s.monthBytes) + (s.monthBytesCap ? ' of ' + volume(s.monthBytesCap) : '');
    $('error').textContent = s.error || '';
    const holders = s.clients.filter((c) => c.lock === 'locking')
      .map((c) => c.name + (c.lockedSince ? ' since ' + since(c.lockedSince) : ''));
    $('lock-holder').textContent = holders.length ? 'locked by ' + holders.join(', ') : 'free';

    const entries = $('entries');
    entries.replaceChildren(...s.entries.map((name) => {
      const li = document.createElement('li');
      const span = document.createElement('span'); span.textContent = name;
      li.append(span, button('Dial', 'Dial ' + name, () => command('/api/dial', { entry: name }, 'Dialling ' + name + '…'),
        priv.dialHangup && !s.connected));
      return li;
    }));
    $('hangup').disabled = !priv.dialHangup;
    $('unlockall').hidden = !priv.unlockAll;

    const clients = $('clients');
    clients.replaceChildren(...s.clients.map((c) => {
      const li = document.createElement('li');
      const name = document.createElement('span'); name.textContent = c.name + ' (' + c.address + ')';
      const lock = document.createElement('span');
      lock.textContent = c.lock === 'locking' ? 'locking since ' + since(c.lockedSince) : 'free';
      if (c.lock === 'locking') lock.className = 'locked';
      li.append(name, lock);
      return li;
    }));

    const to = $('to'); const chosen = to.value;
    const options = [['All', 'All']].concat(s.clients
      .filter((c) => !me || c.name !== me.name || c.address !== me.address)
      .map((c) => [c.address, c.name + ' (' + c.address + ')']));
    to.replaceChildren(...options.map(([value, text]) => {
      const o = document.createElement('option'); o.value = value; o.textContent = text; return o;
    }));
    if (options.some(([value]) => value === chosen)) to.value = chosen;
  }

  function renderMe(m) {
    me = m;
    $('who').textContent = m.name;
    const locking = m.lock === 'locking';
    $('lock').textContent = locking ? 'Unlock' : 'Lock';
    $('lock').setAttribute('aria-pressed', String(locking));
    if (last) render(last);
  }

  function addMessages(list) {
    const ol = $('messages');
    for (const m of list) {
      const li = document.createElement('li');
      const b = document.createElement('b'); b.textContent = m.from + ': ';
      li.append(b, document.createTextNode(m.text));
      ol.append(li);
    }
    ol.scrollTop = ol.scrollHeight;
  }

  function drawMeter(sample) {
    samples.push(sample); if (samples.length > 60) samples.shift();
    $('down').textContent = bytes(sample.download); $('up').textContent = bytes(sample.upload);
    const c = $('meter'); const g = c.getContext('2d');
    const w = c.width; const h = c.height;
    const top = Math.max(1024, ...samples.map((s) => Math.max(s.download, s.upload)));
    g.clearRect(0, 0, w, h);
    for (const [key, colour] of [['download', '#0b62c4'], ['upload', '#1d8a3a']]) {
      g.strokeStyle = colour; g.lineWidth = 2; g.beginPath();
      samples.forEach((s, i) => {
        const x = (w / 59) * (i + 60 - samples.length); const y = h - 4 - (h - 8) * s[key] / top;
        if (i === 0) g.moveTo(x, y); else g.lineTo(x, y);
      });
      g.stroke();
    }
  }

  function listen() {
    if (events) events.close();
    events = new EventSource('/api/events');
    events.addEventListener('status', (e) => render(JSON.parse(e.data)));
    events.addEventListener('me', (e) => renderMe(JSON.parse(e.data)));
    events.addEventListener('message', (e) => addMessages(JSON.parse(e.data)));
    events.addEventListener('meter', (e) => drawMeter(JSON.parse(e.data)));
    events.onerror = async () => {
      // A closed stream after a logout or an expired login: ask once.
      const r = await call('/api/status');
      if (r.status === 401) loggedOut();
    };
  }

  async function start() {
    if (!token) { show(false); return; }
    const r = await call('/api/status');
    if (!r.ok) { loggedOut(); return; }
    show(true); renderMe(r.data.me); render(r.data); listen();
  }

  $('login-form').addEventListener('submit', async (e) => {
    e.preventDefault();
    $('login-error').textContent = '';
    const r = await call('/api/login', { user: $('user').value, password: $('password').value });
    if (!r.ok) { $('login-error').textContent = r.data.error || 'Login failed'; return; }
    token = r.data.token; sessionStorage.setItem('velora_token', token);
    $('password').value = '';
    start();
  });
  $('logout').addEventListener('click', async () => { await call('/api/logout', {}); loggedOut(); });
  $('hangup').addEventListener('click', () => command('/api/hangup', {}, 'Hanging up…'));
  $('lock').addEventListener('click', () => command('/api/lock', {}, ''));
  $('unlockall').addEventListener('click', () => command('/api/unlockall', {}, ''));
  $('chat-form').addEventListener('submit', async (e) => {
    e.preventDefault();
    const text = $('text').value;
    if (!text.trim()) return;
    const r = await call('/api/message', { to: $('to').value, text });
    if (r.ok) {
      addMessages([{ from: 'You', text }]); $('text').value = '';
    } else {
      $('answer').textContent = r.data.error || 'Not sent';
    }
  });
  $('text').addEventListener('keydown', (e) => {
    if (e.key === 'Enter' && (e.ctrlKey || e.metaKey)) $('chat-form').requestSubmit();
  });
  start();
})();
