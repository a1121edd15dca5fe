// node page-click.js PROFILE_DIR URL [X Y]
// Opens URL in headless Chromium (driven over its DevTools pipe), waits for
// the operator's page to settle, clicks the pixel X, Y when given, and prints
// what the page then shows as JSON: the address's hash, the map's centre and
// the clicked place. Exits non-zero when the page does not answer in time.
'use strict';
const { spawn } = require('child_process');
const [profile, url, x, y] = process.argv.slice(2);
const chromium = spawn('chromium', ['--headless=new', '--no-sandbox', '--disable-gpu', '--no-first-run',
  '--remote-debugging-pipe', '--user-data-dir=' + profile, '--window-size=1000,700', 'about:blank'],
  { stdio: ['ignore', 'ignore', 'ignore', 'pipe', 'pipe'] });
const toBrowser = chromium.stdio[3], fromBrowser = chromium.stdio[4];
const waiting = new Map();
let next = 1, pending = Buffer.alloc(0);
fromBrowser.on('data', (chunk) => {
  pending = Buffer.concat([pending, chunk]);
  for (let end; (end = pending.indexOf(0)) >= 0; pending = pending.subarray(end + 1)) {
    const message = JSON.parse(pending.subarray(0, end).toString('utf8'));
    const done = waiting.get(message.id);
    if (done) { waiting.delete(message.id); done(message); }
  }
});
function send(method, params, sessionId) {
  const id = next++;
  toBrowser.write(JSON.stringify({ id, method, params: params || {}, sessionId }) + '\0');
  return new Promise((resolve, reject) => waiting.set(id, (m) => (m.error ? reject(new Error(m.error.message)) : resolve(m.result))));
}
const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
function finish(status, output) {
  if (output) process.stdout.write(JSON.stringify(output) + '\n');
  chromium.kill('SIGKILL');
  process.exit(status);
}
setTimeout(() => finish(3, { error: 'timed out' }), 40000);

(async () => {
  const { targetId } = await send('Target.createTarget', { url });
  const { sessionId } = await send('Target.attachToTarget', { targetId, flatten: true });
  const value = async (expression) =>
    (await send('Runtime.evaluate', { expression, returnByValue: true }, sessionId)).result.value;
  // Settled: the status filled in and no tile still loading.
  while (!(await value('document.getElementById("status") && document.getElementById("status").dataset.filled === "yes" && ' +
                       'document.querySelectorAll(".leaflet-tile:not(.leaflet-tile-loaded)").length === 0')))
    await pause(100);
  await pause(500);
  if (x !== undefined) {
    for (const type of ['mousePressed', 'mouseReleased'])
      await send('Input.dispatchMouseEvent', { type, x: +x, y: +y, button: 'left', clickCount: 1 }, sessionId);
    while (!(await value('document.getElementById("clicked").dataset.name !== undefined'))) await pause(100);
  }
  finish(0, await value('({ hash: location.hash, centre: Object.assign({}, document.getElementById("centre").dataset), ' +
                        'clicked: Object.assign({}, document.getElementById("clicked").dataset), ' +
                        'streets: document.getElementById("s-streets").textContent, ' +
                        'attribution: document.querySelector(".leaflet-control-attribution").textContent })'));
})().catch((e) => finish(2, { error: e.message }));
