#pragma once
// One QGuiApplication for a test program that paints without widgets, created
// on first use on the main thread and kept to the end. It runs offscreen
// unless a platform is set already.
#include <QGuiApplication>

namespace fp::test {

inline QGuiApplication& guiApp() {
    static QGuiApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "test_services";
        static char* argv[] = {name, nullptr};
        return new QGuiApplication(argc, argv);
    }();
    return *app;
}

} // namespace fp::test
