#pragma once
// The client with its windows: reads the profile, starts the client, learns the
// server date and shows the main window. With --screenshot FILE it opens the
// issuing window, lets the event loop settle, saves the main window as a PNG
// and exits; the issuer is then the first of the list and messages go to
// standard error, so it runs without anyone at the keyboard.
#include "host/host_services.h"

#include <QLocale>
#include <QString>
#include <functional>
#include <optional>
#include <utility>

class QTranslator;

namespace fp::ui {
class MainWindow;
}

namespace fp::app {

int runGui(int argc, char** argv);

// Installs the toolkit's own translations (its standard buttons, the print and
// file dialogs, the text fields' context menu) for `locale`; a locale the
// toolkit has no translation for gets Chinese, the clerks' language. Needs the
// application object; the translator belongs to it. nullptr when no
// translation is installed on the machine (then the toolkit speaks English).
QTranslator* installToolkitTranslations(const QLocale& locale = QLocale());

// Asks for the code and number of an invoice to download; nothing when cancelled.
using InvoiceQuestion = std::function<std::optional<std::pair<QString, QString>>()>;

// The menu "数据同步" of the main window: download the purchased stock (90002),
// the invoice kinds and codes (90003), and one invoice from the server (asked
// with `ask`, by default a small dialog). Failures are told by the commands
// themselves; a success is told with a message.
void addDataSyncCommands(ui::MainWindow& window, HostServices& host, InvoiceQuestion ask = {});

} // namespace fp::app
