// Named users: sign-in, journaled changes, sign-out, removal and the idle time.
import { execFileSync, spawn } from 'node:child_process';
import path from 'node:path';
import readline from 'node:readline';
import {
  axeViolations,
  check,
  env,
  openScreen,
  page,
  provoked,
  root,
  same,
  session,
  shot,
  step,
  temp,
  typeInto,
  visible,
  vmadmd,
  waitDialog,
  waitText,
} from './harness.mjs';
import { COLOUR, colourHistory, revertButton, shownHistory } from './sets-history.steps.mjs';

// ---- named users ----------------------------------------------------------------

function vmadmdUser(...args) {
  return execFileSync(vmadmd, ['--root', root, 'user', ...args], { env, encoding: 'utf8' }).trim();
}

// What the server answers a session id, from outside the page.
async function sessionStatus(id) {
  return (await fetch(session.base + 'api/session', { headers: { Authorization: 'Bearer ' + id } })).status;
}

async function signInAs(name, userToken) {
  await typeInto('#token', userToken);
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => !document.getElementById('nav').hidden);
  await waitText('#user-name', new RegExp(`^${name}$`));
  await page.waitForNetworkIdle();
}

let alice = '';

step('a named user signs in and is named beside Sign out; the shared token no longer is', async () => {
  alice = vmadmdUser('add', 'alice');
  check(/^[0-9a-f]{64}$/.test(alice), `vmadmd user add printed no token: ${alice}`);
  provoked.push({ path: '/api/session', status: 401 });
  await typeInto('#token', session.token);
  await page.keyboard.press('Enter');
  await waitText('#login-message', /did not accept/);
  await signInAs('alice', alice);
  check(await visible('#sign-out'), 'no Sign out beside the name');
  await shot('signed-in-user', false);
});

step('a change made by a named user is journaled as theirs', async () => {
  await openScreen('history');
  await page.select('#history-kind', 'system');
  await typeInto('#history-name', COLOUR);
  await page.keyboard.press('Enter');
  await waitText('#history-caption', /^5 changes/);
  const newest = colourHistory()[0].seq;
  await (await revertButton(newest)).click();
  await waitDialog('confirm-dialog', true);
  await page.click('#confirm-yes');
  await waitText('#history-status', new RegExp(`^Reverted change ${newest}\\.`));
  const undo = colourHistory()[0];
  same([undo.actor, undo.program], ['alice', 'vmadmd'], 'the named user\'s revert in vmcfg --json history');
  same((await shownHistory())[0].who, 'alice', 'the newest row\'s actor');
});

step('signing out ends the session on the server at once', async () => {
  const id = await page.evaluate(() => sessionStorage.getItem('vmadmd.session'));
  same(await sessionStatus(id), 200, 'the session before sign-out');
  await page.click('#sign-out');
  await waitText('#login-message', /^Signed out\.$/);
  check(!(await visible('#nav')), 'the screens stay open after sign-out');
  await page.waitForFunction(() => document.getElementById('user-name').textContent === '');
  same(await sessionStatus(id), 401, 'the old session id after sign-out');
});

step('a user removed with vmadmd user rm is signed out at the next request', async () => {
  await signInAs('alice', alice);
  vmadmdUser('rm', 'alice');
  provoked.push({ path: '/api/known?', status: 401 });
  // The history screen is on show (the hash names it): the known
  // properties' listing is the next request.
  await page.click('#nav a[data-screen="known"]');
  await waitText('#login-message', /^Session expired, sign in again\.$/);
  check(!(await visible('#nav')), 'the screens stay open for a removed user');
  check(await page.evaluate(() => sessionStorage.length === 0), 'the ended session was kept');
  same(vmadmdUser('list'), '', 'the users left');
  same(await axeViolations(), [], 'axe-core on the sign-in screen');
});

step('a session left unused for the idle time ends at the next request', async () => {
  // A second console on the same root, with its own users and 3 s of idle time.
  const users = path.join(temp, 'idle.users');
  const bob = execFileSync(vmadmd, ['--root', root, '--users-file', users, 'user', 'add', 'bob'],
    { env, encoding: 'utf8' }).trim();
  const idle = spawn(vmadmd, ['--root', root, '--listen', '127.0.0.1:0', '--users-file', users,
    '--idle-minutes', '0.05'], { env, stdio: ['ignore', 'pipe', 'ignore'] });
  try {
    const first = await new Promise((resolve) => readline.createInterface({ input: idle.stdout }).once('line', resolve));
    const address = /^vmadmd: listening on (http:\/\/127\.0\.0\.1:\d+\/)/.exec(first);
    check(address, `unexpected first line from the second vmadmd: ${JSON.stringify(first)}`);
    await page.goto(address[1], { waitUntil: 'networkidle0' });
    await signInAs('bob', bob);
    await new Promise((resolve) => setTimeout(resolve, 3500));
    provoked.push({ path: '/api/', status: 401 });
    await page.click('#nav a[data-screen="history"]');
    await page.click('#nav a[data-screen="known"]');
    await waitText('#login-message', /^Session expired, sign in again\.$/);
    check(!(await visible('#nav')), 'the screens stay open after the idle time');
  } finally {
    idle.kill('SIGTERM');
  }
});
