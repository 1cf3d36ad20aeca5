// What the browser test's steps share: the demo root and vmadmd on it, the
// headless Chromium and its page, the checks, the helpers that read the
// screens, and the list of steps with the loop that runs them.
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import puppeteer from 'puppeteer-core';
import { createRequire } from 'node:module';

// axe-core's rules, run in the page by the DevTools protocol (which the
// page's Content-Security-Policy does not stop).
export const axeSource = fs.readFileSync(createRequire(import.meta.url).resolve('axe-core/axe.min.js'), 'utf8');

export const build = path.resolve(process.argv[2] || 'build');
export const vmadmd = path.join(build, 'vmadmd');
export const vmcfg = path.join(build, 'vmcfg');
export const shots = path.join(build, 'screenshots');
export const chromium = process.env.CHROMIUM || '/usr/bin/chromium';
export const HOSTILE = '<img src=x onerror=alert(1)>';
export const WAIT = 15000;

export const temp = fs.mkdtempSync(path.join(os.tmpdir(), 'vmadmd-browser-'));
export const root = path.join(temp, 'root');
export const profile = path.join(temp, 'profile');
// The demo's parameter file takes its site type from VM_SITE.
export const env = { ...process.env, VM_SITE: 'east', PATH: build + path.delimiter + (process.env.PATH || '') };

export let server = null;
export let serverLog = '';
export let browser = null;
export let page = null;
export const consoleErrors = [];
export const dialogs = [];
// Responses the test provokes on purpose (a wrong token, an unknown key):
// the browser logs them as failed loads, and only those are forgiven.
export const provoked = [];

export function fail(message) {
  throw new Error(message);
}

export function check(condition, message) {
  if (!condition) fail(message);
}

// Lists are compared entry by entry, so a failure names the first that differs.
export function same(actual, expected, what) {
  if (Array.isArray(actual) && Array.isArray(expected)) {
    for (let i = 0; i < Math.max(actual.length, expected.length); ++i) {
      same(actual[i], expected[i], `${what}, entry ${i} of ${expected.length} expected (${actual.length} seen)`);
    }
    return;
  }
  const a = JSON.stringify(actual);
  const e = JSON.stringify(expected);
  if (a !== e) fail(`${what}: expected ${e}, saw ${a}`);
}

export function vmcfgJson(...args) {
  const out = execFileSync(vmcfg, ['--root', root, '--json', ...args], { env, encoding: 'utf8' });
  return JSON.parse(out);
}

// vmcfg's answer for a command that may exit non-zero (a refusal).
export function vmcfgStatus(...args) {
  try {
    execFileSync(vmcfg, ['--root', root, ...args], { env, stdio: 'ignore' });
    return 0;
  } catch (e) {
    return e.status;
  }
}

export async function startServer() {
  execFileSync(vmcfg, ['--root', root, 'init', '--demo'], { env, stdio: 'ignore' });
  server = spawn(vmadmd, ['--root', root, '--listen', '127.0.0.1:0'], { env, stdio: ['ignore', 'pipe', 'pipe'] });
  server.stderr.on('data', (chunk) => { serverLog += chunk; });
  const exited = new Promise((resolve) => server.once('exit', (code, signal) => resolve({ code, signal })));
  server.exitStatus = exited;
  const lines = readline.createInterface({ input: server.stdout });
  const first = await Promise.race([
    new Promise((resolve) => lines.once('line', resolve)),
    exited.then((s) => fail(`vmadmd exited before it listened (${JSON.stringify(s)}): ${serverLog}`)),
    new Promise((resolve, reject) => setTimeout(() => reject(new Error('vmadmd printed no address within 20 s')), 20000)),
  ]);
  lines.on('line', () => {});
  const match = /^vmadmd: listening on (http:\/\/127\.0\.0\.1:(\d+)\/) token file (.+)$/.exec(first);
  check(match, `unexpected first line from vmadmd: ${JSON.stringify(first)}`);
  check(Number(match[2]) > 0, `vmadmd listens on port ${match[2]}`);
  const token = fs.readFileSync(match[3], 'utf8').trim();
  check(/^[0-9a-f]{64}$/.test(token), `the token file holds no 32-byte hex token: ${JSON.stringify(token)}`);
  return { base: match[1], token };
}

