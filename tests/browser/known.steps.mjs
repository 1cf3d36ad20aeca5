// The known-properties screen (forms 1 and 2): listing, adding, changing, removing, rights and sorting.
import {
  HOSTILE,
  atWidths,
  check,
  dialogs,
  knownFromVmcfg,
  page,
  rowButton,
  same,
  setChecked,
  shot,
  shownKnown,
  step,
  text,
  typeInto,
  vmcfgJson,
  vmcfgStatus,
  waitDialog,
  waitListing,
  waitText,
} from './harness.mjs';

let messageCount = 0;

step('the MESSAGE kind lists what form 1 holds, with the rights grid', async () => {
  const expected = knownFromVmcfg('MESSAGE');
  check(expected.length > 0, 'the demo has no MESSAGE known properties');
  messageCount = expected.length;
  await waitListing('MESSAGE', expected.length);
  same(await shownKnown(), expected, 'the MESSAGE listing');
  await shot('known');
});

step('adding a property through the dialog, submitted with Enter', async () => {
  const name = 'Console Greeting Mode';
  await page.click('#known-add');
  await waitDialog('property-dialog', true);
  check(await page.evaluate(() => document.activeElement.id === 'prop-name'), 'the dialog does not focus the name');
  await page.type('#prop-name', name);
  await setChecked('#right-9', true); // Standard may read
  await setChecked('#right-6', true); // Privileged may write
  await setChecked('#prop-forwardable', true);
  await typeInto('#prop-version', '3');
  await typeInto('#prop-type', '1');
  await shot('known-add', false);
  await page.keyboard.press('Enter');
  await waitDialog('property-dialog', false);
  await waitText('#known-status', /^Added “Console Greeting Mode”/);
  await waitListing('MESSAGE', messageCount + 1);
  const stored = vmcfgJson('known', 'get', 'MESSAGE', name)[0];
  // Granting Standard a read grants it to the wider classes too.
  same(stored.read, ['server', 'privileged', 'trusted', 'standard'], 'the stored read rights');
  same(stored.write, ['server', 'privileged'], 'the stored write rights');
  same([stored.forwardable, stored.version, stored.type], [true, 3, 1], 'forwardable, version, type');
  same(await shownKnown(), knownFromVmcfg('MESSAGE'), 'the listing after the add');
  // The new row says so and has the focus, wherever it is in the list.
  await page.waitForFunction(() => document.activeElement?.dataset.action === 'change');
  same(await page.evaluate(() => {
    const row = document.activeElement.closest('tr');
    return [row.querySelector('.name').textContent, row.querySelector('.row-note')?.textContent];
  }), [name, 'Added'], 'the focused row and its note');
  messageCount += 1;
});

// Removes the MESSAGE property `name` through its row and the confirmation
// (named: the question must name it): no other row is drawn again, and vmcfg
// no longer finds it.
async function removeConfirmed(name, { named = false } = {}) {
  await (await rowButton(name, 'remove')).click();
  await waitDialog('confirm-dialog', true);
  if (named) check((await text('#confirm-text')).includes(name), 'the removal question does not name the property');
  await page.$$eval('#known-rows tr', (rows) => rows.forEach((r) => { r.probe = true; }));
  await page.click('#confirm-yes');
  await waitText('#known-status', /^Removed/);
  messageCount -= 1;
  await waitListing('MESSAGE', messageCount);
  check(await page.$$eval('#known-rows tr', (rows) => rows.every((r) => r.probe)), 'a removal drew other rows again');
  check(!knownFromVmcfg('MESSAGE').some((k) => k.name === name), `${JSON.stringify(name)} is still stored`);
}

// Adds a MESSAGE property of that name with the dialog's defaults.
async function addNamed(name) {
  await page.click('#known-add');
  await waitDialog('property-dialog', true);
  await page.type('#prop-name', name);
  await page.click('#property-save');
  await waitDialog('property-dialog', false);
  messageCount += 1;
  await waitListing('MESSAGE', messageCount);
}

