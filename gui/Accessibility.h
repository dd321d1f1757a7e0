#pragma once

class QString;
class QWidget;

namespace halvenna {

// What assistive technology reads for the program's inputs. On this desktop Qt names an editable
// combo box by the text it holds, so the month box of a date would be read as "12"; a combo box
// given a name of its own (setAccessibleName) is read by that name, its text as its value.
// Installed once at start-up, once the application object exists and before any window is made.
void installAccessibleNames();

// A caption as it is read aloud: without its access key ("検索(&F):" is "検索"), its colon, and
// the blanks that only line it up on screen ("　１通　送り状印刷" is "１通 送り状印刷").
QString spokenName(const QString& caption);

// Names the edit inside each editable combo box of a window after the box (its own name, else its
// label's text): a screen reader on the edit otherwise reads nothing.
void nameInnerEdits(QWidget* window);

} // namespace halvenna
