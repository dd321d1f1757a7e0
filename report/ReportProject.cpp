#include "report/ReportProject.h"

#include "data/Error.h"

#include <QDir>
#include <QFileInfo>

namespace halvenna {

ReportOutput::~ReportOutput() = default;

ReportProject::ReportProject(ReportOutput* standardOutput) : standardOutput_(standardOutput) {}

void ReportProject::SetReportParam(const QString& name, const QByteArray& value)
{
    for (auto& [n, v] : params_) {
        if (n.compare(name, Qt::CaseInsensitive) == 0) {
            v = value;
            return;
        }
    }
    params_.append({name, value});
}

void ReportProject::addConnection(ReportConnection& connection)
{
    if (!connections_.contains(&connection))
        connections_.append(&connection);
}

QString ReportProject::fullPath(const QString& file)
{
    return file.isEmpty() ? file : QDir::cleanPath(QFileInfo(file).absoluteFilePath());
}

void ReportProject::OpenProject()
{
    if (isOpen())
        return;
    const QFileInfo info(ProjectFile);
    if (ProjectFile.isEmpty() || !info.exists())
        throw Error(
            QStringLiteral("The following reporting project does not exist:\n\"%1\"").arg(fullPath(ProjectFile)));
    template_ = std::make_shared<const ReportTemplate>(ReportTemplate::load(fullPath(ProjectFile)));
}

void ReportProject::CloseProject()
{
    template_.reset();
}

ReportConnection* ReportProject::findConnection(const QString& name) const
{
    for (ReportConnection* c : connections_)
        if (c->objectName().compare(name, Qt::CaseInsensitive) == 0)
            return c;
    return nullptr;
}

ReportDocument ReportProject::makeDocument()
{
    OpenProject();
    const int index = template_->defaultReport();
    const TemplateReport& report = template_->reports().at(index);
    const auto where = [&](int line) { return QStringLiteral("%1 の %2 行目: ").arg(template_->path()).arg(line); };

    ReportConnection* connection = findConnection(report.connection);
    if (!connection)
        throw Error(where(report.line) + QStringLiteral("データ接続 '%1' はありません").arg(report.connection));
    QStringList fields;
    for (const TemplateText& t : report.texts) {
        if (t.source != TemplateText::Source::Field)
            continue;
        if (!fields.contains(t.name, Qt::CaseInsensitive))
            fields.append(t.name);
    }
    // The caller's key field names a sheet whose text did not fit, and its checks read their
    // fields, where the table has them.
    QStringList optional;
    if (!sheetRules_.keyField.isEmpty())
        optional << sheetRules_.keyField;
    for (const SheetRules::Check& check : sheetRules_.checks)
        if (printsAny(report, check.printedWith))
            optional << check.field;
    try {
        return ReportDocument(template_, index, params_, connection->read(fields, optional), sheetRules_);
    } catch (const MissingFieldError& e) {
        int line = report.line;
        for (const TemplateText& t : report.texts)
            if (t.source == TemplateText::Source::Field && t.name.compare(e.field(), Qt::CaseInsensitive) == 0) {
                line = t.line;
                break;
            }
        throw Error(where(line) + e.message());
    }
}

void ReportProject::RunReport()
{
    OpenProject();
    try {
        ReportOutput* output = Engine ? Engine : standardOutput_;
        if (!output)
            throw Error(QStringLiteral("帳票の出力先が用意されていません"));
        const ReportDocument document = makeDocument();
        output->output(document);
    } catch (...) {
        CloseProject();
        throw;
    }
}

} // namespace halvenna
