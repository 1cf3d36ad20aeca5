// The features screen (form 3) and the configuration-parameter screen.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import {
  WAIT,
  atWidths,
  check,
  env,
  fail,
  literal,
  marker,
  openScreen,
  page,
  provoked,
  root,
  same,
  shot,
  step,
  text,
  typeInto,
  vmcfg,
  vmcfgJson,
  waitDialog,
  waitText,
} from './harness.mjs';

async function waitOutcome(pattern) {
  await waitText('#features-status', pattern);
  await page.waitForFunction(() => !document.getElementById('screen-features').hasAttribute('aria-busy'));
}

async function featureRow(row) {
  return page.$eval(`#features-list li[data-row="${row}"]`, (li) => ({
    question: li.querySelector('.feature-question').textContent,
    state: li.querySelector('.state').textContent,
  }));
}

step('the features screen lists form 3\'s rows', async () => {
  await openScreen('features');
  const expected = vmcfgJson('features').filter((f) => f.offered);
  await page.waitForFunction((n) => document.querySelectorAll('#features-list li').length === n, {}, expected.length);
  const shown = await page.$$eval('#features-list li', (items) => items.map((li) => ({
    row: Number(li.dataset.row),
    question: li.querySelector('.feature-question').textContent,
    on: li.querySelector('.state').textContent === 'On',
  })));
  same(shown, expected.map((f) => ({ row: f.row, question: f.question, on: f.setting === 'on' })), 'the feature rows');
  const about = await page.$$eval('#features-list .feature-about', (lines) => lines.map((l) => l.textContent));
  check(about.length === expected.length && new Set(about).size === about.length && about.every((t) => t.length > 20),
    `every feature row has a description of its own: ${JSON.stringify(about)}`);
  await shot('features');
});

step('switching a feature asks for confirmation, then says what happened', async () => {
  const tandem = 2;
  check(!marker('tan_mbx'), 'Tandem Mailbox is on before the test switches it');
  // Keyboard only: the switch, then the dialog's own button (focused) with Enter.
  await page.focus(`#features-list button[data-row="${tandem}"]`);
  await page.keyboard.press('Enter');
  await waitDialog('confirm-dialog', true);
  same(await text('#confirm-text'), (await featureRow(tandem)).question, 'the question confirmed');
  check((await text('#confirm-detail')).startsWith(await text(`#features-list li[data-row="${tandem}"] .feature-about`)),
    'the confirmation does not say what the switch does');
  check(!marker('tan_mbx'), 'the marker was written before the confirmation');
  await shot('features-confirm', false);
  check(await page.evaluate(() => document.activeElement.id === 'confirm-yes'), 'the confirmation does not focus its button');
  await page.keyboard.press('Enter');
  await waitOutcome(/is now on\.$/);
  check(marker('tan_mbx'), 'the confirmed switch wrote no marker file');
  await page.waitForFunction((r) => document.querySelector(`#features-list li[data-row="${r}"] .state`).textContent === 'On', {}, tandem);

  // Declined: nothing changes.
  const forward = 6, cad = 0;
  await page.click(`#features-list button[data-row="${forward}"]`);
  await waitDialog('confirm-dialog', true);
  await page.keyboard.press('Escape');
  await waitOutcome(/^Not confirmed/);
  check(!marker('fwd_pvtmsg'), 'a declined switch wrote the marker');

  // Incompatible with Tandem Mailbox: refused in words before anything is asked.
  await page.click(`#features-list button[data-row="${cad}"]`);
  await waitOutcome(/cannot be switched on while \S/);
  check(!(await page.$eval('#confirm-dialog', (d) => d.open)), 'an incompatible switch asked for confirmation');
  check(await page.$eval('#features-status', (n) => n.classList.contains('error')), 'the refusal is not shown as an error');
  check(!marker('cadisc'), 'an incompatible feature was switched on');
  same((await featureRow(cad)).state, 'Off', 'Call Answer Disclaimer after the refusal');

  // Switching delivery off for everyone: Enter alone must not confirm it.
  const disable = 5;
  await page.focus(`#features-list button[data-row="${disable}"]`);
  await page.keyboard.press('Enter');
  await waitDialog('confirm-dialog', true);
  check(await page.evaluate(() => document.activeElement.id === 'confirm-no'), 'disabling delivery focuses its confirmation');
  await page.keyboard.press('Enter');
  await waitOutcome(/^Not confirmed/);
  check(!marker('dismsgdel'), 'Enter disabled message delivery');
  await atWidths('the features screen', 'features-outcome');
});

