#pragma once
// One QCoreApplication for the test program (SQL drivers, processes).
#include <QCoreApplication>

namespace fp::test {

inline QCoreApplication& coreApp() {
    static QCoreApplication* app = [] {
        static int argc = 1;
        static char name[] = "test_app";
        static char* argv[] = {name, nullptr};
        return new QCoreApplication(argc, argv);
    }();
    return *app;
}

} // namespace fp::test
