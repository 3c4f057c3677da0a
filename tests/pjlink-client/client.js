// Drives the npm pjlink client against one projector and prints one line a
// step: "power 1", "input 21", "set-input ok", or "power error: MESSAGE".
//   node client.js HOST PORT PASSWORD STEP...   (PASSWORD "" for none)
// Steps: power, power=0|1, input, input=NN, mute, mute=31|30, errors, lamps,
// name, class. Exits 0 after the last step, 1 on a usage error.
'use strict';
const PJLink = require('pjlink');

const [host, port, password, ...steps] = process.argv.slice(2);
if (!host || !port || password === undefined || steps.length === 0) {
  console.error('usage: node client.js HOST PORT PASSWORD STEP...');
  process.exit(1);
}
// The client's default time-out of 0 waits for ever.
const projector = new PJLink({ host, port: Number(port), password: password || null, timeout: 5000 });

const show = (value) => (value && typeof value === 'object' ? JSON.stringify(value) : String(value));
const asks = {
  power: (cb) => projector.getPowerState(cb),
  input: (cb) => projector.getInput((err, input) => cb(err, input && input.code)),
  mute: (cb) => projector.getMute(cb),
  errors: (cb) => projector.getErrors(cb),
  lamps: (cb) => projector.getLamps(cb),
  name: (cb) => projector.getName(cb),
  class: (cb) => projector.getClass(cb),
};
const sets = {
  power: (value, cb) => projector.setPowerState(Number(value), cb),
  input: (value, cb) => projector.setInput(value, cb),
  mute: (value, cb) => projector.setMute({ video: value === '31', audio: value === '31' }, cb), // 31 or 30
};

function run(index) {
  if (index === steps.length) {
    projector.disconnect();
    return;
  }
  const [name, value] = steps[index].split('=');
  const done = (label) => (err, result) => {
    console.log(err ? `${label} error: ${err.message}` : `${label} ${value === undefined ? show(result) : 'ok'}`);
    run(index + 1);
  };
  if (value === undefined && asks[name]) asks[name](done(name));
  else if (value !== undefined && sets[name]) sets[name](value, done(`set-${name}`));
  else {
    console.error(`unknown step ${steps[index]}`);
    process.exit(1);
  }
}
run(0);
