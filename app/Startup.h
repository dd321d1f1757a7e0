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

struct Program;

// How each of the six long-lived objects is made, each given what it needs of the program (the
// windows made after the data module find it in the program). An error thrown here aborts start-up.
struct StartupFactories
{
    std::function<TTopForm*(Program&)> topForm;
    // databaseDir: the folder the alias Dostrel stands for.
    std::function<TDataModule1*(const QString& databaseDir)> dataModule;
    std::function<TMemberMasterForm*(Program&)> memberMasterForm;
    std::function<TInvoiceForm*(Program&)> invoiceForm;
    std::function<TSenderForm*(Program&)> senderForm;
    std::function<TAboutBoxForm*(Program&)> aboutBoxForm;
};

StartupFactories defaultFactories();

// "ＭＳ Ｐゴシック" is drawn with IPA P Gothic.
void installJapaneseFont();
// Qt's own dialogs speak Japanese. Returns false (after a warning) when the translation is missing.
bool installQtTranslations(QApplication& app);
// Title, version, icon, fonts and translations of the application object.
void setUpApplication(QApplication& app);

// Creates the six objects in order for program (by default the shell's own, whose handles are the
// globals of app/Program.h), runs the event loop until the main window closes and destroys them
// last-created first. Returns the exit code: 1 when start-up aborts, 0 otherwise.
int runApplication(QApplication& app, const StartupFactories& factories = defaultFactories());
int runApplication(QApplication& app, const StartupFactories& factories, Program& program);

// The program entry.
int runKelvaro(int& argc, char** argv);

} // namespace halvenna
