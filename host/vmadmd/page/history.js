// The change-history screen: the journal's changes to one property set,
// newest first, each of which can be reverted after a confirmation. A
// revert that later changes would undo is refused first and offered again
// as "Revert anyway", with a confirmation of its own.
import {
  $, el, quoted, say, api, serverError, failure, markFault, clearFaults, askConfirm, setWords,
} from './core.js';
import { escaped, shownBytes } from './escapes.js';

const SET_FIELDS = {
  system: null,
  cos: { label: 'Class of service number', hint: 'A whole number, e.g. 1', number: true },
  subscriber: { label: 'Subscriber number', hint: 'A whole number, e.g. 1001', number: true },
  msgid: { label: 'Message id', hint: 'A stored message, e.g. 200001', number: true },
  file: { label: 'Platform path', hint: 'e.g. /VM/config/PropertyDefaults' },
};

// The listing on show: its query, the set in words and its rows.
let shown = null;
let listRequest = 0;
// A name the hash gave as exact bytes (percent-encoded), and the text it
// filled the name field with: kept while the field still shows that text.
let exactName = null;
// The record whose revert was refused for later changes.
let conflictSeq = 0;

// One side of a change: absent (null), hidden from the class, or its value.
function side(row, which) {
  if (row[which + '_attributes'] === null || row[which + '_attributes'] === undefined) return null;
  if (row[which + '_value'] === null) return el('span', { class: 'hidden-value' }, 'hidden');
  return el('span', { class: 'value' }, shownBytes(row, which + '_value'));
}

function copyName(row) {
  return shownBytes(row, 'name') + '#' + row.index;
}

function changeCell(row) {
  const before = side(row, 'old');
  const after = side(row, 'new');
  const cell = el('td', { class: 'col-change', 'data-label': 'What changed' },
    el('span', { class: 'op op-' + row.op }, row.op), ' ');
  if (before && after) cell.append(before, el('span', { class: 'arrow', 'aria-label': 'to' }, ' \u2192 '), after);
  else cell.append(before || after || '');
  return cell;
}

function whoCell(row) {
  const where = row.program + '@' + row.box + (row.sender_box !== null ? ' from box ' + row.sender_box : '');
  return el('td', { 'data-label': 'Who' }, el('span', { class: 'actor' }, row.actor),
    el('span', { class: 'where' }, where));
}

function historyRow(row) {
  const revert = el('button', { type: 'button', class: 'quiet small', 'data-seq': row.seq }, 'Revert');
  revert.setAttribute('aria-label', 'Revert change ' + row.seq + ' (' + copyName(row) + ')');
  revert.addEventListener('click', () => revertChange(row.seq, false));
  return el('tr', { 'data-seq': row.seq },
    el('th', { scope: 'row', class: 'col-num', 'data-label': 'Change' }, String(row.seq)),
    el('td', { class: 'col-time', 'data-label': 'Time (UTC)' }, row.time.replace('T', ' ').replace(/\.\d+Z$/, '')),
    whoCell(row),
    el('td', { class: 'col-name', 'data-label': 'Property' }, el('span', { class: 'name' }, copyName(row))),
    changeCell(row),
    el('td', { class: 'col-actions' }, el('div', { class: 'row-actions' }, revert)));
}

function render(rows, words, name) {
  const body = $('history-rows');
  body.replaceChildren(...rows.map(historyRow));
  const about = words + (name ? ' for ' + quoted(name) : '');
  if (rows.length === 0) {
    body.append(el('tr', { class: 'empty' }, el('td', { colspan: '6' }, 'No changes are recorded for ' + about + '.')));
  }
  $('history-caption').textContent = (rows.length === 1 ? '1 change' : rows.length + ' changes') +
    ' to ' + about + ', newest first';
}

// The query of the form, or null after marking the field at fault.
function formQuery() {
  clearFaults($('history-form'));
  const kind = $('history-kind').value;
  const which = $('history-which').value.trim();
  let query = kind;
  if (kind !== 'system') {
    const number = SET_FIELDS[kind].number;
    if (!which || (number && !/^\d+$/.test(which))) {
      markFault($('history-which'), 'history-status');
      say('history-status', SET_FIELDS[kind].label + ': ' +
          (number ? 'give a whole number.' : 'give the file\u2019s platform path.'), 'error');
      $('history-which').focus();
      return null;
    }
    query += '=' + encodeURIComponent(which);
  }
  const name = $('history-name').value;
  const exact = exactName && exactName.text === name ? exactName.param : encodeURIComponent(name);
  if (name) query += '&name=' + exact;
  return { query, words: setWords(kind, which), name };
}

// Lists the changes the form names; keepStatus leaves the last outcome on show.
async function loadHistory(keepStatus) {
  const wanted = formQuery();
  if (!wanted) return false;
  const ticket = ++listRequest;
  const section = $('screen-history');
  section.setAttribute('aria-busy', 'true');
  if (!keepStatus) say('history-status', 'Loading\u2026', '');
  try {
    const reply = await api('GET', '/api/history?' + wanted.query);
    if (ticket !== listRequest) return false;
    if (reply.status !== 200 || !Array.isArray(reply.data)) throw serverError(reply);
    shown = { ...wanted, rows: reply.data };
    render(reply.data, wanted.words, wanted.name);
    if (!keepStatus) say('history-status', '', '');
    return true;
  } catch (error) {
    if (ticket !== listRequest) return false;
    const text = failure(error);
    if (text) say('history-status', 'The history could not be read: ' + text, 'error');
    return false;
  } finally {
    if (ticket === listRequest) section.removeAttribute('aria-busy');
  }
}

