#pragma once
// One QApplication for the whole test program, created on first use on the
// main thread and kept to the end. Widgets run offscreen unless a platform is
// set already.
#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>

namespace fp::test {

inline QApplication& qtApp() {
    static QApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "test_ui";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *app;
}

// Runs posted events until none is left (no waiting on the clock).
inline void drainEvents() {
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Runs `act` on the first visible top-level widget of type T once the event
// loop of a modal dialog runs.
template <typename T>
void whenShown(std::function<void(T*)> act) {
    QTimer::singleShot(0, [act = std::move(act)] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* t = qobject_cast<T*>(w); t && t->isVisible()) return act(t);
        ADD_FAILURE() << "no " << T::staticMetaObject.className() << " shown";
    });
}

} // namespace fp::test
