// The known-properties screen: form 1's listing of a kind, and the property
// dialog that adds, changes and removes definitions through form 2.
import {
  $, el, quoted, say, api, form, field, fieldBytes, hexOf, joinBytes, utf8, shownText, refusalText,
  failure, markFault, clearFaults, askConfirm, SessionEnded, ApiError, serverError, bytesOfHex,
} from './core.js';
import {
  CLASSES, FLAG_FIELD, buildRightsEditor, setRights, putRights, firstRightsBox,
} from './rights.js';

import { ListView } from './listview.js';

export { buildRightsEditor };

// Form 2 takes and gives a name in two fields, split after its 70th byte.
const PROPERTY_FORM = 2;
const NAME_SPLIT = 70;
const FIRST_FORWARDABLE = 15;
// Each kind's defaults file: its known properties and their default values.
const DEFAULTS_FILE = {
  SYSTEM: '/VM/config/sys_prop_db.defaults', MESSAGE: '/VM/config/PropertyDefaults',
  COS: '/VM/config/COSPropertyDefaults', SUBSCRIBER: '/VM/config/SubscriberPropertyDefaults',
};
const ALREADY_TAKEN = 3;


const KIND_WORDS = {
  MESSAGE: 'message',
  SYSTEM: 'system',
  COS: 'class of service',
  SUBSCRIBER: 'subscriber',
};

// ---- known properties -----------------------------------------------------

let kind = 'MESSAGE';
let knownRequest = 0;
let knownRows = [];
// Per kind, the hex bytes of its fixed known properties' names (a promise).
const fixedNames = new Map();
// The kind the rows on show were listed for.
let listedKind = kind;

function fromReply(answer, base) {
  const f = (n) => field(answer, base + n);
  const bytes = joinBytes(fieldBytes(answer, base + 1), fieldBytes(answer, base + 2));
  const known = {
    name: shownText.decode(bytes),
    bytes,
    read: [],
    write: [],
    forwardable: f(FIRST_FORWARDABLE) === 'y',
    version: f(16),
    type: f(17),
  };
  for (let i = 0; i < CLASSES.length; ++i) {
    known.read.push(f(FLAG_FIELD + 2 * i) === 'R');
    known.write.push(f(FLAG_FIELD + 2 * i + 1) === 'W');
  }
  return known;
}

// A row of the server's listing in the page's terms.
function fromListing(k) {
  const bytes = typeof k.name_hex === 'string' ? bytesOfHex(k.name_hex) : utf8.encode(k.name);
  return {
    name: shownText.decode(bytes),
    bytes,
    read: CLASSES.map((c) => k.read.includes(c.name.toLowerCase())),
    write: CLASSES.map((c) => k.write.includes(c.name.toLowerCase())),
    forwardable: k.forwardable,
    version: String(k.version),
    type: String(k.type),
  };
}

// A name's exact bytes for a URL, whatever they are.
function percentBytes(bytes) {
  return Array.from(bytes, (b) => '%' + b.toString(16).padStart(2, '0')).join('');
}

// The fixed known properties of a kind, which form 2 never removes: asked
// once per kind. A kind whose list cannot be had offers Remove everywhere,
// and the form says why it refuses.
function fixedOf(selector) {
  if (!fixedNames.has(selector)) {
    fixedNames.set(selector, api('GET', '/api/known/fixed?kind=' + selector).then((reply) => {
      if (reply.status !== 200 || !Array.isArray(reply.data)) throw serverError(reply);
      return new Set(reply.data.map((n) => n.name_hex || hexOf(utf8.encode(n.name))));
    }).catch((error) => {
      fixedNames.delete(selector);
      if (error instanceof SessionEnded) throw error;
      return new Set();
    }));
  }
  return fixedNames.get(selector);
}

// Form 1's whole listing of a kind, which the server pages to its end.
async function listKnown(selector) {
  const reply = await api('GET', '/api/known?kind=' + encodeURIComponent(selector));
  if (reply.status === 422 && reply.data && typeof reply.data.error === 'string') {
    throw new ApiError('Form 1 refused the listing: ' + reply.data.error);
  }
  if (reply.status !== 200 || !Array.isArray(reply.data)) throw serverError(reply);
  return reply.data.map(fromListing);
}

