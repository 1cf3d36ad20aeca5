// The configuration console: drives the administration forms through the
// server's JSON API. Every text that comes from the server or the platform is
// placed with textContent or text nodes, never parsed as markup.
'use strict';

(() => {
  const TOKEN_KEY = 'vmadmd.token';

  // Form 1 lists four properties a reply, 17 fields each; the name of the
  // fourth comes back in fields 52 and 53 and asks for the next page.
  const LIST_FORM = 1;
  const PROPERTY_FORM = 2;
  const FEATURE_FORM = 3;
  const ENTRY_FIELDS = 17;
  const ENTRIES = 4;
  const START_FIELD = 52;
  const MORE_FOLLOW = 501;
  const NAME_SPLIT = 70;
  const FLAG_FIELD = 3;
  const FIRST_FORWARDABLE = 15;
  const CONFIRM_RESULT = 1037;
  const CONFIRM_RVAL = 4;
  const SYSTEM_PROPERTY_FAILED = 1190;
  const DISABLE_DELIVERY_ROW = 5;
  // Each kind's defaults file: its known properties and their default values.
  const DEFAULTS_FILE = {
    SYSTEM: '/VM/config/sys_prop_db.defaults', MESSAGE: '/VM/config/PropertyDefaults',
    COS: '/VM/config/COSPropertyDefaults', SUBSCRIBER: '/VM/config/SubscriberPropertyDefaults',
  };
  // Rows that may not both be on: Call Answer Disclaimer and Tandem Mailbox.
  const INCOMPATIBLE_ROWS = [0, 2];
  // The form's answer to a confirmed change whose marker or command failed.
  const FEATURE_FAILED = 1;
  const FEATURE_ROWS = 7;
  const ALREADY_TAKEN = 3;

  // The access classes from the widest to the narrowest, the order in which
  // the forms lay out their read and write flags.
  const CLASSES = [
    { name: 'Server', short: 'Srv' },
    { name: 'Privileged', short: 'Priv' },
    { name: 'Trusted', short: 'Trust' },
    { name: 'Standard', short: 'Std' },
    { name: 'Restricted', short: 'Restr' },
    { name: 'Minimal', short: 'Min' },
  ];

  const KIND_WORDS = {
    MESSAGE: 'message',
    SYSTEM: 'system',
    COS: 'class of service',
    SUBSCRIBER: 'subscriber',
  };

  const $ = (id) => document.getElementById(id);

  // An element with attributes and children; strings become text nodes.
  function el(tag, attrs, ...children) {
    const node = document.createElement(tag);
    for (const [key, value] of Object.entries(attrs || {})) {
      if (value === false || value === null || value === undefined) continue;
      if (key === 'class') node.className = value;
      else if (key === 'text') node.textContent = value;
      else node.setAttribute(key, value === true ? '' : String(value));
    }
    for (const child of children) {
      if (child === null || child === undefined || child === false) continue;
      node.append(typeof child === 'string' ? document.createTextNode(child) : child);
    }
    return node;
  }

  function quoted(text) {
    return '\u201c' + text + '\u201d';
  }

  // A status line: kind is 'ok', 'error', 'warn' or '' (neutral).
  function say(target, text, kind) {
    const node = typeof target === 'string' ? $(target) : target;
    node.textContent = text || '';
    node.classList.remove('ok', 'error', 'warn');
    if (kind) node.classList.add(kind);
  }

  // ---- talking to the server ------------------------------------------------

  class SessionEnded extends Error {}

  class ApiError extends Error {}

  let token = sessionStorage.getItem(TOKEN_KEY) || '';

  async function api(method, path, body, withToken) {
    const headers = { Authorization: 'Bearer ' + (withToken !== undefined ? withToken : token) };
    const init = { method, headers, cache: 'no-store', credentials: 'omit' };
    if (body !== undefined) {
      headers['Content-Type'] = 'application/json';
      init.body = JSON.stringify(body);
    }
    let response;
    try {
      response = await fetch(path, init);
    } catch (e) {
      throw new ApiError('The server cannot be reached. Is vmadmd still running?');
    }
    let data = null;
    try {
      data = await response.json();
    } catch (e) {
      data = null;
    }
    if (response.status === 401 && withToken === undefined) {
      endSession('The server no longer accepts this token (it may have been restarted). Sign in again.');
      throw new SessionEnded('signed out');
    }
    return { status: response.status, data };
  }

  function serverError(reply) {
    const said = reply.data && typeof reply.data.error === 'string' ? reply.data.error : '';
    if (!said) return new ApiError('The server answered with status ' + reply.status + '.');
    return new ApiError((reply.status >= 500 ? 'The server could not answer: ' : 'The server refused the request: ') +
      sentence(said));
  }

  // Field values are bytes; JSON carries UTF-8. Bytes that are not UTF-8
  // travel as hexadecimal in raw_fields, both ways, so no name is altered.
  const utf8 = new TextEncoder();
  const strictText = new TextDecoder('utf-8', { fatal: true });
  const shownText = new TextDecoder('utf-8');

  function hexOf(bytes) {
    return Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('');
  }

  function bytesOfHex(hex) {
    const bytes = new Uint8Array(hex.length / 2);
    for (let i = 0; i < bytes.length; ++i) bytes[i] = parseInt(hex.substr(2 * i, 2), 16);
    return bytes;
  }

  function joinBytes(first, rest) {
    const bytes = new Uint8Array(first.length + rest.length);
    bytes.set(first);
    bytes.set(rest, first.length);
    return bytes;
  }

  // One form request; fields by number, each text or bytes (a Uint8Array).
  // Resolves to the form's answer.
  async function form(number, op, fields) {
    const body = { fields: {}, raw_fields: {} };
    for (const [key, value] of Object.entries(fields)) {
      if (!(value instanceof Uint8Array)) body.fields[String(key)] = String(value);
      else {
        try {
          body.fields[String(key)] = strictText.decode(value);
        } catch (e) {
          body.raw_fields[String(key)] = hexOf(value);
        }
      }
    }
    const reply = await api('POST', '/api/forms/' + number + '/' + op, body);
    if (reply.status !== 200 || !reply.data || !Array.isArray(reply.data.fields)) throw serverError(reply);
    return reply.data;
  }

  function field(answer, n) {
    const value = answer.fields[n];
    return typeof value === 'string' ? value : '';
  }

  // A reply field's bytes, whole even where its text had to be replaced.
  function fieldBytes(answer, n) {
    const raw = answer.raw_fields && answer.raw_fields[String(n)];
    return typeof raw === 'string' ? bytesOfHex(raw) : utf8.encode(field(answer, n));
  }

  // The words for a form's refusal: the server's text of the ecode, else its number.
  function refusalText(answer) {
    if (answer.message) return sentence(answer.message);
    return 'The form refused the request (result ' + answer.result + ', message ' + answer.ecode + ').';
  }

  function sentence(text) {
    const trimmed = String(text).trim();
    if (!trimmed) return '';
    const first = trimmed.charAt(0).toUpperCase() + trimmed.slice(1);
    return /[.!?]$/.test(first) ? first : first + '.';
  }

  function failure(error) {
    if (error instanceof SessionEnded) return null;
    return error instanceof ApiError ? error.message : 'Something went wrong: ' + error.message;
  }

  // ---- screens and sign-in --------------------------------------------------

  const SCREENS = ['known', 'features', 'params'];
  let current = '';

  function screenFromHash() {
    const name = location.hash.replace(/^#/, '');
    return SCREENS.includes(name) ? name : 'known';
  }

  function showScreen(name, focus) {
    const signedIn = token !== '';
    $('nav').hidden = !signedIn;
    $('screen-login').hidden = signedIn;
    for (const screen of SCREENS) $('screen-' + screen).hidden = !signedIn || screen !== name;
    for (const link of document.querySelectorAll('#nav a[data-screen]')) {
      if (link.dataset.screen === name) link.setAttribute('aria-current', 'page');
      else link.removeAttribute('aria-current');
    }
    if (!signedIn) {
      document.title = 'Sign in \u2013 Configuration console';
      return;
    }
    const heading = $(name + '-title');
    document.title = heading.textContent + ' \u2013 Configuration console';
    const entering = current !== name;
    current = name;
    if (entering) {
      if (name === 'known') loadKnown();
      else if (name === 'features') loadFeatures();
      else if (name === 'params') $('param-key').focus();
    }
    if (focus && name !== 'params') $('main').focus();
  }

  function endSession(message) {
    token = '';
    current = '';
    sessionStorage.removeItem(TOKEN_KEY);
    $('root-path').textContent = '';
    for (const dialog of document.querySelectorAll('dialog[open]')) dialog.close();
    showScreen('', false);
    say('login-message', message || '', message ? 'warn' : '');
    $('token').value = '';
    $('token').focus();
  }

  function showSession(info) {
    const root = info && typeof info.root === 'string' ? info.root : '';
    $('root-path').textContent = root ? 'Platform root ' + root : '';
  }

  async function signIn(candidate) {
    const reply = await api('GET', '/api/session', undefined, candidate);
    if (reply.status === 401) return 'rejected';
    if (reply.status !== 200) throw serverError(reply);
    token = candidate;
    sessionStorage.setItem(TOKEN_KEY, token);
    showSession(reply.data);
    return 'ok';
  }

  $('login-form').addEventListener('submit', async (event) => {
    event.preventDefault();
    const input = $('token');
    const candidate = input.value.trim();
    input.classList.remove('fault');
    input.removeAttribute('aria-invalid');
    if (!candidate) {
      markFault(input, 'login-message');
      say('login-message', 'Paste the token from the token file first.', 'error');
      return;
    }
    const button = event.target.querySelector('button[type=submit]');
    button.disabled = true;
    say('login-message', 'Checking the token\u2026', '');
    try {
      if ((await signIn(candidate)) === 'rejected') {
        markFault(input, 'login-message');
        say('login-message', 'The server did not accept that token. Copy it again from the token file ' +
            'and make sure it belongs to this server.', 'error');
        input.select();
        return;
      }
      say('login-message', '', '');
      input.value = '';
      showScreen(screenFromHash(), true);
    } catch (error) {
      const text = failure(error);
      if (text) say('login-message', text, 'error');
    } finally {
      button.disabled = false;
    }
  });

  $('sign-out').addEventListener('click', () => endSession('Signed out.'));

  window.addEventListener('hashchange', () => {
    if (token) showScreen(screenFromHash(), true);
  });

  // ---- the field at fault ---------------------------------------------------

  function markFault(node, messageId) {
    node.classList.add('fault');
    node.setAttribute('aria-invalid', 'true');
    if (messageId) node.setAttribute('aria-errormessage', messageId);
  }

  function clearFaults(scope) {
    for (const node of scope.querySelectorAll('.fault')) {
      node.classList.remove('fault');
      node.removeAttribute('aria-invalid');
      node.removeAttribute('aria-errormessage');
    }
  }

  // ---- known properties -----------------------------------------------------

  let kind = 'MESSAGE';
  let knownRequest = 0;
  let knownRows = [];

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

  class Refused extends Error {
    constructor(answer) {
      super(refusalText(answer));
      this.answer = answer;
    }
  }

  // Form 1's listing of a kind, page after page to the end.
  async function listKnown(selector) {
    const rows = [];
    const request = { 0: selector };
    for (;;) {
      const answer = await form(LIST_FORM, 'list', request);
      if (answer.result !== 0) throw new Refused(answer);
      for (let entry = 0; entry < ENTRIES; ++entry) {
        const known = fromReply(answer, entry * ENTRY_FIELDS);
        if (!known.name) break;
        rows.push(known);
      }
      if (answer.ecode !== MORE_FOLLOW) return rows;
      const next = [fieldBytes(answer, START_FIELD), fieldBytes(answer, START_FIELD + 1)];
      const after = joinBytes(next[0], next[1]);
      if (request[START_FIELD] && hexOf(after) === hexOf(joinBytes(request[START_FIELD], request[START_FIELD + 1]))) {
        throw new ApiError('The listing does not advance past ' + quoted(shownText.decode(after)) + '.');
      }
      request[START_FIELD] = next[0];
      request[START_FIELD + 1] = next[1];
    }
  }

  // The access-class labels of a rights grid.
  function classLabels() {
    return CLASSES.map((c) => el('span', { class: 'g-class', title: c.name },
      el('span', { class: 'long' }, c.name), el('span', { class: 'short' }, c.short)));
  }

  function rightsHead() {
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
    const remove = el('button', { type: 'button', class: 'quiet small danger', 'data-action': 'remove' }, 'Remove');
    change.setAttribute('aria-label', 'Change ' + known.name);
    remove.setAttribute('aria-label', 'Remove ' + known.name);
    change.addEventListener('click', () => openProperty('change', known));
    remove.addEventListener('click', () => removeProperty(known));
    return el('tr', {},
      name,
      el('td', { class: 'col-rights' }, rightsGrid(known)),
      el('td', { class: 'col-num', 'data-label': 'Forwardable' }, known.forwardable ? 'yes' : 'no'),
      el('td', { class: 'col-num', 'data-label': 'Version' }, known.version),
      el('td', { class: 'col-num', 'data-label': 'Type' }, known.type),
      el('td', { class: 'col-actions' }, el('div', { class: 'row-actions' }, change, remove)));
  }

  // rowKind: the kind the rows were listed for. Each row's actions act on
  // that kind, whatever is selected by the time they are clicked.
  function renderKnown(rows, rowKind) {
    for (const known of rows) known.kind = rowKind;
    knownRows = rows;
    const body = $('known-rows');
    body.replaceChildren(...rows.map(knownRow));
    if (rows.length === 0) {
      body.append(el('tr', { class: 'empty' }, el('td', { colspan: '6' }, 'This kind has no known properties.')));
    }
    const count = rows.length === 1 ? '1 known property' : rows.length + ' known properties';
    $('known-caption').textContent = count + ' of the ' + KIND_WORDS[rowKind] + ' kind (' + rowKind + ')';
  }

  // Reloads the listing; keepStatus leaves the last outcome on show.
  async function loadKnown(keepStatus, highlight) {
    const ticket = ++knownRequest;
    const selector = kind;
    const section = $('screen-known');
    section.setAttribute('aria-busy', 'true');
    if (!keepStatus) say('known-status', 'Loading\u2026', '');
    // Rows of the old listing wait until the new one is drawn.
    setRowsDisabled(true);
    try {
      const rows = await listKnown(selector);
      if (ticket !== knownRequest) return;
      renderKnown(rows, selector);
      if (!keepStatus) say('known-status', '', '');
      if (highlight !== undefined) highlightRow(highlight);
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

  function highlightRow(name) {
    const index = knownRows.findIndex((k) => k.name === name);
    if (index < 0) return;
    const row = $('known-rows').rows[index];
    row.classList.add('fresh');
    row.scrollIntoView({ block: 'nearest' });
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

  function buildRightsEditor() {
    const body = $('rights-edit-rows');
    CLASSES.forEach((c, i) => {
      const readField = FLAG_FIELD + 2 * i;
      const box = (fieldNo, what) => {
        const id = 'right-' + fieldNo;
        return el('td', {},
          el('input', { type: 'checkbox', id, 'data-field': fieldNo, 'data-class': i, 'data-what': what }),
          el('label', { for: id, class: 'sr-only' }, c.name + ' may ' + what));
      };
      body.append(el('tr', {}, el('th', { scope: 'row' }, c.name), box(readField, 'read'), box(readField + 1, 'write')));
    });
  }

  function checkbox(fieldNo) {
    return dialog.querySelector('input[data-field="' + fieldNo + '"]');
  }

  function fillDialog(known) {
    $('prop-name').value = known.name;
    CLASSES.forEach((c, i) => {
      checkbox(FLAG_FIELD + 2 * i).checked = known.read[i];
      checkbox(FLAG_FIELD + 2 * i + 1).checked = known.write[i];
    });
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
    CLASSES.forEach((c, i) => {
      fields[FLAG_FIELD + 2 * i] = checkbox(FLAG_FIELD + 2 * i).checked ? 'R' : '-';
      fields[FLAG_FIELD + 2 * i + 1] = checkbox(FLAG_FIELD + 2 * i + 1).checked ? 'W' : '-';
    });
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
  // copy), or '' when there is none or it cannot be read.
  async function storedDefault(selector, bytes) {
    try {
      const reply = await api('GET', '/api/props?file=' + encodeURIComponent(DEFAULTS_FILE[selector]));
      if (reply.status !== 200 || !Array.isArray(reply.data)) return '';
      const wanted = hexOf(bytes);
      const copy = reply.data.find((p) => (p.name_hex || hexOf(utf8.encode(p.name))) === wanted);
      return copy ? copy.value : '';
    } catch (error) {
      if (error instanceof SessionEnded) throw error;
      return '';
    }
  }

  async function openProperty(mode, known) {
    dialogMode = mode;
    dialogBytes = known ? known.bytes : null;
    resetDialog();
    say('prop-default-note', '', '');
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
      const value = await storedDefault(selector, known.bytes);
      if (value) {
        say('prop-default-note', 'Its default value is ' + quoted(value) +
          ': saving the definition clears it.', 'warn');
      }
      $('property-title').textContent = 'Change a known property';
      $('property-save').textContent = 'Save';
      name.readOnly = true;
      fillDialog(fresh);
      dialog.showModal();
      checkbox(FLAG_FIELD).focus();
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
      say('known-status', (dialogMode === 'add' ? 'Added ' : 'Saved ') + quoted(name) + ' in the ' +
          KIND_WORDS[selector] + ' kind.', 'ok');
      if (selector === kind) loadKnown(true, name);
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

  // ---- confirmation ---------------------------------------------------------

  const confirmBox = $('confirm-dialog');

  function askConfirm(options) {
    return new Promise((resolve) => {
      $('confirm-title').textContent = options.title;
      $('confirm-text').textContent = options.text;
      $('confirm-detail').textContent = options.detail || '';
      $('confirm-yes').textContent = options.yes || 'Confirm';
      confirmBox.returnValue = '';
      const closed = () => {
        confirmBox.removeEventListener('close', closed);
        resolve(confirmBox.returnValue === 'yes');
      };
      confirmBox.addEventListener('close', closed);
      confirmBox.showModal();
      (options.focusYes ? $('confirm-yes') : $('confirm-no')).focus();
    });
  }

  // Closed by hand rather than by the form's dialog method, which a strict
  // form-action policy may treat as a submission.
  $('confirm-form').addEventListener('submit', (event) => {
    event.preventDefault();
    confirmBox.close('yes');
  });
  $('confirm-no').addEventListener('click', () => confirmBox.close('no'));

  // ---- features (form 3) ----------------------------------------------------

  let featureBusy = false;

  // The rows a get of the form lists: row number, question, setting.
  async function readFeatures() {
    const answer = await form(FEATURE_FORM, 'get', {});
    if (answer.result !== 0) throw new Refused(answer);
    const rows = [];
    for (let f = 1; f + 2 < answer.fields.length; f += 3) {
      const number = field(answer, f).trim();
      if (!/^\d+$/.test(number)) break;
      const row = Number(number);
      if (row >= FEATURE_ROWS) break;
      rows.push({ row, question: field(answer, f + 1), on: field(answer, f + 2) === 'y' });
    }
    return rows;
  }

  function featureItem(feature) {
    const state = el('span', { class: 'state ' + (feature.on ? 'on' : 'off') }, feature.on ? 'On' : 'Off');
    const button = el('button', { type: 'button', class: 'switch', 'data-row': feature.row },
      feature.on ? 'Switch off' : 'Switch on');
    button.setAttribute('aria-label', (feature.on ? 'Switch off: ' : 'Switch on: ') + feature.question);
    // Busy switches stay focusable, so the keyboard keeps its place.
    if (featureBusy) button.setAttribute('aria-disabled', 'true');
    button.addEventListener('click', () => switchFeature(feature.row, !feature.on));
    return el('li', { class: 'feature', 'data-row': feature.row },
      el('div', { class: 'feature-text' },
        el('span', { class: 'feature-question' }, feature.question),
        el('span', { class: 'feature-row' }, 'Row ' + feature.row)),
      el('div', { class: 'feature-control' }, state, button));
  }

  function renderFeatures(rows) {
    // Keep the keyboard where it was: on the same row's switch.
    const focused = document.activeElement;
    const list = $('features-list');
    const focusedRow = list.contains(focused) && focused.dataset ? focused.dataset.row : undefined;
    list.replaceChildren(...rows.map(featureItem));
    if (focusedRow !== undefined) {
      const again = list.querySelector('button[data-row="' + focusedRow + '"]');
      if (again) again.focus();
    }
    const offered = new Set(rows.map((r) => r.row));
    const missing = [];
    for (let row = 0; row < FEATURE_ROWS; ++row) if (!offered.has(row)) missing.push(row);
    $('features-note').textContent = missing.length === 0 ? ''
      : (missing.length === 1 ? 'Row ' + missing[0] + ' is' : 'Rows ' + missing.join(', ') + ' are') +
        ' not offered: the configuration parameter file decides ' + (missing.length === 1 ? 'it.' : 'them.');
  }

  async function loadFeatures(keepStatus) {
    if (!keepStatus) say('features-status', 'Loading\u2026', '');
    try {
      const rows = await readFeatures();
      renderFeatures(rows);
      if (!keepStatus) say('features-status', '', '');
      return rows;
    } catch (error) {
      const text = failure(error);
      if (text) say('features-status', 'The features could not be read: ' + text, 'error');
      return null;
    }
  }

  function setFeatureBusy(busy) {
    featureBusy = busy;
    if (busy) $('screen-features').setAttribute('aria-busy', 'true');
    else $('screen-features').removeAttribute('aria-busy');
    for (const button of document.querySelectorAll('#features-list button')) {
      if (busy) button.setAttribute('aria-disabled', 'true');
      else button.removeAttribute('aria-disabled');
    }
  }

  // The words for the confirmed change's answer, and how it went.
  function featureOutcome(feature, on, answer) {
    const name = quoted(feature.question);
    const now = on ? 'on' : 'off';
    if (answer.rval === 2 && answer.result === 0) return [name + ' is now ' + now + '.', 'ok'];
    if (answer.rval === 2 && answer.result === SYSTEM_PROPERTY_FAILED) {
      const property = feature.row === DISABLE_DELIVERY_ROW ? 'the system property \u201cORVEX DISABLE MESSAGE DELIVERY\u201d'
                                                              : 'its system property';
      return [name + ' is now ' + now + ', but ' + property + ' was not updated.', 'warn'];
    }
    return [name + ' was not switched ' + now + '. ' + refusalText(answer), 'error'];
  }

  // The form's exchange for one switch: the change, which the form answers
  // with a request to confirm, then the same change confirmed.
  async function exchange(feature, on, rows) {
    // The form finds an incompatible pair only after the confirmation: say so
    // before asking.
    const other = INCOMPATIBLE_ROWS.includes(feature.row) && on
      ? rows.find((r) => r.on && r.row !== feature.row && INCOMPATIBLE_ROWS.includes(r.row)) : undefined;
    if (other) {
      return [quoted(feature.question) + ' cannot be switched on while ' + quoted(other.question) +
        ' is on: switch that off first.', 'error'];
    }
    const request = { 1: String(feature.row), 3: on ? 'y' : 'n' };
    const asked = await form(FEATURE_FORM, 'chg', request);
    if (asked.result !== CONFIRM_RESULT && asked.rval !== CONFIRM_RVAL) {
      if (asked.result === 0) return ['Nothing changed: the form saw no difference.', ''];
      return [quoted(feature.question) + ': ' + refusalText(asked), 'error'];
    }
    // Switching delivery off stops every subscriber's messages: Enter alone
    // must not do it.
    const disruptive = feature.row === DISABLE_DELIVERY_ROW && on;
    const yes = await askConfirm({
      title: on ? 'Switch this feature on?' : 'Switch this feature off?',
      text: feature.question,
      detail: disruptive ? 'Messages stop being delivered, for every subscriber, until this is switched off again.'
        : 'The platform applies the change at once.',
      yes: on ? 'Switch on' : 'Switch off',
      focusYes: !disruptive,
    });
    if (!yes) return ['Not confirmed: ' + quoted(feature.question) + ' stays ' + (on ? 'off' : 'on') + '.', ''];
    request[0] = 'confirm';
    const answer = await form(FEATURE_FORM, 'chg', request);
    if (answer.rval !== 2 && answer.ecode === FEATURE_FAILED) {
      // The marker may have changed before the feature command failed: tell
      // the administrator which it was.
      const after = (await readFeatures()).find((r) => r.row === feature.row);
      if (after && after.on === on) {
        return [quoted(feature.question) + ' is now ' + (on ? 'on' : 'off') +
          ', but the feature command \u201cmkgf_act\u201d failed: the platform may not apply it yet.', 'warn'];
      }
    }
    return featureOutcome(feature, on, answer);
  }

  async function switchFeature(row, on) {
    if (featureBusy) return;
    setFeatureBusy(true);
    say('features-status', '', '');
    try {
      // The form compares a change with what its last listing reported: list
      // again so that the change is judged against the settings of now.
      const rows = await loadFeatures(true);
      const feature = rows ? rows.find((r) => r.row === row) : undefined;
      if (!rows) return;
      if (!feature) say('features-status', 'Row ' + row + ' is no longer offered.', 'warn');
      else if (feature.on === on) say('features-status', quoted(feature.question) + ' is already ' + (on ? 'on.' : 'off.'), '');
      else say('features-status', ...(await exchange(feature, on, rows)));
    } catch (error) {
      const text = failure(error);
      if (text) say('features-status', text, 'error');
    } finally {
      if (token) await loadFeatures(true);
      setFeatureBusy(false);
    }
  }

  $('features-reload').addEventListener('click', () => loadFeatures());

  // ---- parameters -----------------------------------------------------------

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

  $('params-form').addEventListener('submit', async (event) => {
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
    const button = event.target.querySelector('button[type=submit]');
    button.disabled = true;
    try {
      const reply = await api('GET', '/api/params/' + encodeURIComponent(key));
      if ((reply.status === 200 || reply.status === 404) && reply.data && Array.isArray(reply.data.types)) {
        showExplain(key, reply.data);
      } else {
        $('params-answer').hidden = true;
        $('params-table').hidden = true;
        throw serverError(reply);
      }
    } catch (error) {
      const text = failure(error);
      if (text) say('params-status', text, 'error');
    } finally {
      button.disabled = false;
    }
  });

  // ---- start ----------------------------------------------------------------

  rightsHead();
  buildRightsEditor();

  async function start() {
    if (!token) {
      showScreen('', false);
      $('token').focus();
      return;
    }
    try {
      const saved = token;
      if ((await signIn(saved)) === 'rejected') {
        endSession('The saved token is no longer accepted (the server may have been restarted). Sign in again.');
        return;
      }
      showScreen(screenFromHash(), false);
    } catch (error) {
      const text = failure(error);
      if (text) endSession(text);
    }
  }

  start();
})();
