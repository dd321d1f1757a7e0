#include "report/dialogs/ReportPreview.h"

#include "data/Error.h"
#include "gui/ErrorReporter.h"
#include "gui/MessageBox.h"
#include "report/BackgroundImage.h"
#include "report/TemplateEditor.h"
#include "report/dialogs/BackgroundPointsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>

namespace halvenna {

BackgroundPlacement placementOf(const FormBackground& b)
{
    return BackgroundPlacement{b.path, b.mmPerPixel, b.left, b.top, b.rotation};
}

FormBackground backgroundOf(const BackgroundPlacement& p)
{
    return FormBackground{p.path, p.mmPerPixel, p.left, p.top, p.rotation};
}

namespace {

constexpr int kMargin = 12; // grey around the sheet
constexpr double kScreenDpi = 96;
const int kZooms[] = {25, 50, 75, 100, 125, 150, 200, 300}; // percent
constexpr double kGrip = 4;                                 // px: how near an edge a press takes hold of it
constexpr double kSmallest = 1;                             // mm: the least width or height a box is given by hand

// A length dragged with the mouse lands on the 0.1 mm grid the arrow keys step on.
double onGrid(double mm)
{
    return std::round(mm * 10) / 10;
}

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
    backgroundSheet_ = QImage();
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
    const int dotsPerMeter = qRound(kScreenDpi * zoom_ * ratio / 0.0254);
    if (!background_.isNull()) {
        // The blank sheet with the scan on it is made once per zoom: every page then starts from a
        // copy of it, which costs no more than filling a page white.
        if (backgroundSheet_.size() != pixels) {
            backgroundSheet_ = QImage(pixels, QImage::Format_RGB32);
            backgroundSheet_.fill(Qt::white);
            // The scan under everything, at true scale, in light ink: image pixels to millimetres
            // to the sheet's pixels.
            const double perMm = kScreenDpi * zoom_ * ratio / 25.4;
            const double f = placement_.mmPerPixel * perMm;
            const QImage scaled =
                background_.scaled(qMax(1, qRound(background_.width() * f)), qMax(1, qRound(background_.height() * f)),
                                   Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            QPainter p(&backgroundSheet_);
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.setOpacity(0.6);
            p.translate(placement_.left * perMm, placement_.top * perMm);
            p.rotate(placement_.rotation);
            p.scale(double(background_.width()) * f / scaled.width(),
                    double(background_.height()) * f / scaled.height());
            p.drawImage(QPointF(0, 0), scaled);
        }
        image_ = backgroundSheet_.copy();
    } else {
        image_ = QImage(pixels, QImage::Format_RGB32);
        image_.fill(Qt::white);
    }
    image_.setDotsPerMeterX(dotsPerMeter);
    image_.setDotsPerMeterY(dotsPerMeter);
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
    if (!layoutMode_)
        return;
    // Every box faintly, the selected one plainly with its grips.
    const auto widgetBox = [this](const QRectF& mm) {
        return QRectF(toWidget(mm.topLeft()), toWidget(mm.bottomRight()));
    };
    p.setPen(QPen(QColor(0, 120, 215, 110), 1, Qt::DashLine));
    for (int i = 0; i < document_.itemCount(); ++i)
        if (i != selected_)
            p.drawRect(widgetBox(document_.itemBox(i)));
    if (selected_ >= 0 && selected_ < document_.itemCount()) {
        const QRectF box = widgetBox(document_.itemBox(selected_));
        p.setPen(QPen(QColor(0, 90, 200), 2));
        p.drawRect(box);
        p.setBrush(QColor(0, 90, 200));
        for (const QPointF& c : {box.topLeft(), box.topRight(), box.bottomLeft(), box.bottomRight()})
            p.drawRect(QRectF(c - QPointF(3, 3), QSizeF(6, 6)));
    }
}

void PreviewPage::setBackground(const QImage& image, const FormBackground& placement)
{
    background_ = image;
    placement_ = placement;
    backgroundSheet_ = QImage();
    stale_ = true;
    update();
}

void PreviewPage::setPlacement(const FormBackground& placement)
{
    setBackground(background_, placement);
}

void PreviewPage::setPicking(bool on)
{
    picking_ = on;
    dragging_ = false;
    if (on)
        setCursor(Qt::CrossCursor);
    else
        unsetCursor();
}

void PreviewPage::setLayoutMode(bool on)
{
    layoutMode_ = on;
    dragging_ = false;
    setMouseTracking(on);
    if (!on)
        unsetCursor();
    update();
}

void PreviewPage::setSelected(int item)
{
    if (item == selected_)
        return;
    selected_ = item;
    update();
    Q_EMIT selectedChanged(item);
}

void PreviewPage::refresh()
{
    stale_ = true;
    update();
}

QPointF PreviewPage::toWidget(QPointF mm) const
{
    const double perMm = kScreenDpi * zoom_ / 25.4;
    return QPointF(kMargin + mm.x() * perMm, kMargin + mm.y() * perMm);
}

QPointF PreviewPage::toSheet(QPointF widget) const
{
    const double perMm = kScreenDpi * zoom_ / 25.4;
    return QPointF((widget.x() - kMargin) / perMm, (widget.y() - kMargin) / perMm);
}

Qt::Edges PreviewPage::edgesAt(QPointF at) const
{
    Qt::Edges edges;
    if (selected_ < 0 || selected_ >= document_.itemCount())
        return edges;
    const QRectF mm = document_.itemBox(selected_);
    const QRectF box(toWidget(mm.topLeft()), toWidget(mm.bottomRight()));
    if (!box.adjusted(-kGrip, -kGrip, kGrip, kGrip).contains(at))
        return edges;
    if (std::abs(at.x() - box.left()) <= kGrip)
        edges |= Qt::LeftEdge;
    else if (std::abs(at.x() - box.right()) <= kGrip)
        edges |= Qt::RightEdge;
    if (std::abs(at.y() - box.top()) <= kGrip)
        edges |= Qt::TopEdge;
    else if (std::abs(at.y() - box.bottom()) <= kGrip)
        edges |= Qt::BottomEdge;
    return edges;
}

int PreviewPage::itemAt(QPointF at) const
{
    // Of the boxes under the point, the smallest: a cell box inside a bigger one stays reachable.
    const QPointF mm = toSheet(at);
    int best = -1;
    double bestArea = 0;
    for (int i = 0; i < document_.itemCount(); ++i) {
        const QRectF box = document_.itemBox(i);
        const double area = box.width() * box.height();
        if (box.contains(mm) && (best < 0 || area < bestArea)) {
            best = i;
            bestArea = area;
        }
    }
    return best;
}

void PreviewPage::mousePressEvent(QMouseEvent* event)
{
    if (picking_ && event->button() == Qt::LeftButton) {
        Q_EMIT pointPicked(toSheet(event->position()));
        return;
    }
    if (!layoutMode_ || event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    const QPointF at = event->position();
    dragEdges_ = edgesAt(at);
    if (!dragEdges_) {
        const int item = itemAt(at);
        setSelected(item);
        if (item < 0)
            return;
    }
    dragging_ = true;
    dragStart_ = at;
    dragFrom_ = document_.itemBox(selected_);
    dragBox_ = dragFrom_;
}

void PreviewPage::mouseMoveEvent(QMouseEvent* event)
{
    if (!layoutMode_ || picking_)
        return QWidget::mouseMoveEvent(event);
    const QPointF at = event->position();
    if (!dragging_) {
        const Qt::Edges edges = edgesAt(at);
        if ((edges & (Qt::LeftEdge | Qt::RightEdge)) && (edges & (Qt::TopEdge | Qt::BottomEdge)))
            setCursor(bool(edges & Qt::LeftEdge) == bool(edges & Qt::TopEdge) ? Qt::SizeFDiagCursor
                                                                              : Qt::SizeBDiagCursor);
        else if (edges & (Qt::LeftEdge | Qt::RightEdge))
            setCursor(Qt::SizeHorCursor);
        else if (edges)
            setCursor(Qt::SizeVerCursor);
        else
            setCursor(itemAt(at) >= 0 ? Qt::SizeAllCursor : Qt::ArrowCursor);
        return;
    }
    const QPointF d = toSheet(at) - toSheet(dragStart_);
    const double dx = onGrid(d.x());
    const double dy = onGrid(d.y());
    QRectF box = dragFrom_;
    if (!dragEdges_) {
        box.translate(dx, dy);
    } else {
        if (dragEdges_ & Qt::LeftEdge)
            box.setLeft(qMin(box.left() + dx, box.right() - kSmallest));
        if (dragEdges_ & Qt::RightEdge)
            box.setRight(qMax(box.right() + dx, box.left() + kSmallest));
        if (dragEdges_ & Qt::TopEdge)
            box.setTop(qMin(box.top() + dy, box.bottom() - kSmallest));
        if (dragEdges_ & Qt::BottomEdge)
            box.setBottom(qMax(box.bottom() + dy, box.top() + kSmallest));
    }
    if (box != dragBox_) {
        dragBox_ = box;
        Q_EMIT boxDragging(selected_, box);
    }
}

void PreviewPage::mouseReleaseEvent(QMouseEvent* event)
{
    if (!layoutMode_ || !dragging_ || event->button() != Qt::LeftButton)
        return QWidget::mouseReleaseEvent(event);
    dragging_ = false;
    if (selected_ >= 0 && document_.itemBox(selected_) != dragFrom_)
        Q_EMIT boxDragged(selected_, dragFrom_, document_.itemBox(selected_));
}

ReportPreview::ReportPreview(const ReportDocument& document, QWidget* parent)
    : QDialog(parent), document_(document), file_(document.sharedTemplate())
{
    for (int i = 0; i < document_.itemCount(); ++i)
        saved_.append(document_.itemBox(i));
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
    btnLayout = button("btnLayout", QStringLiteral("配置調整(&A)"));
    btnLayout->setCheckable(true);
    btnLayout->setToolTip(QStringLiteral("項目の位置と大きさを動かして、テンプレートに保存します (Ctrl+L)"));
    btnPlace = button("btnPlace", QStringLiteral("背景の位置合わせ(&M)"));
    btnPlace->setCheckable(true);
    btnPlace->setToolTip(QStringLiteral("背景画像の 2 点をクリックし、用紙の上での本当の位置を入れて合わせます"));
    btnPlace->setVisible(false);
    // The prompt of 背景の位置合わせ has a row of its own under the buttons, wrapped to the window's
    // width and kept two lines high while a scan is laid: it never widens the window, and the sheet
    // stays where it was between the button and the first click.
    lblPlace = new QLabel(this);
    lblPlace->setObjectName(QStringLiteral("lblPlace"));
    lblPlace->setWordWrap(true);
    lblPlace->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    lblPlace->setFixedHeight(2 * lblPlace->fontMetrics().lineSpacing() + 4);
    lblPlace->setVisible(false);
    btnPrint = button("btnPrint", QStringLiteral("&Print..."));
    btnClose = button("btnClose", QStringLiteral("&Close"));

    view_ = new PreviewPage(document_, this);
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
    bar->addWidget(btnLayout);
    bar->addWidget(btnPlace);
    bar->addStretch();
    bar->addWidget(btnPrint);
    bar->addWidget(btnClose);

    // The layout bar, shown in layout mode only.
    layoutBar_ = new QWidget(this);
    layoutBar_->setObjectName(QStringLiteral("layoutBar"));
    cmbItem = new QComboBox(layoutBar_);
    cmbItem->setObjectName(QStringLiteral("cmbItem"));
    fillItemList();
    auto* lblItem = new QLabel(QStringLiteral("項目(&I):"), layoutBar_);
    lblItem->setBuddy(cmbItem);
    lblLayout = new QLabel(layoutBar_);
    lblLayout->setObjectName(QStringLiteral("lblLayout"));
    lblLayout->setAccessibleName(QStringLiteral("選択した項目の位置"));
    lblLayout->setTextInteractionFlags(Qt::TextSelectableByMouse);
    const auto layoutButton = [this](const char* name, const QString& text) {
        auto* b = new QPushButton(text, layoutBar_);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        return b;
    };
    btnUndo = layoutButton("btnUndo", QStringLiteral("元に戻す(&U)"));
    btnUndo->setToolTip(QStringLiteral("最後の移動を取り消します (Ctrl+Z)"));
    btnSaveLayout = layoutButton("btnSaveLayout", QStringLiteral("保存(&S)"));
    btnSaveLayout->setToolTip(QStringLiteral("位置と大きさをテンプレート ファイルに書き込みます"));
    btnRestore = layoutButton("btnRestore", QStringLiteral("初期値に戻す(&D)"));
    btnRestore->setToolTip(QStringLiteral("プログラムに付いてきたテンプレートに戻します"));
    auto* layoutRow = new QHBoxLayout(layoutBar_);
    layoutRow->setContentsMargins(0, 0, 0, 0);
    layoutRow->addWidget(lblItem);
    layoutRow->addWidget(cmbItem);
    layoutRow->addWidget(lblLayout, 1);
    layoutRow->addWidget(btnUndo);
    layoutRow->addWidget(btnSaveLayout);
    layoutRow->addWidget(btnRestore);
    layoutBar_->setVisible(false);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(lblPlace);
    layout->addWidget(layoutBar_);
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
            print(this, document_);
    });
    connect(btnLayout, &QPushButton::toggled, this, &ReportPreview::setLayoutMode);
    connect(btnPlace, &QPushButton::toggled, this, &ReportPreview::setPlacing);
    connect(view_, &PreviewPage::pointPicked, this, [this](QPointF mm) { guarded([&] { pointPicked(mm); }); });
    connect(cmbItem, &QComboBox::currentIndexChanged, this,
            [this](int index) { selectItem(cmbItem->itemData(index).toInt()); });
    connect(view_, &PreviewPage::selectedChanged, this, &ReportPreview::selectItem);
    connect(view_, &PreviewPage::boxDragging, this, [this](int item, const QRectF& box) {
        document_.setItemBox(item, onSheet(box));
        view_->refresh();
        updateLayoutStatus();
    });
    connect(view_, &PreviewPage::boxDragged, this, [this](int item, const QRectF& from, const QRectF&) {
        undo_.append({item, from});
        updateLayoutStatus();
    });
    connect(btnUndo, &QPushButton::clicked, this, &ReportPreview::undo);
    connectGuarded(btnSaveLayout, &QPushButton::clicked, this, [this] { saveLayout(); });
    connectGuarded(btnRestore, &QPushButton::clicked, this, &ReportPreview::restoreLayout);
    area_->installEventFilter(this);
    // An item chosen from the list, Tab goes to the sheet, where the arrow keys move it.
    setTabOrder(cmbItem, area_);

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
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_L), [this] { btnLayout->toggle(); });
    shortcut(QKeySequence::Undo, [this] {
        if (view_->layoutMode())
            undo();
    });

    // Big enough for the whole sheet at actual size, where the screen allows.
    QSize want = view_->sizeHint() + QSize(40, bar->sizeHint().height() + 48);
    want.setWidth(qMax(want.width(), bar->sizeHint().width() + 24));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        want = want.boundedTo(screen->availableGeometry().size() * 0.9);
    resize(want);

    updateControls();
    updateLayoutStatus();
    area_->setFocus();
}

