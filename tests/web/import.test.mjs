// The import tool in a real browser, served by Apache: from the login to a
// table of the demo's export file imported into another user, its utility
// lines in the page and its rows in the target schema.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';
import { home, loggedIn, outputDir, press, serveAndBrowse } from './harness.mjs';

const web = serveAndBrowse();

// A statement against the instance, run as the user the programs run as, so
// that the instance's files stay theirs.
function sql(statement) {
  const vdbadm = path.join(home, 'bin', 'vdbadm');
  const args = ['--home', home, 'sql', 'PROD', 'system/demo', statement];
  const asWebUser = process.getuid() === 0;
  return execFileSync(asWebUser ? 'setpriv' : vdbadm,
    asWebUser ? ['--reuid=nobody', '--regid=nogroup', '--clear-groups', vdbadm, ...args] : args,
    { encoding: 'utf8' });
}

test('a DBA imports a table of the second list page into another user', async () => {
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
  await press(page, 'More Tables');
  // The demo's six tables: the sixth is alone on the second page.
  assert.deepEqual(await page.locator('input[type=checkbox][name^=T]').evaluateAll(
    (boxes) => boxes.map((box) => `${box.name}=${box.value}`)), ['T5=DEPARTMENTS']);
  await page.check('input[name=T5]');
  await page.selectOption('select[name=DT5]', 'EVE');
  await page.screenshot({ path: path.join(outputDir, 'import-tables.png'), fullPage: true });

  await press(page, 'Import');
  const lines = page.locator('pre', { hasText: 'Import terminated' });
  assert.ok(await lines.isVisible());
  const text = await lines.textContent();
  assert.match(text, /importing table DEPARTMENTS into EVE \d+ rows imported/);
  assert.doesNotMatch(text, /STAFF|ORDERS/);
  assert.match(text, /Import terminated successfully\./);
  await page.screenshot({ path: path.join(outputDir, 'import-run.png'), fullPage: true });
  assert.deepEqual(fs.readdirSync(path.join(home, 'export')).filter((f) => f.startsWith('imppar')), []);
  await page.close();

  try {
    assert.equal(sql('SELECT COUNT(*) FROM EVE.DEPARTMENTS'), sql('SELECT COUNT(*) FROM HR.DEPARTMENTS'));
    assert.notEqual(sql('SELECT COUNT(*) FROM EVE.DEPARTMENTS'), '0\n');
  } finally {
    // The other browser tests see the demo's tables only.
    sql('DROP TABLE EVE.DEPARTMENTS');
  }
});
