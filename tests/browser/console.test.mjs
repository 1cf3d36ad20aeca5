// The web console in a real headless Chromium: a demo root, vmadmd on an
// ephemeral loopback port, and the screens driven as an administrator would,
// checked against what vmcfg reads from the same root.
//
//   node tests/browser/console.test.mjs BUILD_DIR
//
// Needs BUILD_DIR/vmadmd and BUILD_DIR/vmcfg, Chromium (CHROMIUM or
// /usr/bin/chromium) and puppeteer-core (npm ci here). Screenshots go to
// BUILD_DIR/screenshots/. Exits non-zero on the first failure
// (BROWSER_TEST_STACK=1 also prints where it happened).
//
// The steps live in one file per screen (*.steps.mjs) and run in the order
// imported here; what they share is in harness.mjs.
import { check, consoleErrors, dialogs, runSteps, same, step, stopGracefully } from './harness.mjs';
import './start.steps.mjs';
import './known.steps.mjs';
import './features-params.steps.mjs';
import './sets-history.steps.mjs';
import './checks.steps.mjs';
import './users.steps.mjs';

step('the page logged no error', async () => {
  same(consoleErrors, [], 'console errors');
  same(dialogs, [], 'browser dialogs');
});

step('SIGTERM stops vmadmd with status 0', async () => {
  const status = await stopGracefully();
  check(status, 'vmadmd still runs 10 s after SIGTERM');
  same(status, { code: 0, signal: null }, 'vmadmd\'s exit');
});

await runSteps();