bool ReportPreview::setBackground(const FormBackground& background)
{
    try {
        BackgroundImage::Loaded loaded = BackgroundImage::load(background.path);
        view_->setBackground(loaded.image, background);
        btnPlace->setVisible(true);
        lblPlace->setVisible(true);
        return true;
    } catch (const Error& e) {
        view_->setBackground(QImage(), {});
        btnPlace->setVisible(false);
        lblPlace->setVisible(false);
        reportError(e);
        return false;
    }
}

void ReportPreview::setPlacing(bool on)
{
    if (btnPlace->isChecked() != on) {
        btnPlace->setChecked(on); // comes back here through toggled
        return;
    }
    picked_.clear();
    view_->setPicking(on);
    lblPlace->setText(on ? QStringLiteral("用紙の印の 1 点目をクリックします (Esc で取りやめ)") : QString());
}

void ReportPreview::pointPicked(QPointF mm)
{
    picked_.append(mm);
    if (picked_.size() < 2) {
        lblPlace->setText(QStringLiteral("離れたところにある 2 点目をクリックします"));
        return;
    }
    const QList<QPointF> picked = picked_;
    setPlacing(false);
    // The image's pixels under the two clicks, by the placement shown now.
    const FormBackground now = view_->placement();
    const QTransform toImage = BackgroundImage::toSheet(placementOf(now)).inverted();
    const auto tenth = [](QPointF p) { return QPointF(std::round(p.x() * 10) / 10, std::round(p.y() * 10) / 10); };
    const std::optional<BackgroundPointsDialog::Points> truth =
        BackgroundPointsDialog::seam().ask({tenth(picked.at(0)), tenth(picked.at(1))}, this);
    if (!truth)
        return;
    const FormBackground placed = backgroundOf(BackgroundImage::fromTwoPoints(
        now.path, toImage.map(picked.at(0)), truth->first, toImage.map(picked.at(1)), truth->second));
    view_->setPlacement(placed);
    if (backgroundPlaced)
        backgroundPlaced(placed);
}

