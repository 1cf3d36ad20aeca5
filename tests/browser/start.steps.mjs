// The first steps: vmadmd starts on a demo root, and the page signs in with its shared token.
import {
  atWidths,
  check,
  launch,
  page,
  provoked,
  root,
  same,
  session,
  shot,
  startServer,
  step,
  text,
  typeInto,
  visible,
  waitText,
} from './harness.mjs';

step('the server starts on the demo root and serves the page under its policy', async () => {
  Object.assign(session, await startServer());
  await launch();
  const response = await page.goto(session.base, { waitUntil: 'networkidle0' });
  check(response.status() === 200, `GET / answered ${response.status()}`);
  const policy = response.headers()['content-security-policy'] || '';
  check(/script-src 'self'/.test(policy) && /default-src 'none'/.test(policy),
    `GET / has no strict Content-Security-Policy: ${JSON.stringify(policy)}`);
  check(await visible('#token'), 'the sign-in screen does not show its token field');
  check(!(await visible('#nav')), 'the screens are offered before sign-in');
  await atWidths('the sign-in screen', 'login');
});

step('a wrong token is refused', async () => {
  provoked.push({ path: '/api/session', status: 401 });
  await page.type('#token', 'f'.repeat(64));
  await page.keyboard.press('Enter');
  await waitText('#login-message', /did not accept/);
  check(await page.$eval('#token', (n) => n.getAttribute('aria-invalid') === 'true'),
    'the refused token field is not marked');
  check(!(await visible('#nav')), 'a wrong token opened the screens');
  check(await page.evaluate(() => sessionStorage.length === 0), 'a refused token was kept');
  await shot('login-refused');
});

step('signing in with the token from the token file, with the keyboard', async () => {
  await typeInto('#token', session.token);
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => !document.getElementById('screen-known').hidden);
  await waitText('#root-path', new RegExp(root.replace(/[.*+?^${}()|[\]\\]/g, '\\$&')));
  const kept = await page.evaluate(() => sessionStorage.getItem('vmadmd.session'));
  check(/^[0-9a-f]{64}$/.test(kept) && kept !== session.token, `the page keeps no session id of its own: ${kept}`);
  same(await text('#user-name'), 'console', 'the name shown for the shared token');
});