// The access-class labels of a rights grid.
function classLabels() {
  return CLASSES.map((c) => el('span', { class: 'g-class', title: c.name },
    el('span', { class: 'long' }, c.name), el('span', { class: 'short' }, c.short)));
}

export function rightsHead() {
  const head = document.querySelector('#known-table .rights-head');
  head.replaceChildren(el('span', { class: 'g-corner' }), ...classLabels());
}

function mark(granted, description) {
  return el('span', { class: 'g-mark ' + (granted ? 'yes' : 'no'), title: description },
    el('span', { 'aria-hidden': 'true' }, granted ? '\u2713' : '\u00b7'),
    el('span', { class: 'sr-only' }, description));
}

// Six classes by read and write, as checkmarks.
function rightsGrid(known) {
  const grid = el('div', { class: 'grid', role: 'group', 'aria-label': 'Access rights' });
  const labels = el('div', { class: 'g-labels', 'aria-hidden': 'true' },
    el('span', { class: 'g-corner' }), ...classLabels());
  grid.append(labels);
  for (const [what, flags] of [['read', known.read], ['write', known.write]]) {
    const row = el('div', { class: 'g-row' }, el('span', { class: 'g-what', 'aria-hidden': 'true' }, what));
    CLASSES.forEach((c, i) => {
      row.append(mark(flags[i], c.name + (flags[i] ? ' may ' : ' may not ') + what));
    });
    grid.append(row);
  }
  return grid;
}

function knownRow(known) {
  const name = el('th', { scope: 'row', class: 'col-name' }, el('span', { class: 'name' }, known.name));
  const change = el('button', { type: 'button', class: 'quiet small', 'data-action': 'change' }, 'Change');
  change.setAttribute('aria-label', 'Change ' + known.name);
  change.addEventListener('click', () => openProperty('change', known));
  let remove;
  if (known.fixed) {
    remove = el('span', { class: 'fixed-tag', 'data-action': 'fixed' }, 'fixed');
    remove.title = 'One of the kind\u2019s fixed known properties: it cannot be removed.';
  } else {
    remove = el('button', { type: 'button', class: 'quiet small danger', 'data-action': 'remove' }, 'Remove');
    remove.setAttribute('aria-label', 'Remove ' + known.name);
    remove.addEventListener('click', () => removeProperty(known));
  }
  // The definitions live in the kind's defaults file: its history is theirs.
  const history = el('a', {
    class: 'button-link small',
    href: '#history?file=' + encodeURIComponent(DEFAULTS_FILE[known.kind]) + '&name=' + percentBytes(known.bytes),
    'data-action': 'history',
  }, 'History');
  history.setAttribute('aria-label', 'History of ' + known.name);
  return el('tr', {},
    name,
    el('td', { class: 'col-rights' }, rightsGrid(known)),
    el('td', { class: 'col-num', 'data-label': 'Forwardable' }, known.forwardable ? 'yes' : 'no'),
    el('td', { class: 'col-num', 'data-label': 'Version' }, known.version),
    el('td', { class: 'col-num', 'data-label': 'Type' }, known.type),
    el('td', { class: 'col-actions' }, el('div', { class: 'row-actions' }, history, change, remove)));
}

// rowKind: the kind the rows were listed for. Each row's actions act on
// that kind, whatever is selected by the time they are clicked.
function renderKnown(rows, rowKind) {
  for (const known of rows) known.kind = rowKind;
  knownRows = rows;
  listedKind = rowKind;
  listView.set(rows);
}

// Draws the rows the filter and the sort leave, in their order.
function drawKnown(rows) {
  const body = $('known-rows');
  body.replaceChildren(...rows.map(knownRow));
  if (rows.length === 0) {
    body.append(el('tr', { class: 'empty' }, el('td', { colspan: '6' },
      knownRows.length === 0 ? 'This kind has no known properties.' : 'No known property matches the filter.')));
  }
  const all = knownRows.length === 1 ? '1 known property' : knownRows.length + ' known properties';
  const about = all + ' of the ' + KIND_WORDS[listedKind] + ' kind (' + listedKind + ')';
  $('known-caption').textContent = listView.filtering() ? rows.length + ' shown of ' + about : about;
}