void ReportPreview::setLayoutMode(bool on)
{
    if (btnLayout->isChecked() != on) {
        btnLayout->setChecked(on); // comes back here through toggled
        return;
    }
    layoutBar_->setVisible(on);
    view_->setLayoutMode(on);
    area_->setFocus();
    updateLayoutStatus();
}

void ReportPreview::selectItem(int item)
{
    if (item < -1 || item >= document_.itemCount())
        item = -1;
    view_->setSelected(item);
    {
        const QSignalBlocker block(cmbItem);
        cmbItem->setCurrentIndex(cmbItem->findData(item));
    }
    if (item >= 0) {
        const QRectF box = document_.itemBox(item);
        area_->ensureVisible(qRound(view_->toWidget(box.center()).x()), qRound(view_->toWidget(box.center()).y()));
    }
    updateLayoutStatus();
}

QRectF ReportPreview::onSheet(QRectF box) const
{
    // A box stays on the sheet, as a template must have it.
    const double w = document_.reportTemplate().pageWidth();
    const double h = document_.reportTemplate().pageHeight();
    box.setWidth(qBound(kSmallest, box.width(), w));
    box.setHeight(qBound(kSmallest, box.height(), h));
    box.moveLeft(qBound(0.0, box.left(), w - box.width()));
    box.moveTop(qBound(0.0, box.top(), h - box.height()));
    // Figures on the 0.01 mm a template writes, so that what is saved is what was shown.
    const auto r = [](double v) { return std::round(v * 100) / 100; };
    return QRectF(r(box.left()), r(box.top()), r(box.width()), r(box.height()));
}

