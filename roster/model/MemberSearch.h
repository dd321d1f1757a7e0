#pragma once

#include "data/table/TableTypes.h"

#include <QString>
#include <QStringView>

#include <optional>
#include <vector>

namespace halvenna {

class Table;

// Finding a member in the member table as the user types: a match on id_no (its leading digits),
// name, name_kana, tel, zip or address1, ignoring hiragana against katakana, full-width against
// half-width forms, letter case and spaces; in tel and zip, hyphens and their look-alikes ("ー",
// "−", "－"…) beside a digit count for nothing, so 1500001 finds 150-0001. The table is read in steps, so that a window
// can run the search between keystrokes and never stall on a big roster.
class MemberSearch
{
public:
    enum class Result { Searching, Found, NotFound };

    explicit MemberSearch(Table& members);

    // The text as compared: hiragana as katakana, half-width katakana as full-width (voicing marks
    // joined), full-width ASCII as ASCII, letters in one case, spaces (ASCII and ideographic) gone.
    static QString fold(QStringView text);

    // Starts a search for text from the member with identity `from` (none: from before the first):
    // the members after it in table order (backwards: before it), then round from the other end,
    // `from` itself last. Empty text (once folded) is no search: the result is NotFound at once.
    void start(const QString& text, std::optional<qint64> from, bool backwards = false);
    // Reads up to `rows` further members; Searching while the round is not over.
    Result step(int rows);
    Result result() const { return result_; }
    // The identity (id_no) of the member found.
    qint64 found() const { return found_; }
    bool hasText() const { return !needle_.isEmpty(); }

    // Whether a member's row matches the folded text: its identity, and the texts of name,
    // name_kana, tel, zip and address1 in that order (as step() reads them).
    bool matches(const RowSnapshot& row) const;

private:
    Table& table_;
    std::vector<int> fields_; // name, name_kana, tel, zip, address1
    QString needle_;
    QString digits_; // the needle as an id_no's leading digits, or empty
    QString number_; // the needle as tel and zip are compared: no dashes beside its digits
    std::optional<qint64> from_;
    bool backwards_ = false;
    bool wrapped_ = false;
    qint64 cursor_ = 0; // identity last read
    Result result_ = Result::NotFound;
    qint64 found_ = 0;
};

} // namespace halvenna
