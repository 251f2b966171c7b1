#include "ui/main_window.h"

#include "issuing/w_fp_invoicing.h"
#include "reprint_void/w_fp_invoice_print.h"
#include "reprint_void/w_fp_invoice_query.h"
#include "reprint_void/w_fp_invoice_void.h"
#include "ui/child_view.h"
#include "ui/print_offset_dialog.h"
#include "ui/ui_metrics.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QStatusBar>
#include <algorithm>

namespace fp::ui {

namespace {
// Function ids of the module's windows, as the rights table counts them.
constexpr int kFuncIssue = w_fp_invoicing::kFunctionId;
constexpr int kFuncReprint = w_fp_invoice_print::kFunctionId;
constexpr int kFuncVoid = w_fp_invoice_void::kFunctionId;
constexpr int kFuncQuery = w_fp_invoice_query::kFunctionId;

// `r` no larger than `area` and moved, as little as it takes, to lie inside it.
QRect fittedInto(QRect r, const QRect& area) {
    r.setSize(r.size().boundedTo(area.size()));
    r.moveLeft(std::clamp(r.left(), area.left(), area.right() + 1 - r.width()));
    r.moveTop(std::clamp(r.top(), area.top(), area.bottom() + 1 - r.height()));
    return r;
}
} // namespace

MainWindow::MainWindow(HostServices& host, QWidget* parent) : QMainWindow(parent), host_(host) {
    // The title names the taxpayer the invoices are issued for.
    const QString taxpayer = host_.session().gs_sysusername;
    setWindowTitle(taxpayer.isEmpty() ? QStringLiteral("fpdesk") : taxpayer + QStringLiteral(" - 发票开具 - fpdesk"));
    setObjectName(QStringLiteral("w_main"));

    mdi_ = new QMdiArea(this);
    mdi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdi_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(mdi_);

    kpr_ = new QLabel(this);
    kpr_->setObjectName(QStringLiteral("st_kpr"));
    kpr_->setText(host_.session().st_kpr_text);
    statusBar()->addWidget(kpr_, 1);
    // The taxpayer and the server's date beside the issuer.
    taxpayer_ = new QLabel(this);
    taxpayer_->setObjectName(QStringLiteral("st_taxpayer"));
    taxpayer_->setTextFormat(Qt::PlainText);
    taxpayer_->setText(QStringLiteral("纳税人:") + taxpayer + QStringLiteral("  ") + host_.session().gs_nsrsbh);
    statusBar()->addPermanentWidget(taxpayer_);
    date_ = new QLabel(this);
    date_->setObjectName(QStringLiteral("st_date"));
    date_->setTextFormat(Qt::PlainText);
    statusBar()->addPermanentWidget(date_);
    showServerDate();
    host_.session().onKprChanged = [this](const QString& text) { kpr_->setText(text); };

    QMenu* file = menu(QStringLiteral("文件(&F)"));
    addCommand(file, QStringLiteral("打印位置校准(&L)…"), [this] {
        PrinterOffsets offsets(clientSettings());
        PrintOffsetDialog(offsets, QString(), this).exec();
    })->setObjectName(QStringLiteral("print_offset"));
    file->addSeparator();
    QAction* exit = file->addAction(QStringLiteral("退出(&X)"));
    connect(exit, &QAction::triggered, this, &QWidget::close);

    QMenu* invoices = menu(QStringLiteral("发票管理(&I)"));
    addWindowEntry(invoices, QStringLiteral("发票开具"), kFuncIssue,
                   [](HostServices& h) { return std::make_unique<w_fp_invoicing>(h); });
    addWindowEntry(invoices, QStringLiteral("发票补打"), kFuncReprint,
                   [](HostServices& h) { return std::make_unique<w_fp_invoice_print>(h); });
    addWindowEntry(invoices, QStringLiteral("发票作废"), kFuncVoid,
                   [](HostServices& h) { return std::make_unique<w_fp_invoice_void>(h); });
    invoices->addSeparator();
    addWindowEntry(invoices, QStringLiteral("发票查询"), kFuncQuery,
                   [](HostServices& h) { return std::make_unique<w_fp_invoice_query>(h); });
    // A row of the register opens in the reprint window, already open or not.
    host_.setInvoiceOpener([this](const QString& code, const QString& number) {
        ChildView* view = openFunction(kFuncReprint);
        auto* reprint = view ? dynamic_cast<InvoiceLookupWindow*>(&view->window()) : nullptr;
        if (!reprint) return false;
        (void)reprint->lookUp(code, number); // a refusal has been said in the window
        return true;
    });

    commandMenu_ = menu(QStringLiteral("操作(&O)"));
    commandMenu_->setEnabled(false);

    windowMenu_ = menuBar()->addMenu(QStringLiteral("窗口(&W)"));
    connect(windowMenu_->addAction(QStringLiteral("层叠(&C)")), &QAction::triggered, mdi_,
            &QMdiArea::cascadeSubWindows);
    connect(windowMenu_->addAction(QStringLiteral("平铺(&T)")), &QAction::triggered, mdi_, &QMdiArea::tileSubWindows);
    windowMenu_->addSeparator();
    connect(windowMenu_->addAction(QStringLiteral("关闭所有窗口(&A)")), &QAction::triggered, mdi_,
            &QMdiArea::closeAllSubWindows);

    connect(mdi_, &QMdiArea::subWindowActivated, this, &MainWindow::showCommandsOf);
    connect(mdi_, &QMdiArea::subWindowActivated, this, [this] { showServerDate(); });
    resize(1280, 700); // fits a 1366×768 screen with its title bar and panel
}

void MainWindow::showServerDate() {
    const QDateTime d = host_.session().gdt_srv_date();
    date_->setText(d.isValid() ? QStringLiteral("服务器日期:") + d.toString(QStringLiteral("yyyy-MM-dd")) : QString());
}

MainWindow::~MainWindow() {
    host_.session().onKprChanged = nullptr;
    host_.setInvoiceOpener(nullptr);
    // Children first: their windows may still report to the session.
    const auto subs = mdi_->subWindowList();
    for (QMdiSubWindow* s : subs) delete s;
}

QMenu* MainWindow::menu(const QString& title) {
    for (QAction* a : menuBar()->actions())
        if (a->menu() && a->text() == title) return a->menu();
    auto* m = new QMenu(title, this);
    if (windowMenu_)
        menuBar()->insertMenu(windowMenu_->menuAction(), m);
    else
        menuBar()->addMenu(m);
    return m;
}

QAction* MainWindow::addWindowEntry(QMenu* m, const QString& caption, int functionId, WindowFactory factory) {
    QAction* a = m->addAction(caption);
    a->setEnabled(bool(factory));
    if (factory) {
        factories_[functionId] = std::move(factory);
        connect(a, &QAction::triggered, this, [this, functionId] { openFunction(functionId); });
    }
    return a;
}

QAction* MainWindow::addCommand(QMenu* m, const QString& caption, std::function<void()> run) {
    QAction* a = m->addAction(caption);
    connect(a, &QAction::triggered, this, [run = std::move(run)] { run(); });
    return a;
}

ChildView* MainWindow::openFunction(int functionId) {
    for (ChildView* v : childViews()) {
        if (v->functionId() == functionId && !v->window().isClosed()) {
            mdi_->setActiveSubWindow(v);
            return v;
        }
    }
    auto it = factories_.find(functionId);
    if (it == factories_.end()) return nullptr;
    return openWindow(it->second(host_), functionId);
}

ChildView* MainWindow::openWindow(std::unique_ptr<BaseWindow> window, int functionId) {
    auto* view = new ChildView(std::move(window));
    OpenParams params;
    params.functionId = functionId;
    if (!view->openWindow(params)) {
        delete view;
        return nullptr;
    }
    mdi_->addSubWindow(view);
    view->show();
    view->adjustSize();
    placeChild(view);
    connect(view, &ChildView::closing, this, [this, view] { rememberPlace(*view); });
    mdi_->setActiveSubWindow(view);
    view->focusFirst();
    return view;
}

QString MainWindow::geometryKey(const ChildView& view) const {
    const QString user = host_.session().gs_userid;
    return QStringLiteral("windows/%1/%2").arg(user.isEmpty() ? QStringLiteral("_") : user, view.window().name());
}

void MainWindow::placeChild(ChildView* view) {
    QRect r = view->geometry();
    if (settings_) {
        const QRect saved = settings_->value(geometryKey(*view)).toRect();
        if (saved.isValid()) r = saved;
    }
    view->setGeometry(fittedInto(r, mdi_->viewport()->rect()));
}

void MainWindow::rememberPlace(const ChildView& view) {
    if (!settings_ || view.isMaximized() || view.isMinimized()) return;
    settings_->setValue(geometryKey(view), view.geometry());
    settings_->sync();
}

QList<ChildView*> MainWindow::childViews() const {
    QList<ChildView*> views;
    for (QMdiSubWindow* s : mdi_->subWindowList(QMdiArea::CreationOrder))
        if (auto* v = qobject_cast<ChildView*>(s)) views << v;
    return views;
}

void MainWindow::showCommandsOf(QMdiSubWindow* sub) {
    commandMenu_->clear();
    auto* view = qobject_cast<ChildView*>(sub);
    if (!view) {
        commandMenu_->setEnabled(false);
        return;
    }
    commandMenu_->addActions(view->commandActions());
    commandMenu_->setEnabled(!view->commandActions().isEmpty());
}

void MainWindow::closeEvent(QCloseEvent* event) {
    mdi_->closeAllSubWindows();
    for (ChildView* v : childViews()) {
        if (!v->window().isClosed()) { // its close query kept it open
            event->ignore();
            return;
        }
    }
    QMainWindow::closeEvent(event);
}

} // namespace fp::ui
