#pragma once

#include "settings/IniFile.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace halvenna {

// How far every item of a form is moved when it goes to one printer, in millimetres: right and
// down are positive. Printers place a sheet with an error of a few millimetres, and slips from
// different form printers differ by as much.
struct PrintOffset
{
    double x = 0;
    double y = 0;

    bool isZero() const { return x == 0 && y == 0; }
    bool operator==(const PrintOffset&) const = default;
};

// A scan of the blank form, shown behind the preview (never printed): the image and where it lies
// on the sheet. A pixel (px, py) of the image stands at the sheet's point
//   left + (px cos a - py sin a) * mmPerPixel,  top + (px sin a + py cos a) * mmPerPixel
// where a is the rotation, clockwise.
struct FormBackground
{
    QString path; // empty: none
    double mmPerPixel = 0;
    double left = 0;
    double top = 0;
    double rotation = 0; // degrees

    bool isSet() const { return !path.isEmpty() && mmPerPixel > 0; }
    bool operator==(const FormBackground&) const = default;
};

// The user's fitting of the forms, kept in the settings file beside the sender settings, in a
// section of its own:
//   [PrintOffset]
//   Invoice.<printer>.X=-1.5      (a form is its template's name; the printer's name with every byte
//   Invoice.<printer>.Y=2.0        outside A-Z a-z 0-9 _ - written as %XX, so that any name is a key)
//   Invoice.(PDF).X=0             (the pair used for a PDF file: "(" and ")" are never in an encoded
//                                  printer name, so a queue called "PDF" keeps its own pair; files
//                                  written before hold it as Invoice.PDF.X, which is read while the
//                                  new pair is missing)
//   Account.Background=<path, percent-encoded UTF-8>
//   Account.Background.Scale=0.0846667   (mm per pixel)
//   Account.Background.Left=0  Account.Background.Top=0  Account.Background.Rotation=0
// A file without the section means no offset and no background. A key that does not read as a number
// in range counts as 0 (the others are kept). Saving writes the section's keys all or nothing, the
// other sections untouched.
class FormFitting
{
public:
    static constexpr char section[] = "PrintOffset";
    // Offsets go from -kLimit to +kLimit mm in steps of 0.1 mm.
    static constexpr double kLimit = 20.0;
    // The printer name that stands for writing a PDF file. No printer is called that: the print
    // system refuses "/" in a queue's name.
    static QString pdfPrinter() { return QStringLiteral("/PDF"); }

    FormFitting() = default;
    explicit FormFitting(IniFile ini) : ini_(std::move(ini)) {}
    // The settings file as it is now; a missing file has no fitting.
    static FormFitting load(const QString& path);

    PrintOffset offset(const QString& form, const QString& printer) const;
    FormBackground background(const QString& form) const;

    // Stores one form's offset for one printer by one atomic replacement of the file. Values are
    // rounded to 0.1 mm; out of range is an Error. Throws Error "<path> に書き込めません" when the file
    // cannot be written (it stays as it was).
    static void saveOffset(const QString& path, const QString& form, const QString& printer, PrintOffset offset);
    // Several at once, in the same one replacement of the file.
    struct Saved
    {
        QString form;
        QString printer;
        PrintOffset offset;
    };
    static void saveOffsets(const QString& path, const QList<Saved>& offsets);
    // Stores one form's background the same way; an empty path removes it (stores it empty).
    static void saveBackground(const QString& path, const QString& form, const FormBackground& background);

    // The key of a form's offset on a printer: "<form>.<printer>.<axis>", "<form>.(PDF).<axis>" for
    // a PDF file.
    static QByteArray offsetKey(const QString& form, const QString& printer, char axis);

private:
    // Whether the file holds the PDF file's pair under its own key.
    bool hasOwnPdfPair(const QString& form) const;

    IniFile ini_;
};

} // namespace halvenna
