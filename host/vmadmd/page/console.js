// The configuration console: drives the administration forms through the
// server's JSON API. This module signs in and out and shows the screens; each
// screen lives in a module of its own.
import {
  $, say, api, serverError, failure, markFault, session, TOKEN_KEY,
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
  const signedIn = session.token !== '';
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
  session.token = '';
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
  session.token = candidate;
  sessionStorage.setItem(TOKEN_KEY, session.token);
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
  if (session.token) showScreen(screenFromHash(), true);
});


// ---- start ----------------------------------------------------------------

rightsHead();
buildRightsEditor();

session.ended = endSession;

async function start() {
  if (!session.token) {
    showScreen('', false);
    $('token').focus();
    return;
  }
  try {
    const saved = session.token;
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