step('a hostile property name shows as text, runs nothing, makes no element', async () => {
  await addNamed(HOSTILE);
  // Five properties: the listing crossed form 1's page of four.
  const shown = await shownKnown();
  same(shown, knownFromVmcfg('MESSAGE'), 'the listing after the hostile add');
  check(shown.some((k) => k.name === HOSTILE), 'the hostile name is not shown as its literal text');
  check(await page.evaluate(() => document.querySelectorAll('img').length === 0), 'an <img> element was created');
  check((await text('#known-status')).includes(HOSTILE), 'the status line does not show the name as text');
  await new Promise((resolve) => setTimeout(resolve, 300));
  same(dialogs, [], 'browser dialogs (alerts) fired');
  await shot('known-added');
});

step('a name the form cuts inside a character is listed and removed whole', async () => {
  // The form cuts after byte 70, inside the é; the name sorts fourth on a
  // listing page, so the next page starts after it.
  const long = 'ORVEX U' + 'L'.repeat(62) + '\u00e9 tail';
  await addNamed(long);
  same(await shownKnown(), knownFromVmcfg('MESSAGE'), 'the listing after the long add');
  await removeConfirmed(long);
});

step('a refusal highlights the field at fault and says why', async () => {
  await page.click('#known-add');
  await waitDialog('property-dialog', true);
  await page.type('#prop-name', 'Console Bad Version');
  await typeInto('#prop-version', '300');
  await page.click('#property-save');
  await waitText('#property-message', /^Version: \S/);
  check(await page.$eval('#prop-version', (n) => n.classList.contains('fault') && n.getAttribute('aria-invalid') === 'true'),
    'the version field (field 16) is not highlighted');
  check(await page.evaluate(() => document.activeElement.id === 'prop-version'), 'the field at fault has no focus');
  check(await page.$$eval('#property-dialog .fault', (n) => n.length === 1), 'more than the field at fault is highlighted');
  check(await page.$eval('#property-dialog', (d) => d.open), 'the dialog closed on a refusal');
  await shot('known-refused', false);
  check(vmcfgStatus('known', 'get', 'MESSAGE', 'Console Bad Version') !== 0, 'the refused property was stored');

  // A name that is taken: the check before the add refuses, at the name.
  await typeInto('#prop-version', '1');
  await typeInto('#prop-name', 'Console Greeting Mode');
  await page.click('#property-save');
  await waitText('#property-message', /^Name: \S/);
  check(await page.$eval('#prop-name', (n) => n.classList.contains('fault')), 'the taken name is not highlighted');
  check(!(await page.$eval('#prop-version', (n) => n.classList.contains('fault'))), 'an old fault stayed marked');
  await page.keyboard.press('Escape');
  await waitDialog('property-dialog', false);
  same(vmcfgJson('known', 'get', 'MESSAGE', 'Console Greeting Mode')[0].version, 3, 'the taken name\'s version');
});

step('changing a property starts from what the set holds', async () => {
  await (await rowButton('Console Greeting Mode', 'change')).click();
  await waitDialog('property-dialog', true);
  check(await page.$eval('#prop-name', (n) => n.readOnly && n.value === 'Console Greeting Mode'), 'the change dialog does not hold the name fixed');
  check(await page.$eval('#prop-forwardable', (n) => n.checked), 'the change dialog lost the forwardable flag');
  same(await page.$eval('#prop-version', (n) => n.value), '3', 'the version the change starts from');
  await setChecked('#prop-forwardable', false);
  await typeInto('#prop-version', '4');
  // A mark on every other row: a change draws its own row again, no other.
  await page.$$eval('#known-rows tr', (rows) => rows.forEach((r) => { r.probe = true; }));
  await page.click('#property-save');
  await waitDialog('property-dialog', false);
  await waitText('#known-status', /^Saved/);
  const stored = vmcfgJson('known', 'get', 'MESSAGE', 'Console Greeting Mode')[0];
  same([stored.forwardable, stored.version, stored.read.length], [false, 4, 4], 'the changed property');
  await page.waitForFunction(() => document.activeElement?.dataset.action === 'change');
  same(await page.$$eval('#known-rows tr', (rows) => rows.filter((r) => !r.probe).map((r) =>
    [r.querySelector('.name').textContent, r.querySelector('.row-note')?.textContent])),
  [['Console Greeting Mode', 'Saved']], 'the rows drawn again after the change');
  same(await page.evaluate(() => document.activeElement.closest('tr').querySelector('.name').textContent),
    'Console Greeting Mode', 'the row with the focus');
  await waitListing('MESSAGE', messageCount);
  same(await shownKnown(), knownFromVmcfg('MESSAGE'), 'the listing after the change');
});

