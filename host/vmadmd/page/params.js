// The parameters screen: the keys of a parameter file, where one key's value
// comes from, and the file's parse check.
import { $, el, quoted, say, api, serverError, sentence, failure, markFault, clearFaults } from './core.js';

export const DEFAULT_FILE = '/VM/config/config_params';

// The file whose keys are on show; lookups and checks are about it.
let openFile = '';
let keys = [];

const query = (file) => '?file=' + encodeURIComponent(file);

// The words for a refusal about the file: a bad path, a file that is not
// there or cannot be read.
function fileError(reply) {
  const said = reply.data && typeof reply.data.error === 'string' ? reply.data.error : '';
  if (reply.status === 400 && said) return 'That path cannot be used. ' + sentence(said);
  if (reply.status === 404 && said) return sentence(said);
  return serverError(reply).message;
}

// ---- where a value comes from ---------------------------------------------

function slotRow(slot) {
  const holds = slot.holds === true;
  const wins = slot.wins === true;
  const value = holds && slot.value !== null && slot.value !== undefined ? String(slot.value) : '';
  return el('tr', { class: wins ? 'wins' : '' },
    el('td', { class: 'col-num', 'data-label': 'Slot' }, String(slot.slot)),
    el('td', { 'data-label': 'Type' }, String(slot.type)),
    el('td', { 'data-label': 'Type\u2019s value' }, String(slot.type_value === undefined ? '' : slot.type_value)),
    el('td', { 'data-label': 'Holds the key' }, holds ? 'yes' : 'no'),
    el('td', { 'data-label': 'Value there' },
      el('span', {}, el('span', { class: 'slot-value' }, value), wins ? el('span', { class: 'badge' }, 'wins') : null)));
}

function showExplain(key, view) {
  const slots = view && Array.isArray(view.types) ? view.types : [];
  const winner = slots.find((s) => s.wins === true);
  const answer = $('params-answer');
  answer.replaceChildren();
  if (view && view.winner !== null && view.winner !== undefined && winner) {
    answer.append(el('span', { class: 'key' }, key), ' = ', el('strong', { class: 'value' }, String(view.value)),
      el('span', { class: 'source' }, 'supplied by ' + winner.type + ' = ' + winner.type_value +
        ' (slot ' + winner.slot + ')'));
    answer.classList.remove('missing');
  } else {
    answer.append('No precedence type holds ', el('span', { class: 'key' }, key), '.');
    answer.classList.add('missing');
  }
  answer.hidden = false;
  $('params-rows').replaceChildren(...slots.map(slotRow));
  $('params-table').hidden = slots.length === 0;
  if (slots.length === 0) say('params-status', 'The parameter file declares no precedence types.', 'warn');
}

// The explain view's address: a key named "check" would name the check.
function explainPath(key, file) {
  if (key === 'check') return '/api/params' + query(file) + '&key=check';
  return '/api/params/' + encodeURIComponent(key) + query(file);
}

async function lookUp(key) {
  const button = $('params-form').querySelector('button[type=submit]');
  button.disabled = true;
  say('params-status', '', '');
  try {
    const reply = await api('GET', explainPath(key, openFile || DEFAULT_FILE));
    if ((reply.status === 200 || reply.status === 404) && reply.data && Array.isArray(reply.data.types)) {
      showExplain(key, reply.data);
    } else {
      $('params-answer').hidden = true;
      $('params-table').hidden = true;
      say('params-status', fileError(reply), 'error');
    }
  } catch (error) {
    const text = failure(error);
    if (text) say('params-status', text, 'error');
  } finally {
    button.disabled = false;
  }
}

$('params-form').addEventListener('submit', (event) => {
  event.preventDefault();
  const input = $('param-key');
  const key = input.value.trim();
  clearFaults($('params-form'));
  say('params-status', '', '');
  if (!key) {
    markFault(input, 'params-status');
    say('params-status', 'Type a parameter key first.', 'error');
    input.focus();
    return;
  }
  lookUp(key);
});

// ---- the keys of the file -------------------------------------------------

function keyRow(row) {
  const open = el('button', { type: 'button', class: 'key-link', 'data-key': row.key }, row.key);
  open.addEventListener('click', () => {
    $('param-key').value = row.key;
    clearFaults($('params-form'));
    lookUp(row.key);
  });
  return el('tr', { 'data-key': row.key },
    el('th', { scope: 'row', class: 'col-key', 'data-label': 'Key' }, open),
    el('td', { class: 'col-value', 'data-label': 'Value' }, row.value),
    el('td', { class: 'col-from', 'data-label': 'From' }, row.type + ' = ' + row.type_value));
}

