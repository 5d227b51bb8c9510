#pragma once
// Numbers in the program's own texts (the pause of a stroke, the wheel's score) are
// written with a decimal point under every locale: they are formats of the program, not
// of the user's language, and the time-interval dialog reads and shows a point.

namespace orb {

// Puts LC_NUMERIC back to "C". Call it after the QApplication is made, which takes the
// whole locale from the environment.
void UseCNumberFormats();

}  // namespace orb