const SITE_PARAMS = '/VM/config/site_params';

step('a parameter shows its value, its source and every precedence slot', async () => {
  // A second parameter file, with a bad line and a key named "check", to
  // choose later: written before the screen gathers the files it offers.
  fs.writeFileSync(path.join(root, SITE_PARAMS),
    'precedence global default\nglobal default : (Site Name)=west check=yes\nthis line is wrong\n');
  await openScreen('params');
  check(await page.evaluate(() => document.activeElement.id === 'param-key'), 'the key field has no focus');
  const key = 'Max Ports';
  const explain = JSON.parse(execFileSync(vmcfg, ['--root', root, '--json', 'param', 'explain', key], { env, encoding: 'utf8' }));
  check(explain.value !== null && explain.types.length > 1, `the demo's ${key} is not held by several types`);
  await page.type('#param-key', key);
  await page.keyboard.press('Enter');
  await waitText('#params-answer', new RegExp(`^${key} = ${explain.value}`));
  const winner = explain.types.find((t) => t.wins);
  check((await text('#params-answer')).includes(`supplied by ${winner.type} = ${winner.type_value}`),
    `the answer does not name ${winner.type}=${winner.type_value} as the source`);
  const rows = await page.$$eval('#params-rows tr', (trs) => trs.map((tr) => ({
    cells: Array.from(tr.querySelectorAll('td')).map((td) => (td.querySelector('.slot-value') || td).textContent),
    wins: tr.classList.contains('wins'),
  })));
  same(rows, explain.types.map((t) => ({
    cells: [String(t.slot), t.type, t.type_value, t.holds ? 'yes' : 'no', t.holds ? t.value : ''],
    wins: t.wins,
  })), 'the precedence slots');
  await atWidths('the parameters screen', 'params');

  provoked.push({ path: '/api/params/', status: 404 });
  await typeInto('#param-key', 'No Such Key');
  await page.keyboard.press('Enter');
  await waitText('#params-answer', /^No precedence type holds No Such Key\.$/);
  same(await page.$$eval('#params-rows tr.wins', (n) => n.length), 0, 'winning slots for an absent key');
  same(await page.$$eval('#params-rows tr', (n) => n.length), explain.types.length, 'slots shown for an absent key');
});

// vmcfg's JSON answer, also when it exits 1 for a file whose parse failed
// (its diagnostics on standard error are not wanted here).
function vmcfgAnswer(...args) {
  const options = { env, encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] };
  try {
    return JSON.parse(execFileSync(vmcfg, ['--root', root, '--json', ...args], options));
  } catch (e) {
    if (e.status !== 1) throw e;
    return JSON.parse(e.stdout);
  }
}

function keysFromVmcfg(file) {
  return vmcfgAnswer('param', 'list', '--no-commands', '--file', file).keys
    .map((k) => ({ key: k.key, value: k.value, from: `${k.type} = ${k.type_value}` }));
}

async function shownKeys() {
  return page.$$eval('#params-key-rows tr:not(.empty)', (rows) => rows.map((row) => ({
    key: row.querySelector('.key-link').textContent,
    value: row.querySelector('.col-value').textContent,
    from: row.querySelector('.col-from').textContent,
  })));
}

step('the file\'s keys are listed, and filtered in any case', async () => {
  const file = '/VM/config/config_params';
  const expected = keysFromVmcfg(file);
  check(expected.length > 2, `the demo's parameter file lists ${expected.length} keys`);
  await waitText('#params-keys-caption', new RegExp(`^${expected.length} keys in ${file}$`));
  same(await shownKeys(), expected, 'the keys listed');
  await page.type('#params-filter', 'PORTS');
  await waitText('#params-keys-caption', new RegExp(`^1 of ${expected.length} keys in ${file} contain “ports”$`));
  same(await shownKeys(), expected.filter((k) => k.key.toLowerCase().includes('ports')), 'the keys filtered');
});

