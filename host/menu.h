#pragma once
// A window's command menu as data. Each item raises a user event on its window
// by name; the same item describes its toolbar button.
#include <QString>
#include <vector>

namespace fp {

struct MenuItem {
    QString name;     // m_acco, m_save, ...
    QString text;     // caption with "&" access key and, after a tab, the shortcut shown
    int shortcut = 0; // key code, +256 with Ctrl (Ctrl+O 335, F5 116); 0 = none
    QString microhelp;
    QString picture; // stock picture name of the toolbar button
    QString toolbarText;
    bool visible = true;
    bool buttonVisible = true;
    int space = 0; // toolbar gap before the button
    QString event; // user event raised on the window; empty for separators

    bool isSeparator() const { return text == QLatin1String("-"); }
    // The caption up to the tab: how the toolbar addresses the item.
    QString textUpToTab() const {
        const qsizetype tab = text.indexOf(u'\t');
        return tab < 0 ? text : text.left(tab);
    }
};

struct Menu {
    QString name;
    std::vector<MenuItem> items;
};

} // namespace fp