const listView = new ListView($('known-table'), {
  name: (k) => k.name.toLowerCase(),
  forwardable: (k) => (k.forwardable ? 1 : 0),
  version: (k) => Number(k.version),
  type: (k) => Number(k.type),
}, $('known-filter'), drawKnown);

// Reloads the listing; keepStatus leaves the last outcome on show.
export async function loadKnown(keepStatus, highlight, note) {
  const ticket = ++knownRequest;
  const selector = kind;
  const section = $('screen-known');
  section.setAttribute('aria-busy', 'true');
  if (!keepStatus) say('known-status', 'Loading\u2026', '');
  // Rows of the old listing wait until the new one is drawn.
  setRowsDisabled(true);
  try {
    const [rows, fixed] = await Promise.all([listKnown(selector), fixedOf(selector)]);
    if (ticket !== knownRequest) return;
    for (const known of rows) known.fixed = fixed.has(hexOf(known.bytes));
    renderKnown(rows, selector);
    if (!keepStatus) say('known-status', '', '');
    if (highlight !== undefined) highlightRow(highlight, note);
  } catch (error) {
    if (ticket !== knownRequest) return;
    const text = failure(error);
    if (text) say('known-status', 'The listing failed: ' + text, 'error');
  } finally {
    if (ticket === knownRequest) {
      section.removeAttribute('aria-busy');
      setRowsDisabled(false);
    }
  }
}

function setRowsDisabled(disabled) {
  for (const button of $('known-rows').querySelectorAll('button')) button.disabled = disabled;
}

// Marks the row of a property just added or changed, says the outcome
// beside it and gives it the focus, so that a long list keeps its place.
function highlightRow(name, note) {
  const row = Array.from($('known-rows').rows).find((r) => r.querySelector('.name')?.textContent === name);
  if (!row) return;
  row.classList.add('fresh');
  if (note) row.querySelector('.row-actions').prepend(el('span', { class: 'row-note' }, note));
  row.scrollIntoView({ block: 'nearest' });
  const change = row.querySelector('[data-action="change"]');
  if (change) change.focus();
}

for (const button of document.querySelectorAll('.kind')) {
  button.addEventListener('click', () => {
    kind = button.dataset.kind;
    for (const other of document.querySelectorAll('.kind')) {
      other.setAttribute('aria-pressed', other === button ? 'true' : 'false');
    }
    loadKnown();
  });
}
$('known-reload').addEventListener('click', () => loadKnown());
$('known-add').addEventListener('click', () => openProperty('add', null));

// ---- the property dialog (form 2) ------------------------------------------

const dialog = $('property-dialog');
let dialogMode = 'add';
// The bytes of the name a change dialog is for.
let dialogBytes = null;
// The default value the changed property had ({text, hex}), or null.
let dialogDefault = null;
// A name with leading or trailing blanks the administrator was told about:
// saved if submitted again unchanged.
let blanksAccepted = null;

function fillDialog(known) {
  $('prop-name').value = known.name;
  setRights(known.read, known.write);
  $('prop-forwardable').checked = known.forwardable;
  $('prop-version').value = known.version;
  $('prop-type').value = known.type;
}

// A typed name (text) or a listed one (its bytes), in the form's two fields.
function nameParts(name) {
  if (name instanceof Uint8Array) return [name.subarray(0, NAME_SPLIT), name.subarray(NAME_SPLIT)];
  const chars = Array.from(name);
  return [chars.slice(0, NAME_SPLIT).join(''), chars.slice(NAME_SPLIT).join('')];
}

function nameFields(selector, name) {
  const [first, rest] = nameParts(name);
  return { 0: selector, 1: first, 2: rest };
}

// Request fields 0 to 17 of an add or change from the dialog.
function propertyFields(selector, name) {
  const fields = nameFields(selector, name);
  putRights(fields);
  fields[FIRST_FORWARDABLE] = $('prop-forwardable').checked ? 'y' : 'n';
  fields[16] = $('prop-version').value.trim();
  fields[17] = $('prop-type').value.trim();
  return fields;
}

