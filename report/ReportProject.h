#pragma once

#include "report/ReportConnection.h"
#include "report/ReportDocument.h"
#include "report/ReportTemplate.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

namespace halvenna {

// Where a run's pages go. The standard one (StandardReportOutput) asks the user: printer, preview
// or file.
class ReportOutput
{
public:
    virtual ~ReportOutput();
    // Takes the document to its destination; returns when that is done or the user gave it up.
    virtual void output(const ReportDocument& document) = 0;
};

// The report project component: which template file to run, the named parameters handed to it, and
// the data connections its reports read. Opening loads the template; running produces its default
// report through the output; closing unloads it. The parameters belong to the component, not to a
// template, and survive opening, running and closing.
class ReportProject
{
public:
    // standardOutput: the output used while Engine is unset; it must outlive the component.
    explicit ReportProject(ReportOutput* standardOutput = nullptr);

    // The template the next opening loads.
    QString ProjectFile;
    // An output of the caller's own instead of the standard one; unset by default.
    ReportOutput* Engine = nullptr;

    // Stores value (code page 932) under name; a value set under a name replaces the earlier one.
    // Names are matched without regard to letter case, as templates name them.
    void SetReportParam(const QString& name, const QByteArray& value);
    // The list as it stands, in the order the names were first set.
    const ReportParams& reportParams() const { return params_; }

    // What the caller's rows are named by and checked for on every run (ReportDocument's misfits).
    void setSheetRules(SheetRules rules) { sheetRules_ = std::move(rules); }
    const SheetRules& sheetRules() const { return sheetRules_; }

    // Makes a connection known under its object name; it must outlive the component.
    void addConnection(ReportConnection& connection);

    // If closed, loads the template named by ProjectFile. A missing file raises
    // "The following reporting project does not exist:" and the quoted full path on the next line;
    // a file that cannot be read raises the reader's error. Either way the component stays closed.
    void OpenProject();
    // Opens if needed, then produces the default report with the current parameters and
    // connections through the output; returns when the output is finished or abandoned. A failure
    // also closes the component, so that the next run loads the template it is given.
    void RunReport();
    // If open, unloads the template. The parameters stay.
    void CloseProject();
    bool isOpen() const { return template_ != nullptr; }

    // What RunReport hands to the output: the default report with its rows read through its
    // connection. Opens the template if needed.
    ReportDocument makeDocument();

    // The full path a message names for a template file.
    static QString fullPath(const QString& file);

private:
    ReportConnection* findConnection(const QString& name) const;

    ReportOutput* standardOutput_ = nullptr;
    ReportParams params_;
    SheetRules sheetRules_;
    QList<ReportConnection*> connections_;
    std::shared_ptr<const ReportTemplate> template_;
};

} // namespace halvenna
