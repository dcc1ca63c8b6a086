// What the benchmarks through Apache share: the tool pages as a browser asks
// for them, the login that gives their cookie, single requests and wrk runs
// with their checks, the server's error log, statements against an instance,
// and the table of figures they print.
// bench/run.sh installs the home, starts Apache and hands both over.
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import { performance } from 'node:perf_hooks';

function required(name) {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set: run this through bench/run.sh`);
  return value;
}

export const home = required('KV_BENCH_HOME');
export const runDir = required('KV_BENCH_RUN');
export const scratch = required('KV_BENCH_SCRATCH');
export const port = Number(required('KV_BENCH_PORT'));
export const benchBuild = required('KV_BENCH_BUILD');
const here = path.dirname(new URL(import.meta.url).pathname);
const WRK_SCRIPT = path.join(here, 'page.lua');
const HOST = '127.0.0.1';
const base = `http://${HOST}:${port}`;

export const verdict = (met) => (met ? 'met' : 'MISSED');
// What is being measured, while the table is not yet there.
export const progress = (text) => process.stderr.write(`bench: ${text}\n`);

// The smallest value that at least fraction p of the values do not exceed.
export function percentile(values, p) {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.max(0, Math.ceil(p * sorted.length) - 1)];
}

// A table of rows of cells as Markdown, the first row its head.
export function printTable(rows) {
  const widths = rows[0].map((_, column) => Math.max(...rows.map((row) => String(row[column]).length)));
  const line = (row) => `| ${row.map((cell, column) => String(cell).padEnd(widths[column])).join(' | ')} |`;
  console.log(line(rows[0]));
  console.log(`|${widths.map((w) => '-'.repeat(w + 2)).join('|')}|`);
  for (const row of rows.slice(1)) console.log(line(row));
}

// The names the trivial page is installed under in kv/bin, one per kind of
// answer: Apache passes an nph- program's output through, and parses the other.
export const TRIVIAL = { nph: 'nph-kvbench-page', parsed: 'kvbench-page' };

// How every error block of the tools begins ("<H3>KVI-1011:</H3>").
const ERROR_BLOCK = '<H3>KV';

export const form = (fields) => Object.entries(fields).map(([k, v]) => `${k}=${encodeURIComponent(v)}`).join('&');

// The login form for an instance of the home (the demo's PROD unless told),
// with the token of the login page it is posted from.
export const loginFields = (sid, token) => ({
  VANTOR_SID: sid, VANTOR_HOME: home, KVCUSER: 'SYSTEM', KVCPASSWORD: 'demo', KVCTOKEN: token,
});

// The export tool's first page as posted back with one of its buttons.
export const exportFields = (extra) => ({
  KVEINSTANCE: '1', KVEEXPFILE: `${home}/export/expdat.dmp`, KVESELECTOPTS: 'Full database', KVEGRANTSCB: 'on',
  KVEINDEXESCB: 'on', KVEROWSCB: 'on', KVECONSTRAINTSCB: 'on', KVERECLEN: '1024', KVEBUFSIZ: '4096',
  KVELOGFILENAME: `${home}/export/export.log`, KVEINCTYPE: 'None', KVERECINC: '1', KVESTATTYPE: 'None',
  KVECOMPRESS: '1', ...extra,
});

// The import tool's first page as posted back with one of its buttons.
export const importFields = (extra) => ({
  KVIINSTANCE: '1', KVIEXPFILE: 'expdat.dmp', KVISELECTOPTS: 'Whole file', KVIGRANTSCB: 'on', KVIINDEXESCB: 'on',
  KVIROWSCB: 'on', KVIRECLEN: '1024', KVIBUFSIZ: '4096', KVILOGFILENAME: `${home}/export/import.log`,
  KVIINDEXFILENAME: `${home}/export/index.sql`, KVIINCTYPE: 'None', ...extra,
});

