// The login form page in a real browser, served by Apache.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import path from 'node:path';
import { test } from 'node:test';
import { home, loggedIn, outputDir, serveAndBrowse } from './harness.mjs';

const web = serveAndBrowse();

test('the login page names the instance of its address and offers the home', async (t) => {
  for (const sid of ['PROD', 'TEST']) {
    await t.test(sid, async () => {
      const page = await web.browser.newPage();
      const response = await page.goto(`${web.server.base}/${sid}-bin/login`);
      assert.equal(response.status(), 200);
      assert.equal(await page.textContent('#sid'), sid);
      assert.equal(await page.inputValue('input[name=VANTOR_SID]'), sid);
      assert.equal(await page.inputValue('input[name=VANTOR_HOME]'), home);
      assert.equal(await page.getAttribute('input[name=KVCPASSWORD]', 'type'), 'password');
      if (sid === 'PROD') await page.screenshot({ path: path.join(outputDir, 'login.png'), fullPage: true });
      await page.close();
    });
  }
});

test('a DBA logs in through the form and follows the tool bar to the backup tool', async () => {
  const page = await web.browser.newPage();
  await page.goto(`${web.server.base}/PROD-bin/login`);
  await page.fill('#user', 'SYSTEM');
  await page.fill('#password', 'demo');
  const [request] = await Promise.all([
    page.waitForRequest((r) => r.method() === 'POST'),
    page.getByRole('button', { name: 'Log in' }).click(),
  ]);
  const response = await request.response();
  assert.equal(new URL(request.url()).pathname, '/PROD-bin/kvla');
  const { KVCTOKEN: token, ...fields } = Object.fromEntries(new URLSearchParams(request.postData()));
  assert.match(token, /^\d+\.[0-9a-f]{64}$/, 'the login page\'s own token');
  assert.deepEqual(fields, { VANTOR_SID: 'PROD', VANTOR_HOME: home, KVCUSER: 'SYSTEM', KVCPASSWORD: 'demo' });
  assert.equal(response.status(), 200);
  assert.match(response.headers()['content-type'], /^text\/html/);

  await page.waitForLoadState('load');
  const light = page.locator('img[src="/PROD/kv/pics/kvsgreenlight.gif"]');
  assert.ok(await light.evaluate((img) => img.naturalWidth > 0), 'the green light is served');
  assert.equal(await page.locator('map[name="kvcmup.map"] area').count(), 6);
  await page.screenshot({ path: path.join(outputDir, 'launcher.png'), fullPage: true });

  // The backup tool is the map's last area, at the right end of the picture.
  const toolMap = page.locator('img[usemap="#kvcmup.map"]');
  await Promise.all([
    page.waitForURL(`${web.server.base}/PROD-bin/nph-kvb`),
    toolMap.click({ position: { x: 430, y: 15 } }),
  ]);
  // Only the cookie tells the backup tool who is logged in where.
  assert.equal(await page.title(), 'Backup');
  assert.match(await page.textContent('body'), /User:\s*SYSTEM/);
  assert.equal(await page.locator('img[src="/PROD/kv/pics/kvsgreenlight.gif"]').count(), 1);
  await page.close();
});

// Run directly, as Apache would, to reach what its addresses never send: no
// instance, a malformed one, a home holding markup.
function runLogin(env) {
  const output = execFileSync(path.join(home, 'kv/bin/login'), { env: { PATH: process.env.PATH, ...env }, encoding: 'utf8' });
  const split = output.indexOf('\n\n');
  return { head: output.slice(0, split), body: output.slice(split + 2) };
}

test('an address without a proper instance id gets a message, not a form', async (t) => {
  const hostile = '/<script>alert(1)</script>-bin/login';
  for (const scriptName of [undefined, '/login', '/-bin/login', '/PROD/login', '/PR D-bin/login', '/PR%2FD-bin/login', hostile]) {
    await t.test(String(scriptName), async () => {
      const { head, body } = runLogin(scriptName === undefined ? {} : { SCRIPT_NAME: scriptName });
      assert.match(head, /^Status: 400 /);
      const page = await web.browser.newPage();
      await page.setContent(body);
      assert.equal(await page.locator('form').count(), 0);
      assert.match(await page.textContent('body'), /names no database instance/);
      assert.equal(await page.locator('script').count(), 0);
      await page.close();
    });
  }
});

test('a home holding markup comes back as the same text, never as markup', async () => {
  const markedHome = '/h"><script>document.title="owned"</script>\' x=`y`&amp;';
  const { body } = runLogin({ SCRIPT_NAME: '/PROD-bin/login', VANTOR_HOME: markedHome });
  const page = await web.browser.newPage();
  await page.setContent(body);
  assert.equal(await page.inputValue('input[name=VANTOR_HOME]'), markedHome);
  assert.equal(await page.locator('script').count(), 0);
  assert.notEqual(await page.title(), 'owned');
  await page.close();
});

test('a user logs out from the login page, and the tools ask for a login again', async () => {
  const page = await loggedIn(web);
  await page.goto(`${web.server.base}/PROD-bin/login`);
  assert.equal(await page.textContent('#logged-in'), 'SYSTEM');
  await page.screenshot({ path: path.join(outputDir, 'login-logout.png'), fullPage: true });
  await Promise.all([page.waitForURL(`${web.server.base}/PROD-bin/login`), page.click('text=Log out')]);
  assert.equal(await page.locator('#logged-in').count(), 0);
  assert.equal((await web.browser.cookies()).filter((c) => c.name === 'KVCOOKIE').length, 0);
  // Without the login a tool's page leads back to the login page.
  await page.goto(`${web.server.base}/PROD-bin/kvx`);
  assert.match(await page.textContent('body'), /KVC-OH-100/);
  await Promise.all([page.waitForURL(`${web.server.base}/PROD-bin/login`), page.click('text=Log in to instance PROD.')]);
  await page.close();
});
