#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <memory>
#include <optional>
#include <vector>

namespace halvenna {

// The towns of each 7-digit postal code, read from one of three files:
// - Debian's SKK dictionary of postal codes (skkdic-extra, /usr/share/skk/SKK-JISYO.zipcode),
//   EUC-JIS-2004 lines "1500001 /東京都渋谷区神宮前/", several towns as "/A/B/", ';' comments,
//   the lines in the order of their codes;
// - the postal service's own list, KEN_ALL.CSV (code page 932) or its UTF-8 edition;
// - this program's own file, written by save(): the dictionary's lines in UTF-8.
//
// Loading the dictionary or the own file is one pass over the file through a small buffer that
// checks every line and keeps, every few kilobytes, the code and place of a line; the file stays
// open, and a lookup reads and decodes only the few lines around its code. Every loader either
// gives a whole index or throws Error naming the file (and the line when one is at fault); the
// index the caller had stays as it was.
class PostalCodes
{
public:
    // Files larger than this are refused before they are read.
    static constexpr qint64 kMaxFileBytes = 64 * 1024 * 1024;

    // An empty index: every lookup gives nothing.
    PostalCodes() = default;

    // The seven digits of a typed postal code: "150-0001", "1500001", full-width digits, a hyphen as
    // typed in either width or as an input method writes it in kana mode ("ー"), a leading "〒" and
    // blanks around it are accepted. Anything else (letters, six or eight digits, a hyphen elsewhere
    // than after the third digit) gives nothing.
    static std::optional<QString> normalize(QStringView typed);
    // A code normalize() accepts as the roster and the forms write it: "150-0001" (the forms take
    // bytes 1 to 3 and 5 to 8); nothing for what it refuses.
    static std::optional<QString> written(QStringView typed);

    static PostalCodes fromSkkDictionary(const QString& path);
    // KEN_ALL.CSV or utf_ken_all.csv, told apart by their bytes. A town split over several rows is
    // joined, remarks in "（…）" are left out, and where the row names no town ("以下に掲載がない場合",
    // "…の次に番地がくる場合", "…一円") the code gives the prefecture and city alone. The index holds
    // the list's addresses in memory.
    static PostalCodes fromPostalServiceList(const QString& path);
    static PostalCodes fromOwnFile(const QString& path);

    // Writes the index as this program's own file (UTF-8), replacing path only once it is whole.
    void save(const QString& path) const;

    // The towns of a code given as seven ASCII digits (see normalize), in file order without
    // repeats; empty for a code the index does not know or for anything that is not seven digits.
    // Throws Error naming the line if that line holds a character the file's encoding leaves
    // unassigned (the load checks the form of the bytes, not every code point), and Error naming
    // the file if it was cut or rewritten in place since it was read (a file replaced by a new one
    // is still read as it was).
    QStringList lookup(QStringView sevenDigits) const;

    // Number of distinct codes.
    qsizetype size() const { return codes_; }
    // Bytes held by the index, approximately (the file's text is not held, but the list's is).
    qint64 memoryBytes() const;

private:
    enum class Encoding { EucJis2004, Utf8 };
    // The first entry line of a stretch of the text, and its code.
    struct Mark
    {
        quint32 code;
        quint32 offset;
    };
    class Text;
    class Scanner;

    static PostalCodes fromFile(const QString& path, Encoding encoding);
    static PostalCodes fromBytes(const QString& fileName, const QByteArray& bytes, Encoding encoding);
    // Calls take(code, towns as bytes, offset of the line) for the entry lines of the stretches
    // from mark `first` on, until take returns false.
    template <typename Take> void forEachEntry(size_t first, Take take) const;
    QStringList decode(const char* towns, qsizetype size, qint64 lineOffset) const;

    QString fileName_;
    std::shared_ptr<const Text> text_;
    Encoding encoding_ = Encoding::Utf8;
    std::vector<Mark> marks_;
    qsizetype codes_ = 0;
};

} // namespace halvenna
