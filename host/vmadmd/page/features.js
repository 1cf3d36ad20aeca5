// The features screen: form 3's rows, switched through the form's
// confirmation.
import { $, el, quoted, say, form, field, refusalText, failure, askConfirm, session, ApiError } from './core.js';

const FEATURE_FORM = 3;
const CONFIRM_RESULT = 1037;
const CONFIRM_RVAL = 4;
const SYSTEM_PROPERTY_FAILED = 1190;
const DISABLE_DELIVERY_ROW = 5;
// Rows that may not both be on: Call Answer Disclaimer and Tandem Mailbox.
const INCOMPATIBLE_ROWS = [0, 2];
// The form's answer to a confirmed change whose marker or command failed.
const FEATURE_FAILED = 1;
const FEATURE_ROWS = 7;

// What each switch does, by row, in a line, and the marker file whose
// presence means on. The form itself gives only the question.
export const FEATURE_ABOUT = [
  { about: 'Callers hear a disclaimer when a call is answered. Cannot be on together with Tandem Mailbox.',
    marker: '/VM/config/cadisc' },
  { about: 'Call detail records are kept. When the parameter file sets \u201cNumber of CDR Files\u201d ' +
    'to a number other than 0, that decides it and the switch is not offered.', marker: '/VM/config/cdr' },
  { about: 'Tandem mailboxes can be set up. Cannot be on together with Call Answer Disclaimer.',
    marker: '/VM/config/tan_mbx' },
  { about: 'Subscribers may change their covering extension themselves.', marker: '/VM/config/covext' },
  { about: 'A message warns early when the delivery of messages runs into difficulty.',
    marker: '/VM/config/earlywarn' },
  { about: 'No message is delivered, for any subscriber, while this is on; the system property ' +
    '\u201cORVEX DISABLE MESSAGE DELIVERY\u201d follows the switch.', marker: '/VM/config/dismsgdel' },
  { about: 'Messages marked private may be forwarded.', marker: '/VM/config/fwd_pvtmsg' },
];

// ---- features (form 3) ----------------------------------------------------

let featureBusy = false;

// The rows a get of the form lists: row number, question, setting.
async function readFeatures() {
  const answer = await form(FEATURE_FORM, 'get', {});
  if (answer.result !== 0) throw new ApiError('The feature form did not list its features. ' + refusalText(answer));
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
  const about = FEATURE_ABOUT[feature.row];
  const aboutId = 'feature-about-' + feature.row;
  if (about) button.setAttribute('aria-describedby', aboutId);
  // Busy switches stay focusable, so the keyboard keeps its place.
  if (featureBusy) button.setAttribute('aria-disabled', 'true');
  button.addEventListener('click', () => switchFeature(feature.row, !feature.on));
  return el('li', { class: 'feature', 'data-row': feature.row },
    el('div', { class: 'feature-text' },
      el('span', { class: 'feature-question' }, feature.question),
      about ? el('span', { class: 'feature-about', id: aboutId }, about.about) : null,
      el('span', { class: 'feature-row' }, 'Row ' + feature.row + (about ? ' \u00b7 marker file ' + about.marker : ''))),
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

export async function loadFeatures(keepStatus) {
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
      : (FEATURE_ABOUT[feature.row] ? FEATURE_ABOUT[feature.row].about + ' ' : '') +
        'The platform applies the change at once.',
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
    if (session.id) await loadFeatures(true);
    setFeatureBusy(false);
  }
}

$('features-reload').addEventListener('click', () => loadFeatures());

