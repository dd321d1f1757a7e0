#pragma once

#include <QString>

#include <functional>

class QApplication;
class TTopForm;
class TDataModule1;
class TMemberMasterForm;
class TInvoiceForm;
class TSenderForm;
class TAboutBoxForm;

namespace halvenna {

// How each of the six long-lived objects is made. An error thrown here aborts start-up.
struct StartupFactories
{
    std::function<TTopForm*()> topForm;
    // databaseDir: the folder the alias Dostrel stands for.
    std::function<TDataModule1*(const QString& databaseDir)> dataModule;
    std::function<TMemberMasterForm*()> memberMasterForm;
    std::function<TInvoiceForm*()> invoiceForm;
    std::function<TSenderForm*()> senderForm;
    std::function<TAboutBoxForm*()> aboutBoxForm;
};

StartupFactories defaultFactories();

// "ＭＳ Ｐゴシック" is drawn with IPA P Gothic.
void installJapaneseFont();
// Qt's own dialogs speak Japanese. Returns false (after a warning) when the translation is missing.
bool installQtTranslations(QApplication& app);
// Title, version, icon, fonts and translations of the application object.
void setUpApplication(QApplication& app);

// Creates the six objects in order, runs the event loop until the main window closes and destroys
// them last-created first. Returns the exit code: 1 when start-up aborts, 0 otherwise.
int runApplication(QApplication& app, const StartupFactories& factories = defaultFactories());

// The program entry.
int runKelvaro(int& argc, char** argv);

} // namespace halvenna
