// The import tool in a real browser, served by Apache: from the login to a
// table of the demo's export file imported into another user, its utility
// lines in the page and its rows in the target schema.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';
import { home, loggedIn, outputDir, press, serveAndBrowse, sql } from './harness.mjs';

const web = serveAndBrowse();


test('a DBA imports tables chosen on two list pages into another user', async () => {
  const page = await loggedIn(web);

  // The tool map's third area leads to the export tool, whose switch leads on
  // to the import tool.
  await Promise.all([
    page.waitForURL(`${web.server.base}/PROD-bin/nph-kve`),
    page.locator('img[usemap="#kvcmup.map"]').first().click({ position: { x: 195, y: 15 } }),
  ]);
  await Promise.all([
    page.waitForURL(`${web.server.base}/PROD-bin/nph-kvi`),
    page.locator('img[usemap="#kve.map"]').click({ position: { x: 40, y: 10 } }),
  ]);
  assert.equal(await page.title(), 'Export and Import');
  assert.ok(await page.isChecked('input[name=KVISELECTOPTS][value="Whole file"]'));

  await page.selectOption('select[name=KVIEXPFILE]', 'expdat.dmp');
  await page.check('input[name=KVISELECTOPTS][value=Tables]');
  await press(page, 'Apply Scope');
  assert.equal(await page.locator('input[type=checkbox][name^=T]').count(), 5);
  // A table of the first page, chosen before paging on: the choice stays.
  const regions = page.locator('input[type=checkbox][name^=T][value=REGIONS]');
  const regionsTarget = `select[name=D${await regions.getAttribute('name')}]`;
  await regions.check();
  await page.selectOption(regionsTarget, 'EVE');
  await press(page, 'More Tables');
  // The demo's six tables: the sixth is alone on the second page.
  assert.deepEqual(await page.locator('input[type=checkbox][name^=T]').evaluateAll(
    (boxes) => boxes.map((box) => `${box.name}=${box.value}`)), ['T5=DEPARTMENTS']);
  await page.check('input[name=T5]');
  await page.selectOption('select[name=DT5]', 'EVE');
  await page.screenshot({ path: path.join(outputDir, 'import-tables.png'), fullPage: true });

  await press(page, 'Import');
  assert.deepEqual(await page.locator('ul li').allTextContents(), ['SALES.REGIONS → EVE', 'HR.DEPARTMENTS → EVE']);
  const lines = page.locator('pre', { hasText: 'Import terminated' });
  assert.ok(await lines.isVisible());
  const text = await lines.textContent();
  assert.match(text, /importing table DEPARTMENTS into EVE \d+ rows imported/);
  assert.match(text, /importing table REGIONS into EVE \d+ rows imported/);
  assert.doesNotMatch(text, /STAFF|ORDERS/);
  assert.match(text, /Import terminated successfully\./);
  await page.screenshot({ path: path.join(outputDir, 'import-run.png'), fullPage: true });
  assert.deepEqual(fs.readdirSync(path.join(home, 'export')).filter((f) => f.startsWith('imppar')), []);
  await page.close();

  try {
    assert.equal(sql('SELECT COUNT(*) FROM EVE.DEPARTMENTS'), sql('SELECT COUNT(*) FROM HR.DEPARTMENTS'));
    assert.equal(sql('SELECT COUNT(*) FROM EVE.REGIONS'), sql('SELECT COUNT(*) FROM SALES.REGIONS'));
    assert.notEqual(sql('SELECT COUNT(*) FROM EVE.DEPARTMENTS'), '0\n');
  } finally {
    // The other browser tests see the demo's tables only.
    sql('DROP TABLE EVE.DEPARTMENTS');
    sql('DROP TABLE EVE.REGIONS');
  }
});