function fieldLabel(fieldNo) {
  if (fieldNo === 0) return 'Property set';
  if (fieldNo === 1 || fieldNo === 2) return 'Name';
  if (fieldNo >= FLAG_FIELD && fieldNo < FIRST_FORWARDABLE) {
    const i = Math.floor((fieldNo - FLAG_FIELD) / 2);
    return CLASSES[i].name + ((fieldNo - FLAG_FIELD) % 2 === 0 ? ' read' : ' write');
  }
  if (fieldNo === FIRST_FORWARDABLE) return 'Forwardable';
  if (fieldNo === 16) return 'Version';
  if (fieldNo === 17) return 'Value type';
  return 'Field ' + fieldNo;
}

// The input that carries a request field of form 2.
function inputOf(fieldNo) {
  const target = fieldNo === 2 ? 1 : fieldNo;
  return dialog.querySelector('[data-field="' + target + '"]');
}

function dialogRefused(answer, faultField) {
  const fieldNo = faultField !== undefined ? faultField : answer.field_no;
  const input = typeof fieldNo === 'number' && fieldNo >= 0 ? inputOf(fieldNo) : null;
  let text = refusalText(answer);
  if (input) {
    markFault(input, 'property-message');
    text = fieldLabel(fieldNo) + ': ' + text;
  }
  say('property-message', text, 'error');
  if (input && typeof input.focus === 'function' && input.tagName === 'INPUT') input.focus();
}

function resetDialog() {
  clearFaults(dialog);
  say('property-message', '', 'error');
  $('property-save').disabled = false;
}

// The default value the kind's defaults file holds for the name (its first
// copy) as {text, hex}, or null when there is none or it cannot be read.
async function storedDefault(selector, bytes) {
  try {
    const reply = await api('GET', '/api/props?file=' + encodeURIComponent(DEFAULTS_FILE[selector]));
    if (reply.status !== 200 || !Array.isArray(reply.data)) return null;
    const wanted = hexOf(bytes);
    const copy = reply.data.find((p) => (p.name_hex || hexOf(utf8.encode(p.name))) === wanted);
    if (!copy || (!copy.value && !copy.value_hex)) return null;
    return { text: copy.value, hex: copy.value_hex || hexOf(utf8.encode(copy.value)) };
  } catch (error) {
    if (error instanceof SessionEnded) throw error;
    return null;
  }
}

// Puts the default value back after the form's change cleared it, through
// the same edit as any set's value; the refusal in words, or ''.
async function putDefaultBack(selector, nameBytes, value) {
  const reply = await api('POST', '/api/props/edit', {
    set: { file: DEFAULTS_FILE[selector] }, op: 'set', name_hex: hexOf(nameBytes), value_hex: value.hex,
  });
  if (reply.status === 200) return '';
  return reply.data && reply.data.error ? reply.data.error : 'status ' + reply.status;
}

async function openProperty(mode, known) {
  dialogMode = mode;
  dialogBytes = known ? known.bytes : null;
  resetDialog();
  say('prop-default-note', '', '');
  dialogDefault = null;
  blanksAccepted = null;
  $('prop-keep-field').hidden = true;
  $('prop-keep-default').checked = true;
  const selector = known ? known.kind : kind;
  $('property-kind').textContent = selector;
  const name = $('prop-name');
  if (mode === 'add') {
    $('property-title').textContent = 'Add a known property';
    $('property-save').textContent = 'Add';
    name.readOnly = false;
    // A new property starts readable and writeable by the server only.
    fillDialog({ name: '', read: [true, false, false, false, false, false],
      write: [true, false, false, false, false, false], forwardable: false, version: '1', type: '0' });
    dialog.showModal();
    name.focus();
    return;
  }
  // A change replaces the whole property: start from what the set holds now.
  try {
    const answer = await form(PROPERTY_FORM, 'get', nameFields(selector, known.bytes));
    if (answer.result !== 0) {
      say('known-status', quoted(known.name) + ': ' + refusalText(answer), 'error');
      loadKnown(true);
      return;
    }
    const fresh = fromReply(answer, 0);
    fresh.name = known.name;
    // The form's change replaces the property whole: its default value goes.
    dialogDefault = await storedDefault(selector, known.bytes);
    if (dialogDefault) {
      say('prop-default-note', 'Its default value is ' + quoted(dialogDefault.text) +
        ': saving the definition clears it unless you keep it.', 'warn');
      $('prop-keep-field').hidden = false;
    }
    $('property-title').textContent = 'Change a known property';
    $('property-save').textContent = 'Save';
    name.readOnly = true;
    fillDialog(fresh);
    dialog.showModal();
    firstRightsBox().focus();
  } catch (error) {
    const text = failure(error);
    if (text) say('known-status', text, 'error');
  }
}

