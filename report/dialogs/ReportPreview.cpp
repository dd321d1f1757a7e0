#include "report/dialogs/ReportPreview.h"

#include "gui/ErrorReporter.h"
#include "report/ReportDocument.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>

namespace halvenna {

namespace {

constexpr int kMargin = 12; // grey around the sheet
constexpr double kScreenDpi = 96;
const int kZooms[] = {25, 50, 75, 100, 125, 150, 200, 300}; // percent

} // namespace

PreviewPage::PreviewPage(const ReportDocument& document, QWidget* parent) : QWidget(parent), document_(document)
{
    setObjectName(QStringLiteral("pvPage"));
    setAccessibleName(QStringLiteral("Page"));
    setFocusPolicy(Qt::NoFocus);
}

void PreviewPage::setPage(int page)
{
    if (page == page_)
        return;
    page_ = page;
    stale_ = true;
    update();
}

void PreviewPage::setZoom(double zoom)
{
    if (zoom == zoom_)
        return;
    zoom_ = zoom;
    stale_ = true;
    updateGeometry();
    resize(sizeHint());
    update();
}

void PreviewPage::setOutline(bool outline)
{
    if (outline == outline_)
        return;
    outline_ = outline;
    stale_ = true;
    update();
}

QSize PreviewPage::sheetPixels() const
{
    const QSizeF mm(document_.reportTemplate().pageWidth(), document_.reportTemplate().pageHeight());
    const double perMm = kScreenDpi * zoom_ / 25.4;
    return QSize(qCeil(mm.width() * perMm), qCeil(mm.height() * perMm));
}

QSize PreviewPage::sizeHint() const
{
    return sheetPixels() + QSize(2 * kMargin, 2 * kMargin);
}

void PreviewPage::render()
{
    // The image's resolution is the zoomed screen's, so the fonts come out in proportion.
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = sheetPixels() * ratio;
    image_ = QImage(pixels, QImage::Format_RGB32);
    const int dotsPerMeter = qRound(kScreenDpi * zoom_ * ratio / 0.0254);
    image_.setDotsPerMeterX(dotsPerMeter);
    image_.setDotsPerMeterY(dotsPerMeter);
    image_.fill(Qt::white);
    if (page_ >= 0 && page_ < document_.pageCount()) {
        QPainter p(&image_);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        // A text that did not fit its box is marked in red: here only, never on a sheet.
        document_.drawPage(p, page_, outline_, true);
    } else if (outline_ && document_.pageCount() == 0) {
        // A report without rows still shows the form it would print on.
        QPainter p(&image_);
        p.setRenderHint(QPainter::Antialiasing);
        document_.drawPage(p, -1, true);
    }
    image_.setDevicePixelRatio(ratio);
    stale_ = false;
}

void PreviewPage::paintEvent(QPaintEvent*)
{
    if (stale_)
        render();
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Dark));
    const QRect sheet(QPoint(kMargin, kMargin), sheetPixels());
    p.fillRect(sheet.translated(3, 3), QColor(0, 0, 0, 80));
    p.drawImage(sheet.topLeft(), image_);
}