step('removing asks first; a fixed property offers no removal', async () => {
  await removeConfirmed(HOSTILE, { named: true });

  await page.click('.kind[data-kind="SYSTEM"]');
  const system = knownFromVmcfg('SYSTEM');
  await waitListing('SYSTEM', system.length);
  same(await shownKnown(), system, 'the SYSTEM listing');
  // The form refuses to remove a kind's fixed known properties: the page
  // does not offer it, and says why.
  const fixed = 'QRT SYSTEM supported languages';
  check((await rowButton(fixed, 'remove')) === null, 'the fixed property offers Remove');
  same(await (await rowButton(fixed, 'fixed')).evaluate((n) => n.textContent), 'fixed', 'the fixed property\'s mark');
  check(await rowButton('System Greeting Length', 'remove'), 'a property of the defaults file offers no Remove');
  await atWidths('the known-property screen', 'known-system');
});

step('while another kind loads, the rows on show cannot act', async () => {
  await page.click('.kind[data-kind="MESSAGE"]');
  await waitListing('MESSAGE', messageCount);
  // Hold form 1's listing requests, so that the MESSAGE rows stay on show.
  let release;
  const held = new Promise((resolve) => { release = resolve; });
  const hold = (request) => {
    if (request.url().includes('/api/known?')) held.then(() => request.continue());
    else request.continue();
  };
  await page.setRequestInterception(true);
  page.on('request', hold);
  await page.click('.kind[data-kind="SYSTEM"]');
  const stale = await rowButton('Console Greeting Mode', 'remove');
  check(await stale.evaluate((b) => b.disabled), 'a MESSAGE row could act while SYSTEM was loading');
  release();
  await waitListing('SYSTEM', knownFromVmcfg('SYSTEM').length);
  page.off('request', hold);
  await page.setRequestInterception(false);
  check(await page.$$eval('#known-rows button', (b) => b.every((n) => !n.disabled)), 'the new rows are disabled');
  check(knownFromVmcfg('MESSAGE').some((k) => k.name === 'Console Greeting Mode'), 'the MESSAGE property is gone');
});

step('a change keeps the default value when asked, and clears it otherwise', async () => {
  const name = 'System Greeting Length';
  const defaults = '/VM/config/sys_prop_db.defaults';
  const valueOf = () => (vmcfgJson('props', 'show', defaults, '--name', name)[0] || { value: '' }).value;
  const stored = valueOf();
  check(stored !== '', `the demo's ${name} has no default value`);
  const listed = () => page.waitForFunction(() => !document.getElementById('screen-known').hasAttribute('aria-busy'));
  const change = async (keep) => {
    await listed();
    await (await rowButton(name, 'change')).click();
    await waitDialog('property-dialog', true);
    await waitText('#prop-default-note', new RegExp(`\u201c${stored}\u201d: saving the definition clears it`));
    check(await page.$eval('#prop-keep-default', (n) => n.checked && !n.closest('[hidden]')),
      'the keep box is not offered ticked');
    if (!keep) await page.click('#prop-keep-default');
    await page.click('#property-save');
    await waitDialog('property-dialog', false);
  };
  await change(true);
  await waitText('#known-status', new RegExp(`keeping its default value \u201c${stored}\u201d\\.$`));
  same(valueOf(), stored, 'the kept default value');
  await change(false);
  await waitText('#known-status', /^Saved .* system kind\.$/);
  same(valueOf(), '', 'the default value after a change that did not keep it');
  await listed();
});

