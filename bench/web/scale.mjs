// ./kv bench --scale: the tool pages, a login, a statement, creating a table and
// the utilities on instances of 1,000, 10,000 and 50,000 empty tables over ten
// users, each figure beside the same figure on the demo's six tables. Run
// through bench/run.sh; not part of the test run.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { performance } from 'node:perf_hooks';
import {
  answerFault, asWebUser, home, login, percentile, printTable, progress, request, sql, toolPages, verdict,
} from './pages.mjs';

const SIZES = [1000, 10000, 50000];
const USERS = 10;
const BASE = 'PROD';
// A page takes turns with the same page of the demo, request by request, for
// PAGE_SECONDS and at least MIN_PAIRS times, so that a busy spell of the
// shared machine falls on both alike; programs take turns the same way.
const PAGE_SECONDS = 4;
const MIN_PAIRS = 10;
const PROGRAM_PAIRS = 15;
const CREATE_PAIRS = 8;
const LISTED_TABLES = 3000;
const RATIO_GOAL = 1.5;

const PAGES = ['tablespace usage page', 'export first page', 'export table option page', 'import first page',
  'login launcher (POST)'];
const FIGURES = {
  'tablespace usage page': { goal: `ratio <= ${RATIO_GOAL}`, met: (f) => f.ratio <= RATIO_GOAL },
  'export first page': { goal: `ratio <= ${RATIO_GOAL}`, met: (f) => f.ratio <= RATIO_GOAL },
  'export table option page': { goal: '<= 0.6 s', met: (f) => f.value <= 600 },
  'import first page': { goal: `ratio <= ${RATIO_GOAL}`, met: (f) => f.ratio <= RATIO_GOAL },
  'login launcher (POST)': { goal: `ratio <= ${RATIO_GOAL}`, met: (f) => f.ratio <= RATIO_GOAL },
  'vdbadm select from dual': { goal: `ratio <= ${RATIO_GOAL}`, met: (f) => f.ratio <= RATIO_GOAL },
  'vdbadm create one table': { goal: '<= 50 ms', met: (f) => f.value <= 50 },
  'full export, the tool\'s defaults': { goal: '<= 15 s', met: (f) => f.value <= 15000 },
  'load of that export': { goal: '<= 15 s', met: (f) => f.value <= 15000 },
  [`table-mode export of ${LISTED_TABLES} tables`]: { goal: '<= 3 s', met: (f) => f.value <= 3000 },
};

const work = path.join(home, 'export', 'scale');
const sidOf = (size) => `S${size / 1000}K`;
const owner = (i) => `U${String(i + 1).padStart(2, '0')}`;
const median = (values) => percentile(values, 0.5);
const formatMs = (value) => (value < 1000 ? `${value.toFixed(1)} ms` : `${(value / 1000).toFixed(2)} s`);

// Runs a program of the home as the web user, as the tools run it; its time in
// milliseconds from start to exit.
function timed(program, args, { sid = BASE, ok = [0] } = {}) {
  const [command, ...rest] = asWebUser(path.join(home, 'bin', program), args);
  const start = performance.now();
  const run = spawnSync(command, rest, {
    encoding: 'utf8', env: { ...process.env, VANTOR_HOME: home, VANTOR_SID: sid }, maxBuffer: 64 << 20,
  });
  const ms = performance.now() - start;
  if (!ok.includes(run.status)) {
    throw new Error(`${program} ${args.join(' ')} ended with ${run.status}:\n${(run.stderr ?? '').slice(-2000)}`);
  }
  return ms;
}

const vdbadm = (...args) => timed('vdbadm', ['--home', home, ...args]);
const statement = (sid, text) => vdbadm('sql', sid, 'system/demo', text);

let parfiles = 0;
// A utility run with a parameter file as the tools write them.
function utility(program, sid, lines, ok = [0]) {
  const parfile = path.join(work, `par${++parfiles}`);
  fs.writeFileSync(parfile, ['system/demo', ...lines].join('\n') + '\n');
  return timed(program, [`PARFILE=${parfile}`], { sid, ok });
}

