#pragma once

namespace orvik {

class Form1;

// What a screen reader hears: the window a frame named by its caption, each
// group frame a grouping named after its title, and every button and
// traffic line described in its context. Buttons keep their captions as
// names, the words a sighted colleague reads out.
void describeForScreenReaders(Form1& form);

} // namespace orvik
