// The figures of ./kv bench in one table: every tool page and the chart
// through Apache against a trivial CGI page of the same size, the peak memory
// of one CGI process, the export file scan, and the export and import
// utilities against the sqlite3 shell. Run through bench/run.sh.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { performance } from 'node:perf_hooks';
import {
  answerFault, asWebUser, benchBuild, cgiEnvironment, home, login, pageSize, percentile, printTable, progress, request,
  scratch, toolPages, trivialTwin, verdict,
} from './pages.mjs';

// Each page is timed for SECONDS, and never fewer than MIN_PAIRS times.
const SECONDS = 10;
const MIN_PAIRS = 200;
const RSS_RUNS = 3;
const MEMORY_GOAL_KB = 8 * 1024;
const SCAN_GOAL = 500;  // MiB/s
const SCAN_BYTES = 200e6;
const MiB = 1024 * 1024;

const ms = (value) => value.toFixed(2);
const ratio = (a, b) => (a / b).toFixed(2);

const summary = (values) => ({
  p10: percentile(values, 0.1), median: percentile(values, 0.5), p99: percentile(values, 0.99), count: values.length,
});

// Apache's CGI module, once it has read a program's output to the end, makes
// sure the process is gone; when it is not quite gone yet, the module sleeps
// 10 ms before it closes the connection, and the more time a program took, the
// more often that happens. A browser has the page by then, so a page's time
// runs to its last byte; how often the close came that late is counted apart.
const LATE_CLOSE_MS = 5;

// A page and its trivial twin take turns request by request, in changing
// order, so that a busy spell of the shared machine falls on both alike.
// Times in milliseconds from the connection's start to the page's last byte.
async function pairedLatencies(page, twin) {
  const times = { page: [], twin: [] };
  const late = { page: 0, twin: 0 };
  const end = performance.now() + SECONDS * 1000;
  for (let pair = 0; performance.now() < end || pair < MIN_PAIRS; pair++) {
    for (const which of pair % 2 ? ['page', 'twin'] : ['twin', 'page']) {
      const target = which === 'page' ? page : twin;
      const answer = await request(target);
      const fault = answerFault(target, answer);
      if (fault) throw new Error(`${target.name} (${target.target}): ${fault}`);
      times[which].push(answer.lastByte);
      if (answer.closed - answer.lastByte >= LATE_CLOSE_MS) late[which]++;
    }
  }
  const share = (which) => late[which] / times[which].length;
  return { latency: { ...summary(times.page), lateClose: share('page') },
    trivial: { ...summary(times.twin), lateClose: share('twin') } };
}

async function pageLatencies(pages) {
  const rows = [];
  for (const page of pages) {
    const bytes = await pageSize(page);
    progress(`${page.name} against the trivial page, ${SECONDS} s`);
    rows.push({ page, bytes, ...await pairedLatencies(page, trivialTwin(page, bytes)) });
  }
  return rows;
}

// The largest resident set of the page's program, run directly as Apache
// would run it (as the web user, in its directory, with its environment).
function peakRss(page) {
  const report = path.join(scratch, 'peak-rss');
  const program = path.join(home, 'kv/bin', page.program);
  let peak = 0;
  for (let run = 0; run < RSS_RUNS; run++) {
    const result = spawnSync('/usr/bin/time', ['-f', '%M', '-o', report, ...asWebUser(program)], {
      env: cgiEnvironment(page), input: page.body, cwd: path.dirname(program), encoding: 'latin1',
    });
    if (result.status !== 0 || !result.stdout.endsWith(page.ends)) {
      throw new Error(`${page.name} run directly failed (${result.status}):\n${result.stdout}${result.stderr}`);
    }
    peak = Math.max(peak, Number(fs.readFileSync(report, 'utf8').trim().split('\n').pop()));
  }
  return peak;
}

function googleBenchmark(program, args, env = {}) {
  const run = spawnSync(program, [...args, '--benchmark_format=json'], {
    encoding: 'utf8', env: { ...process.env, ...env }, maxBuffer: 64 * MiB,
  });
  if (run.status !== 0) throw new Error(`${program} failed:\n${run.stdout}${run.stderr}`);
  const benchmarks = JSON.parse(run.stdout).benchmarks;
  const failed = benchmarks.find((b) => b.error_occurred);
  if (failed) throw new Error(`${program}: ${failed.name}: ${failed.error_message}`);
  return benchmarks;
}

// A large real dump: the demo's export file, its three head lines once and
// the rest (users, grants, tables, 100,000 rows and more) again and again.
function largeDump() {
  const demo = fs.readFileSync(path.join(home, 'export/expdat.dmp'));
  let headEnd = 0;
  for (let line = 0; line < 3; line++) headEnd = demo.indexOf(10, headEnd) + 1;
  const file = path.join(scratch, 'large.dmp');
  const fd = fs.openSync(file, 'w');
  fs.writeSync(fd, demo.subarray(0, headEnd));
  const body = demo.subarray(headEnd);
  for (let written = 0; written < SCAN_BYTES; written += body.length) fs.writeSync(fd, body);
  fs.closeSync(fd);
  return file;
}

