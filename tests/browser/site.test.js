// The demo site as a person uses it, in headless Chromium: against a
// `kvhost serve` started here on a free port and a fresh demo database,
// list the orders, sort, page, edit an order's German and English title,
// see both on the list in each language, clone it and delete the clone.
//
//   node site.test.js --kvhost PATH --root SITE_DIR --engine sqlite|postgres|mariadb [--screenshot FILE]
//
// postgres needs KV_TEST_PG (a server URL), mariadb KV_TEST_MARIADB (an
// odbc: string); without it the test exits 77, which ctest counts as skipped.
'use strict';

const { test } = require('node:test');
const assert = require('node:assert/strict');
const { spawn, execFileSync } = require('node:child_process');
const fs = require('node:fs');
const http = require('node:http');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');
const { parseArgs } = require('node:util');
const puppeteer = require('puppeteer-core');

const SKIPPED = 77;

const { values: args } = parseArgs({
  options: { kvhost: { type: 'string' }, root: { type: 'string' }, engine: { type: 'string' },
             screenshot: { type: 'string' } },
});
for (const required of ['kvhost', 'root', 'engine'])
  if (!args[required]) throw new Error(`--${required} is missing`);
if (args.engine === 'postgres' && !process.env.KV_TEST_PG) {
  console.log('skipped: KV_TEST_PG names no PostgreSQL server');
  process.exit(SKIPPED);
}
if (args.engine === 'mariadb' && !process.env.KV_TEST_MARIADB) {
  console.log('skipped: KV_TEST_MARIADB names no MariaDB server');
  process.exit(SKIPPED);
}

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.on('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

function psql(url, sql) {
  execFileSync('psql', [url, '-qAtc', sql], { stdio: ['ignore', 'ignore', 'inherit'] });
}

// An attribute of an ODBC connection string ('' when absent).
function odbcAttribute(odbc, keyword) {
  const found = odbc.split(';').find((a) => a.split('=')[0].trim().toLowerCase() === keyword);
  return found ? found.slice(found.indexOf('=') + 1) : '';
}

// A fresh database on the MariaDB server, made with its own client.
function freshMariaDatabase() {
  const server = process.env.KV_TEST_MARIADB;
  const name = `site_${process.pid}_${Date.now() % 100000}`;
  const client = (sql) => execFileSync('mariadb', ['--no-defaults', `--socket=${odbcAttribute(server, 'socket')}`,
                                                   `--user=${odbcAttribute(server, 'uid')}`,
                                                   `--password=${odbcAttribute(server, 'pwd')}`, '-e', sql],
                                       { stdio: ['ignore', 'ignore', 'inherit'] });
  client(`CREATE DATABASE ${name} CHARACTER SET utf8mb4 COLLATE utf8mb4_bin`);
  const rest = server.split(';').filter((a) => !a.trim().toLowerCase().startsWith('database=')).join(';');
  return { url: `${rest};Database=${name}`, drop() { client(`DROP DATABASE IF EXISTS ${name}`); } };
}

// A database without repository: the server gives it the demo application.
function freshDatabase(workDir) {
  if (args.engine === 'sqlite') return { url: `sqlite:${workDir}/site.db?mode=rwc`, drop() {} };
  if (args.engine === 'mariadb') return freshMariaDatabase();
  const server = process.env.KV_TEST_PG;
  const schema = `site_${process.pid}_${Date.now() % 100000}`;
  psql(server, `CREATE SCHEMA ${schema}`);
  const join = server.includes('?') ? '&' : '?';
  return {
    url: `${server}${join}options=-csearch_path%3D${schema}`,
    drop() { psql(server, `DROP SCHEMA IF EXISTS ${schema} CASCADE`); },
  };
}

function answers(url) {
  return new Promise((resolve) => {
    const request = http.get(url, (response) => { response.resume(); resolve(true); });
    request.on('error', () => resolve(false));
    request.setTimeout(2000, () => { request.destroy(); resolve(false); });
  });
}

async function startServer(workDir, databaseUrl) {
  const port = await freePort();
  const base = path.join(workDir, 'app');
  fs.mkdirSync(base, { recursive: true });
  const server = spawn(args.kvhost, ['serve', '--root', args.root, '--port', String(port), '--bind', '127.0.0.1',
                                     '--workers', '2', '--db', databaseUrl, '--base', base,
                                     '--registry', path.join(workDir, 'registry')],
                       { stdio: ['ignore', 'ignore', 'pipe'] });
  server.log = '';
  server.stderr.on('data', (chunk) => { server.log += chunk; });
  const exited = new Promise((resolve) => server.on('exit', (code, signal) => resolve(code ?? signal)));
  server.stop = async () => { if (server.exitCode === null) server.kill('SIGTERM'); await exited; };
  const origin = `http://127.0.0.1:${port}`;
  for (let tries = 0; tries < 150; tries++) {
    if (server.exitCode !== null) break;
    if (await answers(`${origin}/site.css`)) return { server, origin };
    await new Promise((resolve) => setTimeout(resolve, 200));
  }
  await server.stop();
  throw new Error(`kvhost serve did not answer on ${origin}:\n${server.log}`);
}

// The rows of the list page as the visitor sees them.
function listRows(page) {
  return page.$$eval('table.orders tbody tr', (rows) => rows.map((row) => ({
    lid: Number(row.dataset.lid),
    no: row.cells[1].textContent.trim(),
    title: row.cells[2].textContent.trim(),
    colour: row.cells[3].textContent.trim(),
    state: row.cells[4].textContent.trim(),
    amount: Number(row.cells[5].textContent.trim()),
  })));
}

async function clickAndWait(page, selector) {
  await Promise.all([page.waitForNavigation({ waitUntil: 'load' }), page.click(selector)]);
}

async function text(page, selector) {
  return page.$eval(selector, (element) => element.textContent.trim());
}

async function replaceValue(page, selector, value) {
  await page.$eval(selector, (input) => { input.value = ''; });
  await page.type(selector, value);
}

function ascending(values, compare) {
  return values.every((value, i) => i === 0 || compare(values[i - 1], value) <= 0);
}
const byNumber = (a, b) => a - b;
const byText = (a, b) => (a < b ? -1 : a > b ? 1 : 0);

test(`the order desk in a browser on ${args.engine}`, async (t) => {
  const workDir = fs.mkdtempSync(path.join(process.env.KV_TEST_WORKDIR || os.tmpdir(), 'kvsite-'));
  const database = freshDatabase(workDir);
  const { server, origin } = await startServer(workDir, database.url);
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    // Chromium's sandbox refuses to run as root, as CI does.
    args: ['--disable-gpu', '--disable-dev-shm-usage', ...(process.getuid() === 0 ? ['--no-sandbox'] : [])],
  });
  t.after(async () => {
    await browser.close();
    await server.stop();
    database.drop();
    fs.rmSync(workDir, { recursive: true, force: true });
  });
  const page = await browser.newPage();
  await page.setViewport({ width: 1200, height: 760 });
  page.on('dialog', (dialog) => dialog.accept());

  let firstPage;
  await t.test('the list shows ten orders sorted by number, with page links', async () => {
    const response = await page.goto(`${origin}/?lang=en`, { waitUntil: 'load' });
    assert.equal(response.status(), 200);
    firstPage = await listRows(page);
    assert.equal(firstPage.length, 10);
    assert.ok(ascending(firstPage.map((r) => r.no), byText), JSON.stringify(firstPage));
    assert.match(await text(page, '.summary'), /^23 orders · Page 1 of 3$/);
    assert.equal(await text(page, 'nav.pages .current'), '1');
    assert.equal(await page.$eval('link[rel=stylesheet]', (l) => l.sheet.cssRules.length > 20), true);
    if (args.screenshot) await page.screenshot({ path: args.screenshot });
  });

  await t.test('clicking a column header sorts by it, clicking again reverses', async () => {
    await clickAndWait(page, 'a[data-sort="lamount"]');
    const up = (await listRows(page)).map((r) => r.amount);
    assert.ok(ascending(up, byNumber), up.join(','));
    assert.equal(await page.$eval('th[aria-sort]', (th) => th.getAttribute('aria-sort')), 'ascending');
    await clickAndWait(page, 'a[data-sort="lamount"]');
    const down = (await listRows(page)).map((r) => r.amount);
    assert.ok(ascending(down.slice().reverse(), byNumber), down.join(','));
    assert.ok(down[0] >= up[up.length - 1]);
    await clickAndWait(page, 'a[data-sort="strno"]');
    assert.deepEqual(await listRows(page), firstPage);
  });

  let order;
  await t.test('page 2 goes on where page 1 ended', async () => {
    await clickAndWait(page, 'nav.pages a[data-page="2"]');
    const rows = await listRows(page);
    assert.equal(rows.length, 10);
    assert.equal(await text(page, 'nav.pages .current'), '2');
    assert.ok(byText(firstPage[9].no, rows[0].no) < 0, `${firstPage[9].no} before ${rows[0].no}`);
    order = rows[3];
  });

  let titles;
  await t.test('an order is opened and its German and English title saved', async () => {
    titles = { de: `Geänderte Bestellung ${order.lid}`, en: `Changed order ${order.lid}` };
    await clickAndWait(page, `tr[data-lid="${order.lid}"] a`);
    assert.equal(new URL(page.url()).searchParams.get('lid'), String(order.lid));
    assert.equal(await page.$eval('#strno', (i) => i.value), order.no);
    assert.equal(await page.$eval('#title_en', (i) => i.value), order.title);
    await replaceValue(page, '#title_de', titles.de);
    await replaceValue(page, '#title_en', titles.en);
    await clickAndWait(page, 'button[value="save"]');
    assert.equal(await text(page, '.notice'), `Order ${order.lid} saved.`);
    assert.equal(await text(page, '[data-fact="title-de"]'), titles.de);
    assert.equal(await text(page, '[data-fact="title-en"]'), titles.en);
  });

  await t.test('the list shows the new title in each language', async () => {
    await clickAndWait(page, '.actions a.button');
    for (const [lang, states] of [['en', ['open', 'closed']], ['de', ['offen', 'geschlossen']]]) {
      await clickAndWait(page, `nav.languages a[hreflang="${lang}"]`);
      assert.equal(await page.$eval('html', (html) => html.lang), lang);
      const row = (await listRows(page)).find((r) => r.lid === order.lid);
      assert.ok(row, `order ${order.lid} is still on page 2`);
      assert.equal(row.title, titles[lang]);
      assert.ok(row.state.split(', ').every((s) => states.includes(s)), row.state);
    }
    assert.equal(await text(page, 'th[aria-sort] a'), 'Nr. ▲');
    await clickAndWait(page, 'nav.languages a[hreflang="en"]');
  });

  let copy;
  await t.test('a clone is a new order with the same titles', async () => {
    await clickAndWait(page, `tr[data-lid="${order.lid}"] a`);
    await clickAndWait(page, 'button[value="clone"]');
    copy = Number(new URL(page.url()).searchParams.get('lid'));
    assert.ok(copy > 24, `the copy has a new id, not ${copy}`);
    assert.equal(await text(page, '.notice'), `Order ${copy} is a copy of order ${order.lid}.`);
    assert.equal(await page.$eval('#strno', (i) => i.value), order.no);
    assert.equal(await page.$eval('#title_de', (i) => i.value), titles.de);
    assert.equal(await page.$eval('#title_en', (i) => i.value), titles.en);
  });

  await t.test('the deleted clone is gone, the original stays', async () => {
    await clickAndWait(page, 'button[value="delete"]');
    assert.equal(new URL(page.url()).pathname, '/');
    assert.equal(await text(page, '.notice'), `Order ${copy} deleted with its lines and files.`);
    const seen = [];
    for (let p = 1; p <= 3; p++) {
      await page.goto(`${origin}/?page=${p}`, { waitUntil: 'load' });
      seen.push(...(await listRows(page)).map((r) => r.lid));
    }
    assert.equal(seen.length, 23);
    assert.ok(!seen.includes(copy));
    assert.ok(seen.includes(order.lid));
    const gone = await page.goto(`${origin}/order.asp?lid=${copy}`, { waitUntil: 'load' });
    assert.equal(gone.status(), 404);
    assert.equal(await text(page, '.errors'), `There is no order ${copy}.`);
  });

  await t.test('no request ended in a server error', () => {
    assert.doesNotMatch(server.log, /" 5\d\d /, server.log);
  });
});
