// Opens a ReplayWeb.page address in a headless Chromium through the DevTools protocol and
// prints what the replayed page shows: the text of the frame the player fills, its title and
// the size of its first image (0x0 when the image did not load). Waits until the frame has
// text and a loaded image, or the time given has passed.
//   node --experimental-websocket replay_check.mjs DEVTOOLS_PORT URL WAIT_MS
const [port, url, waitMs] = process.argv.slice(2);
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
let version;
for (let i = 0; i < 100 && !version; ++i) {
  try {
    version = await (await fetch(`http://127.0.0.1:${port}/json/version`)).json();
  } catch {
    await sleep(200);
  }
}
if (!version) {
  console.log('no browser');
  process.exit(1);
}
const ws = new WebSocket(version.webSocketDebuggerUrl);
await new Promise((resolve) => ws.addEventListener('open', resolve));
let next = 0;
const pending = new Map();
ws.addEventListener('message', (event) => {
  const m = JSON.parse(event.data);
  if (m.id && pending.has(m.id)) {
    pending.get(m.id)(m);
    pending.delete(m.id);
  }
});
const send = (method, params = {}, sessionId = undefined) =>
  new Promise((resolve) => {
    const id = ++next;
    pending.set(id, resolve);
    ws.send(JSON.stringify({ id, method, params, sessionId }));
  });
const { result: { targetId } } = await send('Target.createTarget', { url });
const { result: { sessionId } } = await send('Target.attachToTarget', { targetId, flatten: true });
// The player draws the page in an iframe inside its components' shadow roots.
const probe = `(() => {
  const frames = [];
  const walk = (root) => {
    for (const el of root.querySelectorAll('*')) {
      if (el.tagName === 'IFRAME') frames.push(el);
      if (el.shadowRoot) walk(el.shadowRoot);
    }
  };
  walk(document);
  for (const f of frames) {
    try {
      const d = f.contentDocument;
      if (!d || !d.body || !d.body.innerText.trim()) continue;
      const img = d.querySelector('img');
      return JSON.stringify({ src: f.src, text: d.body.innerText.trim(), title: d.title,
                              image: img ? img.naturalWidth + 'x' + img.naturalHeight : '' });
    } catch (e) {}
  }
  return JSON.stringify({ frames: frames.map((f) => f.src), top: document.body ? document.body.innerText.slice(0, 300) : '' });
})()`;
let shown = '';
const end = Date.now() + Number(waitMs);
while (Date.now() < end) {
  const r = await send('Runtime.evaluate', { expression: probe, returnByValue: true }, sessionId);
  const value = r.result && r.result.result ? r.result.result.value : undefined;
  shown = typeof value === 'string' ? value : JSON.stringify(r);
  if (shown.includes('"text"') && !shown.includes('"image":"0x0"')) break;
  await sleep(500);
}
console.log(shown);
await send('Browser.close');
process.exit(0);
