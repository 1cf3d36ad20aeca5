// The property-sets screen: the values of one set as an access class sees
// them, and edits of them (a copy's value set, a copy added or removed)
// through the server's edit, which loses no update to another writer.
import {
  $, el, quoted, say, api, serverError, failure, markFault, clearFaults, askConfirm, hexOf, setWords,
} from './core.js';
import { shownBytes, rowBytes, bytesOfEscaped } from './escapes.js';

const SET_FIELDS = {
  system: null,
  cos: { label: 'Class of service number', hint: 'A whole number, e.g. 1', number: true },
  subscriber: { label: 'Subscriber number', hint: 'A whole number, e.g. 1001', number: true },
  msgid: { label: 'Message id', hint: 'A stored message, e.g. 200001', number: true },
  message: { label: 'Message property path', hint: 'The platform path of a message\u2019s property file' },
  file: { label: 'Platform path', hint: 'e.g. /VM/config/PropertyDefaults' },
};

// The set on show: {kind, which, access, words}.
let shown = null;
let loadRequest = 0;
// The copy the value dialog edits: {nameHex, index, name}.
let editing = null;

function flagsText(p) {
  return [p.forwardable ? 'forwardable' : '', p.server_known ? 'server known' : ''].filter(Boolean).join(', ');
}

function copyKey(nameHex, index) {
  return nameHex + '#' + index;
}

function setRow(p) {
  const name = shownBytes(p, 'name');
  const nameHex = hexOf(rowBytes(p, 'name'));
  const change = el('button', { type: 'button', class: 'quiet small', 'data-act': 'set' }, 'Set value');
  change.setAttribute('aria-label', 'Set the value of ' + name + ' copy ' + p.index);
  change.addEventListener('click', () => openValue(p, name, nameHex));
  const remove = el('button', { type: 'button', class: 'quiet small danger', 'data-act': 'remove' }, 'Remove');
  remove.setAttribute('aria-label', 'Remove ' + name + ' copy ' + p.index);
  remove.addEventListener('click', () => removeCopy(name, nameHex, p.index));
  return el('tr', { 'data-key': copyKey(nameHex, p.index) },
    el('th', { scope: 'row', class: 'col-name', 'data-label': 'Name' }, el('span', { class: 'name' }, name)),
    el('td', { class: 'col-num', 'data-label': 'Copy' }, String(p.index)),
    el('td', { class: 'col-value', 'data-label': 'Value' }, el('span', { class: 'value' }, shownBytes(p, 'value'))),
    el('td', { 'data-label': 'Read' }, p.read || 'none'),
    el('td', { 'data-label': 'Write' }, p.write || 'none'),
    el('td', { 'data-label': 'Version' }, String(p.version)),
    el('td', { 'data-label': 'Type' }, String(p.type)),
    el('td', { 'data-label': 'Flags' }, flagsText(p)),
    el('td', { class: 'col-actions' }, el('div', { class: 'row-actions' }, change, remove)));
}

function render(rows) {
  const body = $('sets-rows');
  body.replaceChildren(...rows.map(setRow));
  const about = setWords(shown.kind, shown.which) + ' as the ' + shown.access + ' class sees it';
  if (rows.length === 0) {
    body.append(el('tr', { class: 'empty' }, el('td', { colspan: '9' }, 'No properties in ' + about + '.')));
  }
  $('sets-caption').textContent = (rows.length === 1 ? '1 property copy' : rows.length + ' property copies') +
    ' in ' + about;
  $('sets-add').hidden = false;
}

// The set the form names, or null after marking the field at fault.
function formSet() {
  clearFaults($('sets-form'));
  const kind = $('sets-kind').value;
  const which = $('sets-which').value.trim();
  const about = SET_FIELDS[kind];
  if (about && (!which || (about.number && !/^\d+$/.test(which)))) {
    markFault($('sets-which'), 'sets-status');
    say('sets-status', about.label + ': ' + (about.number ? 'give a whole number.' : 'give the platform path.'), 'error');
    $('sets-which').focus();
    return null;
  }
  return { kind, which: about ? which : '', access: $('sets-access').value };
}

function queryOf(set) {
  return set.kind + (set.kind === 'system' ? '' : '=' + encodeURIComponent(set.which)) +
    '&access=' + set.access;
}

function focusRow(key) {
  const button = document.querySelector(`#sets-rows tr[data-key="${CSS.escape(key)}"] button`);
  if (button) button.focus();
}

// Lists the set; focusKey names the row whose first button takes the focus.
// True when the rows on show are the set's.
async function loadSet(set, keepStatus, focusKey) {
  const request = ++loadRequest;
  $('screen-sets').setAttribute('aria-busy', 'true');
  if (!keepStatus) say('sets-status', 'Reading ' + setWords(set.kind, set.which) + '\u2026', '');
  try {
    const reply = await api('GET', '/api/props?' + queryOf(set));
    if (request !== loadRequest) return false;
    if (reply.status !== 200 || !Array.isArray(reply.data)) throw serverError(reply);
    shown = set;
    render(reply.data);
    if (!keepStatus) say('sets-status', '', '');
    if (focusKey) focusRow(focusKey);
    return true;
  } catch (error) {
    const text = failure(error);
    if (text && request === loadRequest) say('sets-status', text, 'error');
    return false;
  } finally {
    if (request === loadRequest) $('screen-sets').removeAttribute('aria-busy');
  }
}

