// The property-sets screen and the change journal's history screen, with reverts.
import { execFileSync } from 'node:child_process';
import {
  atWidths,
  check,
  env,
  knownFromVmcfg,
  openScreen,
  page,
  provoked,
  root,
  rowButton,
  same,
  shot,
  step,
  text,
  typeInto,
  visible,
  vmcfg,
  vmcfgJson,
  vmcfgStatus,
  waitDialog,
  waitListing,
  waitText,
} from './harness.mjs';

// ---- history ----------------------------------------------------------------

// The rows of the sets table as the page shows them: "name#copy=value".
async function shownSet() {
  return page.$$eval('#sets-rows tr:not(.empty)', (rows) => rows.map((row) =>
    `${row.querySelector('.name').textContent}#${row.querySelector('.col-num').textContent}=` +
    row.querySelector('.col-value').textContent));
}

// vmcfg's copies of a set, escaped as the page escapes them.
function setFromVmcfg(...target) {
  const escape = (p, field) => (p[field + '_hex'] !== undefined
    ? p[field + '_hex'].match(/../g).map((h) => {
      const b = parseInt(h, 16);
      return b >= 0x20 && b < 0x7f && b !== 0x5c ? String.fromCharCode(b) : `\\x${h}`;
    }).join('')
    : p[field].replace(/[\u0000-\u001f\u007f\\]/g, (c) => `\\x${c.charCodeAt(0).toString(16).padStart(2, '0')}`));
  return vmcfgJson('props', 'show', ...target).map((p) => `${escape(p, 'name')}#${p.index}=${escape(p, 'value')}`);
}

async function showSet(kind, which, access) {
  await page.select('#sets-kind', kind);
  if (which !== undefined) await typeInto('#sets-which', which);
  await page.select('#sets-access', access);
  await page.click('#sets-form button[type=submit]');
  await waitText('#sets-caption', new RegExp(` as the ${access} class sees it$`));
  await page.waitForFunction(() => !document.getElementById('screen-sets').hasAttribute('aria-busy'));
}

const SHADES = '/VM/config/console_shades';

async function setRowButton(name, act) {
  const button = await page.$(`#sets-rows tr[data-key="${Buffer.from(name).toString('hex')}#1"] [data-act="${act}"]`);
  check(button, `no ${act} button on ${name}#1`);
  return button;
}

step('the sets screen lists a set as each access class sees it', async () => {
  await openScreen('sets');
  check(await page.evaluate(() => document.activeElement.id === 'sets-kind'), 'the set choice has no focus');
  for (const access of ['Server', 'Minimal']) {
    await showSet('system', undefined, access);
    same(await shownSet(), setFromVmcfg('--system', '--access', access), `the system set as ${access} sees it`);
  }
  for (const [kind, which, option] of [['cos', '1', '--cos'], ['subscriber', '1001', '--subscriber']]) {
    await showSet(kind, which, 'Server');
    const expected = setFromVmcfg(option, which);
    check(expected.length > 0, `the demo's ${kind} ${which} is empty`);
    same(await shownSet(), expected, `${kind} ${which}`);
  }
  // A stored message by its id: the set its property file holds.
  const message = vmcfgJson('message', 'props', '200001');
  await showSet('msgid', '200001', 'Server');
  same(await shownSet(), setFromVmcfg(message.path), 'message 200001\'s set');
  // An edit of the system set, which every box writes itself.
  await showSet('system', undefined, 'Server');
  const length = 'System Max Message Length';
  await (await setRowButton(length, 'set')).click();
  await waitDialog('value-dialog', true);
  await typeInto('#value-input', '450');
  await page.keyboard.press('Enter');
  await waitText('#sets-status', new RegExp(`^Set copy 1 of \u201c${length}\u201d\\.$`));
  same(vmcfgJson('props', 'show', '--system', '--name', length)[0].value, '450', 'the system set\'s value');
  same(await shownSet(), setFromVmcfg('--system'), 'the system set after the edit');
  const checked = vmcfgJson('props', 'check', '--system');
  await page.click('#sets-check');
  await waitText('#sets-status', new RegExp(`^${checked.target} reads whole: ${checked.count} properties, version \\d+\\.$`));
  await atWidths('the sets screen', 'sets');
});

