#include "app/Program.h"

#include <QDir>

namespace halvenna {

void Program::setFolder(const QString& folder)
{
    appDir = folder;
    postalCodes.setFiles(QDir(folder).filePath(PostalCodeLookup::ownFileName()), PostalCodeLookup::packageDictionary());
}

Program& Program::shell()
{
    static Program program;
    return program;
}

} // namespace halvenna

QString& AppDir = halvenna::Program::shell().appDir;
halvenna::SenderSettingsData& SenderSettings = halvenna::Program::shell().senderSettings;
FixedDatesData& FixedDates = halvenna::Program::shell().fixedDates;
TDataModule1* DataModule1 = nullptr;
TMemberMasterForm* MemberMasterForm = nullptr;
TInvoiceForm* InvoiceForm = nullptr;
