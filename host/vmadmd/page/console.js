// The configuration console: drives the administration forms through the
// server's JSON API. This module signs in and out and shows the screens; each
// screen lives in a module of its own.
import {
  $, say, api, serverError, failure, markFault, session, SESSION_KEY, sentence,
} from './core.js';
import { loadKnown, rightsHead, buildRightsEditor } from './known.js';
import { loadFeatures } from './features.js';
import { enterParams } from './params.js';
import { enterHistory } from './history.js';
import { enterSets } from './sets.js';

// ---- screens and sign-in --------------------------------------------------

const SCREENS = ['known', 'sets', 'features', 'params', 'history'];
let current = '';

// The screen the hash names ("#history?file=PATH&name=N": the part after
// "?" is for the screen).
function screenFromHash() {
  const name = location.hash.replace(/^#/, '').split('?')[0];
  return SCREENS.includes(name) ? name : 'known';
}

function hashQuery() {
  const hash = location.hash;
  const mark = hash.indexOf('?');
  return mark < 0 ? '' : hash.slice(mark + 1);
}

function showScreen(name, focus) {
  const signedIn = session.id !== '';
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
    else if (name === 'params') enterParams();
  }
  if (focus && name !== 'params') $('main').focus();
  if (name === 'history') enterHistory(hashQuery(), entering);
  if (name === 'sets') enterSets(entering);
}

function endSession(message) {
  session.id = '';
  session.user = '';
  current = '';
  sessionStorage.removeItem(SESSION_KEY);
  $('root-path').textContent = '';
  $('user-name').textContent = '';
  for (const dialog of document.querySelectorAll('dialog[open]')) dialog.close();
  showScreen('', false);
  say('login-message', message || '', message ? 'warn' : '');
  $('token').value = '';
  $('token').focus();
}

function showSession(info) {
  const root = info && typeof info.root === 'string' ? info.root : '';
  $('root-path').textContent = root ? 'Platform root ' + root : '';
  session.user = info && typeof info.user === 'string' ? info.user : '';
  $('user-name').textContent = session.user;
}

// Signs in with a token: the server answers a session whose id stands in
// for the token from then on.
async function signIn(token) {
  const reply = await api('POST', '/api/session', { token }, '');
  if (reply.status === 401) return 'rejected';
  if (reply.status !== 200 || !reply.data || typeof reply.data.session !== 'string') throw serverError(reply);
  session.id = reply.data.session;
  sessionStorage.setItem(SESSION_KEY, session.id);
  showSession(reply.data);
  return 'ok';
}

// Takes up the session kept from before a reload; the server's words when
// it has ended.
async function resume(id) {
  const reply = await api('GET', '/api/session', undefined, id);
  if (reply.status === 401) {
    const said = reply.data && typeof reply.data.error === 'string' ? sentence(reply.data.error) : '';
    return said || 'The session has ended. Sign in again.';
  }
  if (reply.status !== 200) throw serverError(reply);
  showSession(reply.data);
  return '';
}

$('login-form').addEventListener('submit', async (event) => {
  event.preventDefault();
  const input = $('token');
  const candidate = input.value.trim();
  input.classList.remove('fault');
  input.removeAttribute('aria-invalid');
  if (!candidate) {
    markFault(input, 'login-message');
    say('login-message', 'Paste your access token first.', 'error');
    return;
  }
  const button = event.target.querySelector('button[type=submit]');
  button.disabled = true;
  say('login-message', 'Checking the token\u2026', '');
  try {
    if ((await signIn(candidate)) === 'rejected') {
      markFault(input, 'login-message');
      say('login-message', 'The server did not accept that token. Copy it again (from vmadmd user add, ' +
          'or the token file when there are no named users) and make sure it belongs to this server.', 'error');
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

// The server ends the session at once, so its id is worth nothing after;
// the page signs out even when the server cannot be reached.
$('sign-out').addEventListener('click', async () => {
  const id = session.id;
  endSession('Signed out.');
  try {
    await api('DELETE', '/api/session', undefined, id);
  } catch (error) {
    say('login-message', 'Signed out here, but the server could not be told: ' + failure(error), 'warn');
  }
});

window.addEventListener('hashchange', () => {
  if (session.id) showScreen(screenFromHash(), true);
});


// ---- start ----------------------------------------------------------------

rightsHead();
buildRightsEditor();

session.ended = endSession;

async function start() {
  if (!session.id) {
    showScreen('', false);
    $('token').focus();
    return;
  }
  try {
    const ended = await resume(session.id);
    if (ended) {
      endSession(ended);
      return;
    }
    showScreen(screenFromHash(), false);
  } catch (error) {
    const text = failure(error);
    if (text) endSession(text);
  }
}

start();
