// The export tool's figures; run through run_bench.sh, which has bench/run.sh
// install the home and serve it with Apache httpd on KV_BENCH_PORT.
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import { performance } from 'node:perf_hooks';

const home = process.env.KV_BENCH_HOME;
const port = process.env.KV_BENCH_PORT;
const stampingUtility = process.env.KVE_BENCH_UTILITY;
if (!home || !stampingUtility) throw new Error('run this through bench/export/run_bench.sh');

const PAGE_RUNS = 100;
const EXPORT_RUNS = 5;
const STREAM_RUNS = 10;
const cookie = `KVCOOKIE=VANTOR_HOME=${home}&VANTOR_SID=PROD&KVCUSER=system&KVCPASSWORD=demo&KVCPLEN=0`
  + '&KVRMTADDR=127.0.0.1&KVLOGPID=1';

const now = () => performance.timeOrigin + performance.now();  // ms since the epoch

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.floor(sorted.length / 2)];
}

function percentile(values, p) {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.min(sorted.length - 1, Math.floor(sorted.length * p))];
}

function form(fields) {
  return Object.entries(fields).map(([k, v]) => `${k}=${encodeURIComponent(v)}`).join('&');
}

const exportFields = (extra) => form({
  KVEINSTANCE: '1', KVESELECTOPTS: 'Full database', KVEGRANTSCB: 'on', KVEINDEXESCB: 'on', KVEROWSCB: 'on',
  KVECONSTRAINTSCB: 'on', KVERECLEN: '1024', KVEBUFSIZ: '4096', KVELOGFILENAME: `${home}/export/export.log`,
  KVEINCTYPE: 'None', KVERECINC: '1', KVESTATTYPE: 'None', KVECOMPRESS: '1', ...extra,
});

function cgiEnv(body, query = '') {
  return {
    PATH: '/usr/bin:/bin', REQUEST_METHOD: body === undefined ? 'GET' : 'POST', QUERY_STRING: query,
    CONTENT_LENGTH: body === undefined ? '' : String(Buffer.byteLength(body)), REMOTE_ADDR: '127.0.0.1',
    SERVER_NAME: '127.0.0.1', SERVER_PORT: '8080', SERVER_PROTOCOL: 'HTTP/1.1', SERVER_SOFTWARE: 'Apache/2.4',
    HTTP_COOKIE: cookie,
  };
}

// ---- pages as whole CGI requests ------------------------------------------------

function pageCosts() {
  const requests = {
    'backup page': { program: 'nph-kvb', query: 'KVBKUINSTANCE=1' },
    'export first page': { program: 'nph-kve' },
    'export table option page': { program: 'nph-kve', body: exportFields({ KVESELECTOPTS: 'Tables', KVESUBMIT: 'Apply Scope' }) },
  };
  const times = Object.fromEntries(Object.keys(requests).map((name) => [name, []]));
  for (let run = -10; run < PAGE_RUNS; run++) {
    for (const [name, r] of Object.entries(requests)) {
      const start = now();
      const result = spawnSync(path.join(home, 'kv/bin', r.program), [], {
        env: cgiEnv(r.body, r.query), input: r.body ?? '', encoding: 'latin1',
      });
      const took = now() - start;
      if (result.status !== 0 || !result.stdout.includes('</html>')) throw new Error(`${name} failed:\n${result.stdout}`);
      if (run >= 0) times[name].push(took);
    }
  }
  const base = median(times['backup page']);
  console.log(`pages, ${PAGE_RUNS} whole CGI requests each (median, 90th percentile, ratio to the backup page):`);
  for (const [name, values] of Object.entries(times)) {
    console.log(`  ${name.padEnd(26)} ${median(values).toFixed(2)} ms  ${percentile(values, 0.9).toFixed(2)} ms`
      + `  x${(median(values) / base).toFixed(2)}`);
  }
}

// ---- an export run, reading the page as it arrives --------------------------------

