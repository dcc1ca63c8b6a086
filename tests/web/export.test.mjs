// The export tool in a real browser, served by Apache: from the login to a
// table export whose utility lines appear in the page.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';
import { home, loggedIn, outputDir, press, serveAndBrowse } from './harness.mjs';

const web = serveAndBrowse();

test('a DBA exports two tables and reads the utility\'s lines in the page', async () => {
  const dump = path.join(home, 'export', 'web-two-tables.dmp');
  fs.rmSync(dump, { force: true });
  const page = await loggedIn(web);

  // The export tool is the tool map's third area.
  await Promise.all([
    page.waitForURL(`${web.server.base}/PROD-bin/nph-kve`),
    page.locator('img[usemap="#kvcmup.map"]').first().click({ position: { x: 195, y: 15 } }),
  ]);
  assert.equal(await page.title(), 'Export and Import');
  assert.ok(await page.isChecked('input[name=KVESELECTOPTS][value="Full database"]'));

  await page.check('input[name=KVESELECTOPTS][value=Tables]');
  await press(page, 'Apply Scope');
  assert.equal(await page.locator('input[type=checkbox][name^=T]').count(), 6);
  await page.check('input[value="HR.STAFF"]');
  await page.check('input[value="SALES.REGIONS"]');
  await page.fill('input[name=KVEEXPFILE]', dump);
  await page.screenshot({ path: path.join(outputDir, 'export-tables.png'), fullPage: true });

  await press(page, 'Export');
  const lines = page.locator('pre', { hasText: 'Export terminated' });
  assert.ok(await lines.isVisible());
  const text = await lines.textContent();
  assert.match(text, /exporting table HR\.STAFF 60 rows exported/);
  assert.match(text, /exporting table SALES\.REGIONS \d+ rows exported/);
  assert.doesNotMatch(text, /SALES\.ORDERS/);
  assert.match(text, /Export terminated successfully\./);
  await page.screenshot({ path: path.join(outputDir, 'export-run.png'), fullPage: true });
  assert.ok(fs.existsSync(dump), 'the dump file lies where it was asked for');
  assert.deepEqual(fs.readdirSync(path.join(home, 'export')).filter((f) => f.startsWith('exppar')), []);
  await page.close();
});
