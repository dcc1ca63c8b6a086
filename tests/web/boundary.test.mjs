// The trust boundary through Apache, tried the way a stranger tries it: a
// page of another port that acts in the logged-in user's name, a frame around
// a tool, a Host header of the stranger's choosing, TRACE; and a login with a
// text browser, which sends no Origin at all.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { test } from 'node:test';
import { getRaw, home, loggedIn, outputDir, serveAndBrowse, sql } from './harness.mjs';

const web = serveAndBrowse();

const usersStatus = () => sql("select status from sys.dba_tablespaces where tablespace_name='USERS'").trim();

// A site of the stranger's on another port of the same host: the browser
// counts it as the same site, so a SameSite cookie goes with its requests.
async function strangersSite(html) {
  const server = http.createServer((request, response) => {
    response.writeHead(200, { 'Content-Type': 'text/html' });
    response.end(html);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return { base: `http://127.0.0.1:${server.address().port}`, close: () => new Promise((r) => server.close(r)) };
}

const cookieOf = async (context) => (await context.cookies()).find((c) => c.name === 'KVCOOKIE')?.value ?? '';

test('a page of another port cannot act in the logged-in user\'s name', async () => {
  const page = await loggedIn(web);
  const cookie = await cookieOf(web.browser);
  assert.match(cookie, /KVCUSER=SYSTEM/);
  const tool = `${web.server.base}/PROD-bin`;
  const switchFields = 'KVXPDINSTANCE=1&KVXTBLSPNAME=USERS&KVXTODO=Switch+Online+or+Offline';
  const stranger = await strangersSite(`<!DOCTYPE html><html><body>
    <img src="${tool}/kvx?${switchFields}">
    <iframe name="one"></iframe><iframe name="two"></iframe><iframe name="three"></iframe>
    <form id="switch" method="post" action="${tool}/kvx" target="one">
      <input name="KVXPDINSTANCE" value="1"><input name="KVXTBLSPNAME" value="USERS">
      <input name="KVXTODO" value="Switch Online or Offline"></form>
    <form id="export" method="post" action="${tool}/nph-kve" target="two">
      <input name="KVEINSTANCE" value="1"><input name="KVESUBMIT" value="Export">
      <input name="KVESELECTOPTS" value="Full database"><input name="KVEEXPFILE" value="stolen.dmp"></form>
    <form id="login" method="post" action="${tool}/kvla" target="three">
      <input name="VANTOR_HOME" value="${home}"><input name="VANTOR_SID" value="PROD">
      <input name="KVCUSER" value="EVE"><input name="KVCPASSWORD" value="demo"></form>
    <script>for (const id of ['switch', 'export', 'login']) document.getElementById(id).submit();</script>
    </body></html>`);
  // Each of the four requests reaches the server; the browser shows none of
  // the answers (a frame refuses them, a picture is no picture).
  const names = ['kvx?', 'kvx', 'nph-kve', 'kvla'];
  const sent = names.map((name) => new Promise((resolve) => {
    const match = (r) => r.url().startsWith(`${tool}/${name}`) && (name.endsWith('?') === r.url().includes('?'));
    const done = (r) => { if (match(r)) resolve(r); };
    page.on('requestfinished', done);
    page.on('requestfailed', done);
  }));
  await page.goto(stranger.base);
  const requests = await Promise.all(sent);
  await stranger.close();
  for (const request of requests.slice(1)) {
    assert.equal(request.method(), 'POST');
    assert.equal(request.headers().origin, stranger.base, 'the browser says where the form comes from');
  }
  assert.equal(usersStatus(), 'ONLINE');
  assert.ok(!fs.existsSync(path.join(home, 'export', 'stolen.dmp')), 'nothing was exported');
  assert.equal(await cookieOf(web.browser), cookie, 'the login stays the user\'s own');

  // The same steps from the tools' own pages go through.
  await page.goto(`${tool}/kvx`);
  await page.selectOption('select[name=KVXTBLSPNAME]', { label: 'USERS' });
  await Promise.all([page.waitForNavigation(), page.click('input[value="Show Tablespace"]')]);
  await Promise.all([page.waitForNavigation(), page.click('input[value="Switch Online or Offline"]')]);
  assert.equal(usersStatus(), 'OFFLINE');
  await Promise.all([page.waitForNavigation(), page.click('input[value="Switch Online or Offline"]')]);
  assert.equal(usersStatus(), 'ONLINE');
  await page.close();
});

test('no page of the tools can be framed by another site', async () => {
  const page = await loggedIn(web);
  const stranger = await strangersSite(`<!DOCTYPE html><html><body>
    <iframe id="tool" src="${web.server.base}/PROD-bin/kvx" width="800" height="600"></iframe></body></html>`);
  const answer = page.waitForResponse((r) => r.url().startsWith(`${web.server.base}/PROD-bin/kvx`));
  const refused = page.waitForEvent('requestfailed', (r) => r.url().startsWith(`${web.server.base}/PROD-bin/kvx`));
  await page.goto(stranger.base);
  const response = await answer;
  assert.equal(response.headers()['x-frame-options'], 'DENY');
  assert.equal(response.headers()['content-security-policy'], "frame-ancestors 'none'");
  assert.equal((await refused).failure().errorText, 'net::ERR_BLOCKED_BY_RESPONSE', 'the browser shows nothing of it');
  await page.screenshot({ path: path.join(outputDir, 'framed.png') });
  await stranger.close();
  await page.close();
});

test('addresses name the server as configured, whatever the Host header says', async () => {
  const page = await loggedIn(web);
  const raw = await getRaw(`${web.server.base}/PROD-bin/nph-kve`,
    { Host: 'attacker.example:666', Cookie: `KVCOOKIE=${await cookieOf(web.browser)}` });
  assert.match(raw, /^HTTP\/1\.0 200 Okay/);
  assert.doesNotMatch(raw, /attacker\.example/);
  assert.ok(raw.includes(`<form method=post action=${web.server.base}/PROD-bin/nph-kve>`), raw);
  await page.close();
});

test('TRACE is not answered', async () => {
  const raw = await getRaw(`${web.server.base}/PROD-bin/nph-kvb`, {}, 'TRACE');
  assert.match(raw, /^HTTP\/1\.1 405/);
  assert.doesNotMatch(raw, /KVCOOKIE/);
});

test('a text browser logs in through the form, reads the instance\'s state and every tool, and reaches a tool', () => {
  const dir = fs.mkdtempSync(path.join(outputDir, 'lynx-'));
  const saved = (name) => path.join(dir, name);
  const tool = `${web.server.base}/PROD-bin/kvx`;
  const type = (text) => [...text].map((c) => `key ${c}`);
  const save = (file) => ['key p', 'key ^J', 'key ^U', ...type(saved(file)), 'key ^J'];
  // The login form's fields in order: home (filled in), user, password and
  // the button. On the launcher's page the second link is the tool map,
  // which lynx lists by its areas' texts. Then a tool's page by its address.
  const keys = ['key Down Arrow', ...type('SYSTEM'), 'key Down Arrow', ...type('demo'), 'key Down Arrow', 'key ^J',
    ...save('launcher.txt'), 'key Down Arrow', 'key ^J', ...save('map.txt'),
    'key g', ...type(tool), 'key ^J', ...save('kvx.txt'), 'key q', 'key y'];
  const script = path.join(dir, 'keys');
  fs.writeFileSync(script, `${keys.join('\n')}\n`);
  execFileSync('lynx', ['-accept_all_cookies', `-cmd_script=${script}`, `${web.server.base}/PROD-bin/login`],
    { env: { ...process.env, TERM: 'vt100', HOME: dir }, stdio: 'ignore', timeout: 30_000 });
  const launcher = fs.readFileSync(saved('launcher.txt'), 'utf8');
  assert.match(launcher, /Instance up/);
  assert.match(launcher, /User: SYSTEM/);
  const map = fs.readFileSync(saved('map.txt'), 'utf8');
  for (const name of ['Database Control', 'Security Manager', 'Export and Import', 'Session Manager',
    'Tablespace Manager', 'Backup']) assert.match(map, new RegExp(`\\d\\. ${name}\\n`), map);
  const page = fs.readFileSync(saved('kvx.txt'), 'utf8');
  assert.match(page, /Tablespace: SYSTEM\s+Status: ONLINE/);
  assert.match(page, /Free 5\d+, Used \d+/, 'the chart as its figures');
  assert.doesNotMatch(page, /KVC-|KVLA-/);
});
