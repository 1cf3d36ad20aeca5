// The parameters screen: where a configuration value comes from.
import { $, el, say, api, serverError, failure, markFault, clearFaults } from './core.js';

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