$('property-cancel').addEventListener('click', () => dialog.close());

$('property-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  resetDialog();
  const selector = $('property-kind').textContent;
  const name = $('prop-name').value;
  if (!name.trim()) {
    markFault($('prop-name'), 'property-message');
    say('property-message', 'Name: a known property needs a name.', 'error');
    $('prop-name').focus();
    return;
  }
  if (dialogMode === 'add' && name !== name.trim() && blanksAccepted !== name) {
    blanksAccepted = name;
    markFault($('prop-name'), 'property-message');
    say('property-message', 'Name: it begins or ends with a blank, which is easy to miss and hard to type again.' +
      ' Remove the blank, or press Add again to keep it.', 'error');
    $('prop-name').focus();
    return;
  }
  const save = $('property-save');
  save.disabled = true;
  try {
    if (dialogMode === 'add') {
      // The form's add replaces a property of the same name whole: ask first
      // whether the name is free.
      const check = await form(PROPERTY_FORM, 'addv', nameFields(selector, name));
      if (check.result !== 0) {
        dialogRefused(check, check.ecode === ALREADY_TAKEN ? 1 : undefined);
        return;
      }
    }
    const op = dialogMode === 'add' ? 'add' : 'chg';
    const answer = await form(PROPERTY_FORM, op, propertyFields(selector, dialogMode === 'add' ? name : dialogBytes));
    if (answer.result !== 0) {
      dialogRefused(answer);
      return;
    }
    dialog.close();
    let outcome = (dialogMode === 'add' ? 'Added ' : 'Saved ') + quoted(name) + ' in the ' +
        KIND_WORDS[selector] + ' kind';
    let tone = 'ok';
    if (dialogMode !== 'add' && dialogDefault && $('prop-keep-default').checked) {
      const refusal = await putDefaultBack(selector, dialogBytes, dialogDefault);
      if (refusal) {
        outcome += ', but its default value ' + quoted(dialogDefault.text) + ' was not put back: ' + refusal;
        tone = 'error';
      } else {
        outcome += ', keeping its default value ' + quoted(dialogDefault.text);
      }
    }
    say('known-status', outcome + '.', tone);
    if (selector === kind) loadKnown(true, name, dialogMode === 'add' ? 'Added' : 'Saved');
  } catch (error) {
    const text = failure(error);
    if (text) say('property-message', text, 'error');
  } finally {
    save.disabled = false;
  }
});

async function removeProperty(known) {
  const selector = known.kind;
  const yes = await askConfirm({
    title: 'Remove a known property',
    text: 'Remove ' + quoted(known.name) + ' from the known properties of the ' + KIND_WORDS[selector] + ' kind?',
    detail: 'The kind\u2019s defaults file is rewritten without it.',
    yes: 'Remove',
    focusYes: false,
  });
  if (!yes) {
    say('known-status', 'Nothing removed.', '');
    return;
  }
  try {
    const answer = await form(PROPERTY_FORM, 'rem', nameFields(selector, known.bytes));
    if (answer.result !== 0) say('known-status', quoted(known.name) + ' was not removed: ' + refusalText(answer), 'error');
    else say('known-status', 'Removed ' + quoted(known.name) + '.', 'ok');
    if (selector === kind) loadKnown(true);
  } catch (error) {
    const text = failure(error);
    if (text) say('known-status', text, 'error');
  }
}

