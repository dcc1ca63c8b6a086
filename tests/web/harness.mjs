// What the browser tests share: an Apache httpd of their own serving the
// installation under test on a free loopback port, and a headless Chromium.
// Installs nothing: run.sh hands over the home and a scratch directory.
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import path from 'node:path';
import { after, before } from 'node:test';
import { chromium } from 'playwright-core';

const APACHE = '/usr/sbin/apache2';
const CHROMIUM = '/usr/bin/chromium';
const START_TIMEOUT_MS = 10_000;

function required(name) {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set: run the web tests through run.sh`);
  return value;
}

export const home = required('KV_WEB_HOME');
const scratch = required('KV_WEB_SCRATCH');
const apacheSetup = required('KV_APACHE_SETUP');
export const outputDir = process.env.KV_WEB_OUT || scratch;

function freePort() {
  return new Promise((resolve, reject) => {
    const probe = net.createServer();
    probe.once('error', reject);
    probe.listen(0, '127.0.0.1', () => {
      const { port } = probe.address();
      probe.close(() => resolve(port));
    });
  });
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// One plain request, without a browser: the status line and the body as the
// server sent them. A server that answers before it has read the whole body
// may close the connection under the rest of it: the answer still counts.
function exchange(url, options = {}, body = '') {
  return new Promise((resolve, reject) => {
    let answered = false;
    const request = http.request(url, options, (response) => {
      answered = true;
      let text = '';
      response.setEncoding('latin1');
      response.on('data', (chunk) => { text += chunk; });
      response.on('end', () => resolve({
        status: response.statusCode,
        statusMessage: response.statusMessage,
        httpVersion: response.httpVersion,
        headers: response.headers,
        body: text,
      }));
    });
    request.on('error', (error) => { if (!answered) reject(error); });
    request.end(body);
  });
}

export const get = (url) => exchange(url);

// A posted form, as a browser sends one.
export const post = (url, body) => exchange(url, {
  method: 'POST',
  headers: { 'Content-Type': 'application/x-www-form-urlencoded', 'Content-Length': Buffer.byteLength(body) },
}, body);

// The response exactly as the bytes arrived, status line and head included,
// to a request with the method and header lines given (a Host of one's own
// among them).
export function getRaw(url, headers = {}, method = 'GET') {
  const { hostname, port, pathname, search } = new URL(url);
  const lines = { Host: `${hostname}:${port}`, ...headers };
  const head = Object.entries(lines).map(([name, value]) => `${name}: ${value}\r\n`).join('');
  return new Promise((resolve, reject) => {
    const chunks = [];
    const socket = net.connect(Number(port), hostname, () => {
      socket.end(`${method} ${pathname}${search} HTTP/1.0\r\n${head}\r\n`);
    });
    socket.on('data', (chunk) => chunks.push(chunk));
    socket.once('end', () => resolve(Buffer.concat(chunks).toString('latin1')));
    socket.once('error', reject);
  });
}

async function answers(base) {
  try {
    await get(`${base}/`);
    return true;
  } catch {
    return false;
  }
}

function readLog(file) {
  try {
    return fs.readFileSync(file, 'utf8');
  } catch {
    return '';
  }
}

async function startOnce() {
  const port = await freePort();
  const runDir = fs.mkdtempSync(path.join(scratch, 'run-'));
  const config = execFileSync(apacheSetup, [home, runDir, '127.0.0.1', String(port)], { encoding: 'utf8' }).trim();
  let output = '';
  // A direct child, waited for at the end; the event MPM signals only its
  // own children, never the test runner's process group.
  const child = spawn(APACHE, ['-f', config, '-DFOREGROUND'], { stdio: ['ignore', 'pipe', 'pipe'] });
  child.stdout.on('data', (chunk) => { output += chunk; });
  child.stderr.on('data', (chunk) => { output += chunk; });
  const exited = new Promise((resolve) => child.once('exit', resolve));
  const killOnExit = () => child.kill('SIGKILL');
  process.once('exit', killOnExit);

  const base = `http://127.0.0.1:${port}`;
  const deadline = Date.now() + START_TIMEOUT_MS;
  while (child.exitCode === null && child.signalCode === null && Date.now() < deadline) {
    if (await answers(base)) {
      const stop = async () => {
        if (child.exitCode === null && child.signalCode === null) child.kill('SIGTERM');
        await exited;
        process.removeListener('exit', killOnExit);
      };
      return { base, runDir, stop, errorLog: () => readLog(path.join(runDir, 'error.log')) };
    }
    await sleep(25);
  }
  child.kill('SIGTERM');
  await exited;
  process.removeListener('exit', killOnExit);
  return { failure: `${output}${readLog(path.join(runDir, 'error.log'))}` };
}

// Apache serving the home; another program may take the probed port before
// Apache binds it, so a failed start is tried again on a new port.
export async function startApache() {
  let failure = '';
  for (let attempt = 0; attempt < 3; attempt++) {
    const server = await startOnce();
    if (!server.failure) return server;
    failure = server.failure;
    if (!/Address already in use/.test(failure)) break;
  }
  throw new Error(`Apache did not start:\n${failure}`);
}

// Chromium with a profile, home and temporary directory of its own, so it
// writes nothing outside the scratch directory.
export async function launchBrowser() {
  const dir = fs.mkdtempSync(path.join(scratch, 'chromium-'));
  return chromium.launchPersistentContext(dir, {
    executablePath: CHROMIUM,
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    env: { ...process.env, HOME: dir, XDG_CONFIG_HOME: dir, XDG_CACHE_HOME: dir, TMPDIR: dir },
  });
}

// Apache and Chromium for the tests of one file: started before its first
// test, stopped after its last. Their handles are the session's server and
// browser.
export function serveAndBrowse() {
  const session = {};
  before(async () => {
    session.server = await startApache();
    session.browser = await launchBrowser();
  });
  after(async () => {
    await session.browser?.close();
    await session.server?.stop();
  });
  return session;
}

// A new page of the session's browser, logged in as SYSTEM through the
// login form of PROD.
export async function loggedIn(session) {
  const page = await session.browser.newPage();
  await page.goto(`${session.server.base}/PROD-bin/login`);
  await page.fill('#user', 'SYSTEM');
  await page.fill('#password', 'demo');
  // The login form's own button: with a login already in the cookie, the
  // page offers a logout button too.
  await Promise.all([page.waitForNavigation({ waitUntil: 'load' }), page.getByRole('button', { name: 'Log in' }).click()]);
  return page;
}

// vdbadm of the home, run as the user the programs run as, so that the
// instance's files stay theirs.
export function vdbadm(...args) {
  const program = path.join(home, 'bin', 'vdbadm');
  const all = ['--home', home, ...args];
  const asWebUser = process.getuid() === 0;
  return execFileSync(asWebUser ? 'setpriv' : program,
    asWebUser ? ['--reuid=nobody', '--regid=nogroup', '--clear-groups', program, ...all] : all,
    { encoding: 'utf8' });
}

// A statement against the home's PROD instance.
export const sql = (statement) => vdbadm('sql', 'PROD', 'system/demo', statement);

// Presses a submit button of the tool's form and waits for the next page.
export async function press(page, label) {
  await Promise.all([
    page.waitForNavigation({ waitUntil: 'load' }),
    page.click(`input[type=submit][value="${label}"]`),
  ]);
}
