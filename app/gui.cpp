#include "app/gui.h"

#include "app/client.h"
#include "app/data_commands.h"
#include "issuing/w_fp_invoicing.h"
#include "services/pending_uploads.h"
#include "services/printer_offsets.h"
#include "ui/busy_runner.h"
#include "ui/child_view.h"
#include "ui/fetch_invoice_dialog.h"
#include "ui/main_window.h"
#include "ui/qt_dialogs.h"
#include "ui/ui_metrics.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QLibraryInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QSqlQuery>
#include <QTranslator>
#include <cstdio>
#include <memory>

namespace fp::app {

namespace {

void printErr(const QString& text) {
    const QByteArray b = (text + QLatin1Char('\n')).toUtf8();
    std::fwrite(b.constData(), 1, size_t(b.size()), stderr);
}

// Dialogs for an unattended run: messages to standard error, questions
// answered no, the issuer choice takes the first row of its list.
class UnattendedDialogs : public cli::ConsoleDialogs {
public:
    explicit UnattendedDialogs(Session& s) : cli::ConsoleDialogs(Preset::No), session_(s) {}
    QString treeSelect(const TreeSelectRequest& request) override {
        if (Transaction* t = session_.sqlca) {
            if (t->exec(request.sql, request.binds) && t->lastQuery().next())
                return t->lastQuery().value(QStringLiteral("name")).toString();
        }
        return QString();
    }

private:
    Session& session_;
};

// Lets posted events, layouts and paints run until nothing is pending.
void settle() {
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace

void addDataSyncCommands(ui::MainWindow& window, HostServices& host, InvoiceQuestion ask) {
    if (!ask) {
        ask = [&window]() -> std::optional<std::pair<QString, QString>> {
            ui::FetchInvoiceDialog dialog(&window);
            if (dialog.exec() != QDialog::Accepted) return std::nullopt;
            return std::make_pair(dialog.code(), dialog.number());
        };
    }
    QMenu* menu = window.menu(QStringLiteral("数据同步(&S)"));
    window
        .addCommand(menu, QStringLiteral("下载发票领购信息"),
                    [&host] {
                        if (cli::fetchStock(host) == 0) host.mess(QStringLiteral("发票领购信息下载完成！"));
                    })
        ->setObjectName(QStringLiteral("sync_stock"));
    window
        .addCommand(menu, QStringLiteral("下载发票种类及代码"),
                    [&host] {
                        if (cli::fetchCodes(host) == 0) host.mess(QStringLiteral("发票种类及代码下载完成！"));
                    })
        ->setObjectName(QStringLiteral("sync_codes"));
    menu->addSeparator();
    window
        .addCommand(menu, QStringLiteral("核对未确认发票"),
                    [&host] {
                        const ReconcileResult r = gf_reconcile_pending_uploads(host);
                        if (r.completed + r.dropped + r.kept == 0)
                            host.mess(QStringLiteral("没有未确认的发票，无需核对。"));
                    })
        ->setObjectName(QStringLiteral("sync_pending"));
    window
        .addCommand(menu, QStringLiteral("从服务器下载发票…"),
                    [&host, ask] {
                        const auto invoice = ask();
                        if (!invoice) return;
                        if (cli::fetchInvoice(host, invoice->first, invoice->second) == 0)
                            host.mess(QStringLiteral("发票下载完成！"));
                    })
        ->setObjectName(QStringLiteral("sync_invoice"));
}

namespace {
// The application's own icon, compiled into the executable in several sizes.
QIcon applicationIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/fpdesk/fpdesk-%1.png").arg(size), QSize(size, size));
    return icon;
}
} // namespace

QTranslator* installToolkitTranslations(const QLocale& locale) {
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    const QString name = QStringLiteral("qtbase");
    const QString separator = QStringLiteral("_");
    auto translator = std::make_unique<QTranslator>(QCoreApplication::instance());
    if (!translator->load(locale, name, separator, folder) &&
        !translator->load(QLocale(QLocale::Chinese, QLocale::China), name, separator, folder))
        return nullptr;
    if (!QCoreApplication::installTranslator(translator.get())) return nullptr;
    return translator.release();
}

int runGui(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("fpdesk"));
    (void)installToolkitTranslations(); // without them the toolkit's dialogs stay in English
    QApplication::setFont(ui::uiFont());
    QApplication::setWindowIcon(applicationIcon());

    QCommandLineParser parser;
    const QCommandLineOption profileOpt(QStringLiteral("profile"), QStringLiteral("Profile (INI)."),
                                        QStringLiteral("FILE"));
    const QCommandLineOption shotOpt(QStringLiteral("screenshot"), QStringLiteral("Save a screenshot and exit."),
                                     QStringLiteral("FILE"));
    parser.addOption(profileOpt);
    parser.addOption(shotOpt);
    if (!parser.parse(QApplication::arguments())) {
        printErr(QStringLiteral("fpdesk: ") + parser.errorText());
        return 2;
    }
    if (!parser.positionalArguments().isEmpty()) {
        printErr(QStringLiteral("fpdesk: unexpected argument ") + parser.positionalArguments().first());
        return 2;
    }
    const bool screenshot = parser.isSet(shotOpt);

    auto fail = [screenshot](const QString& text) {
        if (screenshot)
            printErr(text);
        else
            QMessageBox::critical(nullptr, QStringLiteral("fpdesk"), text);
        return 1;
    };

    Profile profile;
    if (parser.isSet(profileOpt)) {
        QString error;
        auto loaded = Profile::load(parser.value(profileOpt), &error);
        if (!loaded) return fail(error);
        profile = *loaded;
    } else {
        profile = Profile::embeddedDemo(defaultDataDir());
    }

    Client client(profile);
    ui::QtDialogs qtDialogs(client.session());
    UnattendedDialogs unattended(client.session());
    client.setDialogs(screenshot ? static_cast<Dialogs*>(&unattended) : &qtDialogs);

    QString error;
    if (!client.start(&error)) return fail(error);

    // Exchanges run behind the modal busy indicator, parented to the main window
    // once it exists.
    QPointer<ui::MainWindow> mainWindow;
    HostServices::BusyRunner runner;
    if (!screenshot) runner = ui::makeBusyRunner([&mainWindow]() -> QWidget* { return mainWindow.data(); });
    client.host().setBusyRunner(runner);
    // A save that waits for another issuer's save says so behind the same indicator.
    if (!screenshot && !client.host().setLockWaitIndicator(
                           ui::makeLockWaitIndicator([&mainWindow]() -> QWidget* { return mainWindow.data(); })))
        return fail(client.session().sqlca->sqlerrtext);
    client.syncServerDate(runner);

    ui::MainWindow w(client.host());
    mainWindow = &w;
    // Each user's windows open where and as large as they were left (not in a
    // screenshot run, which shows the windows as laid out).
    if (!screenshot) w.setWindowSettings(&clientSettings());
    addDataSyncCommands(w, client.host());
    qtDialogs.setParent(&w);
    w.show();
    // Saves left unconfirmed by a crash or a lost reply are settled at once.
    (void)cli::reconcilePendingUploads(client.host());

    if (screenshot) {
        settle();
        w.openFunction(w_fp_invoicing::kFunctionId);
        settle();
        const QString file = parser.value(shotOpt);
        if (!w.grab().save(file, "PNG")) {
            printErr(QStringLiteral("fpdesk: cannot write %1").arg(file));
            return 1;
        }
        return 0;
    }
    return app.exec();
}

} // namespace fp::app
