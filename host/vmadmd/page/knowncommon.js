// What the known-property screen and its dialog share: form 2's layout of
// a property, each kind's defaults file and its name in words.
import { field, fieldBytes, joinBytes, shownText } from './core.js';
import { CLASSES, FLAG_FIELD } from './rights.js';

// Form 2 takes and gives a name in two fields, split after its 70th byte.
export const PROPERTY_FORM = 2;
const NAME_SPLIT = 70;
export const FIRST_FORWARDABLE = 15;
// Each kind's defaults file: its known properties and their default values.
export const DEFAULTS_FILE = {
  SYSTEM: '/VM/config/sys_prop_db.defaults', MESSAGE: '/VM/config/PropertyDefaults',
  COS: '/VM/config/COSPropertyDefaults', SUBSCRIBER: '/VM/config/SubscriberPropertyDefaults',
};

export const KIND_WORDS = {
  MESSAGE: 'message',
  SYSTEM: 'system',
  COS: 'class of service',
  SUBSCRIBER: 'subscriber',
};

// The property in a form 2 answer from field base on.
export function fromReply(answer, base) {
  const f = (n) => field(answer, base + n);
  const bytes = joinBytes(fieldBytes(answer, base + 1), fieldBytes(answer, base + 2));
  const known = {
    name: shownText.decode(bytes),
    bytes,
    read: [],
    write: [],
    forwardable: f(FIRST_FORWARDABLE) === 'y',
    version: f(16),
    type: f(17),
  };
  for (let i = 0; i < CLASSES.length; ++i) {
    known.read.push(f(FLAG_FIELD + 2 * i) === 'R');
    known.write.push(f(FLAG_FIELD + 2 * i + 1) === 'W');
  }
  return known;
}

// A typed name (text) or a listed one (its bytes), in the form's two fields.
function nameParts(name) {
  if (name instanceof Uint8Array) return [name.subarray(0, NAME_SPLIT), name.subarray(NAME_SPLIT)];
  const chars = Array.from(name);
  return [chars.slice(0, NAME_SPLIT).join(''), chars.slice(NAME_SPLIT).join('')];
}

export function nameFields(selector, name) {
  const [first, rest] = nameParts(name);
  return { 0: selector, 1: first, 2: rest };
}
