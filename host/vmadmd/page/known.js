// The known-properties screen: the whole listing of a kind, filtered and
// sorted in the page, each row with its actions (the dialog is
// knowndialog.js).
import {
  $, el, say, api, form, hexOf, shownText, failure, SessionEnded, ApiError, serverError,
} from './core.js';
import { CLASSES, buildRightsEditor } from './rights.js';
import {
  PROPERTY_FORM, DEFAULTS_FILE, KIND_WORDS, fromReply, nameFields,
} from './knowncommon.js';
import { openProperty, removeProperty } from './knowndialog.js';

import { ListView } from './listview.js';
import { rowBytes } from './escapes.js';

export { buildRightsEditor };

// ---- known properties -----------------------------------------------------

let kind = 'MESSAGE';
let knownRequest = 0;
let knownRows = [];
// Per kind, the hex bytes of its fixed known properties' names (a promise).
const fixedNames = new Map();
// The kind the rows on show were listed for.
let listedKind = kind;

// A row of the server's listing in the page's terms.
function fromListing(k) {
  const bytes = rowBytes(k, 'name');
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
      return new Set(reply.data.map((n) => hexOf(rowBytes(n, 'name'))));
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
  return el('tr', { 'data-key': hexOf(known.bytes) },
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
  drawCaption(rows.length);
}

function drawCaption(shown) {
  const all = knownRows.length === 1 ? '1 known property' : knownRows.length + ' known properties';
  const about = all + ' of the ' + KIND_WORDS[listedKind] + ' kind (' + listedKind + ')';
  $('known-caption').textContent = listView.filtering() ? shown + ' shown of ' + about : about;
}

function rowElement(bytes) {
  return $('known-rows').querySelector(`tr[data-key="${hexOf(bytes)}"]`);
}

// Reads one changed property again (form 2 get) and redraws its row alone,
// where it is; the whole listing is read again when that fails.
async function redrawRow(bytes, note) {
  const index = knownRows.findIndex((k) => hexOf(k.bytes) === hexOf(bytes));
  const row = rowElement(bytes);
  const answer = index < 0 || !row ? null : await form(PROPERTY_FORM, 'get', nameFields(listedKind, bytes));
  if (!answer || answer.result !== 0) {
    loadKnown(true);
    return;
  }
  const old = knownRows[index];
  const fresh = { ...fromReply(answer, 0), name: old.name, bytes: old.bytes, kind: old.kind, fixed: old.fixed };
  knownRows[index] = fresh;
  const drawn = knownRow(fresh);
  row.replaceWith(drawn);
  markRow(drawn, note);
}

// Takes a removed property's row out alone; the focus goes to the next row.
function dropRow(bytes) {
  const index = knownRows.findIndex((k) => hexOf(k.bytes) === hexOf(bytes));
  const row = rowElement(bytes);
  if (index < 0 || !row) {
    loadKnown(true);
    return;
  }
  knownRows.splice(index, 1);
  const next = row.nextElementSibling || row.previousElementSibling;
  row.remove();
  drawCaption($('known-rows').querySelectorAll('tr[data-key]').length);
  const focus = next && next.querySelector('[data-action="change"]');
  if (focus) focus.focus();
  else $('known-status').focus();
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

function highlightRow(name, note) {
  const row = Array.from($('known-rows').rows).find((r) => r.querySelector('.name')?.textContent === name);
  if (row) markRow(row, note);
}

// Marks the row of a property just added or changed, says the outcome
// beside it and gives it the focus, so that a long list keeps its place.
function markRow(row, note) {
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
$('known-add').addEventListener('click', () => openProperty('add', null, kind));

// What the dialog changed: only the rows concerned are drawn again.
function refused(error) {
  const text = failure(error);
  if (text) say('known-status', text, 'error');
}
document.addEventListener('known-saved', ({ detail }) => {
  if (!detail.added && detail.selector === listedKind) redrawRow(detail.bytes, 'Saved').catch(refused);
  else if (detail.selector === kind) loadKnown(true, detail.name, 'Added');
});
document.addEventListener('known-removed', ({ detail }) => {
  if (detail.selector === listedKind) dropRow(detail.bytes);
});
document.addEventListener('known-stale', ({ detail }) => {
  if (detail.selector === kind) loadKnown(true);
});