step('a key of the list opens its explain view, from the keyboard', async () => {
  const key = 'Greeting Text';
  const explain = vmcfgJson('param', 'explain', key);
  await typeInto('#params-filter', 'greeting');
  await page.focus(`#params-key-rows button[data-key="${key}"]`);
  await page.keyboard.press('Enter');
  await waitText('#params-answer', new RegExp(`^${key} = ${literal(explain.value)}supplied by`));
  same(await page.$$eval('#params-rows tr', (trs) => trs.map((tr) => tr.classList.contains('wins'))),
    explain.types.map((t) => t.wins), 'the winning slot of the key opened');
  same(await page.$eval('#param-key', (n) => n.value), key, 'the key field after opening a key');
});

async function shownDiagnostics() {
  return page.$$eval('#params-diagnostics li', (items) => items.map((li) => ({
    line: li.dataset.line === undefined ? null : Number(li.dataset.line),
    message: li.querySelector('.reason').textContent,
    text: li.querySelector('.line-text') ? li.querySelector('.line-text').textContent : null,
  })));
}

step('checking a file shows its diagnostics, or that it has none', async () => {
  const expected = vmcfgAnswer('param', 'check', '--no-commands', '--file', SITE_PARAMS);
  check(expected.diagnostics.length === 1 && expected.diagnostics[0].line === 3,
    `vmcfg finds no bad line 3 in ${SITE_PARAMS}: ${JSON.stringify(expected)}`);
  await typeInto('#params-file', SITE_PARAMS);
  await page.click('#params-check');
  await waitText('#params-check-summary', new RegExp(`^${SITE_PARAMS}: 1 problem; the file does not read as a whole\\.$`));
  same(await shownDiagnostics(), expected.diagnostics, 'the diagnostics shown');
  // The outcome takes the focus once the file's keys are listed too.
  await page.waitForFunction(() => document.activeElement.id === 'params-check-result', { timeout: WAIT })
    .catch(() => fail('the check\'s outcome has no focus'));
  await atWidths('the parameter check', 'params-check');
  await typeInto('#params-file', '/VM/config/config_params');
  await page.click('#params-check');
  same(vmcfgAnswer('param', 'check', '--no-commands').diagnostics, [], 'vmcfg\'s diagnostics of the demo\'s file');
  await waitText('#params-check-summary', /^\/VM\/config\/config_params: no problems found\.$/);
  same(await shownDiagnostics(), [], 'the diagnostics of a good file');
});

step('another file is chosen among those offered; bad choices are said in words', async () => {
  const offered = await page.$$eval('#params-files option', (options) => options.map((o) => o.value));
  same(offered, ['/VM/config/config_params', SITE_PARAMS], 'the parameter files offered');
  await page.click('#params-filter', { clickCount: 3 });
  await page.keyboard.press('Backspace');
  await typeInto('#params-file', SITE_PARAMS);
  await page.keyboard.press('Enter');
  const expected = keysFromVmcfg(SITE_PARAMS);
  await waitText('#params-keys-caption', new RegExp(`^${expected.length} keys in ${SITE_PARAMS}$`));
  same(await shownKeys(), expected, 'the keys of the other file');
  await waitText('#params-file-status', /^The file has problems/);
  await page.click('#params-key-rows button[data-key="check"]');
  await waitText('#params-answer', /^check = yessupplied by global = default/);

  provoked.push({ path: '/api/params', status: 404 });
  await typeInto('#params-file', '/VM/config/none');
  await page.keyboard.press('Enter');
  await waitText('#params-file-status', /^Can't read parameter file \/VM\/config\/none: No such file or directory\.$/);
  check(await page.$eval('#params-file', (n) => n.getAttribute('aria-invalid') === 'true'), 'the missing file is not marked');
  same(await shownKeys(), [], 'keys left on show from another file');
  provoked.push({ path: '/api/params', status: 400 });
  await typeInto('#params-file', '/../etc/passwd');
  await page.keyboard.press('Enter');
  await waitText('#params-file-status', /^That path cannot be used\. File: "\/\.\.\/etc\/passwd" leads outside the platform root\.$/);
  await atWidths('the parameters screen after a bad path', 'params-refused');
});