// Runs one export request; onText(text so far, arrival time) is called with
// every piece; resolves with the whole page.
function exportRequest(viaApache, body, onText) {
  return new Promise((resolve, reject) => {
    let page = '';
    const take = (chunk) => { page += chunk.toString('latin1'); onText(page, now()); };
    if (viaApache) {
      // A plain socket: the tool's own head ends its lines with a bare line
      // feed, which a strict client parser refuses.
      const socket = net.connect(Number(port), '127.0.0.1', () => {
        socket.write(`POST /PROD-bin/nph-kve HTTP/1.0\r\nHost: 127.0.0.1:${port}\r\nCookie: ${cookie}\r\n`
          + 'Content-Type: application/x-www-form-urlencoded\r\n'
          + `Content-Length: ${Buffer.byteLength(body)}\r\n\r\n${body}`);
      });
      socket.on('data', take);
      socket.once('end', () => resolve(page));
      socket.once('error', reject);
      return;
    }
    const child = spawn(path.join(home, 'kv/bin/nph-kve'), [], { env: cgiEnv(body) });
    child.stdout.on('data', take);
    child.once('error', reject);
    child.once('close', () => resolve(page));
    child.stdin.end(body);
  });
}

const routes = () => [['straight from the program', false], ['through Apache httpd', true]];

async function realExport() {
  const dump = `${home}/export/bench.dmp`;
  const body = exportFields({ KVESUBMIT: 'Export', KVEEXPFILE: dump });
  console.log(`real full export of the demo instance, ${EXPORT_RUNS} runs (median):`);
  for (const [route, viaApache] of routes()) {
    const first = [];
    const total = [];
    for (let run = 0; run < EXPORT_RUNS; run++) {
      fs.rmSync(dump, { force: true });
      let firstLine = 0;
      const start = now();
      const page = await exportRequest(viaApache, body, (text, at) => {
        if (!firstLine && text.includes('Connected to instance')) firstLine = at;
      });
      total.push(now() - start);
      if (!page.includes('Export terminated successfully.') || !firstLine) throw new Error(`the export failed:\n${page}`);
      first.push(firstLine - start);
    }
    console.log(`  ${route.padEnd(26)} first line after ${median(first).toFixed(1)} ms, page complete after `
      + `${median(total).toFixed(1)} ms`);
  }
  fs.rmSync(dump, { force: true });
}

async function streamingLatency() {
  const utility = `${home}/bin/dbdump`;
  fs.renameSync(utility, `${utility}.real`);
  fs.copyFileSync(stampingUtility, utility);
  fs.chmodSync(utility, 0o755);
  try {
    const body = exportFields({ KVESUBMIT: 'Export', KVEEXPFILE: `${home}/export/stamped.dmp` });
    console.log(`a line's way from the utility to the client, ${STREAM_RUNS} runs of five lines 100 ms apart`
      + ' (goal: under 50 ms):');
    for (const [route, viaApache] of routes()) {
      const firstLines = [];
      const laterLines = [];
      for (let run = 0; run < STREAM_RUNS; run++) {
        const seen = new Set();
        const page = await exportRequest(viaApache, body, (text, at) => {
          for (const m of text.matchAll(/line (\d) written at (\d+)/g)) {
            if (seen.has(m[1])) continue;
            seen.add(m[1]);
            const latency = at - Number(BigInt(m[2]) / 1000n) / 1000;
            (m[1] === '1' ? firstLines : laterLines).push(latency);
          }
        });
        if (seen.size !== 5) throw new Error(`the stamped lines did not all arrive:\n${page}`);
      }
      const show = (values) => `median ${median(values).toFixed(2)} ms, max ${Math.max(...values).toFixed(2)} ms`;
      console.log(`  ${route.padEnd(26)} first line ${show(firstLines)}; later lines ${show(laterLines)}`);
    }
  } finally {
    fs.rmSync(utility, { force: true });
    fs.renameSync(`${utility}.real`, utility);
  }
}

pageCosts();
await realExport();
await streamingLatency();
