// The toolkit's own texts (standard buttons, the text fields' context menu,
// the print dialog) in the clerk's language, as the client installs them at
// its start.
#include "app/gui.h"
#include "tests/support/qt_printers.h"
#include "tests/ui/qt_app.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTranslator>
#include <gtest/gtest.h>

#include <memory>

namespace fp {
namespace {

struct Texts {
    QString cancel, undo, paste, printTitle;
};

Texts toolkitTexts() {
    Texts t;
    QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    t.cancel = box.button(QDialogButtonBox::Cancel)->text();
    QLineEdit edit;
    const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    // Undo, Redo, Cut, Copy, Paste...; each text followed by its shortcut after a tab
    QStringList items;
    for (QAction* a : menu->actions())
        if (!a->isSeparator()) items << a->text().section(u'\t', 0, 0);
    t.undo = items.value(0);
    t.paste = items.value(4);
    QPrinter printer;
    QPrintDialog dialog(&printer);
    t.printTitle = dialog.windowTitle();
    return t;
}

TEST(ToolkitTranslations, TheClerksLocaleOrElseChinese) {
    test::qtApp();
    struct Case {
        QLocale locale;
        Texts expected;
    };
    const Texts chinese{QStringLiteral("取消"), QStringLiteral("撤消(&U)"), QStringLiteral("粘贴(&P)"),
                        QStringLiteral("打印")};
    const Case cases[] = {
        {QLocale(QLocale::Chinese, QLocale::China), chinese},
        // no translation for these: Chinese, not the toolkit's English
        {QLocale::c(), chinese},
        {QLocale(QLocale::Swahili, QLocale::Kenya), chinese},
        // a locale the toolkit speaks keeps its own language
        {QLocale(QLocale::German, QLocale::Germany),
         {QStringLiteral("Abbrechen"), QStringLiteral("&Rückgängig"), QStringLiteral("Einf&ügen"),
          QStringLiteral("Drucken")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.locale.name().toStdString());
        QTranslator* translator = app::installToolkitTranslations(c.locale);
        ASSERT_NE(translator, nullptr) << "the toolkit's translations are not installed";
        const Texts shown = toolkitTexts();
        EXPECT_EQ(shown.cancel, c.expected.cancel);
        EXPECT_EQ(shown.undo, c.expected.undo);
        EXPECT_EQ(shown.paste, c.expected.paste);
        EXPECT_EQ(shown.printTitle, c.expected.printTitle);
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
    // The print dialog as the clerk meets it (a picture when FPDESK_SHOT_DIR is set).
    if (const QString shots = qEnvironmentVariable("FPDESK_SHOT_DIR"); !shots.isEmpty()) {
        QTranslator* translator = app::installToolkitTranslations(QLocale(QLocale::Chinese, QLocale::China));
        QPrinter printer;
        QPrintDialog dialog(&printer);
        dialog.show();
        test::drainEvents();
        QDir().mkpath(shots);
        dialog.grab().save(QDir(shots).filePath(QStringLiteral("print_dialog.png")));
        dialog.close();
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
    // Taken away again, the toolkit speaks English: the texts above came from the translator.
    EXPECT_EQ(toolkitTexts().cancel, QStringLiteral("Cancel"));
}

} // namespace
} // namespace fp
