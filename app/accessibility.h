#pragma once

namespace orvik {

class Form1;

// What a screen reader hears: the window a frame named by its caption, each
// group frame a grouping named after its title, and every button and
// traffic line described in its context. Buttons keep their captions as
// names, the words a sighted colleague reads out, except where a face alone
// does not say what the button does ("+" is "VOL up").
void describeForScreenReaders(Form1& form);

} // namespace orvik