void ReportPreview::changeBox(int item, const QRectF& box)
{
    const QRectF from = document_.itemBox(item);
    const QRectF to = onSheet(box);
    if (to == from)
        return;
    // Steps of one key held down are still single undo steps: each is small and easy to retrace.
    undo_.append({item, from});
    document_.setItemBox(item, to);
    view_->refresh();
    updateLayoutStatus();
}

void ReportPreview::moveSelected(double dx, double dy)
{
    const int item = view_->selected();
    if (item >= 0)
        changeBox(item, document_.itemBox(item).translated(dx, dy));
}

void ReportPreview::resizeSelected(double dw, double dh)
{
    const int item = view_->selected();
    if (item >= 0)
        changeBox(item, document_.itemBox(item).adjusted(0, 0, dw, dh));
}

void ReportPreview::undo()
{
    if (undo_.isEmpty())
        return;
    const Step step = undo_.takeLast();
    document_.setItemBox(step.item, step.from);
    selectItem(step.item);
    view_->refresh();
    updateLayoutStatus();
}

bool ReportPreview::layoutChanged() const
{
    for (int i = 0; i < document_.itemCount(); ++i)
        if (document_.itemBox(i) != saved_.at(i))
            return true;
    return false;
}

void ReportPreview::fillItemList()
{
    const QSignalBlocker block(cmbItem);
    cmbItem->clear();
    cmbItem->addItem(QStringLiteral("(選択なし)"), -1);
    for (int i = 0; i < document_.itemCount(); ++i)
        cmbItem->addItem(document_.itemName(i), i);
}