// An export file of size empty tables, one user after the other.
function generatedExport(size) {
  const lines = ['VANTOR EXPORT FILE 1', 'DSYSTEM', `-- ${size} empty tables over ${USERS} users`];
  for (let u = 0; u < USERS; u++) {
    lines.push(`CONNECT ${owner(u)}`);
    for (let t = u; t < size; t += USERS) {
      lines.push(`CREATE TABLE "T${t}" ("ID" NUMBER(10) PRIMARY KEY, "NAME" VARCHAR2(40), "CREATED" DATE) `
        + 'TABLESPACE "USERS"');
    }
  }
  return `${lines.join('\n')}\n`;
}

// An instance with the users and size empty tables, loaded from an export file.
function build(size) {
  const sid = sidOf(size);
  vdbadm('create', sid);
  for (let u = 0; u < USERS; u++) statement(sid, `CREATE USER ${owner(u)} IDENTIFIED BY demo`);
  const file = path.join(work, `generated-${sid}.dmp`);
  fs.writeFileSync(file, generatedExport(size));
  const ms = utility('dbload', sid, [`FILE=${file}`, 'FULL=Y']);
  const tables = Number(sql("SELECT COUNT(*) FROM all_tables WHERE NOT owner = 'SYS'", sid).trim());
  if (tables !== size) throw new Error(`${sid} holds ${tables} tables, not ${size}`);
  return ms;
}

function removeInstance(sid) {
  const dbs = path.join(home, 'dbs');
  fs.rmSync(path.join(dbs, sid), { recursive: true, force: true });
  fs.rmSync(path.join(dbs, `init${sid}.vpf`), { force: true });
  for (const name of fs.readdirSync(dbs)) {
    if (name.startsWith(`${sid.toLowerCase()}_`)) fs.rmSync(path.join(dbs, name));
  }
}

// A full export as the export tool asks for it by default, then its load into
// a new instance, which is removed again.
function exportAndLoad(sid) {
  const file = path.join(work, `full-${sid}.dmp`);
  const exported = utility('dbdump', sid, [`FILE=${file}`, 'BUFFER=4096', 'RECORDLENGTH=1024', 'FULL=Y']);
  const copy = `L${sid}`;
  vdbadm('create', copy);
  // The copy cannot take over the data files of the original: those
  // tablespaces are refused with a warning and their tables go to USERS.
  const loaded = utility('dbload', copy, [`FILE=${file}`, 'FULL=Y'], [0, 2]);
  removeInstance(copy);
  fs.rmSync(file);
  return { exported, loaded };
}

function listedExport(size) {
  const step = Math.floor(size / LISTED_TABLES);
  const items = [];
  for (let i = 0; i < LISTED_TABLES; i++) items.push(`${owner((i * step) % USERS)}.T${i * step}`);
  const file = path.join(work, `listed-${sidOf(size)}.dmp`);
  const lines = [`FILE=${file}`, 'BUFFER=4096', 'RECORDLENGTH=1024', 'TABLES=(',
    ...items.map((item, i) => `${item}${i + 1 < items.length ? ',' : ')'}`)];
  const ms = utility('dbdump', sidOf(size), lines);
  fs.rmSync(file);
  return ms;
}

// Medians of a and b run in turns, each a function giving its time.
async function paired(a, b, { seconds = 0, pairs }) {
  const times = { a: [], b: [] };
  const end = performance.now() + seconds * 1000;
  for (let pair = 0; performance.now() < end || pair < pairs; pair++) {
    for (const which of pair % 2 ? ['a', 'b'] : ['b', 'a']) times[which].push(await (which === 'a' ? a : b)());
  }
  return { a: median(times.a), b: median(times.b) };
}

const pageTime = (page) => async () => {
  const answer = await request(page);
  const fault = answerFault(page, answer);
  if (fault) throw new Error(`${page.name} (${page.target}): ${fault}`);
  return answer.lastByte;
};

async function pagesOf(sid) {
  const pages = await toolPages(await login(sid), sid);
  return Object.fromEntries(pages.map((page) => [page.name, page]));
}

// The option page lists every table, one box each.
async function checkOptionPage(page, size) {
  const { body } = await request(page);
  const boxes = body.split('type=checkbox name="T').length - 1;
  if (boxes !== size) throw new Error(`the table option page of ${size} tables lists ${boxes}`);
}

const results = Object.fromEntries(Object.keys(FIGURES).map((name) => [name, { base: [], sizes: {} }]));
function record(name, size, base, value) {
  results[name].base.push(base);
  results[name].sizes[size] = { value, ratio: value / base };
}