function renderKeys() {
  const filter = $('params-filter').value.trim().toLowerCase();
  const shown = filter ? keys.filter((k) => k.key.toLowerCase().includes(filter)) : keys;
  const rows = shown.map(keyRow);
  if (rows.length === 0) {
    rows.push(el('tr', { class: 'empty' }, el('td', { colspan: '3' },
      keys.length === 0 ? 'The file holds no keys.' : 'No key contains ' + quoted(filter) + '.')));
  }
  $('params-key-rows').replaceChildren(...rows);
  const count = (n) => n + (n === 1 ? ' key' : ' keys');
  $('params-keys-caption').textContent = filter
    ? shown.length + ' of ' + count(keys.length) + ' in ' + openFile + ' contain ' + quoted(filter)
    : count(keys.length) + ' in ' + openFile;
}

$('params-filter').addEventListener('input', renderKeys);

function closeFile(caption) {
  openFile = '';
  keys = [];
  $('params-key-rows').replaceChildren();
  $('params-keys-caption').textContent = caption;
}

// Reads the keys of a file and shows them; says in words when it cannot.
async function openKeys(file) {
  say('params-file-status', 'Reading ' + file + '\u2026', '');
  try {
    const reply = await api('GET', '/api/params' + query(file));
    if (reply.status !== 200 || !reply.data || !Array.isArray(reply.data.keys)) {
      closeFile('No file open.');
      markFault($('params-file'), 'params-file-status');
      say('params-file-status', fileError(reply), 'error');
      return false;
    }
    openFile = reply.data.file;
    keys = reply.data.keys.filter((k) => typeof k.key === 'string');
    renderKeys();
    say('params-file-status', reply.data.ok ? '' : 'The file has problems: what could be read is listed. ' +
      '\u201cCheck file\u201d shows them.', reply.data.ok ? '' : 'warn');
    return true;
  } catch (error) {
    const text = failure(error);
    if (text) say('params-file-status', text, 'error');
    return false;
  }
}

// The parameter files offered in the file field.
async function offerFiles() {
  try {
    const reply = await api('GET', '/api/paramfiles');
    if (reply.status !== 200 || !reply.data || !Array.isArray(reply.data.files)) return;
    $('params-files').replaceChildren(...reply.data.files.map((f) => el('option', { value: f })));
  } catch (error) {
    // The suggestions are a convenience: the field still takes any path.
  }
}

function chosenFile() {
  const input = $('params-file');
  clearFaults($('params-file-form'));
  const file = input.value.trim();
  if (file) return file;
  markFault(input, 'params-file-status');
  say('params-file-status', 'Type the platform path of a parameter file first.', 'error');
  input.focus();
  return '';
}

function clearCheck() {
  $('params-check-result').hidden = true;
  $('params-diagnostics').replaceChildren();
}

$('params-file-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  const file = chosenFile();
  if (!file) return;
  clearCheck();
  $('params-answer').hidden = true;
  $('params-table').hidden = true;
  say('params-status', '', '');
  await openKeys(file);
});

// ---- the check -------------------------------------------------------------

function diagnosticItem(d) {
  if (d.line === null || d.line === undefined) return el('li', { class: 'diagnostic' }, el('span', { class: 'reason' }, String(d.message)));
  return el('li', { class: 'diagnostic', 'data-line': d.line },
    el('span', { class: 'diag-line' }, 'Line ' + d.line + ': '),
    el('span', { class: 'reason' }, String(d.message)),
    el('code', { class: 'line-text' }, String(d.text)));
}

async function checkFile() {
  const file = chosenFile();
  if (!file) return;
  const button = $('params-check');
  button.disabled = true;
  clearCheck();
  try {
    const reply = await api('GET', '/api/params/check' + query(file));
    if (reply.status !== 200 || !reply.data || !Array.isArray(reply.data.diagnostics)) {
      markFault($('params-file'), 'params-file-status');
      say('params-file-status', fileError(reply), 'error');
      return;
    }
    const found = reply.data.diagnostics;
    const summary = $('params-check-summary');
    if (reply.data.ok && found.length === 0) {
      summary.textContent = reply.data.file + ': no problems found.';
      summary.className = 'check-summary ok';
    } else {
      summary.textContent = reply.data.file + ': ' + (found.length === 1 ? '1 problem' : found.length + ' problems') +
        (reply.data.ok ? '.' : '; the file does not read as a whole.');
      summary.className = 'check-summary error';
    }
    $('params-diagnostics').replaceChildren(...found.map(diagnosticItem));
    // The keys on show are those of the file checked.
    if (reply.data.file !== openFile) await openKeys(reply.data.file);
    else say('params-file-status', '', '');
    $('params-check-result').hidden = false;
    $('params-check-result').focus();
  } catch (error) {
    const text = failure(error);
    if (text) say('params-file-status', text, 'error');
  } finally {
    button.disabled = false;
  }
}

$('params-check').addEventListener('click', checkFile);

// On entering the screen: the file list and the open file's keys, as they
// are now.
export function enterParams() {
  $('param-key').focus();
  offerFiles();
  openKeys(openFile || $('params-file').value.trim() || DEFAULT_FILE);
}
