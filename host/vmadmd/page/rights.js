// The rights editor of the property dialog: a read and a write box per
// access class. A right given to a class is held by every wider class too
// (the forms store it so), so those boxes show it ticked and fixed as it is
// ticked; Minimal never writes, so its write box is off; a class that may
// write what it may not read is pointed out, not refused.
import { $, el, say } from './core.js';

// The access classes from the widest to the narrowest, the order in which
// the forms lay out their read and write flags.
export const CLASSES = [
  { name: 'Server', short: 'Srv' },
  { name: 'Privileged', short: 'Priv' },
  { name: 'Trusted', short: 'Trust' },
  { name: 'Standard', short: 'Std' },
  { name: 'Restricted', short: 'Restr' },
  { name: 'Minimal', short: 'Min' },
];

// Request field of the Server class's read flag; write follows read.
export const FLAG_FIELD = 3;
const MINIMAL = CLASSES.length - 1;

function box(i, what) {
  return $('right-' + (FLAG_FIELD + 2 * i + (what === 'write' ? 1 : 0)));
}

// Redraws the implied rights and the warning from the boxes as ticked by
// hand (data-own), which an implied right shows over but does not change.
function refresh() {
  for (const what of ['read', 'write']) {
    let narrowest = -1;
    CLASSES.forEach((c, i) => {
      if (box(i, what).dataset.own) narrowest = i;
    });
    CLASSES.forEach((c, i) => {
      const b = box(i, what);
      const implied = i < narrowest;
      b.checked = implied || Boolean(b.dataset.own);
      b.disabled = implied || (what === 'write' && i === MINIMAL);
      b.title = implied ? `Implied: ${CLASSES[narrowest].name} may ${what}` : '';
    });
  }
  box(MINIMAL, 'write').checked = false;
  const blind = CLASSES.filter((c, i) => box(i, 'write').checked && !box(i, 'read').checked).map((c) => c.name);
  say('rights-note', blind.length === 0 ? ''
    : blind.join(', ') + (blind.length === 1 ? ' may' : ' may each') + ' write this property but not read it.',
  'warn');
}

export function buildRightsEditor() {
  const body = $('rights-edit-rows');
  CLASSES.forEach((c, i) => {
    const readField = FLAG_FIELD + 2 * i;
    const cell = (fieldNo, what) => {
      const id = 'right-' + fieldNo;
      const input = el('input', { type: 'checkbox', id, 'data-field': fieldNo, 'data-class': i, 'data-what': what });
      input.addEventListener('change', () => {
        input.dataset.own = input.checked ? 'yes' : '';
        refresh();
      });
      const label = i === MINIMAL && what === 'write' ? 'Minimal never writes' : c.name + ' may ' + what;
      return el('td', {}, input, el('label', { for: id, class: 'sr-only' }, label));
    };
    body.append(el('tr', {}, el('th', { scope: 'row' }, c.name), cell(readField, 'read'), cell(readField + 1, 'write')));
  });
}

// Shows stored rights: every wider class already holds a class's right.
export function setRights(read, write) {
  CLASSES.forEach((c, i) => {
    for (const [what, flags] of [['read', read], ['write', write]]) {
      box(i, what).dataset.own = flags[i] ? 'yes' : '';
    }
  });
  refresh();
}

// The read and write flags as form 2's request fields.
export function putRights(fields) {
  CLASSES.forEach((c, i) => {
    fields[FLAG_FIELD + 2 * i] = box(i, 'read').checked ? 'R' : '-';
    fields[FLAG_FIELD + 2 * i + 1] = box(i, 'write').checked ? 'W' : '-';
  });
}

export function firstRightsBox() {
  return box(0, 'read');
}
