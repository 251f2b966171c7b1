#include "reprint_void/menus.h"

namespace fp {
namespace {

MenuItem item(const char* name, const char* text, int sc, const char* help, const char* picture, const char* tbText,
              bool shown, const char* event, int space = 0) {
    MenuItem m;
    m.name = QString::fromUtf8(name);
    m.text = QString::fromUtf8(text);
    m.shortcut = sc;
    m.microhelp = QString::fromUtf8(help);
    m.picture = QString::fromUtf8(picture);
    m.toolbarText = QString::fromUtf8(tbText);
    m.visible = shown;
    m.buttonVisible = shown;
    m.space = space;
    m.event = QString::fromUtf8(event);
    return m;
}

MenuItem separator(const char* name) {
    MenuItem m;
    m.name = QString::fromUtf8(name);
    m.text = QStringLiteral("-");
    return m;
}

// The reprint and void menus differ only in their sixth item.
Menu viewMenu(const char* menuName, MenuItem sixth) {
    using namespace shortcut;
    Menu m;
    m.name = QString::fromUtf8(menuName);
    m.items = {
        item("m_acco", "查看发票(&K)\tCtrl+K", CtrlK, "查看发票", "Find!", "查看发票(Ctrl+K)", true, "ue_start"),
        separator("m_-"),
        item("m_child", "新增项目(&N)\tCtrl+N", CtrlN, "新增项目", "Custom034!", "新增项目(Ctrl+N)", false,
             "ue_newproj"),
        item("m_del", "删除项目(&D)\tCtrl+D", CtrlD, "删除项目", "Custom080!", "删除项目(Ctrl+D)", false, "ue_delproj"),
        separator("m_-30"),
        std::move(sixth),
        separator("m_-31"),
        item("m_0", "发票打印(&P)\tCtrl+P", CtrlP, "发票打印", "Print!", "发票打印[Ctrl+P]", false, "ue_print"),
        item("m_find", "查找(&F)\tCtrl+F", CtrlF, "查找", "Find!", "查找(Ctrl+F)", false, "ue_find"),
        item("m_fresh", "刷新(&R)\tF5", F5, "刷新", "Continue!", "刷新(F5)", false, "ue_fresh"),
        separator("m_-0"),
        item("m_import", "导入(&M)\tCtrl+M", CtrlM, "导入", "Import5!", "导入(Ctrl+M)", false, "ue_import"),
        item("m_export", "导出(&E)\tCtrl+E", CtrlE, "导出", "Export5!", "导出(Ctrl+E)", false, "ue_export"),
    };
    return m;
}

} // namespace

Menu m_fp_invoicing() {
    using namespace shortcut;
    Menu m;
    m.name = QStringLiteral("m_fp_invoicing");
    m.items = {
        item("m_acco", "发票录入(&O)\tCtrl+O", CtrlO, "发票录入", "Custom072!", "发票录入(Ctrl+O)", true, "ue_start"),
        separator("m_-"),
        item("m_child", "新增品目(&N)\tCtrl+N", CtrlN, "新增品目", "Custom034!", "新增品目(Ctrl+N)", true,
             "ue_newproj"),
        item("m_del", "删除品目(&D)\tCtrl+D", CtrlD, "删除品目", "Custom080!", "删除品目(Ctrl+D)", true, "ue_delproj"),
        separator("m_-30"),
        item("m_save", "发票保存(&S)\tCtrl+S", CtrlS, "发票保存", "Save!", "发票保存(Ctrl+S)", true, "ue_save"),
        separator("m_-31"),
        item("m_copy", "发票复制(&C)", 0, "发票复制", "Copy!", "发票复制", true, "ue_copy"),
        item("m_paste", "发票粘贴(&V)", 0, "发票粘贴", "Paste!", "发票粘贴", true, "ue_paste"),
        item("m_0", "发票打印(&P)\tCtrl+P", CtrlP, "发票打印", "Print!", "发票打印[Ctrl+P]", true, "ue_print", 1),
        item("m_find", "查找(&F)\tCtrl+F", CtrlF, "查找", "Find!", "查找(Ctrl+F)", false, "ue_find"),
        item("m_fresh", "刷新(&R)\tF5", F5, "刷新", "Continue!", "刷新(F5)", false, "ue_fresh"),
        separator("m_-0"),
        item("m_import", "导入(&M)\tCtrl+M", CtrlM, "导入", "Import5!", "导入(Ctrl+M)", false, "ue_import"),
        item("m_export", "导出(&E)\tCtrl+E", CtrlE, "导出", "Export5!", "导出(Ctrl+E)", false, "ue_export"),
    };
    return m;
}

Menu m_fp_invoice_print() {
    return viewMenu("m_fp_invoice_print", item("m_save", "发票打印(&P)\tCtrl+P", shortcut::CtrlP, "发票打印", "Print!",
                                               "发票打印(Ctrl+P)", true, "ue_save", 1));
}

Menu m_fp_invoice_void() {
    return viewMenu("m_fp_invoice_void", item("m_save", "发票作废(&F)\tCtrl+F", shortcut::CtrlF, "发票作废",
                                              "Custom043!", "发票作废(Ctrl+F)", true, "ue_save", 1));
}

Menu m_fp_invoice_query() {
    using namespace shortcut;
    Menu m;
    m.name = QStringLiteral("m_fp_invoice_query");
    m.items = {
        item("m_query", "查询(&K)\tCtrl+K", CtrlK, "查询发票", "Find!", "查询(Ctrl+K)", true, "ue_query"),
        item("m_summary", "月度汇总(&M)\tCtrl+M", CtrlM, "月度汇总", "Compute!", "月度汇总(Ctrl+M)", true,
             "ue_summary"),
        separator("m_-"),
        item("m_export", "导出(&E)\tCtrl+E", CtrlE, "导出", "Export5!", "导出(Ctrl+E)", true, "ue_export"),
        item("m_print", "打印清单(&P)\tCtrl+P", CtrlP, "打印清单", "Print!", "打印清单(Ctrl+P)", true, "ue_print_list"),
        separator("m_-0"),
        item("m_audit", "与税务机关核对(&H)\tCtrl+H", CtrlH, "与税务机关核对", "Custom043!", "与税务机关核对(Ctrl+H)",
             true, "ue_audit"),
    };
    return m;
}

} // namespace fp
