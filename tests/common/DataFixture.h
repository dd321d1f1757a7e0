#pragma once

#include "data/DataModule.h"
#include "data/Schema.h"
#include "data/SjisText.h"
#include "data/Table.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>

// Four empty tables in a temporary folder and a data module that has opened them.
struct DataFixture
{
    QTemporaryDir dir;
    std::unique_ptr<TDataModule1> dm;

    DataFixture()
    {
        halvenna::schema::createMissingTables(dir.path());
        dm = std::make_unique<TDataModule1>(dir.path());
        dm->DataModuleCreate();
    }

    halvenna::Table& members() { return dm->tbMemberMaster; }

    static halvenna::FieldValue text(const QString& s) { return halvenna::FieldValue::fromString(s); }

    // Appends and posts a member the way the roster does (the record rules run).
    void addMember(int id, const QString& name, const QString& zip = {}, const QString& tel = {})
    {
        halvenna::Table& t = members();
        t.append();
        t.setFieldValue(QStringLiteral("id_no"), halvenna::FieldValue::integer(id));
        t.setFieldValue(QStringLiteral("name"), text(name));
        if (!zip.isNull())
            t.setFieldValue(QStringLiteral("zip"), text(zip));
        if (!tel.isNull())
            t.setFieldValue(QStringLiteral("tel"), text(tel));
        t.post();
    }

    // Members id_no = first, first + step, ... named "会員<n>", in one transaction.
    void addMembers(int count, int first = 0, int step = 1)
    {
        halvenna::Table::Batch batch(members());
        for (int i = 0; i < count; ++i)
            addMember(first + i * step, QStringLiteral("会員%1").arg(i));
    }

    QString str(halvenna::Table& t, const char* field) { return t.fieldValue(QLatin1String(field)).displayText(); }
};