async function measure(size, basePages, base) {
  const sid = sidOf(size);
  const pages = await pagesOf(sid);
  await checkOptionPage(pages['export table option page'], size);
  for (const name of PAGES) {
    progress(`${size} tables: ${name} against the demo's, ${PAGE_SECONDS} s`);
    const times = await paired(pageTime(basePages[name]), pageTime(pages[name]),
      { seconds: PAGE_SECONDS, pairs: MIN_PAIRS });
    record(name, size, times.a, times.b);
  }
  progress(`${size} tables: vdbadm select from dual`);
  const dual = 'SELECT * FROM dual';
  const selects = await paired(() => statement(BASE, dual), () => statement(sid, dual), { pairs: PROGRAM_PAIRS });
  record('vdbadm select from dual', size, selects.a, selects.b);

  progress(`${size} tables: full export and its load`);
  const { exported, loaded } = exportAndLoad(sid);
  record('full export, the tool\'s defaults', size, base.exported, exported);
  record('load of that export', size, base.loaded, loaded);
  if (size >= LISTED_TABLES) {
    progress(`${size} tables: table-mode export of ${LISTED_TABLES} tables`);
    const listed = listedExport(size);
    record(`table-mode export of ${LISTED_TABLES} tables`, size, NaN, listed);
  }

  progress(`${size} tables: creating one table`);
  const made = [];
  const create = (where, schema) => () => {
    const table = `${schema}.SCALE_${sid}_${made.length}`;
    made.push([where, table]);
    return statement(where, `CREATE TABLE ${table} (A NUMBER)`);
  };
  const created = await paired(create(BASE, 'SALES'), create(sid, owner(0)), { pairs: CREATE_PAIRS });
  record('vdbadm create one table', size, created.a, created.b);
  // The demo keeps its six tables for the next size.
  for (const [where, name] of made) if (where === BASE) statement(BASE, `DROP TABLE ${name}`);
}

function table(builds) {
  const count = (n) => n.toLocaleString('en-US');
  const head = ['figure', '6 tables (demo)', ...SIZES.map(count), `goal at ${count(SIZES.at(-1))}`, 'result'];
  const rows = [head];
  for (const [name, { goal, met }] of Object.entries(FIGURES)) {
    const { base, sizes } = results[name];
    const known = base.filter((v) => !Number.isNaN(v));
    const cells = SIZES.map((size) => {
      const f = sizes[size];
      if (!f) return '';
      return Number.isNaN(f.ratio) ? formatMs(f.value) : `${formatMs(f.value)} / ${f.ratio.toFixed(2)}`;
    });
    const last = sizes[SIZES.at(-1)];
    rows.push([name, known.length ? formatMs(median(known)) : '', ...cells, goal, last ? verdict(met(last)) : '']);
  }
  rows.push(['building the instance (dbload)', '', ...SIZES.map((size) => formatMs(builds[size])), '', '']);
  return rows;
}

const startLoad = os.loadavg()[0];
const started = Date.now();
const [mkdir, ...mkdirArgs] = asWebUser('/bin/mkdir', ['-p', work]);
spawnSync(mkdir, mkdirArgs);
progress('the demo\'s full export and its load');
const base = exportAndLoad(BASE);
const basePages = await pagesOf(BASE);
const builds = {};
for (const size of SIZES) {
  progress(`building an instance of ${size} empty tables over ${USERS} users`);
  builds[size] = build(size);
  await measure(size, basePages, base);
  removeInstance(sidOf(size));
}
const rows = table(builds);
console.log(`kv bench --scale, ${new Date().toISOString().slice(0, 16)}: ${os.cpus().length} CPUs, load average `
  + `${startLoad.toFixed(2)} at the start and ${os.loadavg()[0].toFixed(2)} at the end, `
  + `${((Date.now() - started) / 1000).toFixed(0)} s`);
console.log(`Each cell: the median time / its ratio to the same figure on the demo's six tables, measured in turns with
it. Pages: to the last byte through Apache on loopback, as the SYSTEM user; vdbadm: the whole process, run as the web
user; utilities: one run each (the demo's export holds its 100,000 rows; the others hold empty tables). The instances
hold empty tables spread over ${USERS} users.
`);
printTable(rows);
const missed = rows.filter((row) => row.at(-1) === 'MISSED').map((row) => row[0]);
console.log(missed.length ? `\ngoals missed: ${missed.join('; ')}` : '\nevery goal met');