step('values are set, added and removed from the sets screen, any byte included', async () => {
  same(vmcfgStatus('props', 'put', SHADES, 'Shade', 'red'), 0, 'vmcfg put');
  await showSet('file', SHADES, 'Server');
  same(await shownSet(), ['Shade#1=red'], 'the new set');
  await (await setRowButton('Shade', 'set')).click();
  await waitDialog('value-dialog', true);
  await typeInto('#value-input', 'dark\\xffblue');
  await page.keyboard.press('Enter');
  await waitDialog('value-dialog', false);
  await waitText('#sets-status', /^Set copy 1 of \u201cShade\u201d\.$/);
  same(vmcfgJson('props', 'show', SHADES)[0].value_hex, Buffer.from('dark\xffblue', 'latin1').toString('hex'),
    'the bytes vmcfg reads back');
  same(await shownSet(), setFromVmcfg(SHADES), 'the set after the value was set');
  check(await page.evaluate(() => document.activeElement.closest('tr')?.dataset.key === '5368616465#1'),
    'the focus did not return to the row');

  await typeInto('#sets-add-name', 'Tone');
  await typeInto('#sets-add-value', 'soft');
  await page.click('#sets-add button[type=submit]');
  await waitText('#sets-status', /^Added copy 1 of \u201cTone\u201d\.$/);
  same(setFromVmcfg(SHADES), ['Shade#1=dark\\xffblue', 'Tone#1=soft'], 'the set after the add');

  await (await setRowButton('Shade', 'remove')).click();
  await waitDialog('confirm-dialog', true);
  await page.click('#confirm-yes');
  await waitText('#sets-status', /^Removed copy 1 of \u201cShade\u201d\.$/);
  same(await shownSet(), ['Tone#1=soft'], 'the rows after the removal');
  same(setFromVmcfg(SHADES), ['Tone#1=soft'], 'the set after the removal');
  same(vmcfgJson('history', SHADES, '--limit', '1')[0].actor, 'console', 'who the journal says removed it');
  // The copies are the Server class's alone.
  await showSet('file', SHADES, 'Minimal');
  same(await shownSet(), [], 'the set as Minimal sees it');
  same(setFromVmcfg(SHADES, '--access', 'Minimal'), [], 'the set as vmcfg shows it to Minimal');
});

export const COLOUR = 'Console Colour';

function putColour(...args) {
  execFileSync(vmcfg, ['--root', root, 'props', 'put', '--system', COLOUR, ...args], { env, stdio: 'ignore' });
}

export function colourHistory() {
  return vmcfgJson('history', '--system', '--name', COLOUR);
}

function storedColour() {
  return vmcfgJson('props', 'show', '--system', '--name', COLOUR)[0].value;
}

async function showColourHistory(count) {
  await page.click('#history-form button[type=submit]');
  await waitText('#history-caption', new RegExp(`^${count} changes? to the system set for \u201c${COLOUR}\u201d`));
  await page.waitForFunction(() => !document.getElementById('screen-history').hasAttribute('aria-busy'));
}

// The page's rows: seq, who and what changed, as shown.
export async function shownHistory() {
  return page.$$eval('#history-rows tr:not(.empty)', (rows) => rows.map((row) => ({
    seq: Number(row.dataset.seq),
    who: row.querySelector('.actor').textContent,
    property: row.querySelector('.name').textContent,
    change: row.querySelector('.col-change').textContent,
  })));
}

export async function revertButton(seq) {
  const button = await page.$(`#history-rows tr[data-seq="${seq}"] button`);
  check(button, `no Revert button for change ${seq}`);
  return button;
}

step('the history screen lists a change made with vmcfg, with who made it', async () => {
  putColour('red');
  putColour('blue', '--index', '1');
  const expected = colourHistory();
  same(expected.map((r) => r.op), ['changed', 'added'], 'the journal of the vmcfg changes');
  await openScreen('history');
  check(await page.evaluate(() => document.activeElement.id === 'history-kind'), 'the set choice has no focus');
  same(await page.$eval('#history-kind', (n) => n.value), 'system', 'the set chosen first');
  await page.select('#history-kind', 'msgid');
  same(await text('#history-which-label'), 'Message id', 'the field a message is named by');
  await page.type('#history-which', '2000x');
  await page.click('#history-form button[type=submit]');
  await waitText('#history-status', /^Message id: give a whole number\./);
  await page.select('#history-kind', 'system');
  await page.type('#history-name', COLOUR);
  await showColourHistory(2);
  same(await shownHistory(), expected.map((r) => ({
    seq: r.seq, who: r.actor, property: `${COLOUR}#1`,
    change: r.op === 'added' ? `added ${r.new_value}` : `changed ${r.old_value} \u2192 ${r.new_value}`,
  })), 'the rows shown');
  await atWidths('the history screen', 'history');
  const switched = vmcfgJson('history', '--limit', '1000').filter((r) => r.kind === 'feature');
  check(switched.length > 0 && switched.every((r) => r.actor === 'console' && r.program === 'vmadmd'),
    `the console's feature switches are not journaled as its own: ${JSON.stringify(switched)}`);
});

