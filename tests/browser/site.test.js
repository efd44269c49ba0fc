// The demo site as people use it, in headless Chromium: against a
// `kvhost serve` started here on a free port and a fresh demo database,
// each demo user signs in, lists the orders their rights allow, sorts,
// pages, edits an order's German and English title, sees both on the list
// in each language, clones it and deletes the clone. Then: one user's
// orders are not there for the other, a stale form is refused after its
// order was deleted and another made under the same id, and a visitor who
// is not signed in sees only the sign-in page. (That a form posted from
// another site changes nothing is the serve tests' part.)
//
//   node site.test.js --kvhost PATH --root SITE_DIR --engine sqlite|postgres|mariadb [--screenshot FILE]
//   node site.test.js --origin http://HOST:PORT --engine sqlite|postgres|mariadb
//
// With --origin the road is walked on a site served elsewhere (bench/farm:
// a balancer in front of several servers) on a fresh demo database.
//
// postgres needs KV_TEST_PG (a server URL), mariadb KV_TEST_MARIADB (an
// odbc: string); without it the test exits 77, which ctest counts as skipped.
'use strict';

const { test } = require('node:test');
const assert = require('node:assert/strict');
const { spawn, execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { parseArgs } = require('node:util');
const puppeteer = require('puppeteer-core');

const SKIPPED = 77;

const { values: args } = parseArgs({
  options: { kvhost: { type: 'string' }, root: { type: 'string' }, engine: { type: 'string' },
             screenshot: { type: 'string' }, origin: { type: 'string' } },
});
for (const required of args.origin ? ['engine'] : ['kvhost', 'root', 'engine'])
  if (!args[required]) throw new Error(`--${required} is missing`);
if (args.engine === 'postgres' && !process.env.KV_TEST_PG) {
  console.log('skipped: KV_TEST_PG names no PostgreSQL server');
  process.exit(SKIPPED);
}
if (args.engine === 'mariadb' && !process.env.KV_TEST_MARIADB) {
  console.log('skipped: KV_TEST_MARIADB names no MariaDB server');
  process.exit(SKIPPED);
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

// kvhost serve on a port of its choice; it prints its address once it listens.
async function startServer(workDir, databaseUrl) {
  const base = path.join(workDir, 'app');
  fs.mkdirSync(base, { recursive: true });
  const server = spawn(args.kvhost, ['serve', '--root', args.root, '--port', '0', '--bind', '127.0.0.1',
                                     '--workers', '2', '--db', databaseUrl, '--base', base,
                                     '--registry', path.join(workDir, 'registry')],
                       { stdio: ['ignore', 'pipe', 'pipe'] });
  server.log = '';
  server.stderr.on('data', (chunk) => { server.log += chunk; });
  const exited = new Promise((resolve) => server.on('exit', (code, signal) => resolve(code ?? signal)));
  server.stop = async () => { if (server.exitCode === null) server.kill('SIGTERM'); await exited; };
  let out = '';
  const origin = await new Promise((resolve) => {
    server.stdout.on('data', (chunk) => {
      out += chunk;
      const address = /http:\/\/127\.0\.0\.1:[0-9]+/.exec(out);
      if (address) resolve(address[0]);
    });
    exited.then(() => resolve(null));
  });
  if (origin) return { server, origin };
  await server.stop();
  throw new Error(`kvhost serve did not start:\n${out}${server.log}`);
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

const USERS = {
  anna: { password: 'anna-demo', fullName: 'Anna Berger', total: 24, pages: 3 },
  ben: { password: 'ben-demo', fullName: 'Ben Kraus', total: 20, pages: 2 },
};

async function signIn(page, origin, name) {
  await page.goto(`${origin}/signin.asp?lang=en`, { waitUntil: 'load' });
  await page.type('#name', name);
  await page.type('#password', USERS[name].password);
  await clickAndWait(page, 'button[value="signin"]');
  assert.equal(new URL(page.url()).pathname, '/');
  assert.equal(await text(page, '.bar .who'), USERS[name].fullName);
}

function ascending(values, compare) {
  return values.every((value, i) => i === 0 || compare(values[i - 1], value) <= 0);
}
const byNumber = (a, b) => a - b;
const byText = (a, b) => (a < b ? -1 : a > b ? 1 : 0);

// The road every user walks: list, sort, page, edit, list in both
// languages, clone, delete the clone.
async function walkTheRoad(t, page, origin, name) {
  const user = USERS[name];
  let firstPage;
  await t.test(`${name}: the list shows ten orders sorted by number, with page links`, async () => {
    const response = await page.goto(`${origin}/?lang=en`, { waitUntil: 'load' });
    assert.equal(response.status(), 200);
    firstPage = await listRows(page);
    assert.equal(firstPage.length, 10);
    assert.ok(ascending(firstPage.map((r) => r.no), byText), JSON.stringify(firstPage));
    assert.equal(await text(page, '.summary'), `${user.total} orders · Page 1 of ${user.pages}`);
    assert.equal(await text(page, 'nav.pages .current'), '1');
    assert.equal(await page.$eval('link[rel=stylesheet]', (l) => l.sheet.cssRules.length > 20), true);
    if (args.screenshot && name === 'anna') await page.screenshot({ path: args.screenshot });
  });

  await t.test(`${name}: clicking a column header sorts by it, clicking again reverses`, async () => {
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
  await t.test(`${name}: page 2 goes on where page 1 ended`, async () => {
    await clickAndWait(page, 'nav.pages a[data-page="2"]');
    const rows = await listRows(page);
    assert.equal(rows.length, 10);
    assert.equal(await text(page, 'nav.pages .current'), '2');
    assert.ok(byText(firstPage[9].no, rows[0].no) < 0, `${firstPage[9].no} before ${rows[0].no}`);
    order = rows[3];
  });

  let titles;
  await t.test(`${name}: an order is opened and its German and English title saved`, async () => {
    titles = { de: `Geänderte Bestellung ${order.lid} (${name})`, en: `Changed order ${order.lid} (${name})` };
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

  await t.test(`${name}: the list shows the new title in each language`, async () => {
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
  await t.test(`${name}: a clone is a new order with a number of its own and the same titles`, async () => {
    await clickAndWait(page, `tr[data-lid="${order.lid}"] a`);
    await clickAndWait(page, 'button[value="clone"]');
    copy = Number(new URL(page.url()).searchParams.get('lid'));
    assert.ok(copy > 24, `the copy has a new id, not ${copy}`);
    assert.equal(await text(page, '.notice'), `Order ${copy} is a copy of order ${order.lid}.`);
    assert.equal(await page.$eval('#strno', (i) => i.value), `${order.no}-${copy}`);
    assert.equal(await page.$eval('#title_de', (i) => i.value), titles.de);
    assert.equal(await page.$eval('#title_en', (i) => i.value), titles.en);
  });

  await t.test(`${name}: the deleted clone is gone, the original stays`, async () => {
    await clickAndWait(page, 'button[value="delete"]');
    assert.equal(new URL(page.url()).pathname, '/');
    assert.equal(await text(page, '.notice'), `Order ${copy} deleted with its lines and files.`);
    const seen = [];
    for (let p = 1; p <= user.pages; p++) {
      await page.goto(`${origin}/?page=${p}`, { waitUntil: 'load' });
      seen.push(...(await listRows(page)).map((r) => r.lid));
    }
    assert.equal(seen.length, user.total);
    assert.ok(!seen.includes(copy));
    assert.ok(seen.includes(order.lid));
    const gone = await page.goto(`${origin}/order.asp?lid=${copy}`, { waitUntil: 'load' });
    assert.equal(gone.status(), 404);
    assert.equal(await text(page, '.errors'), `There is no order ${copy}.`);
  });
}

// A new order made through the form; its id.
async function createOrder(page, origin, no) {
  await page.goto(`${origin}/order.asp`, { waitUntil: 'load' });
  await replaceValue(page, '#strno', no);
  await clickAndWait(page, 'button[value="save"]');
  assert.equal(await text(page, '.notice'), `Order ${new URL(page.url()).searchParams.get('lid')} created.`);
  return Number(new URL(page.url()).searchParams.get('lid'));
}

test(`the order desk in a browser on ${args.engine}`, async (t) => {
  const workDir = fs.mkdtempSync(path.join(process.env.KV_TEST_WORKDIR || os.tmpdir(), 'kvsite-'));
  // A site served elsewhere has its server's log there.
  const database = args.origin ? { drop() {} } : freshDatabase(workDir);
  const { server, origin } = args.origin
    ? { server: { stop: async () => {}, log: '' }, origin: args.origin }
    : await startServer(workDir, database.url);
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
  // Each user in a browser context of their own: cookies are not shared.
  const pages = {};
  for (const name of Object.keys(USERS)) {
    const context = await browser.createBrowserContext();
    pages[name] = await context.newPage();
    await pages[name].setViewport({ width: 1200, height: 760 });
    pages[name].on('dialog', (dialog) => dialog.accept());
  }

  await t.test('a visitor who is not signed in sees only the sign-in page', async () => {
    const context = await browser.createBrowserContext();
    const visitor = await context.newPage();
    for (const address of ['/', '/order.asp?lid=1', '/order.asp']) {
      await visitor.goto(`${origin}${address}`, { waitUntil: 'load' });
      assert.equal(new URL(visitor.url()).pathname, '/signin.asp', address);
      assert.equal(await visitor.$('table.orders, form.order'), null);
    }
    await visitor.type('#name', 'anna');
    await visitor.type('#password', 'ben-demo');
    const refused = await Promise.all([visitor.waitForNavigation(), visitor.click('button[value="signin"]')]);
    assert.equal(refused[0].status(), 403);
    assert.equal(await text(visitor, '.errors'), 'Wrong name or password.');
    await context.close();
  });

  for (const name of Object.keys(USERS)) {
    await t.test(`${name} signs in`, () => signIn(pages[name], origin, name));
    await walkTheRoad(t, pages[name], origin, name);
  }

  await t.test("ben's rights show his own and everybody's orders, anna's all", async () => {
    // A2 (lid 2) is Anna's, A3 (lid 3) is Ben's.
    const forBen = await pages.ben.goto(`${origin}/order.asp?lid=2`, { waitUntil: 'load' });
    assert.equal(forBen.status(), 404);
    assert.equal(await text(pages.ben, '.errors'), 'There is no order 2.');
    for (const lid of [2, 3]) {
      const forAnna = await pages.anna.goto(`${origin}/order.asp?lid=${lid}`, { waitUntil: 'load' });
      assert.equal(forAnna.status(), 200, `order ${lid}`);
    }
    await pages.ben.goto(`${origin}/?sort=lid&dir=asc&page=1`, { waitUntil: 'load' });
    const lids = (await listRows(pages.ben)).map((r) => r.lid);
    assert.ok(lids.includes(3) && !lids.includes(2), lids.join(','));
  });

  await t.test('a stale form is refused after its order was deleted and another made under its id', async () => {
    const page = pages.ben;
    const first = await createOrder(page, origin, 'S1');
    await page.goto(`${origin}/order.asp?lid=${first}`, { waitUntil: 'load' });
    // The same form in another tab: the order is deleted there and a new
    // one takes its id.
    const other = await page.browserContext().newPage();
    other.on('dialog', (dialog) => dialog.accept());
    await other.goto(`${origin}/order.asp?lid=${first}`, { waitUntil: 'load' });
    await clickAndWait(other, 'button[value="delete"]');
    const second = await createOrder(other, origin, 'S2');
    assert.equal(second, first, 'the new order takes the deleted one\'s id');
    await page.bringToFront();
    await replaceValue(page, '#title_en', 'meant for S1');
    const [refused] = await Promise.all([page.waitForNavigation(), page.click('button[value="save"]')]);
    assert.equal(refused.status(), 409);
    assert.equal(await text(page, '.errors'),
                 'The order was changed or deleted since the form was shown; nothing was done.');
    await other.goto(`${origin}/order.asp?lid=${second}`, { waitUntil: 'load' });
    assert.equal(await other.$eval('#strno', (i) => i.value), 'S2');
    assert.equal(await other.$eval('#title_en', (i) => i.value), '');
    await other.close();
  });

  await t.test('the order form refuses what the repository does not allow and changes nothing', async () => {
    const page = pages.ben;
    await page.goto(`${origin}/order.asp?lid=3`, { waitUntil: 'load' });
    const refusals = [
      { strno: 'N'.repeat(21) }, { title_en: 'T'.repeat(201) }, { strmemo: 'a\u0000b' },
      { dtorder: '2024-02-30' }, { dtorder: '0001-01-01' }, { dtorder: '2024-13-45' },
      { lamount: '1234567' }, { lamount: '-1' }, { dblprice: '9'.repeat(400) }, { dblprice: '1.234' },
      { strcolor: 'purple' },
    ];
    // Posted as the form would be, with one value changed; the last post
    // changes nothing and is accepted, so the order was not touched before.
    const statuses = await page.evaluate(async (changes) => {
      const form = document.querySelector('form.order');
      const answers = [];
      for (const change of changes) {
        const body = new URLSearchParams(new FormData(form));
        body.set('action', 'save');
        for (const [name, value] of Object.entries(change)) body.set(name, value);
        answers.push((await fetch('order.asp', { method: 'POST', body, redirect: 'manual' })).status);
      }
      return answers;
    }, [...refusals, {}]);
    assert.deepEqual(statuses, [...refusals.map(() => 422), 0], JSON.stringify(statuses));

    const oddLanguage = await page.goto(`${origin}/?lang=constructor`, { waitUntil: 'load' });
    assert.equal(oddLanguage.status(), 200);
    assert.equal(await page.$eval('html', (html) => html.lang), 'en');
    const withNul = await page.goto(`${origin}/order.asp?lid=3%00x`, { waitUntil: 'load' });
    assert.equal(withNul.status(), 404);
    assert.ok(!(await withNul.text()).includes('\u0000'));
  });

  await t.test('signing out ends the session', async () => {
    const page = pages.anna;
    await page.goto(`${origin}/`, { waitUntil: 'load' });
    await clickAndWait(page, 'form.user button[value="signout"]');
    assert.equal(new URL(page.url()).pathname, '/signin.asp');
    await page.goto(`${origin}/order.asp?lid=2`, { waitUntil: 'load' });
    assert.equal(new URL(page.url()).pathname, '/signin.asp');
  });

  await t.test('no request ended in a server error', () => {
    assert.doesNotMatch(server.log, /" 5\d\d /, server.log);
  });
});
