#pragma once

namespace halvenna {

// What assistive technology reads for the program's inputs. On this desktop Qt names an editable
// combo box by the text it holds, so the month box of a date would be read as "12"; a combo box
// given a name of its own (setAccessibleName) is read by that name, its text as its value.
// Installed once at start-up, once the application object exists and before any window is made.
void installAccessibleNames();

} // namespace halvenna