function scanThroughput() {
  const file = largeDump();
  try {
    const median = googleBenchmark(path.join(benchBuild, 'scan_bench'), [], { KV_SCAN_FILE: file })
      .find((b) => b.aggregate_name === 'median');
    return { perSecond: median.bytes_per_second / MiB, size: fs.statSync(file).size / MiB, tables: median.tables };
  } finally {
    fs.rmSync(file, { force: true });
  }
}

// dbdump and dbload on the 100,000 rows of the demo's orders, against the
// sqlite3 shell's .dump and .read of the same rows (bench/vdb).
function utilities() {
  const benchmarks = googleBenchmark(path.join(benchBuild, 'vdb/vdb_bench'),
    ['--benchmark_filter=^BM_(Dbdump|SqliteDump|Dbload|SqliteRead)/']);
  return Object.fromEntries(benchmarks.map((b) => [b.name.replace(/\/.*/, ''), b.real_time]));
}

const mb = (kb) => `${(kb / 1024).toFixed(1)} MB`;
const percent = (share) => `${(share * 100).toFixed(0)}%`;

function figures(rows, scan, util) {
  const table = [['measure', 'value', 'against', 'ratio', 'ratio p10', 'late close', 'peak RSS', 'goal', 'result']];
  for (const { page, bytes, latency: l, trivial: t, rss } of rows) {
    table.push([
      `${page.name}, ${bytes} B`,
      `${ms(l.median)} / ${ms(l.p99)} ms`,
      `trivial ${ms(t.median)} / ${ms(t.p99)} ms`,
      `${ratio(l.median, t.median)} / ${ratio(l.p99, t.p99)}`,
      ratio(l.p10, t.p10),
      `${percent(l.lateClose)} / ${percent(t.lateClose)}`,
      mb(rss),
      page.goal ? `median <= ${page.goal}` : '',
      page.goal ? verdict(l.median / t.median <= page.goal) : '',
    ]);
  }
  const biggest = rows.reduce((a, b) => (b.rss > a.rss ? b : a));
  table.push(['peak memory of one CGI process', biggest.page.name, '', '', '', '', mb(biggest.rss),
    `<= ${mb(MEMORY_GOAL_KB)}`, verdict(biggest.rss <= MEMORY_GOAL_KB)]);
  table.push([`export file scan, ${scan.size.toFixed(0)} MiB real dump, ${scan.tables} tables`,
    `${scan.perSecond.toFixed(0)} MiB/s`, '', '', '', '', '', `>= ${SCAN_GOAL} MiB/s`, verdict(scan.perSecond >= SCAN_GOAL)]);
  table.push(['dbdump, 100,000 rows', `${util.BM_Dbdump.toFixed(0)} ms`,
    `sqlite3 .dump ${util.BM_SqliteDump.toFixed(0)} ms`, ratio(util.BM_Dbdump, util.BM_SqliteDump), '', '', '', '', '']);
  table.push(['dbload, 100,000 rows', `${util.BM_Dbload.toFixed(0)} ms`,
    `sqlite3 .read ${util.BM_SqliteRead.toFixed(0)} ms`, ratio(util.BM_Dbload, util.BM_SqliteRead), '', '', '', '', '']);
  return table;
}

function printHeading(rows, startLoad, started) {
  const requests = rows.reduce((n, row) => Math.min(n, row.latency.count, row.trivial.count), Infinity);
  console.log(`kv bench, ${new Date().toISOString().slice(0, 16)}: ${os.cpus().length} CPUs, load average `
    + `${startLoad.toFixed(2)} at the start and ${os.loadavg()[0].toFixed(2)} at the end, `
    + `${((Date.now() - started) / 1000).toFixed(0)} s`);
  console.log(`Pages: median / 99th percentile time to the page's last byte through Apache on loopback, one request at
a time; against: a trivial C CGI page of the same size and kind (nph or not), asked the same way (GET, or POST with the
same form), taking turns with the page request by request, at least ${requests} requests each; ratio: page / trivial;
ratio p10: the same at the 10th percentile, the figure other work on the machine disturbs least; late close: the
requests whose connection Apache closed ${LATE_CLOSE_MS} ms or more after the last byte, page / trivial; peak RSS: of
the page's program run directly (1 MB = 1024 KiB). Goals are judged on the median. A machine shared with other work
makes the timings noisy, the 99th percentile most.
`);
}

const startLoad = os.loadavg()[0];
const started = Date.now();
const cookie = await login();
const rows = await pageLatencies(await toolPages(cookie));
progress('peak memory of each page');
for (const row of rows) row.rss = peakRss(row.page);
progress('export file scan');
const scan = scanThroughput();
progress('dbdump and dbload against the sqlite3 shell');
const table = figures(rows, scan, utilities());
printHeading(rows, startLoad, started);
printTable(table);
const missed = table.filter((row) => row.at(-1) === 'MISSED').map((row) => row[0]);
console.log(missed.length ? `\ngoals missed: ${missed.join('; ')}` : '\nevery goal met');