let blueChange = 0;

step('a change is reverted from the page after a confirmation that names it', async () => {
  blueChange = colourHistory()[0].seq;
  await (await revertButton(blueChange)).click();
  await waitDialog('confirm-dialog', true);
  const question = await text('#confirm-text');
  check(question.includes(`change ${blueChange}`) && question.includes(`${COLOUR}#1`),
    `the confirmation does not name the change: ${JSON.stringify(question)}`);
  same(await text('#confirm-detail'), `It will set ${COLOUR}#1 back to “red”, as a new change.`,
    'what the confirmation says the revert does');
  await shot('history-confirm', false);
  await page.click('#confirm-yes');
  await waitText('#history-status', new RegExp(`^Reverted change ${blueChange}\\.`));
  await waitText('#history-caption', /^3 changes/);
  check(await page.evaluate(() => document.activeElement.id === 'history-status'), 'the outcome has no focus');
  same(storedColour(), 'red', 'the value after the revert');
  const undo = colourHistory()[0];
  same([undo.actor, undo.program, undo.old_value, undo.new_value], ['console', 'vmadmd', 'blue', 'red'],
    'the revert\'s own record');
  same((await shownHistory())[0].who, 'console', 'the newest row\'s actor');
});

step('a revert that later changes stand in the way of shows the conflict and can be forced', async () => {
  putColour('green', '--index', '1');
  const green = colourHistory()[0].seq;
  await showColourHistory(4);
  provoked.push({ path: '/api/revert', status: 409 });
  // Refused before anything is asked: the dry run meets the later change.
  await (await revertButton(blueChange)).click();
  await waitText('#history-status', new RegExp(`^Change ${blueChange} was not reverted: .*record ${green}`));
  check(!(await page.$eval('#confirm-dialog', (d) => d.open)), 'a refused revert asked for confirmation');
  check(await visible('#history-force'), 'no "Revert anyway" is offered');
  same(storedColour(), 'green', 'the value after the refused revert');
  await shot('history-conflict');
  await page.click('#history-force');
  await waitDialog('confirm-dialog', true);
  same(await text('#confirm-title'), 'Revert anyway', 'the forced revert\'s confirmation');
  same(await text('#history-force'), `Revert change ${blueChange} anyway`, 'the forced revert\'s button');
  check(await page.evaluate(() => document.activeElement.id === 'confirm-no'), 'the forced revert focuses Cancel');
  await page.click('#confirm-yes');
  await waitText('#history-status', new RegExp(`^Reverted change ${blueChange}\\.`));
  check(!(await visible('#history-force')), '"Revert anyway" stays offered after the revert');
  same(storedColour(), 'red', 'the value after the forced revert');
});

step('bytes that are not UTF-8 show as escapes', async () => {
  const name = 'Console Bytes';
  execFileSync(vmcfg, ['--root', root, 'props', 'put', '--system', '--hex', Buffer.from(name).toString('hex'), 'ff0141'],
    { env, stdio: 'ignore' });
  await typeInto('#history-name', name);
  await page.keyboard.press('Enter');
  await waitText('#history-caption', /^1 change to the system set for “Console Bytes”/);
  same((await shownHistory()).map((r) => r.change), ['added \\xff\\x01A'], 'the value shown');
});

step('a known property\'s History link opens the history of its definition', async () => {
  await openScreen('known');
  await page.click('.kind[data-kind="MESSAGE"]');
  await waitListing('MESSAGE', knownFromVmcfg('MESSAGE').length);
  await (await rowButton('Console Greeting Mode', 'history')).click();
  await page.waitForFunction(() => !document.getElementById('screen-history').hidden);
  await waitText('#history-caption', /^\d+ changes? to \/VM\/config\/PropertyDefaults for “Console Greeting Mode”/);
  same(await page.$eval('#history-which', (n) => n.value), '/VM/config/PropertyDefaults', 'the set opened');
  const rows = await shownHistory();
  check(rows.length >= 2, `the console's add and change of the definition are not listed: ${JSON.stringify(rows)}`);
  same(rows.map((r) => r.who), rows.map(() => 'console'), 'who changed the definition');
});

// Milliseconds from clicking a kind to its listing drawn with `count` rows.
