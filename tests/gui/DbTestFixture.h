#pragma once

// The four tables in a temporary folder, opened by a data module, and the controls' error and beep
// hooks turned into lists a test can read.

#include "data/DataModule.h"
#include "data/Error.h"
#include "data/Schema.h"
#include "data/Table.h"
#include "gui/DbControls.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

// Types text as keys into the focused widget, one character (code point) a key.
inline void typeText(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype len = text.at(i).isHighSurrogate() ? 2 : 1;
        const QString ch = text.mid(i, len);
        const ushort u = ch.at(0).unicode();
        const Qt::Key key = len == 1 && u < 0x80 ? Qt::Key(QChar(u).toUpper().unicode()) : Qt::Key_unknown;
        QTest::sendKeyEvent(QTest::Click, static_cast<QWidget*>(nullptr), key, ch, Qt::NoModifier);
        i += len - 1;
    }
}

inline void pressKey(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QTest::keyClick(QApplication::focusWidget(), key, mods);
}

struct DbTestFixture
{
    QTemporaryDir dir;
    std::unique_ptr<TDataModule1> dm;
    QStringList errors;
    int beeps = 0;

    DbTestFixture()
    {
        halvenna::schema::createMissingTables(dir.path());
        dm = std::make_unique<TDataModule1>(dir.path());
        dm->DataModuleCreate();
        savedError_ = halvenna::DbControlHooks::error;
        savedBeep_ = halvenna::DbControlHooks::beep;
        halvenna::DbControlHooks::error = [this](const std::exception& e) { errors << halvenna::messageOf(e); };
        halvenna::DbControlHooks::beep = [this] { ++beeps; };
    }
    ~DbTestFixture()
    {
        halvenna::DbControlHooks::error = savedError_;
        halvenna::DbControlHooks::beep = savedBeep_;
    }
    DbTestFixture(const DbTestFixture&) = delete;
    DbTestFixture& operator=(const DbTestFixture&) = delete;

    halvenna::Table& members() { return dm->tbMemberMaster; }

    void addMember(int id, const QString& name)
    {
        halvenna::Table& t = members();
        t.append();
        t.setFieldValue(QStringLiteral("id_no"), halvenna::FieldValue::integer(id));
        t.setFieldValue(QStringLiteral("name"), halvenna::FieldValue::fromString(name));
        t.post();
    }

    // Members id_no = first, first + step, ... named "会員<n>", in one transaction.
    void addMembers(int count, int first = 0, int step = 1)
    {
        halvenna::Table::Batch batch(members());
        for (int i = 0; i < count; ++i)
            addMember(first + i * step, QStringLiteral("会員%1").arg(i));
    }

    // Errors reported after the table's operation are delivered from the event loop.
    QStringList takeErrors()
    {
        QCoreApplication::processEvents();
        const QStringList e = errors;
        errors.clear();
        return e;
    }

private:
    std::function<void(const std::exception&)> savedError_;
    std::function<void()> savedBeep_;
};

// A window as the roster lays it out: a bound widget, a default button that posts, a cancel button
// that Esc presses (by a key handler or by a shortcut), and another control to move the focus to.
class TestWindow : public QDialog
{
public:
    TestWindow(halvenna::Table& table, QWidget* bound, bool escapeByShortcut = false)
        : table_(table), escapeByShortcut_(escapeByShortcut)
    {
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(bound);
        other = new QLineEdit(this);
        other->setAccessibleName(QStringLiteral("other"));
        layout->addWidget(other);
        auto* buttons = new QHBoxLayout;
        btnMemberReg = new QPushButton(QStringLiteral("登録"), this);
        btnCancel = new QPushButton(QStringLiteral("キャンセル"), this);
        btnCancel->setAutoDefault(false);
        btnMemberReg->setDefault(true);
        buttons->addWidget(btnMemberReg);
        buttons->addWidget(btnCancel);
        layout->addLayout(buttons);
        QObject::connect(btnMemberReg, &QPushButton::clicked, this, [this] {
            ++posts;
            try {
                if (table_.editing())
                    table_.post();
            } catch (const std::exception& e) {
                halvenna::reportControlError(e);
            }
        });
        QObject::connect(btnCancel, &QPushButton::clicked, this, [this] {
            ++cancels;
            table_.cancel();
        });
        if (escapeByShortcut_) {
            auto* shortcut = new QShortcut(QKeySequence(Qt::Key_Escape), this);
            QObject::connect(shortcut, &QShortcut::activated, btnCancel, &QPushButton::click);
        }
        resize(640, 480);
    }

    QLineEdit* other = nullptr;
    QPushButton* btnMemberReg = nullptr;
    QPushButton* btnCancel = nullptr;
    int posts = 0;
    int cancels = 0;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (!escapeByShortcut_ && event->key() == Qt::Key_Escape) {
            btnCancel->click();
            return;
        }
        QDialog::keyPressEvent(event);
    }

private:
    halvenna::Table& table_;
    bool escapeByShortcut_ = false;
};
