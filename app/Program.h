#pragma once

#include "printing/Invoice.h"
#include "roster/postal/PostalCodeLookup.h"
#include "settings/SenderSettings.h"

#include <QString>

class TDataModule1;
class TMemberMasterForm;

namespace halvenna {

// What the running program holds for its windows: its folder, the sender settings, the data module,
// the postal-code lookup and the print window's remembered dates. The shell makes one and hands each
// window the parts it needs through its constructor; a test makes its own the same way.
struct Program
{
    // The executable's folder with its trailing separator: the settings file, the templates and
    // the postal-code list read beside the program live there.
    QString appDir;
    SenderSettingsData senderSettings;
    // Set once the data module exists (after the main window); null before and after.
    TDataModule1* dataModule = nullptr;
    PostalCodeLookup postalCodes{QString(), PostalCodeLookup::packageDictionary()};
    FixedDatesData fixedDates;

    // Points the program, and the postal-code list read beside it, at folder (ending with a
    // separator).
    void setFolder(const QString& folder);

    // The shell's own, alive until the process ends.
    static Program& shell();
};

} // namespace halvenna

// The shell's handles on the running program: the objects keep the names they have always had. The
// windows and the core never use them; each is given what it needs.
extern QString& AppDir;
extern halvenna::SenderSettingsData& SenderSettings;
extern FixedDatesData& FixedDates;
extern TDataModule1* DataModule1;
extern TMemberMasterForm* MemberMasterForm;
extern TInvoiceForm* InvoiceForm;
