// The console's shared ground: elements and status lines, the server's
// JSON API and the forms' fields, faults on fields and the confirmation
// dialog. Every text that comes from the server or the platform is placed
// with textContent or text nodes, never parsed as markup.

export const SESSION_KEY = 'vmadmd.session';

// The signed-in session's id, the bearer credential of every call ('' when
// signed out), the user's name, and what to do when the server stops
// accepting the session (set by the page's start). The token signed in with
// is never kept.
export const session = { id: sessionStorage.getItem(SESSION_KEY) || '', user: '', ended: () => {} };

export const $ = (id) => document.getElementById(id);

// An element with attributes and children; strings become text nodes.
export function el(tag, attrs, ...children) {
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

export function quoted(text) {
  return '\u201c' + text + '\u201d';
}

// A status line: kind is 'ok', 'error', 'warn' or '' (neutral).
export function say(target, text, kind) {
  const node = typeof target === 'string' ? $(target) : target;
  node.textContent = text || '';
  node.classList.remove('ok', 'error', 'warn');
  if (kind) node.classList.add(kind);
}


// ---- talking to the server ------------------------------------------------

export class SessionEnded extends Error {}

export class ApiError extends Error {}

// A call with the session's id, or with `credential` instead ('' for none:
// sign-in). A 401 on the session's own calls ends it with the server's words.
export async function api(method, path, body, credential) {
  const bearer = credential !== undefined ? credential : session.id;
  const headers = bearer ? { Authorization: 'Bearer ' + bearer } : {};
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
  if (response.status === 401 && credential === undefined) {
    const said = data && typeof data.error === 'string' ? sentence(data.error) : '';
    session.ended(said || 'The server no longer accepts this session (it may have been restarted). Sign in again.');
    throw new SessionEnded('signed out');
  }
  return { status: response.status, data };
}

export function serverError(reply) {
  const said = reply.data && typeof reply.data.error === 'string' ? reply.data.error : '';
  if (!said) return new ApiError('The server answered with status ' + reply.status + '.');
  return new ApiError((reply.status >= 500 ? 'The server could not answer: ' : 'The server refused the request: ') +
    sentence(said));
}

// Field values are bytes; JSON carries UTF-8. Bytes that are not UTF-8
// travel as hexadecimal in raw_fields, both ways, so no name is altered.
export const utf8 = new TextEncoder();
export const strictText = new TextDecoder('utf-8', { fatal: true });
export const shownText = new TextDecoder('utf-8');

export function hexOf(bytes) {
  return Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('');
}

export function bytesOfHex(hex) {
  const bytes = new Uint8Array(hex.length / 2);
  for (let i = 0; i < bytes.length; ++i) bytes[i] = parseInt(hex.substr(2 * i, 2), 16);
  return bytes;
}

export function joinBytes(first, rest) {
  const bytes = new Uint8Array(first.length + rest.length);
  bytes.set(first);
  bytes.set(rest, first.length);
  return bytes;
}

// One form request; fields by number, each text or bytes (a Uint8Array).
// Resolves to the form's answer.
export async function form(number, op, fields) {
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

export function field(answer, n) {
  const value = answer.fields[n];
  return typeof value === 'string' ? value : '';
}

// A reply field's bytes, whole even where its text had to be replaced.
export function fieldBytes(answer, n) {
  const raw = answer.raw_fields && answer.raw_fields[String(n)];
  return typeof raw === 'string' ? bytesOfHex(raw) : utf8.encode(field(answer, n));
}

// The words for a form's refusal: the server's text of the ecode, else its number.
export function refusalText(answer) {
  if (answer.message) return sentence(answer.message);
  return 'The form refused the request (result ' + answer.result + ', message ' + answer.ecode + ').';
}

export function sentence(text) {
  const trimmed = String(text).trim();
  if (!trimmed) return '';
  const first = trimmed.charAt(0).toUpperCase() + trimmed.slice(1);
  return /[.!?]$/.test(first) ? first : first + '.';
}

export function failure(error) {
  if (error instanceof SessionEnded) return null;
  return error instanceof ApiError ? error.message : 'Something went wrong: ' + error.message;
}


// ---- the field at fault ---------------------------------------------------

export function markFault(node, messageId) {
  node.classList.add('fault');
  node.setAttribute('aria-invalid', 'true');
  if (messageId) node.setAttribute('aria-errormessage', messageId);
}

export function clearFaults(scope) {
  for (const node of scope.querySelectorAll('.fault')) {
    node.classList.remove('fault');
    node.removeAttribute('aria-invalid');
    node.removeAttribute('aria-errormessage');
  }
}


// ---- confirmation ---------------------------------------------------------

export const confirmBox = $('confirm-dialog');

export function askConfirm(options) {
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

// A property set in words, as the screens' queries name it.
export function setWords(kind, which) {
  if (kind === 'system') return 'the system set';
  if (kind === 'cos') return 'class of service ' + which;
  if (kind === 'subscriber') return 'subscriber ' + which;
  if (kind === 'msgid') return 'message ' + which;
  return which;
}