ReportPreview::ReportPreview(const ReportDocument& document, QWidget* parent) : QDialog(parent), document_(document)
{
    setObjectName(QStringLiteral("ReportPreview"));
    setWindowTitle(QStringLiteral("Report Preview"));
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
    setSizeGripEnabled(true);

    const auto button = [this](const char* name, const QString& text) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        return b;
    };
    btnFirst = button("btnFirst", QStringLiteral("&First"));
    btnPrior = button("btnPrior", QStringLiteral("P&rior"));
    btnNext = button("btnNext", QStringLiteral("&Next"));
    btnLast = button("btnLast", QStringLiteral("&Last"));
    edPage = new QSpinBox(this);
    edPage->setObjectName(QStringLiteral("edPage"));
    edPage->setRange(qMin(1, document.pageCount()), qMax(1, document.pageCount()));
    edPage->setKeyboardTracking(false);
    auto* lblPage = new QLabel(QStringLiteral("Pa&ge:"), this);
    lblPage->setBuddy(edPage);
    lblPageCount = new QLabel(QStringLiteral("of %1").arg(document.pageCount()), this);
    lblPageCount->setObjectName(QStringLiteral("lblPageCount"));
    cmbZoom = new QComboBox(this);
    cmbZoom->setObjectName(QStringLiteral("cmbZoom"));
    for (int z : kZooms)
        cmbZoom->addItem(QStringLiteral("%1%").arg(z), z);
    auto* lblZoom = new QLabel(QStringLiteral("&Zoom:"), this);
    lblZoom->setBuddy(cmbZoom);
    cbOutline = new QCheckBox(QStringLiteral("&Outline"), this);
    cbOutline->setObjectName(QStringLiteral("cbOutline"));
    cbOutline->setChecked(true);
    cbOutline->setToolTip(QStringLiteral("The form's own print, shown here only: it is never printed"));
    btnPrint = button("btnPrint", QStringLiteral("&Print..."));
    btnClose = button("btnClose", QStringLiteral("&Close"));

    view_ = new PreviewPage(document, this);
    area_ = new QScrollArea(this);
    area_->setObjectName(QStringLiteral("saPage"));
    area_->setAccessibleName(QStringLiteral("Sheet"));
    area_->setWidget(view_);
    area_->setAlignment(Qt::AlignCenter);
    area_->setBackgroundRole(QPalette::Dark);
    area_->setFocusPolicy(Qt::StrongFocus);

    auto* bar = new QHBoxLayout;
    for (QWidget* w :
         std::initializer_list<QWidget*>{btnFirst, btnPrior, btnNext, btnLast, lblPage, edPage, lblPageCount})
        bar->addWidget(w);
    bar->addSpacing(12);
    bar->addWidget(lblZoom);
    bar->addWidget(cmbZoom);
    bar->addWidget(cbOutline);
    bar->addStretch();
    bar->addWidget(btnPrint);
    bar->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(area_, 1);

    cmbZoom->setCurrentIndex(cmbZoom->findData(100));
    view_->resize(view_->sizeHint());

    connect(btnFirst, &QPushButton::clicked, this, &ReportPreview::first);
    connect(btnPrior, &QPushButton::clicked, this, &ReportPreview::prior);
    connect(btnNext, &QPushButton::clicked, this, &ReportPreview::next);
    connect(btnLast, &QPushButton::clicked, this, &ReportPreview::last);
    connect(edPage, &QSpinBox::valueChanged, this, [this](int value) { gotoPage(value - 1); });
    connect(cmbZoom, &QComboBox::currentIndexChanged, this, &ReportPreview::zoomChosen);
    connect(cbOutline, &QCheckBox::toggled, view_, &PreviewPage::setOutline);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
    connectGuarded(btnPrint, &QPushButton::clicked, this, [this] {
        if (print)
            print(this);
    });

    const auto shortcut = [this](const QKeySequence& keys, auto slot, QWidget* scope = nullptr) {
        auto* s = new QShortcut(keys, scope ? scope : this);
        if (scope)
            s->setContext(Qt::WidgetWithChildrenShortcut);
        connect(s, &QShortcut::activated, this, slot);
    };
    shortcut(QKeySequence(Qt::Key_PageDown), &ReportPreview::next);
    shortcut(QKeySequence(Qt::Key_PageUp), &ReportPreview::prior);
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_Home), &ReportPreview::first);
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_End), &ReportPreview::last);
    shortcut(QKeySequence(Qt::Key_Home), &ReportPreview::first, area_);
    shortcut(QKeySequence(Qt::Key_End), &ReportPreview::last, area_);
    shortcut(QKeySequence::ZoomIn, [this] { zoomBy(1); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_Equal), [this] { zoomBy(1); });
    shortcut(QKeySequence::ZoomOut, [this] { zoomBy(-1); });

    // Big enough for the whole sheet at actual size, where the screen allows.
    QSize want = view_->sizeHint() + QSize(40, bar->sizeHint().height() + 48);
    want.setWidth(qMax(want.width(), bar->sizeHint().width() + 24));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        want = want.boundedTo(screen->availableGeometry().size() * 0.9);
    resize(want);

    updateControls();
    area_->setFocus();
}

void ReportPreview::gotoPage(int page)
{
    const int count = document_.pageCount();
    if (count == 0)
        return;
    page = qBound(0, page, count - 1);
    view_->setPage(page);
    updateControls();
}

void ReportPreview::last()
{
    gotoPage(document_.pageCount() - 1);
}

void ReportPreview::zoomBy(int steps)
{
    cmbZoom->setCurrentIndex(qBound(0, cmbZoom->currentIndex() + steps, cmbZoom->count() - 1));
}

void ReportPreview::zoomChosen(int index)
{
    if (index >= 0)
        view_->setZoom(cmbZoom->itemData(index).toInt() / 100.0);
}

void ReportPreview::updateControls()
{
    const int count = document_.pageCount();
    const int page = view_->page();
    btnFirst->setEnabled(page > 0);
    btnPrior->setEnabled(page > 0);
    btnNext->setEnabled(page + 1 < count);
    btnLast->setEnabled(page + 1 < count);
    edPage->setEnabled(count > 1);
    btnPrint->setEnabled(count > 0);
    const QSignalBlocker block(edPage);
    edPage->setValue(page + 1);
}

} // namespace halvenna