export async function launch() {
  browser = await puppeteer.launch({
    executablePath: chromium,
    headless: true,
    pipe: true,
    userDataDir: profile,
    defaultViewport: { width: 1280, height: 800 },
    args: ['--headless=new', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  page = await browser.newPage();
  page.setDefaultTimeout(WAIT);
  page.on('console', (message) => {
    if (message.type() !== 'error') return;
    const url = (message.location() && message.location().url) || '';
    const text = message.text();
    const forgiven = provoked.findIndex((p) => url.includes(p.path) && text.includes(`status of ${p.status}`));
    if (forgiven >= 0) provoked.splice(forgiven, 1);
    else consoleErrors.push(`${text}${url ? ' (' + url + ')' : ''}`);
  });
  page.on('pageerror', (error) => consoleErrors.push(`uncaught: ${error.message}`));
  page.on('dialog', async (dialog) => {
    dialogs.push(`${dialog.type()}: ${dialog.message()}`);
    await dialog.dismiss();
  });
  // A violation of the page's content security policy is an error even where
  // the browser would only report it.
  await page.evaluateOnNewDocument(() => {
    document.addEventListener('securitypolicyviolation', (e) => {
      console.error(`CSP violation: ${e.violatedDirective} blocked ${e.blockedURI}`);
    });
  });
}

// A modal dialog's backdrop covers the window only: dialogs are taken at
// window size, screens whole.
export async function shot(name, whole = true) {
  await page.screenshot({ path: path.join(shots, name + '.png'), fullPage: whole, captureBeyondViewport: whole });
}

export async function text(selector) {
  return page.$eval(selector, (node) => node.textContent);
}

export async function visible(selector) {
  return page.$eval(selector, (node) => !node.closest('[hidden]') && node.getClientRects().length > 0);
}

export async function waitText(selector, pattern) {
  try {
    await page.waitForFunction((s, source, flags) => {
      const node = document.querySelector(s);
      return node && new RegExp(source, flags).test(node.textContent);
    }, { timeout: WAIT }, selector, pattern.source, pattern.flags);
  } catch (e) {
    const now = await page.$eval(selector, (node) => node.textContent).catch(() => '(no such element)');
    fail(`${selector} never matched ${pattern}; it shows ${JSON.stringify(now)}`);
  }
}

export async function waitDialog(id, open) {
  await page.waitForFunction((i, o) => document.getElementById(i).open === o, { timeout: WAIT }, id, open);
}

// The rows of the known-property table as the page shows them.
export async function shownKnown() {
  return page.$$eval('#known-rows tr:not(.empty)', (rows) => rows.map((row) => {
    const cells = row.querySelectorAll('td.col-num');
    const marks = (i) => Array.from(row.querySelectorAll('.g-row')[i].querySelectorAll('.g-mark'))
      .map((m) => m.classList.contains('yes'));
    return {
      name: row.querySelector('.name').textContent,
      read: marks(0),
      write: marks(1),
      forwardable: cells[0].textContent === 'yes',
      version: cells[1].textContent,
      type: cells[2].textContent,
    };
  }));
}

export const CLASSES = ['server', 'privileged', 'trusted', 'standard', 'restricted', 'minimal'];

// vmcfg's listing of a kind in the page's terms.
export function knownFromVmcfg(kind) {
  return vmcfgJson('known', 'list', kind).map((k) => ({
    name: k.name,
    read: CLASSES.map((c) => k.read.includes(c)),
    write: CLASSES.map((c) => k.write.includes(c)),
    forwardable: k.forwardable,
    version: String(k.version),
    type: String(k.type),
  }));
}

export async function waitListing(kind, count) {
  await waitText('#known-caption', new RegExp(`^${count} known propert(y|ies) .*\\(${kind}\\)$`));
  await page.waitForFunction(() => !document.getElementById('screen-known').hasAttribute('aria-busy'));
}

export async function rowButton(name, action) {
  const rows = await page.$$('#known-rows tr');
  for (const row of rows) {
    const shown = await row.$eval('.name', (n) => n.textContent).catch(() => null);
    if (shown === name) return row.$(`[data-action="${action}"]`);
  }
  fail(`no row named ${JSON.stringify(name)} in the listing`);
}

export async function setChecked(selector, on) {
  const now = await page.$eval(selector, (n) => n.checked);
  if (now !== on) await page.click(selector);
}

export async function typeInto(selector, value) {
  await page.click(selector, { clickCount: 3 });
  await page.$eval(selector, (n) => { n.value = ''; });
  await page.type(selector, value);
}

export async function noOverflow(what) {
  const sizes = await page.evaluate(() => ({
    scroll: document.documentElement.scrollWidth,
    client: document.documentElement.clientWidth,
  }));
  check(sizes.scroll <= sizes.client,
    `${what}: the page is ${sizes.scroll} px wide in a window of ${sizes.client} px (horizontal overflow)`);
}

export async function atWidths(what, name) {
  for (const [width, suffix] of [[1280, ''], [400, '-narrow']]) {
    await page.setViewport({ width, height: 800 });
    await noOverflow(`${what} at ${width} px`);
    await shot(name + suffix);
  }
  await page.setViewport({ width: 1280, height: 800 });
}

export async function openScreen(screen) {
  await page.click(`#nav a[data-screen="${screen}"]`);
  await page.waitForFunction((s) => !document.getElementById('screen-' + s).hidden, {}, screen);
}

export function marker(name) {
  return fs.existsSync(path.join(root, 'VM', 'config', name));
}

// A text as a regular expression that matches it literally.
export function literal(text) {
  return String(text).replace(/[.*+?^${}()|[\]\\]/g, '\\$&');
}

// axe-core's violations on the page as it is now, one line each.
export async function axeViolations() {
  await page.evaluate(axeSource);
  const violations = await page.evaluate(async () =>
    (await window.axe.run(document, { resultTypes: ['violations'] })).violations.map((v) =>
      `${v.id}: ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`));
  return violations;
}

// ---- steps ----------------------------------------------------------------------

// The steps run in the order they are registered, which is the order the step
// files are imported in (console.test.mjs).
export const steps = [];
export function step(name, run) {
  steps.push({ name, run });
}

// Where the server listens and its shared token, once the first step started it.
export const session = { base: '', token: '' };

// Closes the browser, sends vmadmd SIGTERM and waits for it at most 10 s: its
// exit ({code, signal}), or null when it still runs.
export async function stopGracefully() {
  await browser.close();
  browser = null;
  server.kill('SIGTERM');
  const status = await Promise.race([
    server.exitStatus,
    new Promise((resolve) => setTimeout(() => resolve(null), 10000)),
  ]);
  if (status) server = null;
  return status;
}

export async function cleanUp() {
  if (browser) await browser.close().catch(() => {});
  if (server) {
    server.kill('SIGKILL');
    await server.exitStatus;
  }
  fs.rmSync(temp, { recursive: true, force: true });
}

// Runs every step in order, stopping at the first failure, then cleans up
// and exits: 0 when every step passed.
export async function runSteps() {
  fs.mkdirSync(shots, { recursive: true });
  let passed = 0;
  let failed = 0;
  for (const { name, run } of steps) {
    try {
      await run();
      passed += 1;
      console.log(`ok ${passed} - ${name}`);
    } catch (error) {
      failed += 1;
      console.log(`not ok - ${name}\n  ${error.message}`);
      if (process.env.BROWSER_TEST_STACK) console.log(error.stack);
      if (page) await shot('failure').catch(() => {});
      if (serverLog) console.log(`  vmadmd's standard error:\n${serverLog.replace(/^/gm, '    ')}`);
      break;
    }
  }
  await cleanUp();
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed === 0 && passed === steps.length ? 0 : 1);
}
