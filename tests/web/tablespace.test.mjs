// The tablespace tool in a real browser: the usage page with its chart, and a
// data file added through the form.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';
import { home, loggedIn, outputDir, serveAndBrowse, sql } from './harness.mjs';

const web = serveAndBrowse();

const total = async (page) => Number(await page.textContent('td:text-is("Total") + td'));

test('the usage page shows its chart, and an added data file grows the total', async () => {
  const page = await loggedIn(web);
  await page.goto(`${web.server.base}/PROD-bin/kvx`);
  const chart = page.locator('img[src*="/PROD-bin/kvx/kvx"]');
  assert.equal(await chart.count(), 1);
  assert.deepEqual(await chart.evaluate((img) => [img.complete, img.naturalWidth, img.naturalHeight]), [true, 110, 110]);
  await page.screenshot({ path: path.join(outputDir, 'tablespace.png'), fullPage: true });

  await page.selectOption('select[name=KVXTBLSPNAME]', { label: 'USERS' });
  await Promise.all([page.waitForNavigation(), page.click('input[value="Show Tablespace"]')]);
  const before = await total(page);
  await Promise.all([page.waitForNavigation(), page.click('input[value="Add Data File"]')]);
  const file = path.join(home, 'dbs', 'web_users02.dbf');
  await page.fill('input[name=KVXNEWDFL]', file);
  await page.fill('input[name=KVXDFLINISZ]', '2');
  await page.check('input[name=KVXINISZUNIT][value=MB]');
  await page.fill('input[name=KVXDFLINCSZ]', '512');
  await page.fill('input[name=KVXDFLMAXSZ]', '0');
  await page.screenshot({ path: path.join(outputDir, 'tablespace-add.png'), fullPage: true });
  await Promise.all([page.waitForNavigation(), page.click('input[name=KVXPDOK]')]);

  assert.equal(await total(page), before + 2048);
  assert.equal(fs.statSync(file).size, 2 * 1024 * 1024);
  assert.ok(await page.locator(`option:text-is("${file}")`).count() > 0, 'the new file is listed');
  assert.ok(await page.locator('img[src*="/PROD-bin/kvx/kvx"]').evaluate((img) => img.naturalWidth === 110));
  await page.screenshot({ path: path.join(outputDir, 'tablespace-added.png'), fullPage: true });
  await page.close();
});

test('the switch beside the status switches the tablespace it stands beside', async () => {
  const page = await loggedIn(web);
  await page.goto(`${web.server.base}/PROD-bin/kvx`);
  await page.selectOption('select[name=KVXTBLSPNAME]', { label: 'USERS' });
  await Promise.all([page.waitForNavigation(), page.click('input[value="Show Tablespace"]')]);
  // The selector is turned to another tablespace, but not shown.
  await page.selectOption('select[name=KVXTBLSPNAME]', { label: 'TOOLS' });
  await Promise.all([page.waitForNavigation(), page.click('input[value="Switch Online or Offline"]')]);
  assert.match(await page.textContent('body'), /Tablespace:\s*USERS\s*Status:\s*OFFLINE/);
  assert.equal(sql("select status from sys.dba_tablespaces where tablespace_name='TOOLS'"), 'ONLINE\n');
  await Promise.all([page.waitForNavigation(), page.click('input[value="Switch Online or Offline"]')]);
  assert.match(await page.textContent('body'), /Tablespace:\s*USERS\s*Status:\s*ONLINE/);
  await page.close();
});

test('a name outside ASCII reads as it was written', async () => {
  const file = path.join(home, 'dbs', 'web_aerger01.dbf');
  sql(`create tablespace "Ärger" datafile '${file}' size 1M`);
  try {
    const page = await loggedIn(web);
    const response = await page.goto(`${web.server.base}/PROD-bin/kvx`);
    assert.equal(response.headers()['content-type'], 'text/html; charset=utf-8');
    await page.selectOption('select[name=KVXTBLSPNAME]', { label: '"Ärger"' });
    await Promise.all([page.waitForNavigation(), page.click('input[value="Show Tablespace"]')]);
    assert.equal(await page.evaluate(() => document.characterSet), 'UTF-8');
    assert.match(await page.textContent('body'), /Tablespace:\s*Ärger\s*Status:\s*ONLINE/);
    await page.screenshot({ path: path.join(outputDir, 'tablespace-aerger.png'), fullPage: true });
    await page.close();
  } finally {
    sql('drop tablespace "Ärger" including contents and datafiles');
  }
});

// The picture as Chromium decodes it: the yellow pixels of a slice just above
// a quarter, against a quarter of the disc (a radius of 45, with the outline's
// pixels on either side of the edge).
test('the chart fills a slice just above a quarter', async () => {
  const page = await web.browser.newPage();
  const address = `${web.server.base}/PROD-bin/kvx/kvx1.gif?KVXUSD=901&KVXTOT=3600`;
  await page.goto(address);
  const yellow = await page.evaluate(async (src) => {
    const image = new Image();
    image.src = src;
    await image.decode();
    const canvas = document.createElement('canvas');
    canvas.width = image.naturalWidth;
    canvas.height = image.naturalHeight;
    const context = canvas.getContext('2d');
    context.drawImage(image, 0, 0);
    const { data } = context.getImageData(0, 0, canvas.width, canvas.height);
    let count = 0;
    for (let i = 0; i < data.length; i += 4) {
      if (data[i] === 255 && data[i + 1] === 255 && data[i + 2] === 0 && data[i + 3] === 255) count++;
    }
    return count;
  }, address);
  const quarter = Math.PI * 45 * 45 / 4;
  assert.ok(Math.abs(yellow - quarter) < 2 * 45 + 45 * Math.PI / 2, `${yellow} yellow pixels`);
  await page.screenshot({ path: path.join(outputDir, 'chart-quarter.png') });
  await page.close();
});