// One request on a fresh connection, as HTTP/1.0, so that every answer ends
// with the server's close whatever the page's kind; a plain socket, because
// the nph tools end their head's lines with a bare line feed, which node's
// strict parser refuses. Besides the answer: when its last byte came and when
// the connection closed, in milliseconds from the start, and, given a text to
// watch for, the moment (performance.now()) the answer first held it.
export function request({ method = 'GET', target, body = '', cookie = '', watch = '' }) {
  return new Promise((resolve, reject) => {
    const chunks = [];
    const start = performance.now();
    let lastByte = 0;
    let watched = null;
    let seen = '';
    const socket = net.connect(port, HOST, () => {
      const head = [`${method} ${target} HTTP/1.0`, `Host: ${HOST}:${port}`];
      if (cookie) head.push(`Cookie: ${cookie}`);
      if (method === 'POST') {
        head.push('Content-Type: application/x-www-form-urlencoded', `Content-Length: ${Buffer.byteLength(body)}`);
      }
      socket.end(`${head.join('\r\n')}\r\n\r\n${body}`);
    });
    socket.on('data', (chunk) => {
      chunks.push(chunk);
      lastByte = performance.now() - start;
      if (watch && watched === null) {
        // The text may straddle two chunks: keep the tail that could begin it.
        seen += chunk.toString('latin1');
        if (seen.includes(watch)) watched = performance.now();
        seen = seen.slice(-watch.length);
      }
    });
    socket.once('error', reject);
    socket.once('end', () => {
      const closed = performance.now() - start;
      const answer = Buffer.concat(chunks).toString('latin1');
      const split = answer.search(/\r?\n\r?\n/);
      const head = split < 0 ? answer : answer.slice(0, split);
      resolve({
        status: Number(/^HTTP\/\d\.\d (\d{3})/.exec(head)?.[1] ?? 0),
        head,
        body: split < 0 ? '' : answer.slice(split).replace(/^\r?\n\r?\n/, ''),
        lastByte,
        closed,
        watched,
      });
    });
  });
}

// The login cookie as the launcher sets it, enciphered password and all.
// The token of the login page's form, good for an hour: a login without it is refused.
async function loginToken(sid) {
  const page = await request({ method: 'GET', target: `/${sid}-bin/login` });
  const token = /name="KVCTOKEN" value="([^"]*)"/.exec(page.body)?.[1];
  if (!token) throw new Error(`the login page has no form token:\n${page.head}\n${page.body}`);
  return token;
}

export async function login(sid = 'PROD') {
  const fields = loginFields(sid, await loginToken(sid));
  const answer = await request({ method: 'POST', target: `/${sid}-bin/kvla`, body: form(fields) });
  const cookie = /^Set-Cookie: ([^;\r\n]*)/mi.exec(answer.head)?.[1];
  if (answer.status !== 200 || !cookie) throw new Error(`the login failed:\n${answer.head}\n${answer.body}`);
  return cookie;
}

// Every tool page a logged-in administrator opens, and the chart picture the
// usage page names. ends: how the complete page ends; refuse: what only a
// failed page holds (an error block); goal: the most its median may cost
// against the trivial page of the same size.
export async function toolPages(cookie, sid = 'PROD') {
  const pages = [
    {
      name: 'login launcher (POST)', program: 'kvla', method: 'POST', body: form(loginFields(sid, await loginToken(sid))),
      ends: '</html>',
    },
    { name: 'backup page', program: 'nph-kvb', ends: 'not available on NT yet!\n', goal: 1.5 },
    { name: 'export first page', program: 'nph-kve', ends: '</html>' },
    {
      name: 'export table option page', program: 'nph-kve', method: 'POST', ends: '</html>', goal: 2.5,
      body: form(exportFields({ KVESELECTOPTS: 'Tables', KVESUBMIT: 'Apply Scope' })),
    },
    { name: 'import first page', program: 'nph-kvi', ends: '</html>' },
    { name: 'tablespace usage page', program: 'kvx', ends: '</html>', goal: 2.5 },
  ];
  const bin = `/${sid}-bin`;
  const usage = await request({ target: `${bin}/kvx`, cookie });
  const chart = new RegExp(`<IMG src=http://[^/]+(${bin}/kvx/kvx\\d+\\.gif\\?[^ >]*)[ >]`).exec(usage.body)?.[1];
  if (!chart) throw new Error(`the usage page names no chart:\n${usage.body}`);
  const [chartPath, chartQuery] = chart.split('?');
  pages.push({ name: 'usage chart (GIF)', program: 'kvx', pathInfo: chartPath.slice(`${bin}/kvx`.length),
    query: chartQuery, ends: ';', refuse: '', goal: 1.3 });
  for (const page of pages) {
    page.method ??= 'GET';
    page.body ??= '';
    page.query ??= '';
    page.pathInfo ??= '';
    page.refuse ??= ERROR_BLOCK;
    page.cookie = cookie;
    page.nph = page.program.startsWith('nph-');
    page.target = `${bin}/${page.program}${page.pathInfo}${page.query ? `?${page.query}` : ''}`;
  }
  return pages;
}

// What is wrong with an answer to page, or nothing.
export function answerFault(page, answer) {
  if (answer.status !== 200) return `status ${answer.status}`;
  if (!answer.body.endsWith(page.ends)) return `a cut-off page: ...${answer.body.slice(-80)}`;
  const refused = page.refuse ? answer.body.indexOf(page.refuse) : -1;
  if (refused >= 0) return `an error block: ${answer.body.slice(refused, refused + 200)}`;
  return '';
}

// The page once: its size, and proof that it is whole.
export async function pageSize(page) {
  const answer = await request(page);
  const fault = answerFault(page, answer);
  if (fault) throw new Error(`${page.name}: ${fault}\n${answer.head}\n${answer.body}`);
  return Buffer.byteLength(answer.body, 'latin1');
}

