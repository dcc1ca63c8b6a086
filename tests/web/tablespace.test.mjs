// The tablespace tool in a real browser: the usage page with its chart, and a
// data file added through the form.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';
import { home, loggedIn, outputDir, serveAndBrowse } from './harness.mjs';

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