// One edit of the set on show; the outcome is said and the set read again.
async function edit(body, done, focusKey) {
  const set = { [shown.kind]: shown.which };
  const reply = await api('POST', '/api/props/edit', { set, access: shown.access, ...body });
  if (reply.status !== 200) {
    const said = reply.data && reply.data.error ? reply.data.error : 'status ' + reply.status;
    say('sets-status', 'Not saved: ' + said, 'error');
    return false;
  }
  // The outcome is said once the rows show it.
  if (await loadSet(shown, true, focusKey)) say('sets-status', done(reply.data), 'ok');
  return true;
}

function openValue(p, name, nameHex) {
  editing = { nameHex, index: p.index, name };
  $('value-title').textContent = 'Set the value of ' + name + ' copy ' + p.index;
  $('value-input').value = shownBytes(p, 'value');
  say('value-message', '', '');
  $('value-dialog').showModal();
  $('value-input').select();
}

async function removeCopy(name, nameHex, index) {
  const yes = await askConfirm({
    title: 'Remove a property',
    text: 'Remove copy ' + index + ' of ' + quoted(name) + ' from ' + setWords(shown.kind, shown.which) + '?',
    detail: 'The set is saved without it; the change journal records who removed it.',
    yes: 'Remove',
    focusYes: false,
  });
  if (!yes) {
    say('sets-status', 'Nothing removed.', '');
    return;
  }
  try {
    await edit({ op: 'remove', name_hex: nameHex, index },
      () => 'Removed copy ' + index + ' of ' + quoted(name) + '.');
  } catch (error) {
    const text = failure(error);
    if (text) say('sets-status', text, 'error');
  }
  $('sets-status').focus();
}

$('value-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  const target = editing;
  try {
    const value = hexOf(bytesOfEscaped($('value-input').value));
    const saved = await edit({ op: 'set', name_hex: target.nameHex, index: target.index, value_hex: value },
      () => 'Set copy ' + target.index + ' of ' + quoted(target.name) + '.', copyKey(target.nameHex, target.index));
    if (saved) {
      // Closing gives the focus back to the button that opened the dialog,
      // which the redrawn table replaced: it goes to the row's new one.
      $('value-dialog').close();
      focusRow(copyKey(target.nameHex, target.index));
    } else {
      say('value-message', $('sets-status').textContent, 'error');
    }
  } catch (error) {
    const text = failure(error);
    if (text) say('value-message', text, 'error');
  }
});
$('value-cancel').addEventListener('click', () => $('value-dialog').close());

$('sets-add').addEventListener('submit', async (event) => {
  event.preventDefault();
  clearFaults($('sets-add'));
  const name = $('sets-add-name').value;
  if (!name) {
    markFault($('sets-add-name'), 'sets-status');
    say('sets-status', 'Name: a property needs a name.', 'error');
    $('sets-add-name').focus();
    return;
  }
  try {
    const nameHex = hexOf(bytesOfEscaped(name));
    const added = await edit({ op: 'add', name_hex: nameHex, value_hex: hexOf(bytesOfEscaped($('sets-add-value').value)) },
      (data) => 'Added copy ' + data.written[0].index + ' of ' + quoted(name) + '.');
    if (added) $('sets-add').reset();
  } catch (error) {
    const text = failure(error);
    if (text) say('sets-status', text, 'error');
  }
});

function showWhich() {
  const about = SET_FIELDS[$('sets-kind').value];
  $('sets-which-field').hidden = !about;
  if (about) {
    $('sets-which-label').textContent = about.label;
    $('sets-which-hint').textContent = about.hint;
  }
}

export function enterSets(entering) {
  if (entering && shown) loadSet(shown, false);
  else if (entering) $('sets-kind').focus();
}

$('sets-kind').addEventListener('change', () => {
  showWhich();
  clearFaults($('sets-form'));
});
// Reads the set whole, as "vmcfg props check" does, and says what it found.
$('sets-check').addEventListener('click', async () => {
  const set = formSet();
  if (!set) return;
  try {
    const reply = await api('GET', '/api/props/check?' + queryOf(set).replace(/&access=.*$/, ''));
    if (reply.status !== 200 || !reply.data) throw serverError(reply);
    const count = reply.data.count === 1 ? '1 property' : reply.data.count + ' properties';
    say('sets-status', reply.data.target + ' reads whole: ' + count + ', version ' + reply.data.version + '.', 'ok');
  } catch (error) {
    const text = failure(error);
    if (text) say('sets-status', 'The check failed: ' + text, 'error');
  }
  $('sets-status').focus();
});

$('sets-form').addEventListener('submit', (event) => {
  event.preventDefault();
  const set = formSet();
  if (set) loadSet(set, false);
});
showWhich();