// The trivial page of the same size and kind as page, asked for the same way
// (a posted page's twin gets the same form).
export function trivialTwin(page, bytes) {
  const program = page.nph ? TRIVIAL.nph : TRIVIAL.parsed;
  return { name: `trivial page of ${bytes} bytes`, method: page.method, body: page.body, cookie: '', ends: '</html>',
    refuse: '', nph: page.nph, target: `/PROD-bin/${program}?bytes=${bytes}` };
}

// One wrk run against a page; what page.lua reports. wrk counts one read
// error per answer that ends by closing the connection (as every nph answer
// does) on top of the answer itself, so those are taken out here.
export function wrk(page, { threads = 1, connections = 1, seconds = 2 }) {
  const run = spawnSync('wrk', [`-t${threads}`, `-c${connections}`, `-d${seconds}s`, '--timeout', '10s',
    '-s', WRK_SCRIPT, `${base}${page.target}`], {
    encoding: 'utf8', timeout: (seconds + 30) * 1000,
    env: { ...process.env, KV_WRK_METHOD: page.method, KV_WRK_BODY: page.body, KV_WRK_COOKIE: page.cookie,
      KV_WRK_ENDS: page.ends, KV_WRK_REFUSE: page.refuse },
  });
  const line = run.stdout?.split('\n').find((l) => l.startsWith('{'));
  if (run.status !== 0 || !line) throw new Error(`wrk failed on ${page.target}:\n${run.stdout}${run.stderr}`);
  const result = JSON.parse(line);
  if (page.nph) result.errors.read = Math.max(0, result.errors.read - result.answers);
  return result;
}

// A wrk run's faults: answers other than 2xx, cut-off pages, socket errors.
export function faults(result) {
  const { connect, read, write, timeout } = result.errors;
  const list = [];
  if (result.not_2xx) list.push(`${result.not_2xx} answers not 2xx`);
  if (result.incomplete) list.push(`${result.incomplete} incomplete pages`);
  if (result.refused) list.push(`${result.refused} pages with an error block`);
  if (connect + read + write + timeout) list.push(`socket errors: connect ${connect}, read ${read}, write ${write}, timeout ${timeout}`);
  if (list.length && result.first_bad) list.push(`first: ${result.first_bad}`);
  return list;
}

// The server's error log from offset on: what the requests added to it.
export const errorLogSize = () => fs.statSync(path.join(runDir, 'error.log')).size;
export function errorLogSince(offset) {
  const log = fs.readFileSync(path.join(runDir, 'error.log'));
  return log.subarray(offset).toString('utf8');
}

// A command line that runs program as the web user when we are root, so that
// every file it makes in the home stays the programs' own.
export function asWebUser(program, args = []) {
  if (process.getuid() !== 0) return [program, ...args];
  return ['setpriv', '--reuid=nobody', '--regid=nogroup', '--clear-groups', program, ...args];
}

// A statement against an instance of the home (the demo's unless told); its
// rows, one a line.
export function sql(statement, sid = 'PROD') {
  const [command, ...args] = asWebUser(path.join(home, 'bin/vdbadm'),
    ['--home', home, 'sql', sid, 'system/demo', statement]);
  return execFileSync(command, args, { encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] });
}

// The CGI environment Apache gives page's program, for running it directly.
export function cgiEnvironment(page) {
  const env = {
    PATH: '/usr/local/bin:/usr/bin:/bin', GATEWAY_INTERFACE: 'CGI/1.1', SERVER_SOFTWARE: 'Apache',
    SERVER_NAME: HOST, SERVER_ADDR: HOST, SERVER_PORT: String(port), SERVER_PROTOCOL: 'HTTP/1.0',
    REMOTE_ADDR: HOST, REMOTE_PORT: '40000', HTTP_HOST: `${HOST}:${port}`, REQUEST_METHOD: page.method,
    REQUEST_URI: page.target, SCRIPT_NAME: `/PROD-bin/${page.program}`,
    SCRIPT_FILENAME: path.join(home, 'kv/bin', page.program), QUERY_STRING: page.query,
    DOCUMENT_ROOT: path.join(runDir, 'htdocs'), VANTOR_HOME: home, NLS_LANG: 'AMERICAN_AMERICA.UTF8',
  };
  if (page.cookie) env.HTTP_COOKIE = page.cookie;
  if (page.pathInfo) {
    env.PATH_INFO = page.pathInfo;
    env.PATH_TRANSLATED = path.join(runDir, 'htdocs', page.pathInfo);
  }
  if (page.method === 'POST') {
    env.CONTENT_TYPE = 'application/x-www-form-urlencoded';
    env.CONTENT_LENGTH = String(Buffer.byteLength(page.body));
  }
  return env;
}
