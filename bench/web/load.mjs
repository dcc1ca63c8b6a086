// The tools under load, through Apache on loopback (./kv bench --load; run
// through bench/run.sh):
//   - every tool page and the chart for 30 seconds with 8 connections: every
//     answer 2xx, whole and without an error block, nothing new in the
//     server's error log;
//   - four exports and four imports at the same time, a few rounds: every
//     dump file complete (its tables and rows against the page's report and
//     the instance), every import's rows in the instance, no parameter file
//     left, nothing new in the error log.
// Ends with exit code 1 when anything failed.
import fs from 'node:fs';
import path from 'node:path';
import {
  errorLogSince, errorLogSize, exportFields, faults, form, home, importFields, login, request, sql, toolPages, wrk,
} from './pages.mjs';

const LOAD = { threads: 2, connections: 8, seconds: 30 };
const PARALLEL = 4;
const ROUNDS = 3;
const ANSWER_TIMEOUT_MS = 120_000;
const exportDir = path.join(home, 'export');

const failures = [];
const fail = (what) => failures.push(what);

function newLogLines(offset) {
  return errorLogSince(offset).split('\n').filter((line) => line.trim());
}

function pagesUnderLoad(pages) {
  console.log(`every tool page and the chart, ${LOAD.seconds} s with ${LOAD.connections} connections each:`);
  for (const page of pages) {
    const logAt = errorLogSize();
    const result = wrk(page, LOAD);
    const found = faults(result);
    const log = newLogLines(logAt);
    if (log.length) found.push(`${log.length} new error log lines, first: ${log[0]}`);
    for (const f of found) fail(`${page.name}: ${f}`);
    console.log(`  ${page.name.padEnd(26)} ${String(result.answers).padStart(6)} answers, `
      + `${(result.answers / (result.duration_us / 1e6)).toFixed(0).padStart(4)}/s, median ${(result.median_us / 1000).toFixed(1)} ms, `
      + `p99 ${(result.p99_us / 1000).toFixed(1)} ms: ${found.length ? found.join('; ') : 'all good'}`);
  }
}

// ---- exports and imports at the same time ----------------------------------------

const count = (table) => Number(sql(`SELECT COUNT(*) FROM ${table}`).trim());

function dropIfThere(owner, table) {
  const there = sql(`SELECT COUNT(*) FROM all_tables WHERE owner = '${owner}' AND table_name = '${table}'`).trim();
  if (there !== '0') sql(`DROP TABLE ${owner}.${table}`);
}

// The tables of a dump file and the rows each holds, read from the file:
// "CONNECT owner" names the owner, a "CREATE TABLE" line begins a table and
// every row line ("+" and its values) belongs to the table above it.
function readDump(file) {
  const text = fs.readFileSync(file, 'latin1');
  const tables = new Map();
  let owner = '';
  let table = null;
  for (const line of text.split('\n')) {
    if (line.startsWith('CONNECT ')) owner = line.slice(8);
    const created = /^CREATE TABLE "([^"]+)"/.exec(line);
    if (created) tables.set(table = `${owner}.${created[1]}`, 0);
    else if (line.startsWith('+') && table) tables.set(table, tables.get(table) + 1);
  }
  return { header: text.slice(0, text.indexOf('\n')), whole: text.endsWith('\n'), tables };
}

// What the export page reports: ". . exporting table OWNER.NAME 123 rows exported".
function reportedTables(page) {
  return new Map([...page.matchAll(/exporting table (\S+) (\d+) rows exported/g)].map((m) => [m[1], Number(m[2])]));
}

function checkExport(name, answer, file, stable) {
  if (answer.status !== 200 || !answer.body.includes('Export terminated successfully.')) {
    return fail(`${name}: the page did not end in success:\n${answer.body.slice(-600)}`);
  }
  if (answer.body.includes('<H3>KV')) fail(`${name}: an error block in the page`);
  const dump = readDump(file);
  if (dump.header !== 'VANTOR EXPORT FILE 1' || !dump.whole) fail(`${name}: ${file} is cut off or has no header`);
  const reported = reportedTables(answer.body);
  for (const [table, rows] of reported) {
    if (dump.tables.get(table) !== rows) fail(`${name}: ${table} has ${dump.tables.get(table)} rows in the file, the page says ${rows}`);
  }
  for (const [table, rows] of stable) {
    if (dump.tables.get(table) !== rows) fail(`${name}: ${table} has ${dump.tables.get(table)} rows in the file, the instance ${rows}`);
  }
  if (reported.size !== dump.tables.size) fail(`${name}: the page reports ${reported.size} tables, the file holds ${dump.tables.size}`);
}

