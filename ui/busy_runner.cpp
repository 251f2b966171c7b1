#include "ui/busy_runner.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QProgressDialog>
#include <QThread>
#include <exception>
#include <memory>

namespace fp::ui {

namespace {
// A progress dialog that only its owner can close.
class BusyDialog : public QProgressDialog {
public:
    explicit BusyDialog(QWidget* parent) : QProgressDialog(parent) {}
    bool finished = false;

    void reject() override {
        if (finished) QProgressDialog::reject();
    }

protected:
    void closeEvent(QCloseEvent* e) override {
        if (!finished) {
            e->ignore();
            return;
        }
        QProgressDialog::closeEvent(e);
    }
    void keyPressEvent(QKeyEvent* e) override {
        if (e->key() == Qt::Key_Escape) {
            e->accept();
            return;
        }
        QProgressDialog::keyPressEvent(e);
    }
};

// The indicator's look, whatever it waits for.
void setUp(BusyDialog& dlg, const QString& text) {
    dlg.setObjectName(QStringLiteral("busy_indicator"));
    dlg.setWindowTitle(QStringLiteral("提示"));
    dlg.setLabelText(text);
    dlg.setCancelButton(nullptr);
    dlg.setRange(0, 0);
    dlg.setMinimumDuration(0);
    dlg.setAutoReset(false);
    dlg.setAutoClose(false);
    dlg.setWindowModality(Qt::ApplicationModal);
    dlg.setWindowFlags((dlg.windowFlags() | Qt::CustomizeWindowHint) & ~Qt::WindowCloseButtonHint);
}
} // namespace

QString busyText() { return QStringLiteral("正在与税务服务器通讯，请稍候……"); }

void runBusy(const std::function<void()>& work, QWidget* parent) {
    BusyDialog dlg(parent);
    setUp(dlg, busyText());

    std::exception_ptr error;
    QThread* worker = QThread::create([&work, &error] {
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
    });
    // Queued to this thread: delivered by the dialog's own loop, however soon the
    // work ends.
    QObject::connect(worker, &QThread::finished, &dlg, [&dlg] {
        dlg.finished = true;
        dlg.done(QDialog::Accepted);
    });
    worker->start();
    dlg.exec();
    worker->wait();
    delete worker;
    if (error) std::rethrow_exception(error);
}

HostServices::BusyRunner makeBusyRunner(std::function<QWidget*()> parent) {
    return
        [parent = std::move(parent)](const std::function<void()>& work) { runBusy(work, parent ? parent() : nullptr); };
}

HostServices::LockWaitIndicator makeLockWaitIndicator(std::function<QWidget*()> parent) {
    // One indicator per wait; the waits of one connection never overlap.
    auto shown = std::make_shared<std::unique_ptr<BusyDialog>>();
    return [parent = std::move(parent), shown](Transaction::LockWait state) {
        if (state == Transaction::LockWait::Over) {
            if (*shown) {
                (*shown)->finished = true;
                (*shown)->close();
                shown->reset();
            }
            return;
        }
        if (!*shown) {
            *shown = std::make_unique<BusyDialog>(parent ? parent() : nullptr);
            setUp(**shown, HostServices::lockWaitText());
            (*shown)->show();
        }
        // The thread goes back to waiting: paint now; keys and clicks wait
        // until the command has finished.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    };
}

} // namespace fp::ui