bool ReportPreview::saveLayout()
{
    QList<ItemEdit> edits;
    for (int i = 0; i < document_.itemCount(); ++i) {
        const QRectF box = document_.itemBox(i);
        if (box == saved_.at(i))
            continue;
        // Found in the file by what it is, and checked to stand there as it was read.
        ItemEdit e = ItemEdit::of(*file_, document_.reportIndex(), i);
        e.x = box.left();
        e.y = box.top();
        // A width or height the file leaves out is written only once the user has changed it. Digit
        // cells take their width from width= and cells=: no pitch is written beside them.
        if (e.was.width > 0 || box.width() != saved_.at(i).width())
            e.width = box.width();
        if (e.was.height > 0 || box.height() != saved_.at(i).height())
            e.height = box.height();
        edits.append(e);
    }
    if (edits.isEmpty())
        return true;
    try {
        file_ = std::make_shared<const ReportTemplate>(TemplateEditor::save(file_->path(), edits));
    } catch (const Error& e) {
        reportError(e);
        return false;
    }
    for (int i = 0; i < document_.itemCount(); ++i)
        saved_[i] = document_.itemBox(i);
    updateLayoutStatus();
    return true;
}

void ReportPreview::restoreLayout()
{
    const QString path = file_->path();
    if (!MessageBox::confirmOkCancel(
            QStringLiteral("%1 をプログラムに付いてきたテンプレートに戻します。\n保存した配置はなくなります。")
                .arg(path),
            this))
        return;
    TemplateEditor::restore(path);
    // From here on the preview works on the restored file: its items, lines and boxes, as a run
    // would read them. The rows and parameter values of the run stay.
    file_ = std::make_shared<const ReportTemplate>(ReportTemplate::load(path));
    const int selected = view_->selected();
    document_ = document_.withTemplate(file_);
    saved_.clear();
    for (int i = 0; i < document_.itemCount(); ++i)
        saved_.append(document_.itemBox(i));
    undo_.clear();
    fillItemList();
    view_->setSelected(-1);
    selectItem(selected < document_.itemCount() ? selected : -1);
    gotoPage(currentPage());
    view_->refresh();
    updateControls();
    updateLayoutStatus();
}

