// The Session Manager in a real browser: a long export runs in one page, and
// the DBA watches it and ends its session from a second one.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { performance } from 'node:perf_hooks';
import { test } from 'node:test';
import { home, loggedIn, outputDir, press, serveAndBrowse, sql } from './harness.mjs';

const web = serveAndBrowse();

// A table whose export lasts a few seconds: the demo's orders, doubled.
const TABLE = 'SALES.HISTORY';
const DOUBLINGS = 5;
const LAST_LINE = 'dbdump: stopped: the session was ended by an administrator.';

function fillTable() {
  sql(`CREATE TABLE ${TABLE} (ID NUMBER(10), CUSTOMER_ID NUMBER(6), PRODUCT_ID NUMBER(6), QUANTITY NUMBER(6), `
    + 'AMOUNT NUMBER(12,2), ORDER_DATE DATE, STATUS VARCHAR2(10))');
  sql(`INSERT INTO ${TABLE} SELECT * FROM SALES.ORDERS`);
  for (let i = 0; i < DOUBLINGS; i++) sql(`INSERT INTO ${TABLE} SELECT * FROM ${TABLE}`);
}

// Presses Export on the export tool's page for the table, and returns once
// the browser has sent the form: the run page goes on loading.
async function startExport(page, dump) {
  await page.goto(`${web.server.base}/PROD-bin/nph-kve`);
  await page.check('input[name=KVESELECTOPTS][value=Tables]');
  await press(page, 'Apply Scope');
  await page.check(`input[value="${TABLE}"]`);
  await page.fill('input[name=KVEEXPFILE]', dump);
  await page.click('input[type=submit][value="Export"]', { noWaitAfter: true });
}

// The row of the export's session in the Session Manager, reloaded until it
// shows the export at work on the table.
async function exportRow(page) {
  const row = page.locator('tr', { has: page.locator('td:text-is("dbdump")') });
  for (const until = performance.now() + 10000; performance.now() < until;) {
    await page.goto(`${web.server.base}/PROD-bin/kvs`);
    if (await row.count() && (await row.locator('td').nth(8).textContent()).startsWith(`exporting ${TABLE}: `)) return row;
  }
  throw new Error('the export\'s session did not show within ten seconds');
}

const cells = async (row) => (await row.locator('td').allTextContents()).map((text) => text.trim());

test('a DBA ends a running export from the Session Manager, and its page ends with the utility\'s last line', async () => {
  const dump = path.join(home, 'export', 'web-ended.dmp');
  fs.rmSync(dump, { force: true });
  fillTable();
  const running = await loggedIn(web);
  const manager = await web.browser.newPage();
  try {
    await startExport(running, dump);
    let row = await exportRow(manager);
    const [, session, user, program, , , , status, action] = await cells(row);
    assert.deepEqual([user, program, status], ['SYSTEM', 'dbdump', 'ACTIVE']);
    await manager.screenshot({ path: path.join(outputDir, 'sessions-export.png'), fullPage: true });
    // The action moves on as the utility works.
    await press(manager, 'Refresh');
    row = manager.locator('tr', { has: manager.locator(`td:text-is("${session}")`) });
    const later = (await cells(row))[8];
    assert.match(later, new RegExp(`^exporting ${TABLE}: \\d+ rows$`));
    assert.notEqual(later, action);
    // The page's own session is marked and has no box.
    assert.equal(await manager.locator('tr:has(td i:text-is("this page")) input').count(), 0);

    await manager.check(`input[name=KVSEND][value="${session}"]`);
    await press(manager, 'End Sessions');
    assert.match(await manager.textContent('body'), /1 sessions will be ended\./);
    const pressed = performance.now();
    const [, lastLine] = await Promise.all([
      press(manager, 'End Sessions'),
      running.waitForFunction((line) => document.body.innerText.includes(line), LAST_LINE, { polling: 5 })
        .then(() => performance.now()),
    ]);
    console.log(`from End Sessions to the export page's last line: ${(lastLine - pressed).toFixed(0)} ms`);
    assert.match(await manager.textContent('body'), /1 sessions were ended\./);
    await manager.screenshot({ path: path.join(outputDir, 'sessions-ended.png'), fullPage: true });
    assert.equal(await manager.locator(`input[name=KVSEND][value="${session}"]`).count(), 0);

    await running.waitForLoadState('load');
    await running.screenshot({ path: path.join(outputDir, 'sessions-ended-export.png'), fullPage: true });
    assert.ok(!fs.existsSync(dump), 'an ended export leaves no file');
    assert.deepEqual(fs.readdirSync(path.join(home, 'export')).filter((f) => f.startsWith('exppar')), []);
  } finally {
    await manager.close();
    await running.close();
    sql(`DROP TABLE ${TABLE}`);
  }
});
