// The address layout that Apache gives an installation, for any instance id.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { get, getRaw, home, post, startApache } from './harness.mjs';

let server;

before(async () => {
  // One file where the pictures and where the documents live.
  for (const dir of ['kv/pics', 'kv/doc', 'doc']) {
    fs.mkdirSync(path.join(home, dir), { recursive: true });
    fs.writeFileSync(path.join(home, dir, 'web-probe.txt'), `probe of ${dir}\n`);
  }
  server = await startApache();
});

after(async () => {
  await server?.stop();
});

test('a non-parsed-header program sends its own status line through Apache', async () => {
  const response = await getRaw(`${server.base}/PROD-bin/nph-kvb`);
  assert.equal(response.split('\n')[0], 'HTTP/1.0 200 Okay');
});

test('documents, pictures and error help are served for any instance id', async (t) => {
  const cases = [
    ['/PROD/kv/pics/web-probe.txt', 'probe of kv/pics\n'],
    ['/TEST2/kv/doc/web-probe.txt', 'probe of kv/doc\n'],
    ['/orcl-doc/web-probe.txt', 'probe of doc\n'],
  ];
  for (const [address, body] of cases) {
    await t.test(address, async () => {
      const response = await get(server.base + address);
      assert.equal(response.status, 200);
      assert.equal(response.body, body);
    });
  }
});

test('the rest of the home stays private', async (t) => {
  // The key deciphers every login cookie; the programs are not files to fetch.
  for (const address of ['/PROD/kv/key', '/PROD/kv/mesg/kvsus.msg', '/PROD/kv/bin/login', '/PROD-bin/']) {
    await t.test(address, async () => {
      const response = await get(server.base + address);
      assert.equal(response.status, 403);
      assert.doesNotMatch(response.body, /VANTOR_HOME|ELF/);
    });
  }
});

test('a program address with a path after the name runs the program', async () => {
  const response = await get(`${server.base}/PROD-bin/kvx/kvx1.gif?KVXUSD=1&KVXTOT=2`);
  assert.equal(response.status, 200);
  // A denied document root would log the request against it.
  assert.doesNotMatch(server.errorLog(), /kvx1\.gif/);
});

test('a form body larger than any tool form is refused before a program starts', async (t) => {
  const limit = 2 * 1024 * 1024;
  for (const [size, status] of [[limit, 200], [limit + 1, 413]]) {
    await t.test(`${size} bytes`, async () => {
      const field = 'KVEFILE=';
      const response = await post(`${server.base}/PROD-bin/kvx`, field + 'x'.repeat(size - field.length));
      assert.equal(response.status, status);
    });
  }
});
