// The known-property dialog: adds and changes definitions through form 2
// (the default value a change clears kept on request) and removes them.
// What it changed is told to the listing by events on document:
// "known-saved" {selector, added, name, bytes}, "known-removed" {selector,
// bytes} and "known-stale" {selector} (read the listing again).
import {
  $, quoted, say, api, form, hexOf, refusalText, failure, markFault, clearFaults, askConfirm,
  SessionEnded,
} from './core.js';
import { CLASSES, FLAG_FIELD, setRights, putRights, firstRightsBox } from './rights.js';
import {
  PROPERTY_FORM, FIRST_FORWARDABLE, DEFAULTS_FILE, KIND_WORDS, fromReply, nameFields,
} from './knowncommon.js';
import { rowBytes } from './escapes.js';

const ALREADY_TAKEN = 3;

function tell(name, detail) {
  document.dispatchEvent(new CustomEvent(name, { detail }));
}

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
    const copy = reply.data.find((p) => hexOf(rowBytes(p, 'name')) === wanted);
    if (!copy || (!copy.value && !copy.value_hex)) return null;
    return { text: copy.value, hex: hexOf(rowBytes(copy, 'value')) };
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

// Opens the dialog to add a property to the kind `selector`, or to change
// `known`.
export async function openProperty(mode, known, selector) {
  dialogMode = mode;
  dialogBytes = known ? known.bytes : null;
  resetDialog();
  say('prop-default-note', '', '');
  dialogDefault = null;
  blanksAccepted = null;
  $('prop-keep-field').hidden = true;
  $('prop-keep-default').checked = true;
  if (known) selector = known.kind;
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
      tell('known-stale', { selector });
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
    tell('known-saved', { selector, added: dialogMode === 'add', name, bytes: dialogBytes });
  } catch (error) {
    const text = failure(error);
    if (text) say('property-message', text, 'error');
  } finally {
    save.disabled = false;
  }
});

export async function removeProperty(known) {
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
    if (answer.result !== 0) {
      say('known-status', quoted(known.name) + ' was not removed: ' + refusalText(answer), 'error');
      tell('known-stale', { selector });
    } else {
      say('known-status', 'Removed ' + quoted(known.name) + '.', 'ok');
      tell('known-removed', { selector, bytes: known.bytes });
    }
  } catch (error) {
    const text = failure(error);
    if (text) say('known-status', text, 'error');
  }
}

