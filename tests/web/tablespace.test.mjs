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
