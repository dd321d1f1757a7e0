#pragma once

#include <QDialog>

// The roster window: browses, edits, numbers, deletes, clears and imports the members.
class TMemberMasterForm : public QDialog
{
    Q_OBJECT
public:
    explicit TMemberMasterForm(QWidget* parent = nullptr);
    ~TMemberMasterForm() override;

    // The member print-field rule, run on every post of a member row.
    void SplitZipAndTel();
};

extern TMemberMasterForm* MemberMasterForm;
