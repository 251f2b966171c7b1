#pragma once
// MainWindow: the host's main window w_main. An MDI frame whose children show
// the module's windows, a status-bar label st_kpr with the current issuer, and
// menus: 文件, 发票管理 (one entry per module window, opened with its function
// id), 操作 (the active child's command menu) and 窗口.
#include "host/base_window.h"
#include "host/host_services.h"

#include <QMainWindow>
#include <functional>
#include <map>
#include <memory>

class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;

namespace fp::ui {

class ChildView;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    using WindowFactory = std::function<std::unique_ptr<BaseWindow>(HostServices&)>;

    explicit MainWindow(HostServices& host, QWidget* parent = nullptr);
    ~MainWindow() override;

    HostServices& host() { return host_; }
    QMdiArea* mdiArea() const { return mdi_; }
    // The label st_kpr: "开票员:" and the current issuer.
    QLabel* kprLabel() const { return kpr_; }
    QLabel* taxpayerLabel() const { return taxpayer_; }
    QLabel* dateLabel() const { return date_; }
    // Shows the session's server date in the status bar.
    void showServerDate();

    // The menu with this title, created (before 窗口) when there is none yet.
    QMenu* menu(const QString& title);
    // An entry of `menu` that opens a module window by its function id. A null
    // factory leaves the entry disabled (a window still to come).
    QAction* addWindowEntry(QMenu* menu, const QString& caption, int functionId, WindowFactory factory);
    // An entry of `menu` that runs a command of the host.
    QAction* addCommand(QMenu* menu, const QString& caption, std::function<void()> run);

    // Opens the window of a function id, or brings it forward when it is open.
    // Null for an unknown id or a window that closed itself while opening.
    ChildView* openFunction(int functionId);
    // Opens a window object as a child with the given function id.
    ChildView* openWindow(std::unique_ptr<BaseWindow> window, int functionId);
    // The open children, in creation order.
    QList<ChildView*> childViews() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void showCommandsOf(QMdiSubWindow* sub);

    HostServices& host_;
    QMdiArea* mdi_ = nullptr;
    QLabel* kpr_ = nullptr;
    QLabel* taxpayer_ = nullptr;
    QLabel* date_ = nullptr;
    QMenu* commandMenu_ = nullptr;
    QMenu* windowMenu_ = nullptr;
    std::map<int, WindowFactory> factories_;
};

} // namespace fp::ui
