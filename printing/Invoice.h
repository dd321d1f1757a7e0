#pragma once

#include <QByteArray>
#include <QDate>
#include <QDialog>

#include <functional>
#include <memory>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QMenuBar;
class QPrinter;
class QPushButton;
class TDataModule1;

namespace halvenna {
struct SenderSettingsData;
class DbCheckBox;
class ReportConnection;
class ReportProject;
class StandardReportOutput;
struct PanelDates;
class DbComboBox;
class DbEdit;
class DbGrid;
class FindBar;
class DbNavigator;
class FieldLineEdit;
} // namespace halvenna

// The texts of the fixed-date panel, kept from one showing of the print window to the next.
struct FixedDatesData
{
    QByteArray ReceiptYear;
    QByteArray ReceiptMonth;
    QByteArray ReceiptDay;
    QByteArray DeliveryYear;
    QByteArray DeliveryMonth;
    QByteArray DeliveryDay;

    bool operator==(const FixedDatesData&) const = default;
};

// Today as receipt date and tomorrow as delivery date, decimal without leading zeros.
FixedDatesData initialFixedDates(const QDate& today);

// The print window: print marks, waybill contents, amounts, the fixed-date panel and the four
// print jobs. Every bound control works on the data module's shared sources, so the current member
// here is the roster window's too.
class TInvoiceForm : public QDialog
{
    Q_OBJECT
public:
    // dataModule: whose tables the window shows and prints (none: an empty window); senderSettings:
    // what the report run prints as the sender; appDir: the program's folder, where the templates
    // and the settings file are; fixedDates: the panel's texts, kept from one showing to the next.
    // All four outlive the window.
    TInvoiceForm(TDataModule1* dataModule, const halvenna::SenderSettingsData& senderSettings, const QString& appDir,
                 FixedDatesData& fixedDates, QWidget* parent = nullptr);
    ~TInvoiceForm() override;

    // The client area below the menu bar; the window is this plus the menu bar.
    static constexpr int clientWidth = 674;
    static constexpr int clientHeight = 573;

    QMenuBar* MainMenu1 = nullptr;
    QAction* N1 = nullptr;
    QAction* N2 = nullptr;
    QAction* N3 = nullptr;
    QAction* N4 = nullptr;
    QAction* N5 = nullptr;
    QAction* mnuPrintPosition = nullptr; // "印字位置調整..." in the ファイル menu
    // 検索 → 検索..., 次を検索, 前を検索
    QAction* mnuFind = nullptr;
    QAction* mnuFindNext = nullptr;
    QAction* mnuFindPrevious = nullptr;
    QWidget* ClientArea = nullptr;

    halvenna::DbGrid* dbgMemberMaster = nullptr;
    // Above the member grid while searching (Ctrl+F).
    halvenna::FindBar* FindBar1 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* Label10 = nullptr;
    QLabel* Label11 = nullptr;
    QPushButton* btnPrnCurrent = nullptr;
    halvenna::DbComboBox* dbcmbValue = nullptr;
    halvenna::DbComboBox* DBComboBox1 = nullptr;
    halvenna::DbEdit* DBEdit1 = nullptr;
    halvenna::DbComboBox* DBComboBox2 = nullptr;
    halvenna::DbEdit* DBEdit2 = nullptr;
    halvenna::DbComboBox* DBComboBox3 = nullptr;
    halvenna::DbComboBox* DBComboBox4 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QLabel* Label13 = nullptr;
    halvenna::DbEdit* DBEdit3 = nullptr;
    QPushButton* btnAccountPrn = nullptr;
    halvenna::DbCheckBox* dbcbPrintEnb = nullptr;
    QFrame* Bevel1 = nullptr;
    QFrame* Bevel2 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QPushButton* btnInvoiceAllPrn = nullptr;
    QGroupBox* GroupBox4 = nullptr;
    QPushButton* btnAccountAllPrn = nullptr;
    QPushButton* btnAllCheck = nullptr;
    QPushButton* btnAllClear = nullptr;
    QFrame* Bevel3 = nullptr;
    halvenna::DbEdit* DBEdit4 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label12 = nullptr;
    halvenna::DbNavigator* DBNavigator1 = nullptr;
    QFrame* Panel1 = nullptr;
    QCheckBox* cbConstDate = nullptr;
    QLabel* Label14 = nullptr;
    QFrame* Bevel4 = nullptr;
    QLabel* Label15 = nullptr;
    QLabel* Label16 = nullptr;
    QLabel* Label17 = nullptr;
    QLabel* Label18 = nullptr;
    QLabel* Label19 = nullptr;
    QFrame* Bevel5 = nullptr;
    QLabel* Label20 = nullptr;
    QLabel* Label21 = nullptr;
    QComboBox* cmbReceiptMonth = nullptr;
    QComboBox* cmbReceiptDay = nullptr;
    QComboBox* cmbDeliveryMonth = nullptr;
    QComboBox* cmbDeliveryDay = nullptr;
    halvenna::FieldLineEdit* edReceiptYear = nullptr;
    halvenna::FieldLineEdit* edDeliveryYear = nullptr;

    // Handlers.
    void FormCreate();
    void FormShow();
    void FormClose();
    void btnAllCheckClick();
    void btnAllClearClick();
    void btnPrnCurrentClick();
    void btnAccountPrnClick();
    void btnInvoiceAllPrnClick();
    void btnAccountAllPrnClick();
    void N2Click();
    void N3Click();
    void N5Click();
    void mnuPrintPositionClick();

    // Sets the print mark of every member to value, each member posted by the member record rule;
    // ends on the first member. A failed post stops it there: what was stored before stays stored.
    void SetAllPrintFlags(bool Value);
    // The report run: the template and its parameters from the sender settings.
    void PrepareInvoiceReport();
    void PrepareAccountReport();

    // The report engine's project and the two data connections its templates read.
    std::unique_ptr<halvenna::StandardReportOutput> reportOutput;
    std::unique_ptr<halvenna::ReportProject> rvpjInvoice;
    std::unique_ptr<halvenna::ReportConnection> rvtbPrintMaster;
    std::unique_ptr<halvenna::ReportConnection> rvtbAccount;

    // What the print jobs read of the fixed-date panel: whether its dates replace the members' own,
    // and its six texts as code page 932 bytes (receipt year, month, day, delivery year, month, day).
    bool constDate() const;
    FixedDatesData panelTexts() const;

    void setVisible(bool visible) override;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildTopArea();
    void buildPanel();
    void buildContentsGroup();
    void buildAccountGroup();
    void buildMenu();
    void bindControls();
    void setTabOrders();
    void connectHandlers();
    void followClientSize();
    halvenna::PanelDates panelDates() const;
    // Stages with the job, then runs the prepared template.
    void printJob(const std::function<void()>& stage, void (TInvoiceForm::*prepare)());

    bool shownOnce_ = false;
    std::unique_ptr<QPrinter> printer_;
    TDataModule1* dm_;
    const halvenna::SenderSettingsData& senderSettings_;
    const QString& appDir_;
    FixedDatesData& fixedDates_;
};
