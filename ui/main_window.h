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
class QSettings;
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

    // Where each user's windows keep their size and place (the client's
    // settings); without settings a window opens at its layout size.
    void setWindowSettings(QSettings* settings) { settings_ = settings; }
    // The settings key of a window's size and place for the session's user.
    QString geometryKey(const ChildView& view) const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void showCommandsOf(QMdiSubWindow* sub);
    // Gives a new child its remembered size and place, or its layout size
    // where the area put it, then brings it fully inside the workspace.
    void placeChild(ChildView* view);
    void rememberPlace(const ChildView& view);

    HostServices& host_;
    QMdiArea* mdi_ = nullptr;
    QLabel* kpr_ = nullptr;
    QLabel* taxpayer_ = nullptr;
    QLabel* date_ = nullptr;
    QMenu* commandMenu_ = nullptr;
    QMenu* windowMenu_ = nullptr;
    std::map<int, WindowFactory> factories_;
    QSettings* settings_ = nullptr;
};

} // namespace fp::ui
