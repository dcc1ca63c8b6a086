// The tablespace tool's figures; run through run_bench.sh, which installs the
// home with the demo instance.
import { spawnSync } from 'node:child_process';
import path from 'node:path';
import { performance } from 'node:perf_hooks';

const home = process.env.KVX_BENCH_HOME;
const runs = Number(process.env.KVX_BENCH_RUNS || 200);
if (!home) throw new Error('run this through bench/tablespace/run_bench.sh');

const cookie = `KVCOOKIE=VANTOR_HOME=${home}&VANTOR_SID=PROD&KVCUSER=system&KVCPASSWORD=demo&KVCPLEN=0`
  + '&KVRMTADDR=127.0.0.1&KVLOGPID=1';

const requests = {
  'backup page': { program: 'nph-kvb', query: 'KVBKUINSTANCE=1', ends: '</html>' },
  // What the browser asks for the picture of the usage page: no cookie needed.
  'usage chart': { program: 'kvx', query: 'KVXUSD=6144&KVXTOT=65536', pathInfo: '/kvx4711.gif', ends: ';' },
  'usage page': { program: 'kvx', query: '', ends: '</html>' },
  'usage page of USERS': { program: 'kvx', query: 'KVXPDINSTANCE=1&KVXTBLSPNAME=USERS&KVXTODO=Show+Tablespace', ends: '</html>' },
};

function environment(r) {
  const env = {
    PATH: '/usr/bin:/bin', REQUEST_METHOD: 'GET', QUERY_STRING: r.query, REMOTE_ADDR: '127.0.0.1',
    SERVER_NAME: '127.0.0.1', SERVER_PORT: '8080', SERVER_PROTOCOL: 'HTTP/1.1', SERVER_SOFTWARE: 'Apache/2.4',
    SCRIPT_NAME: `/PROD-bin/${r.program}`, HTTP_COOKIE: cookie,
  };
  if (r.pathInfo) env.PATH_INFO = r.pathInfo;
  return env;
}

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const percentile = (values, p) => {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.min(sorted.length - 1, Math.floor(sorted.length * p))];
};

// The requests take turns, so a slow spell of the machine falls on all alike.
const times = Object.fromEntries(Object.keys(requests).map((name) => [name, []]));
for (let run = -10; run < runs; run++) {
  for (const [name, r] of Object.entries(requests)) {
    const start = performance.now();
    const result = spawnSync(path.join(home, 'kv/bin', r.program), [], { env: environment(r), encoding: 'latin1' });
    const took = performance.now() - start;
    if (result.status !== 0 || !result.stdout.endsWith(r.ends)) throw new Error(`${name} failed:\n${result.stdout}`);
    if (run >= 0) times[name].push(took);
  }
}

const base = median(times['backup page']);
console.log(`${runs} whole CGI requests each (median, 90th percentile, ratio of medians to the backup page):`);
for (const [name, values] of Object.entries(times)) {
  console.log(`  ${name.padEnd(20)} ${median(values).toFixed(2)} ms  ${percentile(values, 0.9).toFixed(2)} ms`
    + `  x${(median(values) / base).toFixed(2)}`);
}
const chart = median(times['usage chart']) / base;
console.log(`goal: the chart at most 1.3 times the backup page: ${chart <= 1.3 ? 'met' : 'missed'} (x${chart.toFixed(2)})`);
