#pragma once
// The busy indicator of a server exchange: the exchange runs on a worker thread
// while a modal progress dialog without a cancel button blocks every input of
// the application, so no handler can run again before the exchange returns.
#include "host/host_services.h"

#include <functional>

class QWidget;

namespace fp::ui {

// The text of the busy indicator.
QString busyText();

// Runs `work` on a worker thread behind the modal indicator and returns when it
// has finished. An exception thrown by the work is rethrown here.
void runBusy(const std::function<void()>& work, QWidget* parent = nullptr);

// A runner for HostServices::setBusyRunner; `parent` is asked at each exchange
// (the main window once it exists).
HostServices::BusyRunner makeBusyRunner(std::function<QWidget*()> parent);

// An indicator for HostServices::setLockWaitIndicator: the same modal busy
// indicator with HostServices::lockWaitText(), shown when a wait for another
// issuer's save has lasted one slice and kept painted between slices (no user
// input is taken meanwhile), taken down when the wait is over.
HostServices::LockWaitIndicator makeLockWaitIndicator(std::function<QWidget*()> parent);

} // namespace fp::ui