void ReportPreview::updateLayoutStatus()
{
    const int item = view_->selected();
    btnUndo->setEnabled(!undo_.isEmpty());
    btnSaveLayout->setEnabled(layoutChanged());
    if (item < 0) {
        lblLayout->setText(QStringLiteral("項目をクリックするか、一覧から選びます"));
        return;
    }
    const QRectF b = document_.itemBox(item);
    lblLayout->setText(QStringLiteral("%1: x=%2 y=%3 幅=%4 高さ=%5 mm")
                           .arg(document_.itemName(item), QString::number(b.left(), 'f', 1),
                                QString::number(b.top(), 'f', 1), QString::number(b.width(), 'f', 1),
                                QString::number(b.height(), 'f', 1)));
}

bool ReportPreview::eventFilter(QObject* watched, QEvent* event)
{
    // In layout mode the arrow keys move the selected item instead of scrolling the sheet.
    if (watched == area_ && event->type() == QEvent::KeyPress && view_->layoutMode() && view_->selected() >= 0) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const double step = key->modifiers() & Qt::ShiftModifier ? 1.0 : 0.1;
        double dx = 0;
        double dy = 0;
        switch (key->key()) {
        case Qt::Key_Left:
            dx = -step;
            break;
        case Qt::Key_Right:
            dx = step;
            break;
        case Qt::Key_Up:
            dy = -step;
            break;
        case Qt::Key_Down:
            dy = step;
            break;
        default:
            return QDialog::eventFilter(watched, event);
        }
        if (key->modifiers() & Qt::ControlModifier)
            resizeSelected(dx, dy);
        else
            moveSelected(dx, dy);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void ReportPreview::reject()
{
    // Esc while picking points gives up the picking, not the preview.
    if (btnPlace->isChecked()) {
        setPlacing(false);
        return;
    }
    // Nothing laid out by hand is lost unasked.
    if (layoutChanged()) {
        switch (MessageBox::askSave(
            QStringLiteral("配置の変更を %1 に保存しますか?").arg(document_.reportTemplate().path()), this)) {
        case QMessageBox::Save:
            if (!saveLayout())
                return;
            break;
        case QMessageBox::Discard:
            break;
        default:
            return;
        }
    }
    QDialog::reject();
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
