// The Security Manager in a real browser: a user made in one browser logs in
// in another, and is locked out from the first.
import assert from 'node:assert/strict';
import path from 'node:path';
import { test } from 'node:test';
import { launchBrowser, loggedIn, outputDir, press, serveAndBrowse, sql } from './harness.mjs';

const web = serveAndBrowse();

test('a DBA creates a user, who logs in elsewhere and meets the lock at the next page', async () => {
  const admin = await loggedIn(web);
  const other = await launchBrowser();
  try {
    await admin.goto(`${web.server.base}/PROD-bin/kvu`);
    await admin.screenshot({ path: path.join(outputDir, 'security-users.png'), fullPage: true });
    await press(admin, 'Create User');
    await admin.fill('input[name=KVUNAME]', 'webclerk');
    await admin.fill('input[name=KVUPASS1]', 'Secret"1');
    await admin.fill('input[name=KVUPASS2]', 'Secret"1');
    await admin.check('input[name=KVUROLE][value=DBA]');
    await press(admin, 'Create');
    assert.match(await admin.textContent('body'), /User WEBCLERK was created\./);
    assert.equal(await admin.locator('input[name=KVUUSER][value=WEBCLERK]').count(), 1);

    // The new user in a browser of its own.
    const clerk = await other.newPage();
    await clerk.goto(`${web.server.base}/PROD-bin/login`);
    await clerk.fill('#user', 'WEBCLERK');
    await clerk.fill('#password', 'Secret"1');
    await Promise.all([clerk.waitForNavigation({ waitUntil: 'load' }), clerk.getByRole('button', { name: 'Log in' }).click()]);
    assert.equal(await clerk.locator('img[src="/PROD/kv/pics/kvsgreenlight.gif"]').count(), 1);
    await clerk.goto(`${web.server.base}/PROD-bin/kvx`);
    assert.match(await clerk.textContent('body'), /Tablespace/);

    // Locked from the first browser...
    await admin.click('input[name=KVUUSER][value=WEBCLERK]');
    await admin.waitForLoadState('load');
    await admin.screenshot({ path: path.join(outputDir, 'security-user.png'), fullPage: true });
    await admin.check('input[name=KVUACCOUNT][value=LOCKED]');
    await press(admin, 'Apply');
    assert.match(await admin.textContent('body'), /User WEBCLERK: account locked\./);

    // ...the second one's next page is refused.
    await clerk.goto(`${web.server.base}/PROD-bin/kvx`);
    assert.match(await clerk.textContent('body'), /3101/);
    assert.match(await clerk.textContent('body'), /locked/);
  } finally {
    await other.close();
    await admin.close();
    sql('DROP USER WEBCLERK CASCADE');
  }
});