function checkImport(name, answer, user, rows) {
  if (answer.status !== 200 || !answer.body.includes('Import terminated successfully.')) {
    return fail(`${name}: the page did not end in success:\n${answer.body.slice(-600)}`);
  }
  if (answer.body.includes('<H3>KV')) fail(`${name}: an error block in the page`);
  if (!answer.body.includes(`importing table ORDERS into ${user} ${rows} rows imported`)) {
    fail(`${name}: the page does not report ${rows} rows of ORDERS into ${user}`);
  }
  const present = count(`${user}.ORDERS`);
  if (present !== rows) fail(`${name}: ${user}.ORDERS holds ${present} rows, the file ${rows}`);
}

function parameterFilesLeft() {
  return fs.readdirSync(exportDir).filter((f) => f.startsWith('exppar') || f.startsWith('imppar'));
}

function withTimeout(promise, what) {
  let timer;
  const timeout = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`${what}: no answer within ${ANSWER_TIMEOUT_MS / 1000} s`)), ANSWER_TIMEOUT_MS);
  });
  return Promise.race([promise, timeout]).finally(() => clearTimeout(timer));
}

async function exportsAndImports(cookie) {
  const users = Array.from({ length: PARALLEL }, (_, i) => `LOAD${i + 1}`);
  for (const user of users) {
    sql(`CREATE USER ${user} IDENTIFIED BY demo`);
    sql(`GRANT CONNECT TO ${user}`);
    sql(`GRANT RESOURCE TO ${user}`);
  }
  // The demo's own tables, which nothing here changes.
  const stable = new Map(['HR.DEPARTMENTS', 'HR.STAFF', 'SALES.REGIONS', 'SALES.CUSTOMERS', 'SALES.PRODUCTS',
    'SALES.ORDERS'].map((table) => [table, count(table)]));
  const orders = stable.get('SALES.ORDERS');
  console.log(`\n${PARALLEL} full exports and ${PARALLEL} imports of ORDERS (${orders} rows) at the same time, ${ROUNDS} rounds:`);
  for (let round = 1; round <= ROUNDS; round++) {
    for (const user of users) dropIfThere(user, 'ORDERS');
    const logAt = errorLogSize();
    const started = Date.now();
    const exports = users.map((_, i) => {
      const file = path.join(exportDir, `load-${round}-${i + 1}.dmp`);
      const body = form(exportFields({ KVEEXPFILE: file, KVELOGFILENAME: `${file}.log`, KVESUBMIT: 'Export' }));
      return { name: `round ${round}, export ${i + 1}`, file, answer: request({ method: 'POST', target: '/PROD-bin/nph-kve', body, cookie }) };
    });
    const imports = users.map((user, i) => {
      const body = form(importFields({ KVISELECTOPTS: 'Tables', T0: 'ORDERS', DT0: user, KVISUBMIT: 'Import' }));
      return { name: `round ${round}, import ${i + 1}`, user, answer: request({ method: 'POST', target: '/PROD-bin/nph-kvi', body, cookie }) };
    });
    const all = [...exports, ...imports];
    const answers = await withTimeout(Promise.all(all.map((r) => r.answer)), `round ${round}`);
    all.forEach((r, i) => { r.answer = answers[i]; });
    const took = Date.now() - started;
    const before = failures.length;
    for (const e of exports) checkExport(e.name, e.answer, e.file, stable);
    for (const i of imports) checkImport(i.name, i.answer, i.user, orders);
    const left = parameterFilesLeft();
    if (left.length) fail(`round ${round}: parameter files left: ${left.join(', ')}`);
    const log = newLogLines(logAt);
    if (log.length) fail(`round ${round}: ${log.length} new error log lines, first: ${log[0]}`);
    const found = failures.slice(before);
    console.log(`  round ${round}: all ${all.length} answered in ${took} ms: ${found.length ? found.join('; ') : 'all good'}`);
  }
}

const cookie = await login();
pagesUnderLoad(await toolPages(cookie));
await exportsAndImports(cookie);
if (failures.length) {
  console.log(`\nload: ${failures.length} failures`);
  process.exit(1);
}
console.log('\nload: no failure');
