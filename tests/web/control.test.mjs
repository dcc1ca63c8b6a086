// Database Control in a real browser: from a down instance to an open one
// and through every state, each page showing the state it reports.
import assert from 'node:assert/strict';
import path from 'node:path';
import { test } from 'node:test';
import { outputDir, press, serveAndBrowse, vdbadm } from './harness.mjs';

const web = serveAndBrowse();

const LIGHTS = { open: 'kvsgreenlight', mounted: 'kvsyellowlight', down: 'kvsredlight' };

async function logIn(page, user) {
  await page.goto(`${web.server.base}/PROD-bin/login`);
  await page.fill('#user', user);
  await page.fill('#password', 'demo');
  await Promise.all([page.waitForNavigation({ waitUntil: 'load' }), page.getByRole('button', { name: 'Log in' }).click()]);
}

// The state the page reports, and that its light and tool map agree with it.
async function shownState(page) {
  const state = (await page.locator('tr:has(th:text-is("Instance")) td').textContent()).trim();
  const light = page.locator(`img[src="/PROD/kv/pics/${LIGHTS[state]}.gif"]`);
  assert.equal(await light.count(), 1, `the ${state} light`);
  assert.ok(await light.evaluate((img) => img.naturalWidth > 0), 'the light is served');
  const map = page.locator(`map[name="${state === 'open' ? 'kvcmup.map' : 'kvcmnotup.map'}"]`).first();
  const areas = await map.locator('area').count();
  assert.equal(areas, state === 'open' ? 6 : 2, `the map of an instance ${state}`);
  return state;
}

test('from a down instance, INTERNAL starts it up from Database Control', async () => {
  vdbadm('stop', 'PROD');
  const page = await web.browser.newPage();
  try {
    await logIn(page, 'INTERNAL');
    // While the instance is down the tool map has two areas; the first leads here.
    await Promise.all([
      page.waitForURL(`${web.server.base}/PROD-bin/kvd`),
      page.locator('img[usemap="#kvcmnotup.map"]').first().click({ position: { x: 40, y: 15 } }),
    ]);
    assert.equal(await page.title(), 'Database Control');
    assert.equal(await shownState(page), 'down');
    await page.screenshot({ path: path.join(outputDir, 'control-down.png'), fullPage: true });
    assert.ok(await page.locator('input[name=KVDSTARTMODE][value=OPEN]').isChecked());
    await press(page, 'Start Up');
    assert.match(await page.textContent('body'), /Instance PROD was opened\./);
    assert.equal(await shownState(page), 'open');
    await page.screenshot({ path: path.join(outputDir, 'control-open.png'), fullPage: true });
  } finally {
    await page.close();
    vdbadm('start', 'PROD');
  }
});

test('every state of the instance is reached and left from Database Control alone', async () => {
  const page = await web.browser.newPage();
  try {
    await logIn(page, 'SYSTEM');
    await page.goto(`${web.server.base}/PROD-bin/kvd`);
    assert.equal(await shownState(page), 'open');

    await press(page, 'Shut Down');
    assert.equal(await shownState(page), 'down');

    await page.check('input[name=KVDSTARTMODE][value=MOUNT]');
    await press(page, 'Start Up');
    assert.equal(await shownState(page), 'mounted');
    await page.screenshot({ path: path.join(outputDir, 'control-mounted.png'), fullPage: true });
    await press(page, 'Open');
    assert.equal(await shownState(page), 'open');

    // An abort is confirmed first; Cancel keeps the instance open.
    await page.check('input[name=KVDSHUTMODE][value=ABORT]');
    await press(page, 'Shut Down');
    assert.match(await page.textContent('body'), /Shut Down Abort will take instance PROD down at once/);
    await page.screenshot({ path: path.join(outputDir, 'control-confirm.png'), fullPage: true });
    await press(page, 'Cancel');
    assert.equal(await shownState(page), 'open');
    await page.check('input[name=KVDSHUTMODE][value=ABORT]');
    await press(page, 'Shut Down');
    await press(page, 'Shut Down');
    assert.match(await page.textContent('body'), /Instance PROD was shut down \(abort\)/);
    assert.equal(await shownState(page), 'down');

    await press(page, 'Start Up');
    assert.equal(await shownState(page), 'open');
  } finally {
    await page.close();
    vdbadm('start', 'PROD');
  }
});