// The rights boxes, class by class, read then write: x ticked, i ticked
// as implied (fixed), . free, - off and fixed.
async function rightsShown() {
  return page.$$eval('#rights-edit-rows input', (boxes) => boxes.map((b) =>
    (b.checked ? (b.disabled ? 'i' : 'x') : (b.disabled ? '-' : '.'))).join(''));
}

step('the rights editor shows implied rights live and flags a name with blanks', async () => {
  await page.click('#known-add');
  await waitDialog('property-dialog', true);
  same(await rightsShown(), 'xx.........-', 'a new property\u2019s rights');
  await page.click('#right-10');
  same(await rightsShown(), 'xi.i.i.x...-', 'with Standard write ticked');
  await waitText('#rights-note', /^Privileged, Trusted, Standard may each write this property but not read it\.$/);
  await page.click('#right-9');
  same(await rightsShown(), 'iiiiiixx...-', 'with Standard read ticked too');
  same(await text('#rights-note'), '', 'the warning once every writer may read');
  await page.click('#right-10');
  same(await rightsShown(), 'ixi.i.x....-', 'Standard write unticked: the hand-ticked Server write stays');
  await page.click('#right-10');

  const padded = ' Padded';
  await typeInto('#prop-name', padded);
  await page.keyboard.press('Enter');
  await waitText('#property-message', /^Name: it begins or ends with a blank/);
  same(vmcfgStatus('known', 'get', 'SYSTEM', padded), 1, 'vmcfg known get of the flagged name');
  await page.keyboard.press('Enter');
  await waitDialog('property-dialog', false);
  await waitText('#known-status', /^Added \u201c Padded\u201d/);
  const stored = vmcfgJson('known', 'get', 'SYSTEM', padded)[0];
  same([stored.read.length, stored.write.length], [4, 4], 'the rights stored, implied ones included');
});

step('the listing is filtered by name in any case and sorted by a column, then back in the form\'s order', async () => {
  const all = knownFromVmcfg('SYSTEM');
  await waitListing('SYSTEM', all.length);
  await page.type('#known-filter', 'sYsTeM');
  const matching = all.filter((k) => k.name.toLowerCase().includes('system'));
  check(matching.length > 0 && matching.length < all.length, 'the filter test needs some rows in and some out');
  await waitText('#known-caption', new RegExp(`^${matching.length} shown of ${all.length} known properties`));
  same(await shownKnown(), matching, 'the filtered rows');
  await page.click('#known-filter', { clickCount: 3 });
  await page.keyboard.press('Backspace');
  await waitListing('SYSTEM', all.length);

  const byVersion = (sign) => all.map((k, i) => [k, i])
    .sort(([a, i], [b, j]) => sign * (Number(a.version) - Number(b.version)) || i - j).map(([k]) => k);
  const sortState = () => page.$eval('th:has(button[data-sort="version"])', (th) => th.getAttribute('aria-sort'));
  await page.click('button[data-sort="version"]');
  same(await sortState(), 'ascending', 'aria-sort after one click');
  same(await shownKnown(), byVersion(1), 'the rows by version, ascending');
  await page.click('button[data-sort="version"]');
  same(await sortState(), 'descending', 'aria-sort after two clicks');
  same(await shownKnown(), byVersion(-1), 'the rows by version, descending');
  await page.click('button[data-sort="version"]');
  same(await sortState(), 'none', 'aria-sort after three clicks');
  same(await shownKnown(), all, 'the rows in the form\'s order again');
});

// The outcome of a switch, once the page has read the form again.