function showWhich() {
  const fields = SET_FIELDS[$('history-kind').value];
  $('history-which-field').hidden = !fields;
  if (!fields) return;
  $('history-which-label').textContent = fields.label;
  $('history-which-hint').textContent = fields.hint;
}

function showConflict(seq) {
  conflictSeq = seq;
  $('history-conflict').hidden = !seq;
  if (seq) $('history-force').textContent = 'Revert change ' + seq + ' anyway';
}

// The record in words for a confirmation: its first change on show.
function recordWords(seq) {
  const first = shown ? shown.rows.find((r) => r.seq === seq) : undefined;
  if (!first) return 'change ' + seq;
  const what = { added: 'the addition of', removed: 'the removal of' }[first.op] || 'the change to';
  return 'change ' + seq + ', ' + what + ' ' + copyName(first) + ' by ' + first.actor;
}

// What a revert will do, from the server's dry run of it: one save may have
// changed more than the listing shows (a name filter, a page cut), and all
// of it is put back.
function undoWords(rows) {
  if (rows.length === 0) return 'Every property is already as before the change: nothing will change.';
  const words = rows.slice(0, 6).map((r) => {
    const value = r.new_value === null ? 'hidden' : quoted(shownBytes(r, 'new_value'));
    if (r.op === 'removed') return copyName(r) + ' removed';
    return copyName(r) + (r.op === 'added' ? ' put back as ' : ' back to ') + value;
  });
  const more = rows.length > 6 ? ', and ' + (rows.length - 6) + ' more' : '';
  return 'It will set ' + words.join('; ') + more + ', as a new change.';
}

function confirmRevert(seq, force, rows) {
  const text = 'Revert ' + recordWords(seq) + (force ? ' although later changes touched the same properties?' : '?');
  return askConfirm({ title: force ? 'Revert anyway' : 'Revert a change', text, detail: undoWords(rows),
    yes: force ? 'Revert anyway' : 'Revert' });
}

// A refusal of a revert or its dry run: a conflict is shown with the offer
// to force it (true), anything else but success is thrown.
function refused(seq, reply) {
  if (reply.status === 409 && reply.data && typeof reply.data.error === 'string') {
    say('history-status', 'Change ' + seq + ' was not reverted: ' + reply.data.error, 'error');
    showConflict(seq);
    return true;
  }
  if (reply.status !== 200 || !reply.data || !Array.isArray(reply.data.rows)) throw serverError(reply);
  return false;
}

async function revertChange(seq, force) {
  try {
    const trial = await api('POST', '/api/revert', { seq, force, dry_run: true });
    if (refused(seq, trial)) return;
    if (!(await confirmRevert(seq, force, trial.data.rows))) {
      say('history-status', 'Nothing reverted.', '');
      return;
    }
    if (refused(seq, await api('POST', '/api/revert', { seq, force }))) return;
    showConflict(0);
    say('history-status', 'Reverted change ' + seq + '.', 'ok');
    await loadHistory(true);
  } catch (error) {
    const text = failure(error);
    if (text) say('history-status', text, 'error');
  } finally {
    $('history-status').focus();
  }
}

// Fills the form from a query as the hash carries it ("file=PATH&name=N",
// percent-encoded bytes), then lists it.
function applyQuery(text) {
  exactName = null;
  for (const part of text.split('&')) {
    const [key, raw = ''] = part.split('=');
    let value;
    try {
      value = decodeURIComponent(raw);
    } catch (e) {
      value = escaped(Uint8Array.from(raw.match(/%[0-9a-f]{2}|[^%]/gi) || [],
        (c) => (c.length === 3 ? parseInt(c.slice(1), 16) : c.charCodeAt(0))));
    }
    if (key in SET_FIELDS) {
      $('history-kind').value = key;
      $('history-which').value = key === 'system' ? '' : value;
    } else if (key === 'name') {
      $('history-name').value = value;
      exactName = { text: value, param: raw };
    }
  }
  showWhich();
}

// Shows the screen: a query from the hash replaces the form's choice.
export function enterHistory(hashQuery, entering) {
  if (hashQuery) {
    applyQuery(hashQuery);
    // The hash goes back to the bare screen, so that the same link opens
    // the same listing again from elsewhere.
    history.replaceState(null, '', '#history');
  }
  if (hashQuery || (entering && shown)) {
    showConflict(0);
    loadHistory();
  } else if (entering) {
    $('history-kind').focus();
  }
}

$('history-kind').addEventListener('change', () => {
  showWhich();
  clearFaults($('history-form'));
});
$('history-form').addEventListener('submit', (event) => {
  event.preventDefault();
  showConflict(0);
  loadHistory();
});
$('history-force').addEventListener('click', () => revertChange(conflictSeq, true));
showWhich();
